#include "ui/PreviewReduction.h"

#include <cstddef>
#include <new>
#include <vector>

void CoveredSpan(int32_t i, int32_t previewSize, int32_t sourceSize, int32_t* first,
                 int32_t* end) {
  *first = int32_t(int64_t(i) * sourceSize / previewSize);
  *end = int32_t(int64_t(i + 1) * sourceSize / previewSize);
  if (*end <= *first) *end = *first + 1;  // enlarged: the nearest pixel, repeated
}

namespace {

// Channel c (0 red, 1 green, 2 blue) of a picture's pixel; alpha, when there is
// one, follows the three.
inline uint32_t Sample(const PictureView& p, const uint8_t* pixel, int c) {
  if (!p.sixteenBits) return pixel[c];
  const uint8_t* s = pixel + 2 * c;
  return uint32_t(s[0]) | uint32_t(s[1]) << 8;  // the machine's order (little-endian)
}

}  // namespace

bool ReducePicture(const PictureView& picture, uint8_t* dst, int32_t dstRowBytes,
                   int32_t dstWidth, int32_t dstHeight) {
  if (dstWidth <= 0 || dstHeight <= 0 || picture.width <= 0 || picture.height <= 0) return true;
  const int32_t pixelBytes = (picture.alpha ? 4 : 3) * (picture.sixteenBits ? 2 : 1);
  std::vector<uint64_t> sums;
  std::vector<int32_t> columnOf;
  std::vector<int32_t> firstColumn;
  try {
    sums.resize(size_t(dstWidth) * 3);
    columnOf.resize(size_t(picture.width), -1);
    firstColumn.resize(size_t(dstWidth) + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Where the preview is wider than the picture, a picture column feeds several
  // preview columns; the sums are then made per preview column below.
  const bool enlarged = dstWidth > picture.width;
  for (int32_t x = 0; x < dstWidth; ++x) {
    int32_t first = 0, end = 0;
    CoveredSpan(x, dstWidth, picture.width, &first, &end);
    firstColumn[size_t(x)] = first;
    if (!enlarged) {
      for (int32_t sx = first; sx < end; ++sx) columnOf[size_t(sx)] = x;
    }
  }
  for (int32_t y = 0; y < dstHeight; ++y) {
    int32_t top = 0, bottom = 0;
    CoveredSpan(y, dstHeight, picture.height, &top, &bottom);
    for (uint64_t& s : sums) s = 0;
    for (int32_t sy = top; sy < bottom; ++sy) {
      const uint8_t* row = picture.data + size_t(sy) * size_t(picture.rowBytes);
      if (enlarged) {
        for (int32_t x = 0; x < dstWidth; ++x) {
          const uint8_t* pixel = row + size_t(firstColumn[size_t(x)]) * size_t(pixelBytes);
          for (int c = 0; c < 3; ++c) sums[size_t(x) * 3 + c] += Sample(picture, pixel, c);
        }
        continue;
      }
      for (int32_t sx = 0; sx < picture.width; ++sx) {
        const uint8_t* pixel = row + size_t(sx) * size_t(pixelBytes);
        uint64_t* sum = &sums[size_t(columnOf[size_t(sx)]) * 3];
        for (int c = 0; c < 3; ++c) sum[c] += Sample(picture, pixel, c);
      }
    }
    uint8_t* out = dst + size_t(y) * size_t(dstRowBytes);
    for (int32_t x = 0; x < dstWidth; ++x) {
      int32_t first = 0, end = 0;
      CoveredSpan(x, dstWidth, picture.width, &first, &end);
      const uint64_t count = uint64_t(end - first) * uint64_t(bottom - top);
      for (int c = 0; c < 3; ++c) {
        const uint64_t sum = sums[size_t(x) * 3 + c];
        // Halves up: (2 sum + count) / (2 count), and at 16 bits the mean's level
        // of 255, (2 * 255 sum + 32768 count) / (2 * 32768 count).
        const uint64_t level = picture.sixteenBits
                                   ? (2 * 255 * sum + 32768 * count) / (2 * 32768 * count)
                                   : (2 * sum + count) / (2 * count);
        out[size_t(x) * 3 + c] = uint8_t(level > 255 ? 255 : level);
      }
    }
  }
  return true;
}

int32_t FullSizeViewStart(int32_t at, int32_t previewSize, int32_t size, int32_t view) {
  if (view >= size || previewSize <= 0) return 0;
  const int64_t centre = int64_t(at) * size / previewSize;
  int64_t start = centre - view / 2;
  if (start < 0) start = 0;
  if (start > size - view) start = size - view;
  return int32_t(start);
}
