// The module's load notification: it keeps the instance handle for the dialogs,
// bitmaps and strings.
#include <windows.h>

#include "host/ModuleWin32.h"

namespace {
HINSTANCE gModuleInstance = nullptr;  // written once, at process attach
}

HINSTANCE ModuleInstance() { return gModuleInstance; }

// Remembers the instance handle and nothing else: every notification succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gModuleInstance = instance;
  return TRUE;
}
