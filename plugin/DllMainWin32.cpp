// The module's load notification: it hands the instance handle to
// host/ModuleWin32 for the dialogs, bitmaps and strings.
#include <windows.h>

#include "host/ModuleWin32.h"

// Remembers the instance handle and nothing else: every notification succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) SetModuleInstance(instance);
  return TRUE;
}
