#include "tools/filterhost/ImageHeader.h"

#include <cstring>

// The fewest bytes that can hold the declared pixels. Each format's limit is
// what its best case can reach; the bounds are the file's whole size against
// the decompressed bytes, so a genuine file, whatever its content, passes:
// - Deflate (PNG; Deflate TIFF): a 258-byte match costs at least 2 bits (a
//   1-bit length code and a 1-bit distance code), so 1 bit of compressed data
//   stands for at most 129 bytes: 1032 bytes per compressed byte. A blank
//   1-bit 32767 x 32767 PNG is a genuine 130 KB file.
// - LZW (GIF; LZW TIFF): a code stands for one table entry, and an entry is
//   at most one byte longer than an earlier one, so with 4096 entries for at
//   most 4096 bytes. A TIFF code is at least 9 bits; a GIF code at least 3
//   (its smallest root size is 2 bits, plus one).
// - PackBits (TIFF): a 2-byte run gives at most 128 bytes.
// - Huffman-coded JPEG: every 8 x 8 block of every component has a DC code and
//   an end-of-block code (or 63 coded coefficients), at least 1 bit each:
//   2 bits per block. A progressive file's first DC scan codes every block with
//   at least 1 bit, and its AC scans can skip runs of blocks with one code.
// - Uncompressed BMP and TIFF: every byte, but the last row's padding.
// Run-length BMP (its end-of-bitmap code ends any picture), CCITT fax and JPEG
// TIFF, arithmetic-coded, lossless and hierarchical JPEG have no such bound:
// their memory is checked against what the process can have.
//
// A JPEG's scans are bounded by their count, not by the file: a progressive
// scan that refines nothing takes a few bytes (one end-of-band run skips up to
// 32767 blocks), yet the decoder passes over every block of its component for
// each. Encoders write few: libjpeg's progressive script (cjpeg -progressive,
// ImageMagick's -interlace JPEG) has 10 scans for colour and 6 for gray;
// other encoders split the bands a little differently (Photoshop offers 3 to 5
// scans); a camera's file is sequential (one scan, or one per component). The most a
// script can hold in which every scan refines something new is far beyond any
// of them (a band of one coefficient per scan, each bit of it in its own scan,
// up to 4 components: thousands), and decoders that face the internet cap at
// a few hundred (NVIDIA's nvImageCodec at 256). filterhost takes at most 100:
// ten times what encoders write, so a file costs at most about ten decodes of
// a genuine progressive file of its size, where the bombs this answers have
// thousands of scans (6000 in 80 KB at 1000 x 1000: seconds of work; 1500 at
// 8000 x 8000: more than a minute).
namespace {

const uint64_t kDeflateBytesPerByte = 1032;
const uint64_t kLzwLongestString = 4096;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0); }

// Bytes of a row of `bits` bits.
uint64_t RowBytes(uint64_t bits) { return CeilDiv(bits, 8); }

// Sides whose byte counts fit in 64 bits at any depth; larger ones are
// refused by their size anyway.
bool Countable(const ImageHeader* header) {
  return header->width <= 0xFFFF && header->height <= 0xFFFF;
}

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
// directory's width, height and orientation, and for a file its samples and
// compression.
void ReadTiffDirectory(const uint8_t* data, size_t size, ImageHeader* header, bool file) {
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
  uint32_t bits = 1, samples = 1, compression = 1;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = at + 2 + size_t(i) * 12;
    if (!b.Has(entry, 12)) break;
    const uint32_t tag = b.U16(entry), type = b.U16(entry + 2), n = b.U32(entry + 4);
    // SHORT (3) values sit in the first two bytes of the field, LONG (4) fill it.
    if (type != 3 && type != 4) continue;
    uint32_t value = type == 3 ? b.U16(entry + 8) : b.U32(entry + 8);
    if (tag == 258 && type == 3 && n > 2) {  // one size per sample, kept elsewhere: the first
      const size_t array = b.U32(entry + 8);
      if (!b.Has(array, 2)) continue;
      value = b.U16(array);
    }
    if (tag == 256) header->width = value, width = true;
    if (tag == 257) header->height = value, height = true;
    if (tag == 258) bits = value;
    if (tag == 259) compression = value;
    if (tag == 277) samples = value;
    if (tag == 274 && value >= 1 && value <= 8) header->orientation = int32_t(value);
  }
  if (!file) return;
  header->bigEndian = b.bigEndian;
  header->sizeKnown = width && height;
  if (!header->sizeKnown || !Countable(header) || bits == 0 || bits > 64 || samples == 0 ||
      samples > 16) {
    return;
  }
  header->sampleBits = bits;
  header->mayHaveAlpha = samples == 2 || samples >= 4;
  const uint64_t raw = RowBytes(uint64_t(header->width) * samples * bits) * header->height;
  header->decodedBytes = raw;
  switch (compression) {
    case 1: header->leastFileBytes = raw; break;                                       // none
    case 5: header->leastFileBytes = CeilDiv(raw * 9, kLzwLongestString * 8); break;  // LZW
    case 8:
    case 32946: header->leastFileBytes = CeilDiv(raw, kDeflateBytesPerByte); break;  // Deflate
    case 32773: header->leastFileBytes = CeilDiv(raw, 64); break;                   // PackBits
    default: break;
  }
}

