add_executable(Tintarel main.cpp)
target_link_libraries(Tintarel PRIVATE tintarel_clock_core Qt6::Widgets)
set_target_properties(Tintarel PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${TINTAREL_PROGRAM_DIR}")
install(TARGETS Tintarel RUNTIME DESTINATION "${TINTAREL_INSTALL_DIR}")
# What the clock needs beside it at run time.
add_dependencies(Tintarel Ostrevol tintarel_sounds)
