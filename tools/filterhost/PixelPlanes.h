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
  // 2 when every sample is a 16-bit number (little-endian): 0..65535 as in the
  // file, or 0..32768 while the filter has it (ToFilterSamples); else 1.
  int32_t sampleBytes = 1;
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
// width, height, planes, sample size and pixels are already set. With 2-byte
// samples the image takes 16-bit samples of 0..65535 (an 8-bit layout's v as
// v * 257). Gray gives equal red, green
// and blue; a 4-plane image takes the alpha samples (opaque when the layout has
// none); a 3-plane image drops them. False, with nothing written, when the
// band does not fit the image or its rows do not fit in `size`.
bool SamplesToPlanes(const SampleRows& samples, Image* image, int32_t firstRow);

// A 16-bit image (0..65535) in bytes, each sample Scale16To8: the bytes an
// 8-bit read of the same file gives. An 8-bit image is left as it is.
void ReduceToBytes(Image* image);

// The samples of a 16-bit image to the filter's scale, and back after it
// filtered them (SampleFrom65535, SampleTo65535: render/Samples16.h): a sample
// the filter left at its scaled source value gets its source value back
// (`source` is the image as read), any other is scaled.
void ToFilterSamples(Image* image);
void ToFileSamples(Image* image, const Image& source);

// Rows firstRow .. firstRow + rows - 1 of a 16-bit `image` (0..65535) as a
// 16-bit encoder takes them: red, green, blue and, with `alpha`, alpha, each a
// little-endian 16-bit number, packed rows. False as PlanesToBgr.
bool PlanesToRgb16(const Image& image, int32_t firstRow, int32_t rows, bool alpha, uint8_t* out,
                   size_t size);

// Rows firstRow .. firstRow + rows - 1 of an 8-bit `image` as an encoder takes them:
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
