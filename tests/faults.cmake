# Fault tests: the real programs facing bad files, a full disk and sudden
# death; the settings writer of the settings tests is killed at random moments.
tintarel_add_test(tst_faults_settings SOURCES faults/tst_faults_settings.cpp LIBS tintarel_test_support)
target_compile_definitions(tst_faults_settings PRIVATE SETTINGS_WRITER="$<TARGET_FILE:settings_writer>")
add_dependencies(tst_faults_settings Tintarel settings_writer)
set_tests_properties(tst_faults_settings PROPERTIES TIMEOUT 600)
