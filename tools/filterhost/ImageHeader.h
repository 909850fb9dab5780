// What an image file declares, read before any decoder sees it: the format,
// the size, the EXIF orientation, the fewest bytes that can hold the declared
// pixels, and (JPEG) whether the file ends before its end marker. Pure code
// over a byte buffer (tested natively, fit for fuzzing): nothing is read
// outside `size` bytes, and a damaged header yields "not known", never a guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/filterhost/ImageFormat.h"

struct ImageHeader {
  ImageFileFormat format;  // by the file's signature; kUnknownFile for none
  bool sizeKnown;          // false when the header is cut short or damaged
  uint32_t width;          // for a GIF the largest of the screen and of every
  uint32_t height;         // frame, since the decoder makes room for each frame
  int32_t orientation;     // EXIF orientation 1..8 (JPEG and TIFF); 1 when absent
  bool bigEndian;          // a TIFF stored "MM", its samples too
  bool cutShort;           // a JPEG whose data ends before its end-of-image marker
  // The fewest bytes a file of this format can hold the declared pixels in,
  // at the format's best compression (the reasoning is beside each rule in
  // ImageHeader.cpp); 0 where the format has no such bound or it is unknown.
  uint64_t leastFileBytes;
  // About what a decoder keeps of the whole file at its stored depth (a
  // decoder that decodes at once keeps it all); 0 when not known.
  uint64_t decodedBytes;
  // Bits of one sample as a PNG or TIFF stores them (its depth, or a TIFF's
  // first bits per sample); 0 for the other formats, which hold at most 8, and
  // when not known.
  uint32_t sampleBits;
};

ImageHeader ReadImageHeader(const uint8_t* bytes, size_t size);

// Bytes of a sample in a run of this file, as its header tells before any
// decoder is made: 2 when the run keeps 16 bits (`sixteenBitRun`: the filter
// takes RGB 48 and --depth 8 is not given) and the file holds 16-bit samples,
// else 1. A header that does not tell gives 1; the decoder's pixel format then
// decides, still before a pixel is decoded.
int32_t RunSampleBytes(const ImageHeader& header, bool sixteenBitRun);

// Refuses, with a message naming the file, a file that holds fewer bytes than
// its declared pixels need at the format's best compression, and a JPEG cut
// short. `fileBytes` is the whole file's size.
bool CheckFileHoldsImage(const std::string& path, const ImageHeader& header, uint64_t fileBytes,
                         std::string* error);
