#include "render/ScaleLayout.h"

#include <cmath>

#include "render/Numerics.h"
#include "render/RenderJob.h"

namespace {

// The finest grid: 8 cells to a picture pixel. Auto on a picture of fewer than
// kScaleAutoRows / 8 rows (an icon) lays its damage out on 8 times its height.
const double kSmallestFactor = 1.0 / 8.0;

int32_t GridSide(int32_t side, double factor) {
  const double cells = std::floor(double(side) / factor + 0.5);
  if (!(cells >= 1.0)) return 1;
  return cells > double(kMaxGridSide) ? kMaxGridSide : int32_t(cells);
}

// T(u): the integral of the tent max(0, 1 - |t|) from -infinity to u.
double TentIntegral(double u) {
  if (u <= -1.0) return 0.0;
  if (u <= 0.0) return (1.0 + u) * (1.0 + u) / 2.0;
  if (u < 1.0) return 1.0 - (1.0 - u) * (1.0 - u) / 2.0;
  return 1.0;
}

}  // namespace

double ScaleFactorOf(double scale, int32_t height) {
  if (scale != scale) return 1.0;
  if (scale <= kScaleAuto) return double(height > 0 ? height : 1) / double(kScaleAutoRows);
  if (scale < 1.0) return 1.0;
  return scale > kScaleMax ? kScaleMax : scale;
}

ScaleLayout LayoutFor(double scale, int32_t width, int32_t height) {
  ScaleLayout layout;
  layout.width = width > 0 ? width : 0;
  layout.height = height > 0 ? height : 0;
  layout.unitX = 1.0;
  layout.unitY = 1.0;
  layout.scaled = false;
  if (width <= 0 || height <= 0) return layout;
  double factor = ScaleFactorOf(scale, height);
  // No side of the grid beyond kMaxGridSide: the positions are draws of 0..32767.
  const double widest = double(width > height ? width : height) / double(kMaxGridSide);
  if (factor < kSmallestFactor) factor = kSmallestFactor;
  if (factor < widest) factor = widest;
  const int32_t gridWidth = GridSide(width, factor);
  const int32_t gridHeight = GridSide(height, factor);
  if (gridWidth == width && gridHeight == height) return layout;
  layout.scaled = true;
  layout.width = gridWidth;
  layout.height = gridHeight;
  layout.unitX = double(width) / double(gridWidth);
  layout.unitY = double(height) / double(gridHeight);
  return layout;
}

double TentCover(double a, double b, double c) { return TentIntegral(b - c) - TentIntegral(a - c); }

PixelSpan CellPixels(int32_t cell, double unit, int32_t size) {
  const double a = double(cell) * unit;
  const double b = a + unit;
  // Pixel p's tent reaches from p - 0.5 to p + 1.5.
  int32_t first = TruncToInt(std::floor(a - 1.5));
  int32_t end = TruncToInt(std::ceil(b + 0.5));
  if (first < 0) first = 0;
  if (end > size) end = size;
  return PixelSpan{first, end < first ? first : end};
}
