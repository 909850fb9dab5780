# The frei0r filter for Linux video editors: patinex.so beside the other native
# outputs, built from the same portable core; its unit tests (with sanitizers)
# and a run inside real hosts (ffmpeg's frei0r filter and MLT's melt).
find_path(FREI0R_INCLUDE_DIR frei0r.h REQUIRED)

# The core goes into a shared object, so it must be position-independent.
set_property(TARGET patinex_core PROPERTY POSITION_INDEPENDENT_CODE ON)

set(PATINEX_FREI0R_SOURCES
    ${CMAKE_SOURCE_DIR}/frei0r/Patinex0r.cpp ${CMAKE_SOURCE_DIR}/frei0r/Frei0rParams.cpp)
set(PATINEX_FREI0R_EXPORTS ${CMAKE_SOURCE_DIR}/frei0r/patinex.map)

add_library(patinex_frei0r MODULE ${PATINEX_FREI0R_SOURCES})
set_target_properties(patinex_frei0r PROPERTIES
  PREFIX "" OUTPUT_NAME patinex
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${PATINEX_FREI0R_EXPORTS})
target_include_directories(patinex_frei0r PRIVATE ${CMAKE_SOURCE_DIR} ${FREI0R_INCLUDE_DIR})
target_link_libraries(patinex_frei0r PRIVATE patinex_core Threads::Threads ${CMAKE_DL_LIBS})
# Full RELRO (bindnow): every symbol bound at load, the relocations then read-only.
target_link_options(patinex_frei0r PRIVATE
  -Wl,--version-script=${PATINEX_FREI0R_EXPORTS} -Wl,--no-undefined
  -Wl,-z,relro -Wl,-z,now)

# The plug-in's sources again, with the sanitizers, called in-process by the tests.
file(GLOB PATINEX_FREI0R_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/frei0r/*.cpp)
add_executable(patinex_frei0r_tests ${PATINEX_FREI0R_TESTS} ${PATINEX_FREI0R_SOURCES})
target_include_directories(patinex_frei0r_tests PRIVATE ${FREI0R_INCLUDE_DIR})
target_link_libraries(patinex_frei0r_tests PRIVATE patinex_core_san GTest::gtest_main Threads::Threads ${CMAKE_DL_LIBS})
add_test(NAME frei0r_unit_tests COMMAND patinex_frei0r_tests)
# Two stand-ins for libavfilter (5.1's and a later one) that call the filter.
foreach(major 8 10)
  add_library(fake_avfilter${major} MODULE ${CMAKE_SOURCE_DIR}/tests/frei0r/tools/FakeLibavfilter.cpp)
  set_target_properties(fake_avfilter${major} PROPERTIES
    PREFIX "" OUTPUT_NAME libavfilter SUFFIX .so.${major}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake-avfilter${major})
  add_dependencies(patinex_frei0r_tests fake_avfilter${major})
endforeach()
target_compile_definitions(fake_avfilter8 PRIVATE FAKE_AVFILTER_VERSION=0x082C64u)
target_compile_definitions(fake_avfilter10 PRIVATE FAKE_AVFILTER_VERSION=0x0A0464u)
target_compile_definitions(patinex_frei0r_tests PRIVATE
  FAKE_AVFILTER8="$<TARGET_FILE:fake_avfilter8>" FAKE_AVFILTER10="$<TARGET_FILE:fake_avfilter10>")

# The built module inside ffmpeg and melt, from generated clips, against the
# same module driven directly one frame at a time.
add_executable(frei0r_render_frame ${CMAKE_SOURCE_DIR}/tests/frei0r/tools/RenderFrame.cpp)
target_include_directories(frei0r_render_frame PRIVATE ${FREI0R_INCLUDE_DIR})
target_link_libraries(frei0r_render_frame PRIVATE ${CMAKE_DL_LIBS})
add_test(NAME frei0r_in_hosts
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/frei0r/run-in-hosts.sh
          $<TARGET_FILE:patinex_frei0r> $<TARGET_FILE:frei0r_render_frame>
          ${CMAKE_BINARY_DIR}/frei0r-hosts)

# make bench: the worst f0r_update calls (bench/frei0r), when Google Benchmark is there.
if(benchmark_FOUND)
  add_executable(patinex_frei0r_bench ${CMAKE_SOURCE_DIR}/bench/frei0r/UpdateBench.cpp
                 ${PATINEX_FREI0R_SOURCES})
  target_include_directories(patinex_frei0r_bench PRIVATE ${FREI0R_INCLUDE_DIR})
  target_link_libraries(patinex_frei0r_bench PRIVATE patinex_core benchmark::benchmark
                        Threads::Threads ${CMAKE_DL_LIBS})
endif()

# The video editors' descriptions of the filter (Kdenlive's effect XML, Shotcut's
# filter panel), written from the templates in frei0r/editors/ and the parameter
# table at build time into editors/; make install-frei0r installs them with
# patinex.so. The frei0r unit tests check them against the table (with libxml2).
set(PATINEX_EDITORS_DIR ${CMAKE_SOURCE_DIR}/frei0r/editors)
add_executable(make_editor_files ${PATINEX_EDITORS_DIR}/MakeEditorFiles.cpp
               ${CMAKE_SOURCE_DIR}/frei0r/Frei0rParams.cpp)
target_link_libraries(make_editor_files PRIVATE patinex_core)
set(PATINEX_EDITOR_FILES
    ${CMAKE_BINARY_DIR}/editors/kdenlive/frei0r_patinex.xml
    ${CMAKE_BINARY_DIR}/editors/shotcut/patinex/meta.qml
    ${CMAKE_BINARY_DIR}/editors/shotcut/patinex/ui.qml)
add_custom_command(OUTPUT ${PATINEX_EDITOR_FILES}
  COMMAND make_editor_files ${PATINEX_EDITORS_DIR} ${CMAKE_BINARY_DIR}/editors
  DEPENDS make_editor_files ${PATINEX_EDITORS_DIR}/frei0r_patinex.xml.in
          ${PATINEX_EDITORS_DIR}/meta.qml.in ${PATINEX_EDITORS_DIR}/ui.qml.in
  COMMENT "Editor descriptions of patinex.so from the templates and the parameter table")
add_custom_target(editor_files ALL DEPENDS ${PATINEX_EDITOR_FILES})

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
target_link_libraries(patinex_frei0r_tests PRIVATE PkgConfig::LIBXML2)
target_compile_definitions(patinex_frei0r_tests PRIVATE
                           PATINEX_EDITORS_DIR="${CMAKE_BINARY_DIR}/editors")
add_dependencies(patinex_frei0r_tests editor_files)
