#include "tools/filterhost/Pipl.h"

#include <cstring>

namespace {

uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint16_t ReadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// A length-prefixed string whose length byte may count the zero padding too
// ("\013Patinex...\0"): take what the byte and the data allow, drop the zeros.
std::string PascalText(const uint8_t* data, uint32_t length) {
  if (length == 0) return std::string();
  uint32_t n = data[0];
  if (n > length - 1) n = length - 1;
  std::string text(reinterpret_cast<const char*>(data + 1), n);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// A zero-terminated name within its data (a missing terminator ends at the data).
std::string CText(const uint8_t* data, uint32_t length) {
  uint32_t n = 0;
  while (n < length && data[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(data), n);
}

}  // namespace

bool ParsePipl(const uint8_t* bytes, size_t size, PiplInfo* info, std::string* error) {
  *info = PiplInfo();
  info->kind = 0;
  const size_t kHeader = 10;  // 16-bit version 1, 32-bit list version 0, 32-bit count
  if (bytes == nullptr || size < kHeader) {
    *error = "the property list is shorter than its header";
    return false;
  }
  if (ReadLE16(bytes) != 1) {
    *error = "the property list has version " + std::to_string(ReadLE16(bytes)) + ", not 1";
    return false;
  }
  const uint32_t count = ReadLE32(bytes + 6);
  size_t at = kHeader;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < 16) {
      *error = "property " + std::to_string(i + 1) + " of " + std::to_string(count) +
               " runs past the end of the list";
      return false;
    }
    const uint32_t key = ReadLE32(bytes + at + 4);
    const uint32_t length = ReadLE32(bytes + at + 12);
    at += 16;
    if (length > size - at) {
      *error = "the data of property '" + FourCharText(key) + "' runs past the end of the list";
      return false;
    }
    const uint8_t* data = bytes + at;
    if (key == kPiplKind && length >= 4) info->kind = ReadLE32(data);
    if (key == kPiplName) info->name = PascalText(data, length);
    if (key == kPiplCategory) info->category = PascalText(data, length);
    if (key == kPiplEntryX86) info->entryX86 = CText(data, length);
    if (key == kPiplEntryX64) info->entryX64 = CText(data, length);
    if (key == kPiplModes && length >= 2) info->modes = uint16_t(data[0] << 8 | data[1]);
    // Data is padded to a multiple of 4; a length that already is one moves on by it.
    const size_t padded = (size_t(length) + 3) & ~size_t(3);
    at += padded < size - at ? padded : size - at;
  }
  return true;
}

int32_t CountFltdDoubles(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < 2 || size % 4 != 2) return -1;
  const size_t pairs = size / 4;
  for (size_t i = 0; i < pairs; ++i) {
    if (ReadLE16(bytes + 4 * i) != 0 || ReadLE16(bytes + 4 * i + 2) != 8) return -1;
  }
  if (ReadLE16(bytes + 4 * pairs) != 0) return -1;
  return int32_t(pairs);
}

std::string FourCharText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((code >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return text;
}

uint16_t ModuleMachine(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const uint32_t pe = uint32_t(bytes[0x3C]) | uint32_t(bytes[0x3D]) << 8 |
                      uint32_t(bytes[0x3E]) << 16 | uint32_t(bytes[0x3F]) << 24;
  if (pe > size || size - pe < 6) return 0;
  if (std::memcmp(bytes + pe, "PE\0\0", 4) != 0) return 0;
  return uint16_t(bytes[pe + 4] | bytes[pe + 5] << 8);
}
