#include "tools/filterhost/UnusedMetadata.h"

#include <cstring>

namespace {

bool Unused(const uint8_t* type) {
  return std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0 ||
         std::memcmp(type, "iCCP", 4) == 0;
}

}  // namespace

size_t DropUnusedMetadata(uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < 8 || std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) != 0) return size;
  // Each chunk: a 4-byte big-endian length, the type, the data, a 4-byte CRC.
  size_t from = 8, to = 8;
  while (size - from >= 12) {
    const uint8_t* chunk = bytes + from;
    const uint64_t length = uint64_t(chunk[0]) << 24 | uint64_t(chunk[1]) << 16 |
                            uint64_t(chunk[2]) << 8 | chunk[3];
    if (length > size - from - 12) break;
    const size_t whole = size_t(length) + 12;
    const bool end = std::memcmp(chunk + 4, "IEND", 4) == 0;
    if (!Unused(chunk + 4)) {
      if (to != from) std::memmove(bytes + to, chunk, whole);
      to += whole;
    }
    from += whole;
    if (end) break;
  }
  if (to != from) std::memmove(bytes + to, bytes + from, size - from);
  return to + (size - from);
}
