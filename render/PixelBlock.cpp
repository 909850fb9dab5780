// Pixel block operations. Both layouts keep red, green and blue at bytes 0, 1, 2;
// the 4-byte layout adds alpha at byte 3. Widths and heights of 0 or less write
// nothing; bytes between a row's last pixel and the next row are never touched.
#include "render/PixelBlock.h"

#include <cstddef>
#include <cstring>

#include "render/Samples16.h"

namespace {

inline const uint8_t* RowOf(const uint8_t* base, int32_t rowBytes, int32_t y) {
  return base + std::ptrdiff_t(y) * rowBytes;
}
inline uint8_t* RowOf(uint8_t* base, int32_t rowBytes, int32_t y) {
  return base + std::ptrdiff_t(y) * rowBytes;
}

int16_t ClampToInt16(int64_t v) {
  return int16_t(v < INT16_MIN ? INT16_MIN : (v > INT16_MAX ? INT16_MAX : v));
}

// One source pixel into one destination pixel: red, green and blue as they are,
// alpha from the source when it has one, else 0 (only when the destination has it).
inline void ConvertPixel(const uint8_t* s, bool srcHasAlpha, uint8_t* d, bool dstHasAlpha) {
  d[kRed] = s[kRed];
  d[kGreen] = s[kGreen];
  d[kBlue] = s[kBlue];
  if (dstHasAlpha) d[kAlpha] = srcHasAlpha ? s[kAlpha] : 0;
}

}  // namespace

void InsetRectBy(Rect* rect, int32_t horizontal, int32_t vertical) {
  // Wide arithmetic, then held to the 16-bit range, so a huge amount cannot wrap
  // a rectangle round into a different one.
  rect->left = ClampToInt16(int64_t(rect->left) + horizontal);
  rect->right = ClampToInt16(int64_t(rect->right) - horizontal);
  rect->top = ClampToInt16(int64_t(rect->top) + vertical);
  rect->bottom = ClampToInt16(int64_t(rect->bottom) - vertical);
}

void CopyPixelBlock(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                    int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const int32_t srcSize = BytesPerPixel(srcHasAlpha);
  const int32_t dstSize = BytesPerPixel(dstHasAlpha);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = RowOf(src, srcRowBytes, y);
    uint8_t* d = RowOf(dst, dstRowBytes, y);
    if (srcHasAlpha == dstHasAlpha) {
      std::memcpy(d, s, size_t(width) * size_t(dstSize));
      continue;
    }
    for (int32_t x = 0; x < width; ++x, s += srcSize, d += dstSize) {
      ConvertPixel(s, srcHasAlpha, d, dstHasAlpha);
    }
  }
}

void FillPixelBlock(uint8_t* dst, int32_t rowBytes, const Rect& rect, bool hasAlpha, uint8_t red,
                    uint8_t green, uint8_t blue) {
  const int32_t width = RectWidth(rect);
  const int32_t height = RectHeight(rect);
  if (width <= 0 || height <= 0) return;
  const int32_t size = BytesPerPixel(hasAlpha);
  const bool gray = red == green && green == blue;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = RowOf(dst, rowBytes, y);
    if (gray && !hasAlpha) {
      std::memset(d, red, size_t(width) * 3);
      continue;
    }
    for (int32_t x = 0; x < width; ++x, d += size) {
      d[kRed] = red;
      d[kGreen] = green;
      d[kBlue] = blue;
    }
  }
}

void ScalePixelBlock(const uint8_t* src, int32_t srcRowBytes, const Rect& srcRect,
                     bool srcHasAlpha, uint8_t* dst, int32_t dstRowBytes, const Rect& dstRect,
                     bool dstHasAlpha) {
  const int64_t srcWidth = RectWidth(srcRect);
  const int64_t srcHeight = RectHeight(srcRect);
  const int32_t dstWidth = RectWidth(dstRect);
  const int32_t dstHeight = RectHeight(dstRect);
  if (dstWidth <= 0 || dstHeight <= 0) return;
  // An empty source has no pixel to sample: reading "pixel 0" of it would read
  // outside the caller's buffer, so nothing is written.
  if (srcWidth <= 0 || srcHeight <= 0) return;
  const int32_t srcSize = BytesPerPixel(srcHasAlpha);
  const int32_t dstSize = BytesPerPixel(dstHasAlpha);
  for (int32_t y = 0; y < dstHeight; ++y) {
    // 64-bit products: both sizes may be up to 65535.
    const int32_t sy = int32_t(srcHeight * y / dstHeight);
    const uint8_t* sRow = RowOf(src, srcRowBytes, sy);
    uint8_t* d = RowOf(dst, dstRowBytes, y);
    for (int32_t x = 0; x < dstWidth; ++x, d += dstSize) {
      const int32_t sx = int32_t(srcWidth * x / dstWidth);
      ConvertPixel(sRow + std::ptrdiff_t(sx) * srcSize, srcHasAlpha, d, dstHasAlpha);
    }
  }
}

