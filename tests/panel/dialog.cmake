# The configuration dialog over fakes of the clock control, the player, the
# message boxes and the startup library, each test on an X server of its own.
foreach(_panel_test tst_dialogload tst_chimeoptions tst_positioneditor tst_desktoppicture)
  tintarel_add_test(${_panel_test} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_panel_test}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PanelFakes.h
    LIBS tintarel_panel tintarel_test_support)
  target_include_directories(${_panel_test} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  # The help file and the sound files are read from the program folder.
  add_dependencies(${_panel_test} tintarel_help tintarel_sounds)
endforeach()

