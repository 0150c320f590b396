# The process snapshot on real processes.
tintarel_add_test(tst_processtable SOURCES tst_processtable.cpp LIBS tintarel_platform tintarel_test_support)
