# Cross build of the 32-bit x86 module and host with mingw-w64.
set(PATINEX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
set(PATINEX_WINEARCH win32)
