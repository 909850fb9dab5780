# The plain reference renderer, for the core tests compiled for Windows.
target_sources(patinex_core_tests PRIVATE ${CMAKE_SOURCE_DIR}/testing/ReferenceTone.cpp)
