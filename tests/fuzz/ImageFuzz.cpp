// filterhost's image rules that need no Windows: what a file's first bytes
// declare, the conversion of decoded samples to the filter's planes and of the
// planes to an encoder's rows, EXIF orientation, the output format and
// --quality, and the size rules.
//
// Input: a selector byte, then what that part reads.
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "tools/filterhost/ImageFormat.h"
#include "tools/filterhost/ImageHeader.h"
#include "tools/filterhost/PixelPlanes.h"
#include "tools/filterhost/UnusedMetadata.h"

namespace {

// What the decoder is handed: never more bytes, the same picture declared,
// and nothing more to drop a second time.
void FuzzUnusedMetadata(const std::vector<uint8_t>& bytes, const ImageHeader& h) {
  std::vector<uint8_t> kept = bytes;
  const size_t left = DropUnusedMetadata(kept.empty() ? nullptr : kept.data(), kept.size());
  FUZZ_CHECK(left <= bytes.size(), "%zu bytes became %zu", bytes.size(), left);
  kept.resize(left);
  if (h.format != kPngFile) FUZZ_CHECK(kept == bytes, "a file that is not a PNG changed");
  const ImageHeader k = ReadImageHeader(kept.empty() ? nullptr : kept.data(), kept.size());
  if (h.sizeKnown) {
    FUZZ_CHECK(k.format == h.format && k.sizeKnown && k.width == h.width && k.height == h.height,
               "the declared picture changed");
  }
  std::vector<uint8_t> again = kept;
  FUZZ_CHECK(DropUnusedMetadata(again.empty() ? nullptr : again.data(), again.size()) == left &&
                 again == kept,
             "a second pass dropped more");
}

// Any bytes as the start of a file, in a buffer of exactly their size.
void FuzzHeader(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const ImageHeader h = ReadImageHeader(bytes.empty() ? nullptr : bytes.data(), bytes.size());
  FuzzUnusedMetadata(bytes, h);
  FUZZ_CHECK(h.format >= kPngFile && h.format <= kUnknownFile, "format %d", int(h.format));
  FUZZ_CHECK(h.orientation >= 1 && h.orientation <= 8, "orientation %d", int(h.orientation));
  if (h.format == kUnknownFile) FUZZ_CHECK(!h.sizeKnown, "a size without a known format");
  // What a header declares does not depend on bytes after it: the same bytes
  // with more appended declare the same format.
  if (h.sizeKnown) {
    std::vector<uint8_t> longer = bytes;
    longer.resize(bytes.size() + 64, 0xFF);
    const ImageHeader again = ReadImageHeader(longer.data(), longer.size());
    FUZZ_CHECK(again.format == h.format, "format changed with bytes after the header");
    // Nor the bytes its pixels need, nor a JPEG's end once found (a TIFF's
    // arrays may point past the end, and a GIF without its trailer may go on).
    if (h.format != kTiffFile && h.format != kGifFile) {
      FUZZ_CHECK(again.leastFileBytes == h.leastFileBytes, "least bytes %llu became %llu",
                 static_cast<unsigned long long>(h.leastFileBytes),
                 static_cast<unsigned long long>(again.leastFileBytes));
      FUZZ_CHECK(h.cutShort || !again.cutShort, "a complete JPEG became cut short");
    }
  }
}

// Text as an output name, and as --quality; sizes through the size rules.
void FuzzOptions(FuzzReader& in) {
  const uint32_t width = in.Next<uint32_t>();
  const uint32_t height = in.Next<uint32_t>();
  std::string error;
  const bool sizeOk = CheckImageSize("in.png", width, height, &error);
  FUZZ_CHECK(sizeOk == (width >= 1 && width <= kMaxImageSide && height >= 1 &&
                        height <= kMaxImageSide),
             "%ux%u judged %d", width, height, int(sizeOk));
  if (!sizeOk) FUZZ_CHECK(!error.empty(), "%ux%u refused without a message", width, height);

  const std::string text(reinterpret_cast<const char*>(in.data), in.size);
  const ImageFileFormat format = OutputFormatOf(text);
  FUZZ_CHECK(format >= kPngFile && format <= kUnknownFile, "format %d", int(format));
  if (format != kUnknownFile) FUZZ_CHECK(FormatName(format) != nullptr, "no name");
  int32_t quality = -1;
  error.clear();
  if (ParseQuality(text, &quality, &error)) {
    FUZZ_CHECK(quality >= 1 && quality <= 100, "\"%s\" gave quality %d", text.c_str(),
               int(quality));
    // Written back, it reads the same.
    int32_t again = -1;
    FUZZ_CHECK(ParseQuality(std::to_string(quality), &again, &error) && again == quality,
               "quality %d does not read back", int(quality));
  } else {
    FUZZ_CHECK(!error.empty(), "\"%s\" refused without a message", text.c_str());
  }
}

// A band of decoded rows, described as a decoder might (or wrongly), into an image.
void FuzzPlanes(FuzzReader& in) {
  SampleRows band;
  band.layout = SampleLayout(in.Next<uint8_t>() % 6);
  const int32_t imageWidth = in.Next<uint8_t>() % 65;
  const int32_t imageHeight = in.Next<uint8_t>() % 65;
  const int32_t planes = 2 + in.Next<uint8_t>() % 4;  // 3 and 4 are what images have
  const uint8_t flags = in.Next<uint8_t>();
  band.width = (flags & 1) ? imageWidth : in.Next<uint8_t>() % 65;
  band.rows = in.Next<uint8_t>() % 66;
  const int32_t firstRow = int32_t(in.Next<int8_t>());
  band.stride = size_t(band.width) * size_t(SampleBytes(band.layout)) + in.Next<uint8_t>() % 16;
  const size_t needed =
      band.rows > 0 ? (size_t(band.rows) - 1) * band.stride + size_t(band.width) * SampleBytes(band.layout) : 0;
  // The buffer a decoder hands over may be shorter than its description claims.
  const size_t shortBy = (flags & 2) ? in.Next<uint8_t>() % 8 : 0;
  const size_t size = needed > shortBy ? needed - shortBy : 0;
  std::vector<uint8_t> samples(size);
  in.Take(samples.data(), samples.size());
  band.data = samples.empty() ? nullptr : samples.data();
  band.size = samples.size();

  Image image{imageWidth, imageHeight, planes,
              std::vector<uint8_t>(ImageBytes(imageWidth, imageHeight, planes > 0 ? planes : 0), 0xA5)};
  const Image before = image;
  const bool ok = SamplesToPlanes(band, &image, firstRow);
  if (!ok || band.rows == 0 || band.width == 0) {
    FUZZ_CHECK(image.pixels == before.pixels, "a refused or empty band changed the image");
    return;
  }
  FUZZ_CHECK(firstRow >= 0 && firstRow + band.rows <= imageHeight && band.width == imageWidth &&
                 (planes == 3 || planes == 4) && size == needed,
             "a band that does not fit was taken");
  const size_t rowBytes = size_t(imageWidth) * size_t(planes);
  for (int32_t y = 0; y < imageHeight; ++y) {
    const bool written = y >= firstRow && y < firstRow + band.rows;
    for (size_t i = 0; i < rowBytes; ++i) {
      const size_t at = size_t(y) * rowBytes + i;
      if (!written) {
        FUZZ_CHECK(image.pixels[at] == before.pixels[at], "row %d outside the band changed", y);
      }
    }
    if (!written) continue;
    for (int32_t x = 0; x < imageWidth; ++x) {
      const uint8_t* p = &image.pixels[size_t(y) * rowBytes + size_t(x) * planes];
      if (band.layout == kGray16Samples) {
        FUZZ_CHECK(p[0] == p[1] && p[1] == p[2], "gray pixel (%d, %d) has colour", x, y);
      }
      const bool hasAlpha = band.layout == kBgra8Samples || band.layout == kRgba16Samples ||
                            band.layout == kBgra16Samples;
      if (planes == 4 && !hasAlpha) {
        FUZZ_CHECK(p[3] == 255, "pixel (%d, %d) without alpha samples is not opaque", x, y);
      }
    }
  }
}

// Rows of planes, asked for as an encoder's loop might (or wrongly), into a
// buffer with guard bytes after the size it claims.
void FuzzEncoderRows(FuzzReader& in) {
  Image image;
  image.width = in.Next<uint8_t>() % 40;
  image.height = in.Next<uint8_t>() % 40;
  image.planes = 2 + in.Next<uint8_t>() % 4;  // 3 and 4 are what images have
  const uint8_t flags = in.Next<uint8_t>();
  const bool alpha = flags & 1;
  const int32_t firstRow = int32_t(in.Next<int8_t>());
  const int32_t rows = int32_t(in.Next<int8_t>());
  image.pixels.resize(ImageBytes(image.width, image.height, image.planes > 0 ? image.planes : 0));
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 13 + (i >> 8));
  in.Take(image.pixels.data(), image.pixels.size() < in.size ? image.pixels.size() : in.size);
  if (flags & 2 && !image.pixels.empty()) image.pixels.pop_back();  // pixels that do not fit
  const int32_t outPlanes = alpha ? 4 : 3;
  const size_t fits = rows > 0 ? size_t(rows) * size_t(image.width) * size_t(outPlanes) : 0;
  const size_t size = (flags & 4) && fits > 0 ? fits - 1 - (flags >> 4) % fits : fits;
  const size_t guard = 32;
  std::vector<uint8_t> out(size + guard, 0x5A);
  const bool ok = PlanesToBgr(image, firstRow, rows, alpha, out.data(), size);
  for (size_t i = ok ? size : 0; i < out.size(); ++i) {
    FUZZ_CHECK(out[i] == 0x5A, "byte %zu of %zu written (%s)", i, size, ok ? "taken" : "refused");
  }
  if (!ok) return;
  FUZZ_CHECK((image.planes == 4 || (image.planes == 3 && !alpha)) && firstRow >= 0 && rows >= 0 &&
                 firstRow + rows <= image.height && size == fits &&
                 image.pixels.size() == ImageBytes(image.width, image.height, image.planes),
             "rows %d..+%d of %dx%dx%d into %zu bytes taken", int(firstRow), int(rows),
             int(image.width), int(image.height), int(image.planes), size);
  for (size_t i = 0; i < size_t(rows) * size_t(image.width); ++i) {
    const uint8_t* from = &image.pixels[(size_t(firstRow) * image.width + i) * image.planes];
    const uint8_t* to = &out[i * outPlanes];
    FUZZ_CHECK(to[0] == from[2] && to[1] == from[1] && to[2] == from[0] &&
                   (!alpha || to[3] == from[3]),
               "pixel %zu is not the planes' blue, green, red%s", i, alpha ? ", alpha" : "");
  }
}

