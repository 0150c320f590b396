# The chime schedule, the quiet rules and the one-second tick.
target_sources(tintarel_clock_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChimeSequencer.cpp ${CMAKE_CURRENT_LIST_DIR}/ChimeSequencer.h
  ${CMAKE_CURRENT_LIST_DIR}/QuietRules.cpp ${CMAKE_CURRENT_LIST_DIR}/QuietRules.h
  ${CMAKE_CURRENT_LIST_DIR}/SecondTicker.cpp ${CMAKE_CURRENT_LIST_DIR}/SecondTicker.h)
