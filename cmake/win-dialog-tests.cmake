# The parameters dialog under Wine: real controls, real messages, the preview
# captured from the screen and compared with a render. The tests load PATINEX.8bf
# from beside themselves, like the module tests.
file(GLOB PATINEX_DIALOG_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/Dialog*Test.cpp)
if(PATINEX_DIALOG_TESTS)
  add_executable(patinex_dialog_tests ${PATINEX_DIALOG_TESTS})
  target_include_directories(patinex_dialog_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(patinex_dialog_tests PRIVATE patinex_core gtest_main)
  add_dependencies(patinex_dialog_tests patinex_module)
  patinex_wine_test(dialog_tests_under_wine patinex_dialog_tests)
endif()
