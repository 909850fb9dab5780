#include "ui/Placement.h"

#include <algorithm>

namespace {

// Coordinates are computed in 64 bits and brought back into range, so that
// rectangles of any size cannot overflow the arithmetic.
int32_t ToInt32(int64_t v) {
  return int32_t(std::min<int64_t>(INT32_MAX, std::max<int64_t>(INT32_MIN, v)));
}

}  // namespace

PlacementPoint PlaceDialog(const PlacementInput& in) {
  int64_t shift = in.captionButtonWidth;
  if (!in.dialogHasSysMenu) shift -= shift / 3;  // divisions truncate toward zero

  const int64_t w = int64_t(in.dialog.right) - in.dialog.left;
  const int64_t h = int64_t(in.dialog.bottom) - in.dialog.top;
  const int64_t refWidth = int64_t(in.reference.right) - in.reference.left;
  const int64_t refHeight = int64_t(in.reference.bottom) - in.reference.top;

  int64_t x = in.reference.left + std::max<int64_t>(0, refWidth - w) / 2 - shift;
  if (x + w > in.screenWidth) x = std::max<int64_t>(0, in.screenWidth - w);
  int64_t y = in.reference.top + std::max<int64_t>(0, refHeight - h) / 3;
  if (y + h > in.screenHeight) y = std::max<int64_t>(0, in.screenHeight - h);
  // A negative x or y from the centring stays: only the right and bottom edges push back.
  return PlacementPoint{ToInt32(x), ToInt32(y)};
}
