// Image files for filterhost: PNG, JPEG or BMP in, PNG out (stb). Pixels are
// interleaved in plane order, red, green, blue and, when the file has
// transparency, alpha; rows are packed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Image {
  int32_t width;
  int32_t height;
  int32_t planes;  // 3, or 4 with alpha
  std::vector<uint8_t> pixels;
};

// Reads an image. Gray files become RGB; files with transparency get 4 planes.
// False with a reason when the file cannot be read or decoded.
bool ReadImage(const std::string& path, Image* image, std::string* error);

// Writes an image as PNG. False with a reason when it cannot.
bool WritePng(const std::string& path, const Image& image, std::string* error);
