// The benchmarks' photograph stand-in: 3 bytes a pixel, a left-to-right ramp
// of 0..200 with a little noise from `seed` on every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> RampWithNoise(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint8_t> bytes(size_t(width) * size_t(height) * 3);
  uint32_t noise = seed;
  for (size_t i = 0; i < bytes.size(); ++i) {
    noise = noise * 1103515245u + 12345u;
    const size_t pixel = i / 3;
    bytes[i] = uint8_t((pixel % size_t(width)) * 200 / size_t(width) + (noise >> 28));
  }
  return bytes;
}
