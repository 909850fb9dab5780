// What every lane kernel shares: the generator's constants for k steps, and the
// scalar row that finishes a row's last pixels. Included by the kernels' own
// files, each built for its instruction set, and by the 16-bit tone pass for
// its scalar rows; everything here has internal linkage, so each keeps its own
// copy.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

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

// A 16-bit sample, above 32768 counted as 32768, and a value stored as a sample.
inline uint32_t LaneSample16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v > 32768 ? 32768u : v;
}
inline void LaneStore16(uint8_t* p, int32_t v) {
  const uint16_t sample = uint16_t(v < 0 ? 0 : (v > 32768 ? 32768 : v));
  std::memcpy(p, &sample, 2);
}

// The 16-bit rows one pixel at a time (kSpp samples to a pixel): a row's last
// pixels, and the whole row for the scalar kernel.
template <bool kGray, bool kGrain, int kSpp>
inline void LaneTail16(const uint8_t* s, uint8_t* d, int32_t count, const ToneLaneTables16& t,
                       uint32_t* state) {
  uint32_t st = *state;
  for (int32_t x = 0; x < count; ++x, s += 2 * kSpp, d += 2 * kSpp) {
    int32_t g = 0;
    if (kGrain) {
      st = st * 214013u + 2531011u;
      g = t.grain[(st >> 16) & 0x7FFF];
    }
    const uint32_t red = LaneSample16(s), green = LaneSample16(s + 2), blue = LaneSample16(s + 4);
    const int32_t* v = nullptr;
    int32_t curved[3];
    if (kGray) {
      v = t.grayCurve + 4 * ((red + green + blue) / 3);
    } else {
      curved[0] = t.curve[red];
      curved[1] = t.curve[green];
      curved[2] = t.curve[blue];
      v = curved;
    }
    LaneStore16(d, v[0] + g);
    LaneStore16(d + 2, v[1] + g);
    LaneStore16(d + 4, v[2] + g);
  }
  *state = st;
}

#if defined(__AVX2__)
// The gray sums of 8 pixels of 16-bit samples (kSpp to a pixel) in 32-bit lanes,
// each sample counted as at most 32768: the 8 pixels' kSpp vectors of 8
// samples are loaded whole, and byte shuffles gather each channel's samples in
// pixel order (SSE2 lacks the shuffles; AVX2 and AVX-512 files use this).
struct GrayShuffles16 {
  __m128i mask[3][4];  // [channel][vector]: the vector's bytes that hold the channel's samples
};
template <int kSpp>
inline GrayShuffles16 MakeGrayShuffles16() {
  GrayShuffles16 g;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < kSpp; ++v) {
      alignas(16) int8_t bytes[16];
      for (int i = 0; i < 8; ++i) {
        const int k = kSpp * i + c;  // pixel i's sample of channel c
        const bool here = k / 8 == v;
        bytes[2 * i] = int8_t(here ? 2 * (k % 8) : -1);
        bytes[2 * i + 1] = int8_t(here ? 2 * (k % 8) + 1 : -1);
      }
      g.mask[c][v] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    }
  }
  return g;
}
template <int kSpp>
__attribute__((always_inline)) inline __m256i GraySums16(const uint8_t* s, const GrayShuffles16& g) {
  const __m128i white = _mm_set1_epi16(int16_t(0x8000));
  __m128i v[kSpp];
#pragma GCC unroll 4
  for (int k = 0; k < kSpp; ++k) {
    v[k] = _mm_min_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k)), white);
  }
  __m256i sum = _mm256_setzero_si256();
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c) {
    __m128i channel = _mm_shuffle_epi8(v[0], g.mask[c][0]);
#pragma GCC unroll 3
    for (int k = 1; k < kSpp; ++k) channel = _mm_or_si128(channel, _mm_shuffle_epi8(v[k], g.mask[c][k]));
    sum = _mm256_add_epi32(sum, _mm256_cvtepu16_epi32(channel));
  }
  return sum;
}
// Two pixels' rows of the table plus their grain (lanes p and p + 1 of g),
// clamped above.
__attribute__((always_inline)) inline __m256i GrayPair16(const int32_t* grayCurve, const int32_t* level, int p, __m256i g) {
  const __m256i rows = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(grayCurve + 4 * level[p + 1]),
                                           reinterpret_cast<const __m128i*>(grayCurve + 4 * level[p]));
  const __m256i grain = _mm256_permutevar8x32_epi32(g, _mm256_setr_epi32(p, p, p, p, p + 1, p + 1, p + 1, p + 1));
  return _mm256_min_epi32(_mm256_add_epi32(rows, grain), _mm256_set1_epi32(32768));
}

// Four pixels' samples in order, four to a pixel, from two pairs; the pack
// clamps below 0.
inline __m256i Pack4x16(__m256i pair0, __m256i pair1) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(pair0, pair1), 0xD8);
}

// Four pixels of four samples to d: the fourth sample kept with kSpp 4, else
// each pixel's 6 bytes together (12 per 128-bit half, then 24 in a row).
template <int kSpp>
inline void Store4x16(uint8_t* d, __m256i four) {
  if (kSpp == 4) {
    __m256i* out = reinterpret_cast<__m256i*>(d);
    _mm256_storeu_si256(out, _mm256_blend_epi16(four, _mm256_loadu_si256(out), 0x88));
  } else {
    const __m256i drop = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                          0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i six = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(four, drop),
                                                    _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(six));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(six, 1));
  }
}

// The gray rows' 8 pixels from s to d with the widened grain g (32-bit lanes,
// pixel order): each pixel's gray level gives one 16-byte load of its row of
// the table (red, green, blue and a 0), two pixels to a vector, and those rows
// plus grain are clamped, packed and stored (with 4 samples the destination's
// fourth sample is kept).
template <int kSpp>
__attribute__((always_inline)) inline void GrayBlock8x16(const uint8_t* s, uint8_t* d,
                                                         const int32_t* grayCurve, __m256i g,
                                                         const GrayShuffles16& shuffles) {
  // The third of the sum (see ToneKernels.h).
  const __m256i gray = _mm256_cvttps_epi32(
      _mm256_mul_ps(_mm256_cvtepi32_ps(GraySums16<kSpp>(s, shuffles)), _mm256_set1_ps(1.0f / 3.0f)));
  // Unaligned: a mingw-w64 build keeps no more than 16-byte stack alignment.
  int32_t level[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(level), gray);
  Store4x16<kSpp>(d, Pack4x16(GrayPair16(grayCurve, level, 0, g), GrayPair16(grayCurve, level, 2, g)));
  Store4x16<kSpp>(d + 8 * kSpp, Pack4x16(GrayPair16(grayCurve, level, 4, g),
                                         GrayPair16(grayCurve, level, 6, g)));
}
#endif

}  // namespace