// Turning an image as EXIF says, then back, gives the image again.
void FuzzOrientation(FuzzReader& in) {
  const int32_t orientation = in.Next<uint8_t>() % 10;
  Image image;
  image.width = 1 + in.Next<uint8_t>() % 32;
  image.height = 1 + in.Next<uint8_t>() % 32;
  image.planes = 3 + in.Next<uint8_t>() % 2;
  image.pixels.resize(ImageBytes(image.width, image.height, image.planes));
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 7 + (i >> 8));
  in.Take(image.pixels.data(), image.pixels.size() < in.size ? image.pixels.size() : in.size);
  const Image before = image;
  ApplyOrientation(orientation, &image);
  const bool turned = orientation >= 5 && orientation <= 8;
  FUZZ_CHECK(image.width == (turned ? before.height : before.width) &&
                 image.height == (turned ? before.width : before.height) &&
                 image.pixels.size() == before.pixels.size(),
             "orientation %d gave %dx%d", int(orientation), int(image.width), int(image.height));
  const int32_t inverse = orientation == 6 ? 8 : (orientation == 8 ? 6 : orientation);
  ApplyOrientation(inverse, &image);
  FUZZ_CHECK(image.width == before.width && image.height == before.height &&
                 image.pixels == before.pixels,
             "orientation %d then %d does not give the image back", int(orientation),
             int(inverse));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in = {data, size};
  switch (in.Next<uint8_t>() % 5) {
    case 0: FuzzHeader(in.data, in.size); break;
    case 1: FuzzOptions(in); break;
    case 2: FuzzPlanes(in); break;
    case 3: FuzzOrientation(in); break;
    case 4: FuzzEncoderRows(in); break;
  }
  return 0;
}
