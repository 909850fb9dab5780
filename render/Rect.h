// The host's rectangle: four signed 16-bit coordinates, right and bottom exclusive.
#pragma once

#include <cstdint>

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};
static_assert(sizeof(Rect) == 8, "Rect is the host's 8-byte rectangle");

inline int32_t RectWidth(const Rect& r) { return int32_t(r.right) - int32_t(r.left); }
inline int32_t RectHeight(const Rect& r) { return int32_t(r.bottom) - int32_t(r.top); }
