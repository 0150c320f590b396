# The chime player and the screen-saver state.
target_sources(tintarel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChimePlayer.h
  ${CMAKE_CURRENT_LIST_DIR}/ChimePlayer_gst.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScreenSaver.h
  ${CMAKE_CURRENT_LIST_DIR}/ScreenSaver_linux.cpp)
pkg_check_modules(GSTREAMER REQUIRED IMPORTED_TARGET gstreamer-1.0)
target_link_libraries(tintarel_platform PUBLIC Qt6::DBus)
target_link_libraries(tintarel_platform PRIVATE PkgConfig::GSTREAMER)
target_link_libraries(tintarel_platform PRIVATE PkgConfig::XCB PkgConfig::XCB_SCREENSAVER)
