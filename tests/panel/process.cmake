# The running-clock control: its passes over a simulated system.
tintarel_add_test(tst_closeprocess SOURCES tst_closeprocess.cpp FakeProcessSystem.h LIBS tintarel_process_control)
