# What both mingw-w64 cross builds share. The including toolchain file sets
# PATINEX_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) first. The -posix
# compilers have posix threads, which GoogleTest needs for std::mutex; SSE2 math
# keeps the 32-bit build's floating point equal to the other builds'.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PATINEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PATINEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PATINEX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PATINEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
