#include "tools/filterhost/PixelPlanes.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "render/Samples16.h"

namespace {

uint32_t Sample16(const uint8_t* p, int32_t index) {
  return uint32_t(p[2 * index]) | uint32_t(p[2 * index + 1]) << 8;
}

// Red, green, blue and alpha of one pixel.
void Pixel(SampleLayout layout, const uint8_t* p, uint8_t rgba[4]) {
  switch (layout) {
    case kBgra8Samples:
      rgba[0] = p[2], rgba[1] = p[1], rgba[2] = p[0], rgba[3] = p[3];
      return;
    case kGray16Samples:
      rgba[0] = rgba[1] = rgba[2] = Scale16To8(Sample16(p, 0)), rgba[3] = 255;
      return;
    case kRgb16Samples:
    case kRgba16Samples:
      rgba[0] = Scale16To8(Sample16(p, 0)), rgba[1] = Scale16To8(Sample16(p, 1));
      rgba[2] = Scale16To8(Sample16(p, 2));
      rgba[3] = layout == kRgba16Samples ? Scale16To8(Sample16(p, 3)) : 255;
      return;
    case kBgr16Samples:
    case kBgra16Samples:
      rgba[0] = Scale16To8(Sample16(p, 2)), rgba[1] = Scale16To8(Sample16(p, 1));
      rgba[2] = Scale16To8(Sample16(p, 0));
      rgba[3] = layout == kBgra16Samples ? Scale16To8(Sample16(p, 3)) : 255;
      return;
  }
}

// The same at 16 bits, 0..65535 (an 8-bit sample v as v * 257).
void Pixel16(SampleLayout layout, const uint8_t* p, uint16_t rgba[4]) {
  switch (layout) {
    case kBgra8Samples:
      rgba[0] = uint16_t(p[2] * 257), rgba[1] = uint16_t(p[1] * 257);
      rgba[2] = uint16_t(p[0] * 257), rgba[3] = uint16_t(p[3] * 257);
      return;
    case kGray16Samples:
      rgba[0] = rgba[1] = rgba[2] = uint16_t(Sample16(p, 0)), rgba[3] = 65535;
      return;
    case kRgb16Samples:
    case kRgba16Samples:
      for (int c = 0; c < 3; ++c) rgba[c] = uint16_t(Sample16(p, c));
      rgba[3] = layout == kRgba16Samples ? uint16_t(Sample16(p, 3)) : 65535;
      return;
    case kBgr16Samples:
    case kBgra16Samples:
      for (int c = 0; c < 3; ++c) rgba[c] = uint16_t(Sample16(p, 2 - c));
      rgba[3] = layout == kBgra16Samples ? uint16_t(Sample16(p, 3)) : 65535;
      return;
  }
}

inline uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

bool IsWholeImage(const Image& image) {
  return (image.sampleBytes == 1 || image.sampleBytes == 2) &&
         image.pixels.size() ==
             ImageBytes(image.width, image.height, image.planes * image.sampleBytes);
}

// Whether rows firstRow .. firstRow + rows - 1 of a whole image of sampleBytes-wide
// samples can be handed to the encoder, with alpha only where the image has it.
bool CanWriteRows(const Image& image, int32_t firstRow, int32_t rows, bool alpha,
                  int32_t sampleBytes) {
  const int32_t planes = image.planes;
  if ((planes != 3 && planes != 4) || (alpha && planes != 4)) return false;
  if (image.width < 0 || image.height < 0 || rows < 0 || firstRow < 0 ||
      firstRow > image.height || rows > image.height - firstRow) {
    return false;
  }
  return image.sampleBytes == sampleBytes && IsWholeImage(image);
}

}  // namespace

int32_t SampleBytes(SampleLayout layout) {
  switch (layout) {
    case kBgra8Samples: return 4;
    case kGray16Samples: return 2;
    case kRgb16Samples:
    case kBgr16Samples: return 6;
    case kRgba16Samples:
    case kBgra16Samples: return 8;
  }
  return 0;
}

size_t ImageBytes(int32_t width, int32_t height, int32_t planes) {
  if (width < 0 || height < 0 || planes < 0) return 0;
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * uint64_t(planes);
  if (bytes > uint64_t(SIZE_MAX)) return 0;
  return size_t(bytes);
}

