# filterhost.exe, our host of the filter interface; the small modules that test
# it; and its tests under Wine.
set(FILTERHOST_DIR ${CMAKE_SOURCE_DIR}/tools/filterhost)
set(FILTERHOST_PORTABLE ${FILTERHOST_DIR}/Pipl.cpp ${FILTERHOST_DIR}/Settings.cpp
    ${FILTERHOST_DIR}/FramePattern.cpp ${FILTERHOST_DIR}/ImageFormat.cpp
    ${FILTERHOST_DIR}/ImageHeader.cpp ${FILTERHOST_DIR}/PixelPlanes.cpp
    ${FILTERHOST_DIR}/UnusedMetadata.cpp)
# --set and --help read the parameter table of the portable core.
add_executable(filterhost ${FILTERHOST_PORTABLE} ${CMAKE_SOURCE_DIR}/host/ParamTable.cpp
               ${FILTERHOST_DIR}/ImageIOWin32.cpp ${FILTERHOST_DIR}/OutputFileWin32.cpp
               ${FILTERHOST_DIR}/ProcessMemoryWin32.cpp
               ${FILTERHOST_DIR}/FilterModuleWin32.cpp ${FILTERHOST_DIR}/FilterDriverWin32.cpp
               ${FILTERHOST_DIR}/Main.cpp)
target_include_directories(filterhost PRIVATE ${CMAKE_SOURCE_DIR})
# Image files through the platform's imaging component (WIC, made through COM).
target_link_libraries(filterhost PRIVATE windowscodecs ole32 oleaut32 uuid psapi)
target_link_options(filterhost PRIVATE -static)
# The 32-bit host is large-address aware: 64-bit Windows (and Wine) then give it
# 4 GB of address space instead of 2, which a 100-megapixel photograph needs.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(filterhost PRIVATE -Wl,--large-address-aware)
endif()
# The 64-bit tree's host loads 64-bit modules: filterhost64.exe beside PATINEX64.8bf.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set_target_properties(filterhost PROPERTIES OUTPUT_NAME filterhost64)
endif()

# The portable parts are unit-tested with the core's tests (tests/native).
target_sources(patinex_core_tests PRIVATE ${FILTERHOST_PORTABLE})

# Test modules: an inverting filter whose entry is not called ENTRYPOINT, a DLL
# without a property list, and one whose list is not a filter's.
set(TESTFILTER_DIR ${CMAKE_SOURCE_DIR}/tests/win32/testfilter)
set(TESTFILTER_OUT ${CMAKE_BINARY_DIR}/testmodules)
add_library(filterhost_testfilter MODULE ${TESTFILTER_DIR}/TestFilter.cpp
            ${TESTFILTER_DIR}/TestFilter.rc ${TESTFILTER_DIR}/TestFilter.def)
target_include_directories(filterhost_testfilter PRIVATE ${CMAKE_SOURCE_DIR})
add_library(filterhost_notfilter MODULE ${TESTFILTER_DIR}/NotFilter.cpp
            ${TESTFILTER_DIR}/NotFilter.def)
add_library(filterhost_wrongkind MODULE ${TESTFILTER_DIR}/NotFilter.cpp
            ${TESTFILTER_DIR}/WrongKind.rc ${TESTFILTER_DIR}/NotFilter.def)
foreach(t filterhost_testfilter filterhost_notfilter filterhost_wrongkind)
  target_link_options(${t} PRIVATE -static -Wl,--kill-at)
  set_target_properties(${t} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TESTFILTER_OUT})
endforeach()
set_target_properties(filterhost_testfilter PROPERTIES OUTPUT_NAME testfilter SUFFIX .8bf)
set_target_properties(filterhost_notfilter PROPERTIES OUTPUT_NAME notfilter SUFFIX .dll)
set_target_properties(filterhost_wrongkind PROPERTIES OUTPUT_NAME wrongkind SUFFIX .8bf)

# filterhost end to end: a test program runs it as a process on generated images.
add_executable(filterhost_tests ${CMAKE_SOURCE_DIR}/tests/win32/filterhost/FilterhostTest.cpp)
target_include_directories(filterhost_tests PRIVATE ${CMAKE_SOURCE_DIR} /usr/include/stb)
target_link_libraries(filterhost_tests PRIVATE patinex_core gtest)
add_dependencies(filterhost_tests filterhost filterhost_testfilter filterhost_notfilter
                 filterhost_wrongkind patinex_module)
set(FILTERHOST_TEST_WORK ${CMAKE_BINARY_DIR}/filterhost-test)

patinex_wine_test(filterhost_under_wine filterhost_tests
  --host=$<TARGET_FILE:filterhost> --modules=${TESTFILTER_OUT}
  --work=${FILTERHOST_TEST_WORK} --patinex=$<TARGET_FILE:patinex_module>
  --progressive=${CMAKE_SOURCE_DIR}/tests/win32/filterhost/progressive
  --samples=${CMAKE_SOURCE_DIR}/samples)
# Ctrl+C needs a real signal from outside Wine: a shell script sends it.
patinex_wine_test(filterhost_ctrl_c_under_wine bash
  ${CMAKE_SOURCE_DIR}/tests/win32/filterhost/ctrl-c-test.sh $<TARGET_FILE:filterhost>
  ${TESTFILTER_OUT}/testfilter.8bf ${CMAKE_SOURCE_DIR}/samples/coffee.png
  ${FILTERHOST_TEST_WORK}-ctrlc $<TARGET_FILE:patinex_module>)
# A full disk: a small tmpfs in a mount namespace (root only; skipped elsewhere).
patinex_wine_test(filterhost_full_disk_under_wine bash
  ${CMAKE_SOURCE_DIR}/tests/win32/filterhost/full-disk-test.sh $<TARGET_FILE:filterhost>
  ${TESTFILTER_OUT}/testfilter.8bf ${CMAKE_SOURCE_DIR}/samples/coffee.png
  ${FILTERHOST_TEST_WORK}-full)
set_tests_properties(filterhost_full_disk_under_wine PROPERTIES SKIP_RETURN_CODE 77)
# The scripts start filterhost with the build's own Wine loader (wine64 for
# filterhost64.exe), so that the signal reaches the host's process.
foreach(t filterhost_ctrl_c_under_wine filterhost_full_disk_under_wine)
  set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
    "PATINEX_WINE=${CMAKE_CROSSCOMPILING_EMULATOR}")
endforeach()
