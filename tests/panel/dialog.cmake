# The configuration dialog over fakes of the clock control, the player, the
# message boxes and the startup library, on an X server of its own.
tintarel_add_test(tst_configdialog SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_configdialog.cpp
  LIBS tintarel_panel tintarel_test_support)
# The help file and the sound files are read from the program folder.
add_dependencies(tst_configdialog tintarel_help tintarel_sounds)
