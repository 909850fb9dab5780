#include "ui/ColorValue.h"

#include "render/Numerics.h"

uint8_t ColorComponentByte(double component) {
  if (!(component > 0.0)) return 0;  // negative, zero or NaN
  if (component >= 255.0) return 255;
  return uint8_t(TruncToInt(component + 0.5));  // below 255.5, so at most 255
}

uint32_t ColorRefFromComponents(double red, double green, double blue) {
  return uint32_t(ColorComponentByte(red)) | (uint32_t(ColorComponentByte(green)) << 8) |
         (uint32_t(ColorComponentByte(blue)) << 16);
}

void ComponentsFromColorRef(uint32_t color, double* red, double* green, double* blue) {
  *red = double(color & 0xFF);
  *green = double((color >> 8) & 0xFF);
  *blue = double((color >> 16) & 0xFF);
}
