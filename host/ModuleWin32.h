// The module's instance handle, stored by DllMain (plugin/DllMainWin32.cpp) at
// load; the dialogs, bitmaps and strings are loaded through it.
#pragma once

#include <windows.h>

HINSTANCE ModuleInstance();
// Called once, by DllMain at process attach.
void SetModuleInstance(HINSTANCE instance);
