// Calling conventions of the filter interface. The host calls ENTRYPOINT and the
// plug-in calls the host's progress and abort callbacks with cdecl; dialog
// procedures are stdcall. Outside Windows both words mean nothing.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define PATINEX_CDECL __cdecl
#define PATINEX_STDCALL __stdcall
#else
#define PATINEX_CDECL
#define PATINEX_STDCALL
#endif
