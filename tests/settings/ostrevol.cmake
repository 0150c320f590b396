tintarel_add_test(tst_startwithsession SOURCES tst_startwithsession.cpp LIBS tintarel_settings)
target_include_directories(tst_startwithsession PRIVATE ${PROJECT_SOURCE_DIR}/tests/startup ${PROJECT_SOURCE_DIR}/tests/support)
target_compile_definitions(tst_startwithsession PRIVATE OSTREVOL_PROBE="$<TARGET_FILE:ostrevol_probe>")
add_dependencies(tst_startwithsession ostrevol_probe Ostrevol)
