#include "tools/filterhost/ImageFormat.h"

#include <cctype>

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
