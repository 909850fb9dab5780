# The native build: the portable core, its unit tests (with sanitizers) and the
# benchmarks (without).
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(patinex_core STATIC ${PATINEX_CORE_SOURCES} ${PATINEX_PORTABLE_SOURCES})
target_include_directories(patinex_core PUBLIC ${CMAKE_SOURCE_DIR})

# The same core again with the sanitizers, for the tests.
set(PATINEX_SANITIZE -fsanitize=address,undefined -fsanitize=float-cast-overflow
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_library(patinex_core_san STATIC ${PATINEX_CORE_SOURCES} ${PATINEX_PORTABLE_SOURCES})
target_include_directories(patinex_core_san PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(patinex_core_san PUBLIC ${PATINEX_SANITIZE} -O1 -g)
target_link_options(patinex_core_san PUBLIC ${PATINEX_SANITIZE})

file(GLOB PATINEX_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(patinex_native_tests ${PATINEX_NATIVE_TESTS})
target_link_libraries(patinex_native_tests PRIVATE patinex_core_san GTest::gtest_main Threads::Threads)
add_test(NAME native_tests COMMAND patinex_native_tests)

file(GLOB PATINEX_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
find_package(benchmark QUIET)
if(benchmark_FOUND AND PATINEX_BENCH_SOURCES)
  add_executable(patinex_bench ${PATINEX_BENCH_SOURCES})
  target_link_libraries(patinex_bench PRIVATE patinex_core benchmark::benchmark Threads::Threads)
endif()

# The rest of the native build, in this order (a new part adds its line here):
# the reference renderer for the tests and the benchmark, filterhost's portable
# parts for the tests, the frei0r filter, the GEGL operation.
include(${CMAKE_SOURCE_DIR}/cmake/native-reference.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/native-filterhost.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/native-frei0r.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/native-gegl.cmake)
