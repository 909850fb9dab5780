// 16 bits per channel. A 16-bit host hands samples of 0..32768 (32768 is white),
// two bytes each in the machine's byte order, in the same layouts as bytes.
//
// The effect is the same at both depths: every quantity of the formulas that is
// a level of the 0..255 scale becomes the same level of the 0..32768 scale,
// widened as round(v * 32768 / 255) with halves up (WidenLevel); every draw,
// position, count and their order stay those of 8 bits. So a 16-bit render shows
// the same grain, dust, hairs and scratches as the 8-bit render of the same image
// from the same generator state, only finer.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

const int32_t kMaxSample16 = 32768;

// round(v * 32768 / 255), halves up (floor(x + 1/2)), for any 32-bit level; the
// product is taken in 64 bits. For whole v the quotient never ends in exactly .5
// (255 is odd), so halves up and to nearest agree on whole levels.
inline int64_t WidenLevel(int64_t v) {
  const int64_t n = v * kMaxSample16 * 2 + 255;  // 2 * v * 32768 / 255 + 1, times 255
  const int64_t d = 2 * 255;
  return n >= 0 ? n / d : -((-n + d - 1) / d);  // floor
}
inline int64_t WidenLevel(int32_t v) { return WidenLevel(int64_t(v)); }
// The same rule for a level held as a double (the scratches' darkening, whole or
// not): floor(v * 32768 / 255 + 0.5). v is bounded by the caller.
inline double WidenLevel(double v) { return std::floor(v * double(kMaxSample16) / 255.0 + 0.5); }

// A sample back to 8 bits for display: round(v * 255 / 32768), halves up; samples
// above 32768 count as 32768. WidenLevel's levels come back exactly.
inline uint8_t ReduceSample(uint16_t v) {
  const uint32_t s = v > kMaxSample16 ? uint32_t(kMaxSample16) : uint32_t(v);
  return uint8_t((s * 255u + 16384u) >> 15);
}

// Stores a 16-bit channel value: below 0 gives 0, 32768 or more gives 32768.
inline uint16_t ClampSample(int64_t v) {
  return uint16_t(v < 0 ? 0 : (v > kMaxSample16 ? kMaxSample16 : v));
}

// Samples at any byte address (a host's row bytes need not be even).
inline uint16_t LoadSample(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void StoreSample(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// A host's sample as the formulas take it: above 32768 counts as 32768.
inline uint16_t LoadClampedSample(const uint8_t* p) {
  const uint16_t v = LoadSample(p);
  return v > kMaxSample16 ? uint16_t(kMaxSample16) : v;
}

// A sample of 0..65535 (a file's, GEGL's) to the renderer's 0..32768 and back,
// each rounded, halves up. Back is exact: SampleFrom65535(SampleTo65535(u)) is u
// for every u of 0..32768, so whatever the renderer writes survives the trip,
// and a level of 8 bits widened by v x 257 becomes WidenLevel(v). Above 32768
// counts as 32768.
inline uint16_t SampleFrom65535(uint32_t v) {
  return uint16_t((uint64_t(v) * 65536u + 65535u) / 131070u);
}
inline uint16_t SampleTo65535(uint32_t u) {
  return uint16_t(((u > 32768u ? 32768u : u) * 65535u + 16384u) >> 15);
}
