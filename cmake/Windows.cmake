# The Windows build (mingw-w64 cross compile; tests run under Wine through CTest).
find_package(Threads REQUIRED)

# GoogleTest from Debian's sources, built with the cross compiler.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(patinex_core STATIC ${PATINEX_CORE_SOURCES} ${PATINEX_WIN32_SOURCES})
target_include_directories(patinex_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(patinex_core PUBLIC user32 gdi32 comdlg32 comctl32 kernel32)

# Every Windows test runs under Wine in a private prefix of this build tree,
# which scripts/wine-prefix makes (the Makefile calls it before ctest).
set(PATINEX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
function(patinex_wine_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "WINEPREFIX=${PATINEX_WINEPREFIX};WINEARCH=${PATINEX_WINEARCH};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
endfunction()

# The portable core's own tests, compiled for Windows and run under Wine: the
# same expectations on both builds settle that their floating point agrees.
file(GLOB PATINEX_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(patinex_core_tests ${PATINEX_NATIVE_TESTS})
target_link_libraries(patinex_core_tests PRIVATE patinex_core gtest_main)
patinex_wine_test(core_tests_under_wine patinex_core_tests)

# The rest of the Windows build, in this order (a new part adds its line here):
# the module, then filterhost (whose tests run the module), the dialog tests
# (which run both), the reference renderer for the core tests, and in the 64-bit
# tree the comparison with the 32-bit one.
include(${CMAKE_SOURCE_DIR}/cmake/win-module.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/win-filterhost.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/win-dialog-tests.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/win-reference.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/win-bothbuilds.cmake)
