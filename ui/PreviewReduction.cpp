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

// Adds one picture row into the preview row's sums: each preview column's run of
// pixels summed in registers first. `load` reads channel c of a pixel.
template <typename Load>
void AddRow(const uint8_t* row, int32_t pixelBytes, const int32_t* first, const int32_t* end,
            int32_t dstWidth, uint64_t* sums, Load load) {
  for (int32_t x = 0; x < dstWidth; ++x) {
    // A run is at most 32767 pixels of at most 32768: the sums fit 32 bits.
    uint32_t red = 0, green = 0, blue = 0;
    const uint8_t* pixel = row + size_t(first[x]) * size_t(pixelBytes);
    for (int32_t sx = first[x]; sx < end[x]; ++sx, pixel += pixelBytes) {
      red += load(pixel, 0);
      green += load(pixel, 1);
      blue += load(pixel, 2);
    }
    sums[3 * x] += red;
    sums[3 * x + 1] += green;
    sums[3 * x + 2] += blue;
  }
}

// Channel c (0 red, 1 green, 2 blue) of a pixel; alpha, when there is one,
// follows the three.
struct LoadByte {
  uint32_t operator()(const uint8_t* pixel, int c) const { return pixel[c]; }
};
struct LoadSample16 {  // the machine's order (little-endian)
  uint32_t operator()(const uint8_t* pixel, int c) const {
    return uint32_t(pixel[2 * c]) | uint32_t(pixel[2 * c + 1]) << 8;
  }
};

}  // namespace

bool ReducePicture(const PictureView& picture, uint8_t* dst, int32_t dstRowBytes,
                   int32_t dstWidth, int32_t dstHeight) {
  if (dstWidth <= 0 || dstHeight <= 0 || picture.width <= 0 || picture.height <= 0) return true;
  const int32_t pixelBytes = (picture.alpha ? 4 : 3) * (picture.sixteenBits ? 2 : 1);
  std::vector<uint64_t> sums;
  std::vector<int32_t> first, end;
  try {
    sums.resize(size_t(dstWidth) * 3);
    first.resize(size_t(dstWidth));
    end.resize(size_t(dstWidth));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t x = 0; x < dstWidth; ++x) CoveredSpan(x, dstWidth, picture.width, &first[x], &end[x]);
  for (int32_t y = 0; y < dstHeight; ++y) {
    int32_t top = 0, bottom = 0;
    CoveredSpan(y, dstHeight, picture.height, &top, &bottom);
    for (uint64_t& s : sums) s = 0;
    for (int32_t sy = top; sy < bottom; ++sy) {
      const uint8_t* row = picture.data + size_t(sy) * size_t(picture.rowBytes);
      if (picture.sixteenBits) {
        AddRow(row, pixelBytes, first.data(), end.data(), dstWidth, sums.data(), LoadSample16());
      } else {
        AddRow(row, pixelBytes, first.data(), end.data(), dstWidth, sums.data(), LoadByte());
      }
    }
    uint8_t* out = dst + size_t(y) * size_t(dstRowBytes);
    for (int32_t x = 0; x < dstWidth; ++x) {
      const uint64_t count = uint64_t(end[x] - first[x]) * uint64_t(bottom - top);
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
