#include <windows.h>
#include <commctrl.h>

#include "render/Numerics.h"
#include "ui/NumberText.h"
#include "ui/ValueControls.h"

void SetEditNumber(HWND dialog, int editId, double value) {
  char text[kNumberTextSize];
  FormatNumberText(value, text);
  SetDlgItemTextA(dialog, editId, text);
}

double GetEditNumber(HWND dialog, int editId, bool* ok) {
  char text[kNumberTextSize] = {0};
  GetDlgItemTextA(dialog, editId, text, kNumberTextSize);
  double value = 0.0;
  const bool found = ParseNumberText(text, &value);
  if (ok != nullptr) *ok = found;
  return value;
}

bool CheckEditRange(HWND dialog, int editId, double* destination, double low, double high) {
  bool ok = false;
  double value = GetEditNumber(dialog, editId, &ok);
  if (ok && value < low) {
    value = low;
    ok = false;
  } else if (ok && value > high) {
    value = high;
    ok = false;
  }
  if (ok) {
    if (destination != nullptr) *destination = value;
    return true;
  }
  // Setting the text raises the edit's change notification, through which the
  // dialog stores the reset value.
  SetSliderPos(dialog, editId + kSliderIdOffset, TruncToInt(value));
  SetEditNumber(dialog, editId, value);
  SendDlgItemMessageA(dialog, editId, EM_SETSEL, 0, -1);
  SetFocus(GetDlgItem(dialog, editId));
  MessageBeep(MB_ICONEXCLAMATION);
  return false;
}

void SetSliderRange(HWND dialog, int sliderId, int minimum, int maximum) {
  SendDlgItemMessageA(dialog, sliderId, TBM_SETRANGE, TRUE,
                      MAKELPARAM(WORD(minimum), WORD(maximum)));
  SendDlgItemMessageA(dialog, sliderId, TBM_SETTICFREQ, 1, 0);
}

void SetSliderPos(HWND dialog, int sliderId, int position) {
  SendDlgItemMessageA(dialog, sliderId, TBM_SETPOS, TRUE, position);
}

void SetCheck(HWND dialog, int checkId, double value) {
  SendDlgItemMessageA(dialog, checkId, BM_SETCHECK, value != 0.0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

int GetCheck(HWND dialog, int checkId) {
  return SendDlgItemMessageA(dialog, checkId, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void ShowControl(HWND dialog, int controlId, int show) {
  ShowWindow(GetDlgItem(dialog, controlId), show != 0 ? SW_SHOW : SW_HIDE);
}

void DeleteDialogPictures(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char className[16] = {0};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0 ||
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) {
      continue;
    }
    // Setting no picture hands back the one the control held.
    HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(
        SendMessageA(child, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (picture != nullptr) DeleteObject(picture);
  }
}

RECT ControlRectInDialog(HWND dialog, int controlId) {
  RECT rect = {0, 0, 0, 0};
  GetWindowRect(GetDlgItem(dialog, controlId), &rect);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT ControlClientRectInDialog(HWND dialog, int controlId) {
  HWND control = GetDlgItem(dialog, controlId);
  RECT rect = {0, 0, 0, 0};
  GetClientRect(control, &rect);
  MapWindowPoints(control, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void InvalidateControl(HWND dialog, int controlId) {
  const RECT rect = ControlRectInDialog(dialog, controlId);
  InvalidateRect(dialog, &rect, FALSE);
}
