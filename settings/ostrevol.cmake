# Démarrage: the settings object reaches DemarrApp in libOstrevol.so.
target_sources(tintarel_settings PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/StartupLibrary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StartupLibrary.h)
target_link_libraries(tintarel_settings PUBLIC ostrevol_interface tintarel_classfactory tintarel_platform)
# A program that creates its settings needs the library in its folder.
add_dependencies(tintarel_settings Ostrevol)
target_compile_definitions(tintarel_settings PRIVATE
  OSTREVOL_BUILD_TREE="${PROJECT_BINARY_DIR}"
  OSTREVOL_BUILD_PROGRAM_DIR="${TINTAREL_PROGRAM_DIR}")
