// Image file rules of filterhost that do not need Windows: which format an
// output name asks for, --quality, and the sizes an image may declare. Pure
// code, tested natively.
#pragma once

#include <cstdint>
#include <string>

// The image file formats filterhost knows: it reads all five and writes all
// but GIF.
enum ImageFileFormat { kPngFile, kJpegFile, kTiffFile, kBmpFile, kGifFile, kUnknownFile };

// The format an output name asks for by its extension (case does not matter):
// .png, .jpg/.jpeg, .tif/.tiff, .bmp; a name without an extension is PNG.
// kUnknownFile for any other extension (.gif too: filterhost writes no GIF).
ImageFileFormat OutputFormatOf(const std::string& path);

// "PNG", "JPEG", "TIFF", "BMP", "GIF".
const char* FormatName(ImageFileFormat format);

// PNG and TIFF keep a fourth (alpha) plane; JPEG and BMP drop it.
bool FormatKeepsAlpha(ImageFileFormat format);
// PNG and TIFF hold 16 bits per channel; JPEG and BMP are written in bytes.
bool FormatKeepsSixteenBits(ImageFileFormat format);

const int32_t kDefaultQuality = 92;

// --quality: a whole number 1..100. False with a message for anything else.
bool ParseQuality(const std::string& text, int32_t* quality, std::string* error);

// The host keeps rectangles in 16 bits: a side may be 1..32767 pixels.
const uint32_t kMaxImageSide = 32767;

// Checks the size an image file declares, before any pixel is decoded. False
// with a message naming the file and the size when a side is 0 or too large.
bool CheckImageSize(const std::string& path, uint32_t width, uint32_t height,
                    std::string* error);

// What filtering an image of `width` x `height` pixels in `planes` planes of
// `sampleBytes`-byte samples (1 for a run in 8 bits, 2 for one in 16) needs
// at its peak, beyond what the process holds before it reads the file. A run
// goes through three stages, and each holds the image and:
// - reading: the file as the decoder has it (`fileBytes`) and what the
//   decoder keeps (`decodedBytes`, at the file's own depth; 8 bytes a pixel
//   when 0, the most a layout we read takes);
// - filtering: the copy of the source the filter reads and the areas handed
//   to it and back, each up to the whole image; a 16-bit run also keeps the
//   samples as read;
// - writing: an encoder's copy of the picture (a BMP encoder keeps it whole,
//   up to 4 bytes a pixel) and, for 16-bit samples written in bytes, a copy
//   of the image to reduce.
// The most of the three (for a photograph, filtering: 12 bytes a pixel in
// 8 bits, 30 in 16), and 4 MB of working buffers. Measured against the peak
// working set under Wine (the table in the tests), it is never below what a
// run takes, and at most 20 % above from 2 megapixels on.
// With `scaledRender` (the 64-bit host, whose module renders at Auto unless told
// otherwise) filtering also counts the renderer's grain field: each of its up
// to 16 threads' two field rows, grain row and grid row's cells, a few values
// per row and column, and the table of the draws' values.
uint64_t RunMemoryBytes(uint32_t width, uint32_t height, int32_t planes, int32_t sampleBytes,
                        uint64_t decodedBytes, uint64_t fileBytes, bool scaledRender = false);

// Refuses, with both figures, a run that needs more than `available` bytes.
// `pixels` says what is filtered ("its 12000 x 8000 pixels"). A 32-bit host
// whose 64-bit twin could have the memory (`availableTo64BitHost`, 0 in the
// 64-bit host) says so.
bool CheckRunMemory(const std::string& path, const std::string& pixels, uint64_t needed,
                    uint64_t available, uint64_t availableTo64BitHost, std::string* error);

// "286 bytes", "12.5 MB", "1.9 GB".
std::string ByteCountText(uint64_t bytes);
