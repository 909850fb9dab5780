#include "tools/filterhost/ImageFormat.h"

#include <cctype>
#include <cstdio>

ImageFileFormat OutputFormatOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return kPngFile;
  std::string ext;
  for (size_t i = dot + 1; i < path.size(); ++i) {
    ext += char(std::tolower(static_cast<unsigned char>(path[i])));
  }
  if (ext == "png") return kPngFile;
  if (ext == "jpg" || ext == "jpeg") return kJpegFile;
  if (ext == "tif" || ext == "tiff") return kTiffFile;
  if (ext == "bmp") return kBmpFile;
  return kUnknownFile;
}

const char* FormatName(ImageFileFormat format) {
  switch (format) {
    case kPngFile: return "PNG";
    case kJpegFile: return "JPEG";
    case kTiffFile: return "TIFF";
    case kBmpFile: return "BMP";
    case kGifFile: return "GIF";
    case kUnknownFile: break;
  }
  return "unknown";
}

bool FormatKeepsAlpha(ImageFileFormat format) { return format == kPngFile || format == kTiffFile; }
bool FormatKeepsSixteenBits(ImageFileFormat format) {
  return format == kPngFile || format == kTiffFile;
}

bool ParseQuality(const std::string& text, int32_t* quality, std::string* error) {
  // Digits only, at most three of them: no sign, blanks, point or exponent.
  bool ok = !text.empty() && text.size() <= 3;
  int32_t value = 0;
  for (size_t i = 0; ok && i < text.size(); ++i) {
    ok = text[i] >= '0' && text[i] <= '9';
    value = value * 10 + (text[i] - '0');
  }
  if (!ok || value < 1 || value > 100) {
    *error = "--quality takes a whole number from 1 to 100, not '" + text + "'";
    return false;
  }
  *quality = value;
  return true;
}

bool CheckImageSize(const std::string& path, uint32_t width, uint32_t height,
                    std::string* error) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width == 0 || height == 0) {
    *error = path + " declares " + size + ": an image needs at least 1 pixel on each side";
    return false;
  }
  if (width > kMaxImageSide || height > kMaxImageSide) {
    *error = path + " declares " + size + "; the filter interface takes at most 32767 on a side";
    return false;
  }
  return true;
}

uint64_t RunMemoryBytes(uint32_t width, uint32_t height, int32_t planes, int32_t sampleBytes,
                        uint64_t decodedBytes, uint64_t fileBytes, bool scaledRender) {
  const uint64_t pixels = uint64_t(width) * height;
  if (decodedBytes == 0) decodedBytes = pixels * 8;
  const uint64_t image = pixels * uint64_t(planes) * uint64_t(sampleBytes == 2 ? 2 : 1);
  const uint64_t reading = fileBytes + decodedBytes + image;
  // The image, the source copy, the two areas; in 16 bits the samples as read.
  uint64_t filtering = image * (sampleBytes == 2 ? 5 : 4);
  if (scaledRender) {
    filtering += 176 * uint64_t(width) + 12 * uint64_t(height) + 65536;
  }
  // The image, an encoder's copy, and a 16-bit image's copy made to reduce it.
  const uint64_t writing = image + pixels * 4 + (sampleBytes == 2 ? image : 0);
  const uint64_t most = reading > filtering ? reading : filtering;
  // Besides: the rows handed to the decoder or the encoder at a time (about a
  // megabyte), and the filter's own working memory (Patinex: its tables and
  // threads, about a megabyte).
  const uint64_t buffers = uint64_t(4) << 20;
  return (most > writing ? most : writing) + buffers;
}

std::string ByteCountText(uint64_t bytes) {
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (uint64_t(1) << 30)) {
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / double(1 << 20));
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / double(1 << 30));
  }
  return text;
}

bool CheckRunMemory(const std::string& path, const std::string& pixels, uint64_t needed,
                    uint64_t available, uint64_t availableTo64BitHost, std::string* error) {
  if (needed <= available) return true;
  *error = path + ": filtering " + pixels + " needs " + ByteCountText(needed) +
           " of memory; this process can have " + ByteCountText(available);
  if (needed <= availableTo64BitHost) {
    *error += "; filterhost64.exe (with PATINEX64.8bf) can have " +
              ByteCountText(availableTo64BitHost) + " and would take it";
  }
  return false;
}
