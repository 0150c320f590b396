# Regression tests for the inputs that fuzz/ found to break the code that
# reads outside input, each embedded in its test.
tintarel_add_test(tst_fuzzfound_settingsstore SOURCES fuzz/tst_fuzzfound_settingsstore.cpp LIBS tintarel_settings)
tintarel_add_test(tst_fuzzfound_basreg SOURCES fuzz/tst_fuzzfound_basreg.cpp LIBS ostrevol_core)
target_include_directories(tst_fuzzfound_basreg PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/startup)
