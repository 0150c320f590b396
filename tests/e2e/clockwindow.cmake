tintarel_add_test(tst_clockwindow SOURCES tst_clockwindow.cpp LIBS tintarel_test_support)
add_dependencies(tst_clockwindow Tintarel)
# A window manager that loses the clock's first map request leaves it to the
# visibility rule's run at the next minute: a few such starts take minutes.
set_tests_properties(tst_clockwindow PROPERTIES TIMEOUT 900)
