// The calling convention of the filter interface: the host calls ENTRYPOINT and
// the plug-in calls the host's progress and abort callbacks with cdecl (the
// dialog procedures are CALLBACK, stdcall, from <windows.h>). Outside 32-bit
// Windows the word means nothing.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define PATINEX_CDECL __cdecl
#else
#define PATINEX_CDECL
#endif
