# Fault tests: the real programs facing bad files, a full disk, spoiled
# sounds and sudden death.

tintarel_add_test(tst_faults_settings SOURCES faults/tst_faults_settings.cpp
                  LIBS tintarel_test_support)
add_dependencies(tst_faults_settings Tintarel)

tintarel_add_test(tst_faults_sounds SOURCES faults/tst_faults_sounds.cpp
                  LIBS tintarel_test_support)
add_dependencies(tst_faults_sounds Tintarel)

# The settings writer of the settings tests, killed at random moments.
tintarel_add_test(tst_faults_suddendeath SOURCES faults/tst_faults_suddendeath.cpp
                  LIBS tintarel_test_support)
target_compile_definitions(tst_faults_suddendeath PRIVATE SETTINGS_WRITER="$<TARGET_FILE:settings_writer>")
add_dependencies(tst_faults_suddendeath Tintarel settings_writer)

foreach(_test tst_faults_settings tst_faults_sounds tst_faults_suddendeath)
  if(TARGET tintarel_sounds)
    add_dependencies(${_test} tintarel_sounds)
  endif()
endforeach()

