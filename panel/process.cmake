# The running-clock control: finding the clock, taking it down in six passes
# and starting it again.
add_library(tintarel_process_control STATIC
  basProcess.cpp basProcess.h
  basWTS.cpp basWTS.h)
target_include_directories(tintarel_process_control PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tintarel_process_control PUBLIC tintarel_platform)
