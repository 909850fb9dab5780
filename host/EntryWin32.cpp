// The Win32 side of the entry: the load notification and the about box.
#include <windows.h>

#include "host/ModuleWin32.h"
#include "host/Selectors.h"
#include "ui/AboutBox.h"

namespace {
HINSTANCE gModuleInstance = nullptr;  // written once, at process attach
}

HINSTANCE ModuleInstance() { return gModuleInstance; }

// Remembers the instance handle and nothing else: every notification succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gModuleInstance = instance;
  return TRUE;
}

// The owner is the host window named by the about record's platform data; a host
// that gives none gets a box without an owner rather than a crash.
void ShowHostAboutBox(const AboutRecord* about) {
  const PlatformData* platform =
      about != nullptr ? static_cast<const PlatformData*>(about->platformData) : nullptr;
  ShowAboutBox(platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr);
}
