#include "ui/PreviewGeometry.h"

#include "render/Numerics.h"
#include "render/PixelBlock.h"

Rect PreviewProxyRect(const Rect& frame, int32_t srcWidth, int32_t srcHeight) {
  Rect proxy = {0, 0, 0, 0};
  Rect inner = frame;
  InsetRectBy(&inner, kPreviewInset, kPreviewInset);
  const int32_t frameWidth = RectWidth(inner);
  const int32_t frameHeight = RectHeight(inner);
  // Nothing to scale from, or no room: an empty proxy rather than a division by
  // zero or a negative size.
  if (srcWidth <= 0 || srcHeight <= 0 || frameWidth <= 0 || frameHeight <= 0) return proxy;
  const double scaleWidth = double(frameWidth) / double(srcWidth);
  const double scaleHeight = double(frameHeight) / double(srcHeight);
  const double scale = scaleHeight < scaleWidth ? scaleHeight : scaleWidth;
  proxy.right = TruncToInt16(double(srcWidth) * scale);
  proxy.bottom = TruncToInt16(double(srcHeight) * scale);
  return proxy;
}

int32_t PreviewRowBytes(int32_t width) { return (width * 3 + 3) & ~3; }

PreviewPlacement CentrePreview(int32_t frameLeft, int32_t frameTop, int32_t frameRight,
                               int32_t frameBottom, int32_t width, int32_t height) {
  PreviewPlacement at;
  at.left = (frameLeft + frameRight - width) / 2;
  at.top = (frameTop + frameBottom - height) / 2;
  at.right = at.left + width;
  at.bottom = at.top + height;
  return at;
}
