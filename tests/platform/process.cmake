# The process snapshot on real processes.
tintarel_add_test(tst_processtable SOURCES tst_processtable.cpp LIBS tintarel_platform tintarel_test_support)
# The window list on hand-made windows of a display of the test's own.
tintarel_add_test(tst_windowlist SOURCES tst_windowlist.cpp LIBS tintarel_platform tintarel_test_support)
