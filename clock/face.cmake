target_sources(tintarel_clock_core PRIVATE FaceLayout.cpp FaceLayout.h VisibilityRule.cpp VisibilityRule.h
  basOuvrirDocHor.cpp basOuvrirDocHor.h basPublics.h frmHorloge.cpp frmHorloge.h)
