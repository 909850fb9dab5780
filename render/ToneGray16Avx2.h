// The 16-bit gray blocks that the AVX2 and AVX-512 kernels share: 8 pixels'
// gray sums by byte shuffles, each pixel's row of the gray table by one 16-byte
// load, and their packs and stores. Included only by those kernels' files, each
// built for its instruction set; everything here has internal linkage.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace {

// The gray sums of 8 pixels of 16-bit samples (kSpp to a pixel) in 32-bit lanes,
// each sample counted as at most 32768: the 8 pixels' kSpp vectors of 8
// samples are loaded whole, and byte shuffles gather each channel's samples in
// pixel order (SSE2 lacks the shuffles; AVX2 and AVX-512 files use this).
struct GrayShuffles16 {
  int8_t mask[3][4][16];  // [channel][vector]: the vector's bytes that hold the channel's samples
};
template <int kSpp>
constexpr GrayShuffles16 MakeGrayShuffles16() {
  GrayShuffles16 g = {};
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < kSpp; ++v) {
      for (int i = 0; i < 8; ++i) {
        const int k = kSpp * i + c;  // pixel i's sample of channel c
        const bool here = k / 8 == v;
        g.mask[c][v][2 * i] = int8_t(here ? 2 * (k % 8) : -1);
        g.mask[c][v][2 * i + 1] = int8_t(here ? 2 * (k % 8) + 1 : -1);
      }
    }
  }
  return g;
}
template <int kSpp>
constexpr GrayShuffles16 kGrayShuffles16 = MakeGrayShuffles16<kSpp>();

// The masks in registers, loaded once per row.
struct GrayMasks16 {
  __m128i mask[3][4];
};
template <int kSpp>
inline GrayMasks16 LoadGrayMasks16() {
  GrayMasks16 m;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 4; ++v) {
      m.mask[c][v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kGrayShuffles16<kSpp>.mask[c][v]));
    }
  }
  return m;
}
template <int kSpp>
__attribute__((always_inline)) inline __m256i GraySums16(const uint8_t* s, const GrayMasks16& g) {
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
    for (int k = 1; k < kSpp; ++k) {
      channel = _mm_or_si128(channel, _mm_shuffle_epi8(v[k], g.mask[c][k]));
    }
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
                                                         const GrayMasks16& masks) {
  // The third of the sum (see ToneKernels.h).
  const __m256i gray = _mm256_cvttps_epi32(
      _mm256_mul_ps(_mm256_cvtepi32_ps(GraySums16<kSpp>(s, masks)), _mm256_set1_ps(1.0f / 3.0f)));
  // Unaligned: a mingw-w64 build keeps no more than 16-byte stack alignment.
  int32_t level[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(level), gray);
  Store4x16<kSpp>(d, Pack4x16(GrayPair16(grayCurve, level, 0, g), GrayPair16(grayCurve, level, 2, g)));
  Store4x16<kSpp>(d + 8 * kSpp, Pack4x16(GrayPair16(grayCurve, level, 4, g),
                                         GrayPair16(grayCurve, level, 6, g)));
}

}  // namespace
