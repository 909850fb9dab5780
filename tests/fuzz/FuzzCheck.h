// What the fuzz targets share: a property check that ends the run with a message
// (libFuzzer then keeps the input as the reproducer), and a reader that takes
// fixed-size fields from the front of the input, zeros once it runs out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition, ...)                                                      \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      std::fprintf(stderr, "property failed at %s:%d: %s\n  ", __FILE__, __LINE__,      \
                   #condition);                                                         \
      std::fprintf(stderr, __VA_ARGS__);                                                \
      std::fputc('\n', stderr);                                                         \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

struct FuzzReader {
  const uint8_t* data;
  size_t size;

  // Copies n bytes into out, zero-filling what the input does not have.
  void Take(void* out, size_t n) {
    if (n == 0) return;
    const size_t have = n < size ? n : size;
    std::memset(out, 0, n);
    if (have > 0) std::memcpy(out, data, have);
    data += have;
    size -= have;
  }
  template <typename T>
  T Next() {
    T value;
    Take(&value, sizeof value);
    return value;
  }
};