void CopyPixelBlockToDib(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                         int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const int32_t srcSize = BytesPerPixel(srcHasAlpha);
  const int32_t dstSize = BytesPerPixel(dstHasAlpha);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = RowOf(src, srcRowBytes, y);
    uint8_t* d = RowOf(dst, dstRowBytes, y);
    for (int32_t x = 0; x < width; ++x, s += srcSize, d += dstSize) {
      // The bitmap's own order: blue, green, red (then alpha).
      d[0] = s[kBlue];
      d[1] = s[kGreen];
      d[2] = s[kRed];
      if (dstHasAlpha) d[3] = srcHasAlpha ? s[kAlpha] : 0;
    }
  }
}

void CopyPixelBlock16(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                      int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const int32_t srcSize = 2 * BytesPerPixel(srcHasAlpha);
  const int32_t dstSize = 2 * BytesPerPixel(dstHasAlpha);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = RowOf(src, srcRowBytes, y);
    uint8_t* d = RowOf(dst, dstRowBytes, y);
    if (srcHasAlpha == dstHasAlpha) {
      std::memcpy(d, s, size_t(width) * size_t(dstSize));
      continue;
    }
    for (int32_t x = 0; x < width; ++x, s += srcSize, d += dstSize) {
      std::memcpy(d, s, 6);  // red, green, blue
      if (dstHasAlpha) StoreSample(d + 2 * kAlpha, srcHasAlpha ? LoadSample(s + 2 * kAlpha) : 0);
    }
  }
}

void FillPixelBlock16(uint8_t* dst, int32_t rowBytes, const Rect& rect, bool hasAlpha,
                      uint16_t red, uint16_t green, uint16_t blue) {
  const int32_t width = RectWidth(rect);
  const int32_t height = RectHeight(rect);
  if (width <= 0 || height <= 0) return;
  const int32_t size = 2 * BytesPerPixel(hasAlpha);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = RowOf(dst, rowBytes, y);
    for (int32_t x = 0; x < width; ++x, d += size) {
      StoreSample(d + 2 * kRed, red);
      StoreSample(d + 2 * kGreen, green);
      StoreSample(d + 2 * kBlue, blue);
    }
  }
}

void ScalePixelBlockReduced(const uint8_t* src, int32_t srcRowBytes, const Rect& srcRect,
                            bool srcHasAlpha, uint8_t* dst, int32_t dstRowBytes,
                            const Rect& dstRect, bool dstHasAlpha) {
  const int64_t srcWidth = RectWidth(srcRect);
  const int64_t srcHeight = RectHeight(srcRect);
  const int32_t dstWidth = RectWidth(dstRect);
  const int32_t dstHeight = RectHeight(dstRect);
  if (dstWidth <= 0 || dstHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  const int32_t srcSize = 2 * BytesPerPixel(srcHasAlpha);
  const int32_t dstSize = BytesPerPixel(dstHasAlpha);
  for (int32_t y = 0; y < dstHeight; ++y) {
    const int32_t sy = int32_t(srcHeight * y / dstHeight);
    const uint8_t* sRow = RowOf(src, srcRowBytes, sy);
    uint8_t* d = RowOf(dst, dstRowBytes, y);
    for (int32_t x = 0; x < dstWidth; ++x, d += dstSize) {
      const uint8_t* s = sRow + std::ptrdiff_t(int32_t(srcWidth * x / dstWidth)) * srcSize;
      for (int k = kRed; k <= kBlue; ++k) d[k] = ReduceSample(LoadSample(s + 2 * k));
      if (dstHasAlpha) d[kAlpha] = srcHasAlpha ? ReduceSample(LoadSample(s + 2 * kAlpha)) : 0;
    }
  }
}
