tintarel_add_test(tst_basreg SOURCES tst_basreg.cpp FakeRegistry.h LIBS ostrevol_core)

add_executable(ostrevol_probe ostrevol_probe.cpp)
target_link_libraries(ostrevol_probe PRIVATE tintarel_settings)
target_compile_definitions(ostrevol_probe PRIVATE TINTAREL_PROGRAM_DIR="${TINTAREL_PROGRAM_DIR}")
