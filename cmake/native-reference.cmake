# The plain reference renderer, shared by the unit tests and the benchmark.
target_sources(patinex_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/testing/ReferenceTone.cpp)
if(TARGET patinex_bench)
  target_sources(patinex_bench PRIVATE ${CMAKE_SOURCE_DIR}/testing/ReferenceTone.cpp)
endif()
