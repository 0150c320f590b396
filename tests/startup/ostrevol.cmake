tintarel_add_test(tst_basreg SOURCES tst_basreg.cpp FakeRegistry.h LIBS ostrevol_core)
tintarel_add_test(tst_demarrapp SOURCES tst_demarrapp.cpp FakeRegistry.h LIBS ostrevol_core)
