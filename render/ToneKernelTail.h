// What every lane kernel shares: the generator's constants for k steps, and the
// scalar row that finishes a row's last pixels. Included only by the kernels'
// own files, each built for its instruction set; everything here has internal
// linkage, so each kernel keeps its own copy.
#pragma once

#include <cstdint>

#include "render/ToneKernels.h"

namespace {

// The generator k steps at a time: state(k) = A^k * state + C * (A^(k-1) + ... + 1).
// Entry k - 1 holds the constants for k steps, k = 1..64: the lanes of a block
// start from the state before it, each jumped ahead by its pixel's place.
struct LaneSteps {
  uint32_t a[64];
  uint32_t c[64];
};
constexpr LaneSteps MakeLaneSteps() {
  LaneSteps t = {{0}, {0}};
  uint32_t a = 1, c = 0;
  for (int k = 0; k < 64; ++k) {
    a = a * 214013u;
    c = c * 214013u + 2531011u;
    t.a[k] = a;
    t.c[k] = c;
  }
  return t;
}
constexpr LaneSteps kLaneSteps = MakeLaneSteps();

inline uint8_t LaneClamp(int32_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The same formulas one pixel at a time, for the pixels after the last whole
// vector of a row.
template <bool kGray, bool kGrain, int kBpp>
inline void LaneTail(const uint8_t* s, uint8_t* d, int32_t count, const ToneLaneTables& t,
                     uint32_t* state) {
  uint32_t st = *state;
  for (int32_t x = 0; x < count; ++x, s += kBpp, d += kBpp) {
    int32_t g = 0;
    if (kGrain) {
      st = st * 214013u + 2531011u;
      const int32_t r = int32_t((st >> 16) & 0x7FFF) % t.modulus;
      g = r - t.floorHalf - (r > t.ceilHalfLess1 ? 1 : 0);
    }
    if (kGray) {
      const int16_t* v = t.gray[s[0] + s[1] + s[2]];
      d[0] = LaneClamp(v[0] + g);
      d[1] = LaneClamp(v[1] + g);
      d[2] = LaneClamp(v[2] + g);
    } else {
      d[0] = LaneClamp(t.curve[s[0]] + g);
      d[1] = LaneClamp(t.curve[s[1]] + g);
      d[2] = LaneClamp(t.curve[s[2]] + g);
    }
  }
  *state = st;
}

}  // namespace