// Where the entropy-coded data of a scan that starts at `at` ends: at the
// first marker that is neither a stuffed zero (FF 00) nor a restart (FF D0..D7).
// The file's size when it ends inside the scan.
size_t ScanEnd(const Bytes& b, size_t at) {
  while (at < b.size) {
    const void* ff = std::memchr(b.data + at, 0xFF, b.size - at);
    if (ff == nullptr) return b.size;
    at = size_t(static_cast<const uint8_t*>(ff) - b.data);
    if (at + 1 >= b.size) return b.size;
    const uint8_t next = b.data[at + 1];
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
      at += 2;
    } else if (next == 0xFF) {
      ++at;  // fill before a marker
    } else {
      return at;
    }
  }
  return b.size;
}

// A frame header's size, and the fewest bytes its blocks can be coded in.
bool ReadJpegFrame(const Bytes& b, size_t at, size_t bodySize, uint8_t marker,
                   ImageHeader* header) {
  if (bodySize < 5) return false;
  header->height = b.U16(at + 5);
  header->width = b.U16(at + 7);
  header->sizeKnown = true;
  const uint32_t components = bodySize >= 6 ? b.data[at + 9] : 0;
  if (components == 0 || bodySize < 6 + 3 * size_t(components)) return true;
  uint32_t hMax = 1, vMax = 1;
  for (uint32_t c = 0; c < components; ++c) {
    const uint8_t factors = b.data[at + 11 + 3 * c];
    hMax = (factors >> 4) > hMax ? (factors >> 4) : hMax;
    vMax = (factors & 15) > vMax ? (factors & 15) : vMax;
  }
  uint64_t blocks = 0;
  for (uint32_t c = 0; c < components; ++c) {
    const uint8_t factors = b.data[at + 11 + 3 * c];
    const uint64_t w = CeilDiv(uint64_t(header->width) * (factors >> 4), hMax);
    const uint64_t h = CeilDiv(uint64_t(header->height) * (factors & 15), vMax);
    blocks += CeilDiv(w, 8) * CeilDiv(h, 8);
  }
  header->decodedBytes = uint64_t(header->width) * header->height * components;
  header->mayHaveAlpha = false;
  // A progressive decoder keeps every block's 64 coefficients, 2 bytes each,
  // until the last scan.
  if (marker == 0xC2) header->decodedBytes += blocks * 128;
  // Huffman-coded: sequential (C0, C1) 2 bits a block, progressive (C2) 1.
  if (marker == 0xC0 || marker == 0xC1) header->leastFileBytes = CeilDiv(2 * blocks, 8);
  if (marker == 0xC2) header->leastFileBytes = CeilDiv(blocks, 8);
  return true;
}

