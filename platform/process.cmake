# The process snapshot and the window list with which the configuration
# program takes a running clock down, and the rules that use them.
target_sources(tintarel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ProcessTable.h
  ${CMAKE_CURRENT_LIST_DIR}/ProcessTable_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowList.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowList_linux.cpp)

# Declared here until the panel folder has a CMakeLists.txt of its own.
add_library(tintarel_process_control STATIC
  ${PROJECT_SOURCE_DIR}/panel/basProcess.cpp
  ${PROJECT_SOURCE_DIR}/panel/basProcess.h
  ${PROJECT_SOURCE_DIR}/panel/basWTS.cpp
  ${PROJECT_SOURCE_DIR}/panel/basWTS.h)
target_include_directories(tintarel_process_control PUBLIC ${PROJECT_SOURCE_DIR}/panel)
target_link_libraries(tintarel_process_control PUBLIC tintarel_platform)
