// The module's instance handle, kept for the dialogs, bitmaps and strings.
#include <windows.h>

#include "host/ModuleWin32.h"

namespace {
HINSTANCE gModuleInstance = nullptr;  // written once, at process attach
}

HINSTANCE ModuleInstance() { return gModuleInstance; }

void SetModuleInstance(HINSTANCE instance) { gModuleInstance = instance; }
