// Where a dialog goes over its reference window: centred horizontally over the
// reference's client area but pulled left by part of a caption button's width,
// at a third of the free height from the top, and pushed back on screen only at
// the right and bottom edges. Pure arithmetic; the Win32 wrapper gathers the
// rectangles and metrics (AboutBoxWin32.cpp).
#pragma once

#include <cstdint>

struct PlacementRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct PlacementInput {
  PlacementRect reference;   // the reference window's client area, in screen coordinates
  PlacementRect dialog;      // the dialog's window rectangle (only its size counts)
  bool dialogHasSysMenu;     // WS_SYSMENU in the dialog's style
  int32_t captionButtonWidth;  // SM_CXSIZE
  int32_t screenWidth;       // SM_CXSCREEN
  int32_t screenHeight;      // SM_CYSCREEN
};

struct PlacementPoint {
  int32_t x;
  int32_t y;
};

PlacementPoint PlaceDialog(const PlacementInput& input);
