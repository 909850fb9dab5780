// The module's instance handle, stored by DllMain at load; the dialogs, bitmaps
// and strings are loaded through it.
#pragma once

#include <windows.h>

HINSTANCE ModuleInstance();
