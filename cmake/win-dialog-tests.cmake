# The parameters dialog under Wine: real controls, real messages, the preview
# captured from the screen and compared with a render. The tests load PATINEX.8bf
# from beside themselves, like the module tests.
file(GLOB PATINEX_DIALOG_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/Dialog*Test.cpp)
if(PATINEX_DIALOG_TESTS)
  add_executable(patinex_dialog_tests ${PATINEX_DIALOG_TESTS})
  target_include_directories(patinex_dialog_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(patinex_dialog_tests PRIVATE patinex_core gtest_main)
  add_dependencies(patinex_dialog_tests patinex_module filterhost)
  patinex_wine_test(dialog_tests_under_wine patinex_dialog_tests)
endif()

# The README's picture of the dialog: tools/dialog-screenshot/make-screenshot
# runs this under Wine on the sample photograph and writes docs/dialog.png.
add_executable(dialog_screenshot ${CMAKE_SOURCE_DIR}/tools/dialog-screenshot/DialogScreenshot.cpp)
target_include_directories(dialog_screenshot PRIVATE ${CMAKE_SOURCE_DIR} /usr/include/stb)
target_link_libraries(dialog_screenshot PRIVATE patinex_core)
add_dependencies(dialog_screenshot patinex_module)
