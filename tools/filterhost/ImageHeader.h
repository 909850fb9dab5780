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
  uint32_t width;          // for a GIF its first frame's, which is the picture the
  uint32_t height;         // decoder gives (the screen may be larger or smaller)
  int32_t orientation;     // EXIF orientation 1..8 (JPEG and TIFF); 1 when absent
  bool bigEndian;          // a TIFF stored "MM", its samples too
  bool cutShort;           // a JPEG whose data ends before its end-of-image marker
  // The fewest bytes a file of this format can hold the declared pixels in,
  // at the format's best compression (the reasoning is beside each rule in
  // ImageHeader.cpp); 0 where the format has no such bound or it is unknown.
  uint64_t leastFileBytes;
  // About what a decoder keeps of the whole file at its stored depth (a
  // decoder that decodes at once keeps it all; a progressive JPEG's decoder
  // also every block's coefficients); 0 when not known.
  uint64_t decodedBytes;
  // Bits of one sample as a PNG or TIFF stores them (its depth, or a TIFF's
  // first bits per sample); 0 for the other formats, which hold at most 8, and
  // when not known.
  uint32_t sampleBits;
  // A JPEG's scans (start-of-scan markers up to its end); 0 for other formats.
  uint32_t scans;
  // A GIF's frames, and their pixels together: its decoder decodes every
  // frame when it is made. 0 for other formats.
  uint32_t frames;
  uint64_t framePixels;
  // False when the header tells that the picture has no transparency (a
  // JPEG; a PNG without alpha or a transparent colour; a BMP under 32 bits; a
  // TIFF of 1 or 3 samples): the run then has 3 planes, else perhaps 4.
  bool mayHaveAlpha;
};

// The planes the header lets a run count on before the decoder tells: 3 or 4.
int32_t RunPlanes(const ImageHeader& header);

ImageHeader ReadImageHeader(const uint8_t* bytes, size_t size);

// Bytes of a sample in a run of this file, as its header tells before any
// decoder is made: 2 when the run keeps 16 bits (`sixteenBitRun`: the filter
// takes RGB 48 and --depth 8 is not given) and the file holds 16-bit samples,
// else 1. A header that does not tell gives 1; the decoder's pixel format then
// decides, still before a pixel is decoded.
int32_t RunSampleBytes(const ImageHeader& header, bool sixteenBitRun);

// The most scans a JPEG may have (the reasoning is beside it in ImageHeader.cpp).
const uint32_t kMaxJpegScans = 100;

// Refuses, with a message naming the file, a file that holds fewer bytes than
// its declared pixels need at the format's best compression (for a GIF the
// pixels of all its frames), a JPEG cut short, and a JPEG of more than
// kMaxJpegScans scans. `fileBytes` is the size of what the decoder is handed.
bool CheckFileHoldsImage(const std::string& path, const ImageHeader& header, uint64_t fileBytes,
                         std::string* error);
