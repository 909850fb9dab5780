# The GEGL operation lumivex:patinex (gegl/): a module for GIMP and the gegl
# command, built from the same portable core as patinex.so; its tests run the
# gegl command on the sample and compare with patinex.so.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GEGL REQUIRED IMPORTED_TARGET gegl-0.4)

set_property(TARGET patinex_core PROPERTY POSITION_INDEPENDENT_CODE ON)
set(PATINEX_GEGL_EXPORTS ${CMAKE_SOURCE_DIR}/gegl/patinex-gegl.map)

add_library(patinex_gegl MODULE ${CMAKE_SOURCE_DIR}/gegl/PatinexOp.cpp)
set_target_properties(patinex_gegl PROPERTIES
  PREFIX "" OUTPUT_NAME patinex-gegl
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/gegl
  LINK_DEPENDS ${PATINEX_GEGL_EXPORTS})
target_include_directories(patinex_gegl PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(patinex_gegl PRIVATE patinex_core PkgConfig::GEGL Threads::Threads ${CMAKE_DL_LIBS})
# Full RELRO (bindnow), as patinex.so.
target_link_options(patinex_gegl PRIVATE
  -Wl,--version-script=${PATINEX_GEGL_EXPORTS} -Wl,--no-undefined
  -Wl,-z,relro -Wl,-z,now)

# The operation loaded in-process (properties against the table, alpha, the size
# limit), and the gegl command on the sample against patinex.so.
add_executable(patinex_gegl_tests ${CMAKE_SOURCE_DIR}/tests/gegl/PatinexOpTest.cpp)
target_include_directories(patinex_gegl_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(patinex_gegl_tests PRIVATE patinex_core PkgConfig::GEGL GTest::gtest)
add_dependencies(patinex_gegl_tests patinex_gegl)
target_link_libraries(patinex_gegl_tests PRIVATE ${CMAKE_DL_LIBS})
add_test(NAME gegl_unit_tests COMMAND patinex_gegl_tests ${CMAKE_BINARY_DIR}/gegl)
# The properties again as GIMP 2 sees them: a stand-in of its libgimpcolor loaded first.
add_library(fake_gimpcolor MODULE ${CMAKE_SOURCE_DIR}/tests/gegl/FakeGimpColor.cpp)
add_dependencies(patinex_gegl_tests fake_gimpcolor)
add_test(NAME gegl_unit_tests_in_gimp2
  COMMAND patinex_gegl_tests ${CMAKE_BINARY_DIR}/gegl $<TARGET_FILE:fake_gimpcolor>
          --gtest_filter=*PropertiesAreTheTablesRows*)
add_test(NAME gegl_command
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/gegl/run-gegl.sh
          $<TARGET_FILE:patinex_gegl> $<TARGET_FILE:patinex_frei0r>
          $<TARGET_FILE:frei0r_render_frame> ${CMAKE_SOURCE_DIR}/samples/chelsea.png
          ${CMAKE_BINARY_DIR}/gegl-command)
