target_sources(tintarel_clock_core PRIVATE FaceLayout.cpp FaceLayout.h)
