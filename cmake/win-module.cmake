# PATINEX.8bf (PATINEX64.8bf in the 64-bit tree): the plug-in module, its
# resources and its tests under Wine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PATINEX_MODULE_NAME PATINEX64)
else()
  set(PATINEX_MODULE_NAME PATINEX)
endif()
set(PATINEX_MODULE_FILE ${PATINEX_MODULE_NAME}.8bf)

# The pictures are drawn at build time by a small program built for the build
# machine with the system compiler (the cross compiler's programs would need Wine).
find_program(PATINEX_BUILD_CXX NAMES c++ g++ REQUIRED)
set(PATINEX_RES_DIR ${CMAKE_BINARY_DIR}/resources)
set(PATINEX_BITMAPS ${PATINEX_RES_DIR}/patinex-103.bmp ${PATINEX_RES_DIR}/patinex-110.bmp)
add_custom_command(
  OUTPUT ${PATINEX_BITMAPS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PATINEX_RES_DIR}
  COMMAND ${PATINEX_BUILD_CXX} -O1 -o ${PATINEX_RES_DIR}/MakeBitmaps
          ${CMAKE_SOURCE_DIR}/resources/MakeBitmaps.cpp
  COMMAND ${PATINEX_RES_DIR}/MakeBitmaps ${PATINEX_RES_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/MakeBitmaps.cpp
  COMMENT "Drawing the module's bitmaps"
  VERBATIM)
add_custom_target(patinex_bitmaps DEPENDS ${PATINEX_BITMAPS})

set(PATINEX_RC ${CMAKE_SOURCE_DIR}/resources/Patinex.rc)
set_source_files_properties(${PATINEX_RC} PROPERTIES OBJECT_DEPENDS "${PATINEX_BITMAPS}")

# One export list for both builds; only the module name in its LIBRARY line differs.
set(PATINEX_DEF ${PATINEX_RES_DIR}/Patinex.def)
configure_file(${CMAKE_SOURCE_DIR}/resources/Patinex.def.in ${PATINEX_DEF} @ONLY)

add_library(patinex_module MODULE ${PATINEX_RC} ${PATINEX_DEF})
add_dependencies(patinex_module patinex_bitmaps)
target_include_directories(patinex_module PRIVATE ${PATINEX_RES_DIR})
# The .def names the exports, but the linker takes only the archive members that
# something references: ask for ENTRYPOINT (DllMain, plugin/DllMainWin32.cpp, comes
# with the runtime's start-up, which calls it).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(PATINEX_SYMBOL_PREFIX "_")
else()
  set(PATINEX_SYMBOL_PREFIX "")
endif()
target_link_libraries(patinex_module PRIVATE patinex_core)
# --kill-at exports the stdcall dialog procedure (PatinexProc@16 in the objects)
# under its plain name; --enable-stdcall-fixup says that this match is meant.
target_link_options(patinex_module PRIVATE -static -Wl,--kill-at -Wl,--enable-stdcall-fixup
                    -Wl,--undefined=${PATINEX_SYMBOL_PREFIX}ENTRYPOINT)
set_target_properties(patinex_module PROPERTIES PREFIX "" OUTPUT_NAME ${PATINEX_MODULE_NAME} SUFFIX .8bf)

# Tests of the module through its loader: LoadLibrary, the resources, the exports,
# the selectors. They find the module beside themselves.
file(GLOB PATINEX_MODULE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/Module*Test.cpp)
if(PATINEX_MODULE_TESTS)
  add_executable(patinex_module_tests ${PATINEX_MODULE_TESTS})
  target_include_directories(patinex_module_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(patinex_module_tests PRIVATE patinex_core gtest_main version)
  add_dependencies(patinex_module_tests patinex_module)
  patinex_wine_test(module_tests_under_wine patinex_module_tests)
endif()
