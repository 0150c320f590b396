tintarel_add_test(tst_chimes_e2e SOURCES tst_chimes_e2e.cpp LIBS tintarel_test_support)
# Runs the clock and its sounds as built.
foreach(target Tintarel tintarel_sounds)
  if(TARGET ${target})
    add_dependencies(tst_chimes_e2e ${target})
  endif()
endforeach()
set_tests_properties(tst_chimes_e2e PROPERTIES TIMEOUT 600)