bool SamplesToPlanes(const SampleRows& samples, Image* image, int32_t firstRow) {
  const int32_t pixelBytes = SampleBytes(samples.layout);
  const int32_t planes = image->planes;
  if (pixelBytes == 0 || (planes != 3 && planes != 4)) return false;
  if (samples.width != image->width || samples.width < 0 || samples.rows < 0) return false;
  if (firstRow < 0 || firstRow > image->height || samples.rows > image->height - firstRow) {
    return false;
  }
  if (samples.rows == 0 || samples.width == 0) return true;
  if (!IsWholeImage(*image)) return false;
  // The last row needs only its own pixels, not a whole stride.
  const uint64_t rowBytes = uint64_t(samples.width) * uint64_t(pixelBytes);
  if (samples.data == nullptr || samples.stride < rowBytes || rowBytes > samples.size) return false;
  if (samples.rows > 1 && samples.stride > (samples.size - rowBytes) / size_t(samples.rows - 1)) {
    return false;
  }

  if (image->sampleBytes == 2) {
    uint16_t rgba[4];
    for (int32_t y = 0; y < samples.rows; ++y) {
      const uint8_t* in = samples.data + size_t(y) * samples.stride;
      uint8_t* out = image->pixels.data() +
                     (size_t(firstRow) + size_t(y)) * size_t(image->width) * planes * 2;
      for (int32_t x = 0; x < samples.width; ++x, in += pixelBytes, out += 2 * planes) {
        Pixel16(samples.layout, in, rgba);
        for (int32_t p = 0; p < planes; ++p) Put16(out + 2 * p, rgba[p]);
      }
    }
    return true;
  }
  uint8_t rgba[4];
  for (int32_t y = 0; y < samples.rows; ++y) {
    const uint8_t* in = samples.data + size_t(y) * samples.stride;
    uint8_t* out = image->pixels.data() + (size_t(firstRow) + size_t(y)) * size_t(image->width) * planes;
    for (int32_t x = 0; x < samples.width; ++x, in += pixelBytes, out += planes) {
      Pixel(samples.layout, in, rgba);
      for (int32_t p = 0; p < planes; ++p) out[p] = rgba[p];
    }
  }
  return true;
}

bool PlanesToBgr(const Image& image, int32_t firstRow, int32_t rows, bool alpha, uint8_t* out,
                 size_t size) {
  if (!CanWriteRows(image, firstRow, rows, alpha, 1)) return false;
  const int32_t planes = image.planes;
  const int32_t outPlanes = alpha ? 4 : 3;
  const uint64_t pixels = uint64_t(image.width) * uint64_t(rows);
  if (pixels == 0) return true;
  if (out == nullptr || pixels > size / size_t(outPlanes)) return false;
  const uint8_t* in = image.pixels.data() + size_t(firstRow) * size_t(image.width) * size_t(planes);
  for (size_t i = 0; i < size_t(pixels); ++i) {
    out[0] = in[2], out[1] = in[1], out[2] = in[0];
    if (alpha) out[3] = in[3];
    in += planes;
    out += outPlanes;
  }
  return true;
}

bool PlanesToRgb16(const Image& image, int32_t firstRow, int32_t rows, bool alpha, uint8_t* out,
                   size_t size) {
  if (!CanWriteRows(image, firstRow, rows, alpha, 2)) return false;
  const int32_t planes = image.planes;
  const int32_t outSamples = alpha ? 4 : 3;
  const uint64_t pixels = uint64_t(image.width) * uint64_t(rows);
  if (pixels == 0) return true;
  if (out == nullptr || pixels > size / size_t(2 * outSamples)) return false;
  const uint8_t* in =
      image.pixels.data() + size_t(firstRow) * size_t(image.width) * size_t(planes) * 2;
  for (size_t i = 0; i < size_t(pixels); ++i) {
    std::memcpy(out, in, size_t(2 * outSamples));
    in += 2 * planes;
    out += 2 * outSamples;
  }
  return true;
}

void ReduceToBytes(Image* image) {
  if (image->sampleBytes != 2 || !IsWholeImage(*image)) return;
  const size_t count = image->pixels.size() / 2;
  for (size_t i = 0; i < count; ++i) image->pixels[i] = Scale16To8(Get16(&image->pixels[2 * i]));
  image->pixels.resize(count);
  image->sampleBytes = 1;
}

void ToFilterSamples(Image* image) {
  if (image->sampleBytes != 2) return;
  for (size_t i = 0; i + 1 < image->pixels.size(); i += 2) {
    Put16(&image->pixels[i], SampleFrom65535(Get16(&image->pixels[i])));
  }
}

void ToFileSamples(Image* image, const Image& source) {
  if (image->sampleBytes != 2) return;
  const bool same = source.sampleBytes == 2 && source.pixels.size() == image->pixels.size();
  for (size_t i = 0; i + 1 < image->pixels.size(); i += 2) {
    const uint32_t u = Get16(&image->pixels[i]);
    const uint32_t v = same ? Get16(&source.pixels[i]) : 0;
    Put16(&image->pixels[i], same && SampleFrom65535(v) == u ? v : SampleTo65535(u));
  }
}

void SwapSampleBytes16(uint8_t* data, size_t size) {
  for (size_t i = 0; i + 1 < size; i += 2) std::swap(data[i], data[i + 1]);
}

void ApplyOrientation(int32_t orientation, Image* image) {
  if (orientation < 2 || orientation > 8) return;
  const int32_t w = image->width, h = image->height;
  const int32_t planes = image->planes * image->sampleBytes;  // bytes per pixel
  if (w <= 0 || h <= 0 || !IsWholeImage(*image)) return;
  const bool turned = orientation >= 5;  // width and height change places
  Image out{turned ? h : w, turned ? w : h, image->planes,
            std::vector<uint8_t>(image->pixels.size()), image->sampleBytes};
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < out.width; ++x) {
      // The stored pixel that shows at (x, y).
      int32_t sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;
        case 6: sx = y, sy = h - 1 - x; break;
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;
        case 8: sx = w - 1 - y, sy = x; break;
      }
      const uint8_t* from = &image->pixels[(size_t(sy) * w + sx) * planes];
      uint8_t* to = &out.pixels[(size_t(y) * out.width + x) * planes];
      for (int32_t p = 0; p < planes; ++p) to[p] = from[p];
    }
  }
  *image = std::move(out);
}