// Walks the markers from the start to the end-of-image marker, through every
// scan; data after that marker (a phone may append a video) is not the image's.
void ReadJpeg(const Bytes& b, ImageHeader* header) {
  size_t at = 2;
  bool frame = false;
  while (b.Has(at, 2)) {
    if (b.data[at] != 0xFF) {
      // Not a marker where one must be: a decoder skips to the next one.
      if (!frame) return;
      const void* ff = std::memchr(b.data + at, 0xFF, b.size - at);
      if (ff == nullptr) break;
      at = size_t(static_cast<const uint8_t*>(ff) - b.data);
      continue;
    }
    const uint8_t marker = b.data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD9) {  // end of image
      if (frame) return;
      at += 2;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
      at += 2;
      continue;
    }
    if (!b.Has(at, 4)) break;
    const size_t length = b.U16(at + 2);
    if (length < 2 || !b.Has(at + 2, length)) break;
    const uint8_t* body = b.data + at + 4;
    const size_t bodySize = length - 2;
    if (marker == 0xE1 && bodySize > 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
      ReadTiffDirectory(body + 6, bodySize - 6, header, false);
    }
    // Frame headers: C0..CF but for C4 (Huffman tables), C8 and CC (arithmetic).
    if (!frame && marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
        marker != 0xCC) {
      if (!ReadJpegFrame(b, at, bodySize, marker, header)) return;
      frame = true;
    }
    if (marker == 0xDA) {
      if (!frame) return;  // scan data before any frame header
      ++header->scans;
      at = ScanEnd(b, at + 2 + length);
      continue;
    }
    at += 2 + length;
  }
  // The file ended before the end-of-image marker.
  if (frame) header->cutShort = true;
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
  uint64_t pixels = 0;  // of every frame: the decoder decodes them all when it is made
  uint32_t frames = 0;
  size_t at = 13;
  if (b.data[10] & 0x80) at += size_t(3) << ((b.data[10] & 7) + 1);
  while (b.Has(at, 1) && b.data[at] != 0x3B) {
    if (b.data[at] == 0x21) {  // extension: label, then sub-blocks
      at += 2;
      if (!SkipSubBlocks(b, &at)) return;
    } else if (b.data[at] == 0x2C) {  // frame: its own size, colour table, data
      if (!b.Has(at, 11)) return;
      // The picture is the first frame, at its own size: the screen's is not
      // the decoder's (a 1 x 1 frame on a 32767 x 32767 screen is 1 x 1).
      if (frames == 0) header->width = b.U16(at + 5), header->height = b.U16(at + 7);
      pixels += uint64_t(b.U16(at + 5)) * b.U16(at + 7);
      ++frames;
      const uint8_t flags = b.data[at + 9];
      at += 10;
      if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
      at += 1;  // LZW code size
      if (!SkipSubBlocks(b, &at)) return;
    } else {
      return;
    }
  }
  // A GIF without a frame has no picture to give.
  if (frames == 0) return;
  header->sizeKnown = true;
  header->frames = frames;
  header->framePixels = pixels;
  header->decodedBytes = pixels;
  header->leastFileBytes = CeilDiv(pixels * 3, kLzwLongestString * 8);
}

void ReadBmp(const Bytes& b, ImageHeader* header) {
  if (!b.Has(14, 4)) return;
  const uint32_t infoSize = b.U32(14);
  uint32_t bits = 0, compression = 0;
  if (infoSize == 12 && b.Has(18, 8)) {  // the old OS/2 header: 16-bit sides
    header->width = b.U16(18);
    header->height = b.U16(20);
    header->sizeKnown = true;
    bits = b.U16(24);
  } else if (infoSize >= 40 && b.Has(18, 8)) {
    // Signed: a negative height is stored top down; a negative width is no size.
    const uint32_t width = b.U32(18), height = b.U32(22);
    header->width = width;
    header->height = height >= 0x80000000u ? 0u - height : height;
    header->sizeKnown = true;
    if (b.Has(28, 6)) bits = b.U16(28), compression = b.U32(30);
  }
  if (!header->sizeKnown || header->height == 0 || !Countable(header)) return;
  header->mayHaveAlpha = bits == 32;
  // Run-length pictures are decoded into 4 bytes a pixel.
  if (compression == 1 || compression == 2) {
    header->decodedBytes = uint64_t(header->width) * header->height * 4;
  }
  const bool known = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 ||
                     bits == 24 || bits == 32;
  // Uncompressed, also with bit fields (3) or alpha bit fields (6): rows of
  // whole 4-byte words.
  if (!known || (compression != 0 && compression != 3 && compression != 6)) return;
  const uint64_t bitsPerRow = uint64_t(header->width) * bits;
  const uint64_t stride = CeilDiv(bitsPerRow, 32) * 4;
  header->decodedBytes = stride * header->height;
  header->leastFileBytes = stride * (header->height - 1) + CeilDiv(bitsPerRow, 8);
}

