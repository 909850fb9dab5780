// The Win32 side of the entry: the about box and the parameters dialog.
#include <windows.h>

#include "plugin/Selectors.h"
#include "ui/AboutBox.h"
#include "ui/ParametersDialog.h"

// The owner is the host window named by the about record's platform data; a host
// that gives none gets a box without an owner rather than a crash.
void ShowHostAboutBox(const AboutRecord* about) {
  const PlatformData* platform =
      about != nullptr ? static_cast<const PlatformData*>(about->platformData) : nullptr;
  ShowAboutBox(platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr);
}

void ShowHostParametersDialog(PluginGlobals* globals, uint32_t* seed) {
  ShowParametersDialog(globals, seed);
}
