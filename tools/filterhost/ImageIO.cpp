#include "tools/filterhost/ImageIO.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

bool ReadImage(const std::string& path, Image* image, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_file(file, &width, &height, &channels)) {
    *error = path + " is not a PNG, JPEG or BMP image we can read (" + stbi_failure_reason() + ")";
    std::fclose(file);
    return false;
  }
  // Gray + alpha and RGBA files keep their transparency as a fourth plane.
  const int planes = (channels == 2 || channels == 4) ? 4 : 3;
  uint8_t* pixels = stbi_load_from_file(file, &width, &height, &channels, planes);
  std::fclose(file);
  if (pixels == nullptr) {
    *error = path + " cannot be decoded (" + stbi_failure_reason() + ")";
    return false;
  }
  image->width = width;
  image->height = height;
  image->planes = planes;
  image->pixels.assign(pixels, pixels + size_t(width) * size_t(height) * size_t(planes));
  stbi_image_free(pixels);
  return true;
}

bool WritePng(const std::string& path, const Image& image, std::string* error) {
  const int stride = image.width * image.planes;
  if (!stbi_write_png(path.c_str(), image.width, image.height, image.planes,
                      image.pixels.data(), stride)) {
    *error = "cannot write " + path + " (does its folder exist?)";
    return false;
  }
  return true;
}