// Channels of a PNG colour type; 0 for a type PNG does not have.
uint32_t PngChannels(uint8_t colorType) {
  switch (colorType) {
    case 0: return 1;  // gray
    case 2: return 3;  // RGB
    case 3: return 1;  // palette
    case 4: return 2;  // gray and alpha
    case 6: return 4;  // RGBA
  }
  return 0;
}

void ReadPng(const Bytes& be, ImageHeader* header) {
  if (!be.Has(0, 24) || std::memcmp(be.data + 12, "IHDR", 4) != 0) return;
  header->width = be.U32(16);
  header->height = be.U32(20);
  header->sizeKnown = true;
  if (!be.Has(24, 2) || !Countable(header)) return;
  const uint32_t depth = be.data[24], channels = PngChannels(be.data[25]);
  if (channels == 0 || depth == 0 || depth > 16) return;
  header->sampleBits = depth;
  // Transparency: an alpha channel, or a transparent colour (tRNS, between the
  // header and the data).
  header->mayHaveAlpha = be.data[25] == 4 || be.data[25] == 6;
  for (size_t at = 33; !header->mayHaveAlpha && be.Has(at, 8);) {
    const size_t length = be.U32(at);
    if (std::memcmp(be.data + at + 4, "tRNS", 4) == 0) header->mayHaveAlpha = true;
    if (std::memcmp(be.data + at + 4, "IDAT", 4) == 0 || length > be.size - at - 8) break;
    at += 12 + length;
  }
  // Each row is a filter byte and its samples, at the declared depth.
  const uint64_t filtered =
      (1 + RowBytes(uint64_t(header->width) * depth * channels)) * header->height;
  header->decodedBytes = filtered;
  header->leastFileBytes = CeilDiv(filtered, kDeflateBytesPerByte);
}

}  // namespace

ImageHeader ReadImageHeader(const uint8_t* bytes, size_t size) {
  ImageHeader header = {kUnknownFile, false, 0, 0, 1, false, false, 0, 0, 0, 0, 0, 0, true};
  if (bytes == nullptr) return header;
  const Bytes b = {bytes, size, false};
  const Bytes be = {bytes, size, true};
  if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) {
    header.format = kPngFile;
    ReadPng(be, &header);
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

int32_t RunPlanes(const ImageHeader& header) { return header.mayHaveAlpha ? 4 : 3; }

int32_t RunSampleBytes(const ImageHeader& header, bool sixteenBitRun) {
  return sixteenBitRun && header.sampleBits == 16 ? 2 : 1;
}

bool CheckFileHoldsImage(const std::string& path, const ImageHeader& header, uint64_t fileBytes,
                         std::string* error) {
  if (header.cutShort) {
    *error = path + " is cut short: its JPEG data ends before the end-of-image marker";
    return false;
  }
  if (header.scans > kMaxJpegScans) {
    *error = path + " has " + std::to_string(header.scans) +
             " scans; filterhost decodes JPEGs of at most " + std::to_string(kMaxJpegScans) +
             " (a progressive encoder writes about 10)";
    return false;
  }
  if (header.sizeKnown && fileBytes < header.leastFileBytes) {
    // A GIF's decoder decodes every frame: with more than one, they are what
    // the bytes fall short of.
    const std::string declared =
        header.frames > 1 ? ": its " + std::to_string(header.frames) + " frames declare " +
                                std::to_string(header.framePixels) + " pixels in all, but it"
                          : " declares " + std::to_string(header.width) + " x " +
                                std::to_string(header.height) + " pixels but";
    *error = path + declared + " holds only " + std::to_string(fileBytes) +
             " bytes: the file is damaged or cut short";
    return false;
  }
  return true;
}
