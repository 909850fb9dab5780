# The fuzz tree (build/fuzz, clang): one libFuzzer target per surface that takes
# input from outside, each over the portable core built with the same sanitizers.
# `make fuzz` and the smoke in `make test` run them (tests/fuzz/run-fuzz).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz tree needs clang (libFuzzer): configure with CXX=clang++-14")
endif()

set(PATINEX_FUZZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer -g)

# The core and filterhost's portable parts, instrumented for coverage.
add_library(patinex_core_fuzz STATIC ${PATINEX_CORE_SOURCES} ${PATINEX_PORTABLE_SOURCES}
            ${CMAKE_SOURCE_DIR}/tools/filterhost/Pipl.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/Settings.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/FramePattern.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/ImageFormat.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/ImageHeader.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/PixelPlanes.cpp
            ${CMAKE_SOURCE_DIR}/tools/filterhost/UnusedMetadata.cpp)
target_include_directories(patinex_core_fuzz PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(patinex_core_fuzz PUBLIC ${PATINEX_FUZZ_SANITIZE} -fsanitize=fuzzer-no-link
                       -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/tests/fuzz/coverage-ignore.txt
                       -fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/tests/fuzz/sanitize-ignore.txt)
target_link_options(patinex_core_fuzz PUBLIC ${PATINEX_FUZZ_SANITIZE})

# fuzz_<name> from tests/fuzz/<File>.cpp and any further sources.
function(patinex_fuzz_target name file)
  add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/${file} ${ARGN})
  target_link_libraries(fuzz_${name} PRIVATE patinex_core_fuzz)
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()

patinex_fuzz_target(number_text NumberTextFuzz.cpp)
patinex_fuzz_target(settings SettingsFuzz.cpp)
patinex_fuzz_target(frame_pattern FramePatternFuzz.cpp)
patinex_fuzz_target(pipl PiplFuzz.cpp)
patinex_fuzz_target(render RenderFuzz.cpp)
patinex_fuzz_target(entry EntryFuzz.cpp)
patinex_fuzz_target(image ImageFuzz.cpp)

# The frei0r filter's entry points, called in-process as a host calls them.
find_path(FREI0R_INCLUDE_DIR frei0r.h REQUIRED)
patinex_fuzz_target(frei0r Frei0rFuzz.cpp ${CMAKE_SOURCE_DIR}/frei0r/Patinex0r.cpp
                    ${CMAKE_SOURCE_DIR}/frei0r/Frei0rParams.cpp)
target_include_directories(fuzz_frei0r PRIVATE ${FREI0R_INCLUDE_DIR})
