#include "tools/filterhost/ImageHeader.h"

#include <cstring>

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  bool bigEndian;  // TIFF structures: "MM"
  bool Has(size_t at, size_t n) const { return at <= size && n <= size - at; }
  uint32_t U16(size_t at) const {
    return bigEndian ? uint32_t(data[at]) << 8 | data[at + 1] : uint32_t(data[at + 1]) << 8 | data[at];
  }
  uint32_t U32(size_t at) const {
    return bigEndian ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at);
  }
};

// A TIFF structure (a TIFF file, or the block after "Exif\0\0"): its first
// directory's width, height and orientation.
void ReadTiffDirectory(const uint8_t* data, size_t size, ImageHeader* header, bool sizes) {
  if (size < 8) return;
  Bytes b = {data, size, false};
  if (std::memcmp(data, "MM\0*", 4) == 0) {
    b.bigEndian = true;
  } else if (std::memcmp(data, "II*\0", 4) != 0) {
    return;
  }
  const size_t at = b.U32(4);
  if (!b.Has(at, 2)) return;
  const uint32_t count = b.U16(at);
  bool width = false, height = false;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = at + 2 + size_t(i) * 12;
    if (!b.Has(entry, 12)) break;
    const uint32_t tag = b.U16(entry), type = b.U16(entry + 2);
    // SHORT (3) values sit in the first two bytes of the field, LONG (4) fill it.
    if (type != 3 && type != 4) continue;
    const uint32_t value = type == 3 ? b.U16(entry + 8) : b.U32(entry + 8);
    if (tag == 256) header->width = value, width = true;
    if (tag == 257) header->height = value, height = true;
    if (tag == 274 && value >= 1 && value <= 8) header->orientation = int32_t(value);
  }
  if (sizes) header->sizeKnown = width && height;
}

void ReadJpeg(const Bytes& b, ImageHeader* header) {
  size_t at = 2;
  while (b.Has(at, 4)) {
    if (b.data[at] != 0xFF) return;  // not a marker where one must be
    const uint8_t marker = b.data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      at += 2;
      continue;
    }
    const size_t length = b.U16(at + 2);
    if (length < 2 || !b.Has(at + 2, length)) return;
    const uint8_t* body = b.data + at + 4;
    const size_t bodySize = length - 2;
    if (marker == 0xE1 && bodySize > 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
      ReadTiffDirectory(body + 6, bodySize - 6, header, false);
    }
    // Frame headers: C0..CF but for C4 (Huffman tables), C8 and CC (arithmetic).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (bodySize < 5) return;
      header->height = b.U16(at + 5);
      header->width = b.U16(at + 7);
      header->sizeKnown = true;
      return;
    }
    if (marker == 0xDA) return;  // scan data before any frame header
    at += 2 + length;
  }
}

// Skips a run of GIF data sub-blocks; false when the file ends inside it.
bool SkipSubBlocks(const Bytes& b, size_t* at) {
  while (b.Has(*at, 1)) {
    const size_t n = b.data[*at];
    *at += 1 + n;
    if (n == 0) return true;
  }
  return false;
}

void ReadGif(const Bytes& b, ImageHeader* header) {
  if (!b.Has(0, 13)) return;
  uint32_t width = b.U16(6), height = b.U16(8);
  size_t at = 13;
  if (b.data[10] & 0x80) at += size_t(3) << ((b.data[10] & 7) + 1);
  while (b.Has(at, 1) && b.data[at] != 0x3B) {
    if (b.data[at] == 0x21) {  // extension: label, then sub-blocks
      at += 2;
      if (!SkipSubBlocks(b, &at)) return;
    } else if (b.data[at] == 0x2C) {  // frame: its own size, colour table, data
      if (!b.Has(at, 11)) return;
      width = b.U16(at + 5) > width ? b.U16(at + 5) : width;
      height = b.U16(at + 7) > height ? b.U16(at + 7) : height;
      const uint8_t flags = b.data[at + 9];
      at += 10;
      if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
      at += 1;  // LZW code size
      if (!SkipSubBlocks(b, &at)) return;
    } else {
      return;
    }
  }
  header->width = width;
  header->height = height;
  header->sizeKnown = true;
}

void ReadBmp(const Bytes& b, ImageHeader* header) {
  if (!b.Has(14, 4)) return;
  const uint32_t infoSize = b.U32(14);
  if (infoSize == 12 && b.Has(18, 4)) {  // the old OS/2 header: 16-bit sides
    header->width = b.U16(18);
    header->height = b.U16(20);
    header->sizeKnown = true;
  } else if (infoSize >= 40 && b.Has(18, 8)) {
    // Signed: a negative height is stored top down; a negative width is no size.
    const uint32_t width = b.U32(18), height = b.U32(22);
    header->width = width;
    header->height = height >= 0x80000000u ? 0u - height : height;
    header->sizeKnown = true;
  }
}

}  // namespace

ImageHeader ReadImageHeader(const uint8_t* bytes, size_t size) {
  ImageHeader header = {kUnknownFile, false, 0, 0, 1};
  if (bytes == nullptr) return header;
  const Bytes b = {bytes, size, false};
  const Bytes be = {bytes, size, true};
  if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) {
    header.format = kPngFile;
    if (size >= 24 && std::memcmp(bytes + 12, "IHDR", 4) == 0) {
      header.width = be.U32(16);
      header.height = be.U32(20);
      header.sizeKnown = true;
    }
  } else if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    header.format = kJpegFile;
    ReadJpeg(be, &header);
  } else if (size >= 6 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0)) {
    header.format = kGifFile;
    ReadGif(b, &header);
  } else if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
    header.format = kBmpFile;
    ReadBmp(b, &header);
  } else if (size >= 4 && (std::memcmp(bytes, "II*\0", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0)) {
    header.format = kTiffFile;
    ReadTiffDirectory(bytes, size, &header, true);
  }
  return header;
}
