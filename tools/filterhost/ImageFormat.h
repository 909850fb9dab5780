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

// What filtering an image of `width` x `height` pixels needs at most, in
// bytes, with samples of `sampleBytes` (1 for a run in 8 bits, 2 for one in
// 16): what the decoder keeps (`decodedBytes`, at the file's own depth; 8
// bytes a pixel when 0, the most a layout we read takes), the image in 4
// planes, the copy of the source the filter reads, the areas handed to the
// filter and back (each up to the whole image), and an encoder's copy, all at
// the run's depth; a 16-bit run also keeps the samples as read, to give back
// every one the filter left as it was. 20 bytes a pixel in 8 bits, 48 in 16.
uint64_t RunMemoryBytes(uint32_t width, uint32_t height, uint64_t decodedBytes,
                        int32_t sampleBytes);

// Refuses, with both figures, a run that needs more than `available` bytes.
bool CheckRunMemory(const std::string& path, uint32_t width, uint32_t height, uint64_t needed,
                    uint64_t available, std::string* error);

// "286 bytes", "12.5 MB", "1.9 GB".
std::string ByteCountText(uint64_t bytes);
