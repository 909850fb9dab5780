# In the 64-bit tree: the 64-bit module against the 32-bit one. Both hosts run in
# this tree's 64-bit Wine prefix (it runs 32-bit programs too), each with its own
# module, on the same clips; the outputs must be the same files. The 32-bit tree
# sits beside this one ($(BUILD)/win32, which make test-win64 builds first).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PATINEX_WIN32_TREE ${CMAKE_BINARY_DIR}/../win32 CACHE PATH
      "The 32-bit build tree whose PATINEX.8bf and filterhost.exe the 64-bit ones are compared with")
  get_filename_component(PATINEX_WIN32_TREE_ABS ${PATINEX_WIN32_TREE} ABSOLUTE)
  patinex_wine_test(same_pixels_32_and_64_bit bash
    ${CMAKE_SOURCE_DIR}/tests/win32/bothbuilds/same-pixels-test.sh
    ${PATINEX_WIN32_TREE_ABS}/filterhost.exe ${PATINEX_WIN32_TREE_ABS}/PATINEX.8bf
    $<TARGET_FILE:filterhost> $<TARGET_FILE:patinex_module>
    ${CMAKE_SOURCE_DIR}/samples/coffee.png ${CMAKE_BINARY_DIR}/same-pixels)
  set_property(TEST same_pixels_32_and_64_bit APPEND PROPERTY ENVIRONMENT
    "PATINEX_WINE=${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()
