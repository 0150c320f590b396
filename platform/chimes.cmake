# The chime player and the screen-saver state.
target_sources(tintarel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChimePlayer.h
  ${CMAKE_CURRENT_LIST_DIR}/ChimePlayer_qt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScreenSaver.h
  ${CMAKE_CURRENT_LIST_DIR}/ScreenSaver_linux.cpp)
target_link_libraries(tintarel_platform PUBLIC Qt6::Multimedia Qt6::DBus)
target_link_libraries(tintarel_platform PRIVATE PkgConfig::XCB PkgConfig::XCB_SCREENSAVER)
