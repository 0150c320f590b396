tintarel_add_test(tst_startwithsession SOURCES tst_startwithsession.cpp LIBS Qt6::Core)

target_compile_definitions(tst_startwithsession PRIVATE OSTREVOL_PROBE="$<TARGET_FILE:ostrevol_probe>")
add_dependencies(tst_startwithsession ostrevol_probe Ostrevol)
