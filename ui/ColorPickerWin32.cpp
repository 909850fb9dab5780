#include <windows.h>
#include <commdlg.h>

#include "ui/ColorPicker.h"
#include "ui/ColorValue.h"

bool PickColor(uint32_t* customColors, double* red, double* green, double* blue) {
  static_assert(sizeof(COLORREF) == sizeof(uint32_t), "custom colours are COLORREFs");
  CHOOSECOLORA choose;
  ZeroMemory(&choose, sizeof choose);
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = nullptr;
  choose.rgbResult = ColorRefFromComponents(*red, *green, *blue);
  choose.lpCustColors = reinterpret_cast<COLORREF*>(customColors);
  choose.Flags = CC_RGBINIT | CC_FULLOPEN;
  if (!ChooseColorA(&choose)) return false;  // cancelled, or the picker failed
  ComponentsFromColorRef(choose.rgbResult, red, green, blue);
  return true;
}

void PaintSwatch(HWND dialog, int placeholderId, double red, double green, double blue, HDC dc) {
  const COLORREF color = ColorRefFromComponents(red, green, blue);
  HWND placeholder = GetDlgItem(dialog, placeholderId);
  RECT rect;
  GetClientRect(placeholder, &rect);
  MapWindowPoints(placeholder, dialog, reinterpret_cast<POINT*>(&rect), 2);
  FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  InflateRect(&rect, -1, -1);
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}
