# The process snapshot and the window list with which the configuration
# program takes a running clock down.
target_sources(tintarel_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ProcessTable.h
  ${CMAKE_CURRENT_LIST_DIR}/ProcessTable_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowList.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowList_linux.cpp)

