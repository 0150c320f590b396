# The running-clock control on real processes and windows of a display of the
# test's own.

add_executable(clock_stand_in clock_stand_in.cpp)
target_link_libraries(clock_stand_in PRIVATE Qt6::Widgets PkgConfig::XCB)

tintarel_add_test(tst_closeprocess_e2e SOURCES tst_closeprocess_e2e.cpp
  LIBS tintarel_process_control tintarel_test_support Qt6::Widgets)
target_compile_definitions(tst_closeprocess_e2e PRIVATE STAND_IN_PATH="$<TARGET_FILE:clock_stand_in>")
add_dependencies(tst_closeprocess_e2e clock_stand_in Tintarel)

# Whether a well-behaved clock closes before the passes that kill it depends
# on how quickly its process ends, which a machine busy with other tests
# (and a sanitizer's leak check at exit) can stretch past the passes' seconds.
set_tests_properties(tst_closeprocess_e2e PROPERTIES RUN_SERIAL TRUE)
