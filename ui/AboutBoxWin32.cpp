#include <windows.h>

#include "host/ModuleWin32.h"
#include "ui/AboutBox.h"
#include "ui/CommonControls.h"
#include "ui/Placement.h"
#include "ui/ValueControls.h"

void PlaceDialogWindow(HWND dialog) {
  HWND reference = GetParent(dialog);
  if (reference == nullptr) reference = GetDesktopWindow();
  RECT client, window;
  GetClientRect(reference, &client);
  ClientToScreen(reference, reinterpret_cast<POINT*>(&client.left));
  ClientToScreen(reference, reinterpret_cast<POINT*>(&client.right));
  GetWindowRect(dialog, &window);
  PlacementInput in;
  in.reference = PlacementRect{client.left, client.top, client.right, client.bottom};
  in.dialog = PlacementRect{window.left, window.top, window.right, window.bottom};
  in.dialogHasSysMenu = (GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) != 0;
  in.captionButtonWidth = GetSystemMetrics(SM_CXSIZE);
  in.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  in.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const PlacementPoint at = PlaceDialog(in);
  SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The box keeps no state beyond its picture, deleted when it closes; only IDOK (the button or Enter) ends it, so Escape
// (IDCANCEL) does nothing, and without a system menu there is no close box.
INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      PlaceDialogWindow(dialog);
      return FALSE;
    case WM_DESTROY:
      DeleteDialogPictures(dialog);
      return FALSE;
    case WM_PAINT: {
      PAINTSTRUCT paint;  // the picture control paints itself
      BeginPaint(dialog, &paint);
      EndPaint(dialog, &paint);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void ShowAboutBox(HWND owner) {
  RegisterCommonControls();
  DialogBoxParamA(ModuleInstance(), "IDD_ABOUT", owner, AboutBoxProc, 0);
}
