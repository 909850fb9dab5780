# Cross build of the 64-bit x86-64 module and host with mingw-w64.
set(PATINEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
# The 64-bit loader itself: `wine` would start a 64-bit program from a 32-bit
# start.exe in a second process, which costs time and which a signal sent to
# the first process never reaches (the Ctrl+C test).
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
endif()
set(PATINEX_WINEARCH win64)
