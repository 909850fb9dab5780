#include <windows.h>
#include <commctrl.h>

#include "ui/CommonControls.h"

void RegisterCommonControls() {
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES;  // the trackbar
  InitCommonControlsEx(&controls);
}
