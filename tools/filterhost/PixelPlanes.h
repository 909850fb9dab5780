// Decoded pixels to the planes the filter takes, the planes back to the rows
// an encoder takes, and EXIF orientation. Pure
// functions over byte buffers (no Windows, no files), tested natively and
// meant for fuzzing: whatever the description claims, nothing is read or
// written outside the buffers given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An image as the filter takes it: interleaved in plane order, red, green,
// blue and, when the file has transparency, alpha; rows are packed.
struct Image {
  int32_t width;
  int32_t height;
  int32_t planes;  // 3, or 4 with alpha
  std::vector<uint8_t> pixels;
};

// Sample layouts a decoder hands over. 8-bit images arrive as blue, green,
// red, alpha bytes; 16-bit ones in their own layout, each sample a
// little-endian 16-bit number.
enum SampleLayout {
  kBgra8Samples,   // B, G, R, A: 8 bits each
  kGray16Samples,  // Y
  kRgb16Samples,   // R, G, B
  kBgr16Samples,   // B, G, R
  kRgba16Samples,  // R, G, B, A
  kBgra16Samples,  // B, G, R, A
};

// Bytes per pixel of a layout.
int32_t SampleBytes(SampleLayout layout);

// A band of decoded rows.
struct SampleRows {
  SampleLayout layout;
  int32_t width;        // pixels per row
  int32_t rows;
  size_t stride;        // bytes from the start of one row to the next
  const uint8_t* data;
  size_t size;          // bytes readable at data
};

// 16 bits to 8: round(v * 255 / 65535).
inline uint8_t Scale16To8(uint32_t v) { return uint8_t((v * 255u + 32767u) / 65535u); }

// Converts a band into rows firstRow .. firstRow + rows - 1 of `image`, whose
// width, height, planes and pixels are already set. Gray gives equal red, green
// and blue; a 4-plane image takes the alpha samples (opaque when the layout has
// none); a 3-plane image drops them. False, with nothing written, when the
// band does not fit the image or its rows do not fit in `size`.
bool SamplesToPlanes(const SampleRows& samples, Image* image, int32_t firstRow);

// Rows firstRow .. firstRow + rows - 1 of `image` as an encoder takes them:
// blue, green, red and, with `alpha` (a 4-plane image only), alpha, packed
// rows. False, with nothing written, when the rows are not in the image or do
// not fit in `size` bytes at `out`.
bool PlanesToBgr(const Image& image, int32_t firstRow, int32_t rows, bool alpha, uint8_t* out,
                 size_t size);

// Swaps the two bytes of every 16-bit sample in `size` bytes (an odd last
// byte stays): for a decoder that hands over big-endian samples where its
// pixel format says little-endian.
void SwapSampleBytes16(uint8_t* data, size_t size);

// Bytes of an image of this size, or 0 when the count does not fit in size_t
// (a 32-bit process cannot hold it).
size_t ImageBytes(int32_t width, int32_t height, int32_t planes);

// Turns the image as an EXIF orientation tag says (1 as stored, 2 mirrored,
// 3 turned 180 degrees, 4 flipped, 5 transposed, 6 turned 90 degrees clockwise,
// 7 transversed, 8 turned 90 degrees anticlockwise), so that it shows upright.
// Other values leave it as it is.
void ApplyOrientation(int32_t orientation, Image* image);
