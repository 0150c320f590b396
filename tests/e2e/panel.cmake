# The built configuration program with the built clock, on a display of the
# test's own, driven from outside as a user and a window manager would.
tintarel_add_test(tst_panel_e2e SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_panel_e2e.cpp LIBS tintarel_test_support Qt6::Gui)
add_dependencies(tst_panel_e2e TintarelPanel Tintarel)
# Thirteen endings, each around a real clock taken down and brought back.
set_tests_properties(tst_panel_e2e PROPERTIES TIMEOUT 600)
