// Image files for filterhost, through the platform's imaging component (WIC).
// Reads PNG, JPEG, BMP, TIFF and GIF (its first frame), 8 or 16 bits per
// channel, gray, palette or colour, with or without alpha; writes PNG, JPEG,
// TIFF or BMP. Colour profiles are not applied.
#pragma once

#include <cstdint>
#include <string>

#include "tools/filterhost/ImageFormat.h"
#include "tools/filterhost/PixelPlanes.h"

// Reads an image into 3 planes, or 4 when the file has transparency, turned
// upright by its EXIF orientation. The size is checked (CheckImageSize) before
// any pixel is decoded. False with a one-line reason when the file cannot be
// read, is damaged, or holds CMYK or floating-point samples, or when its run
// needs more memory than the process can have. With keepSixteenBits (a 16-bit
// run: the filter takes RGB 48) a file of 16-bit samples gives a 16-bit image
// (sampleBytes 2, 0..65535) and its memory is counted at 16 bits; any other
// file, and every file without it, gives bytes and is counted at 8.
bool ReadImage(const std::string& path, Image* image, std::string* error,
               bool keepSixteenBits = false);

// Writes an image in `format` (JPEG with `quality` 1..100). A 16-bit image is
// written in 16 bits to PNG and TIFF (FormatKeepsSixteenBits), in bytes to
// JPEG and BMP. A 4-plane image
// keeps its alpha only in formats that hold it (FormatKeepsAlpha). Nothing
// partial is left: a regular file is written beside the target and replaces it
// only once complete and closed; another target (a device, a pipe) is written
// in place with every write checked. False with a one-line reason naming the
// file and the cause.
bool WriteImage(const std::string& path, const Image& image, ImageFileFormat format,
                int32_t quality, std::string* error);
