// What an image file's first bytes declare, read before any decoder sees it:
// the format, the size and the EXIF orientation. Pure code over a byte buffer
// (tested natively, fit for fuzzing): nothing is read outside `size` bytes,
// and a damaged header yields "not known", never a guess.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/filterhost/ImageFormat.h"

struct ImageHeader {
  ImageFileFormat format;  // by the file's signature; kUnknownFile for none
  bool sizeKnown;          // false when the header is cut short or damaged
  uint32_t width;          // for a GIF the largest of the screen and of every
  uint32_t height;         // frame, since the decoder makes room for each frame
  int32_t orientation;     // EXIF orientation 1..8 (JPEG and TIFF); 1 when absent
};

ImageHeader ReadImageHeader(const uint8_t* bytes, size_t size);
