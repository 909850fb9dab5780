// AVX2's ops for the row template of render/ToneRow.h (see there for what an
// ops struct gives): a block is 16 pixels, their draws, remainders and grain in
// 16-bit lanes, then two halves of 8 pixels whose gray sums, table look-ups
// (gathers), grain and clamp are whole vectors, with whole-vector loads and
// stores. Included by the files built for AVX2 or wider (ToneKernelsAvx2.cpp,
// and ToneKernelsAvx512Vbmi.cpp, whose rows take these where they look nothing
// up by byte permutes); everything here has internal linkage, so each file keeps
// its own copy built for its own instruction set.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "render/ToneGray16Avx2.h"
#include "render/ToneKernels.h"
#include "render/ToneRow.h"

namespace {

// One pixel's red, green, blue (and 0) in four 16-bit lanes, from the curve.
inline __m128i CurvePixel(const uint8_t* s, const ToneLaneTables& t) {
  const __m128i rg = _mm_cvtsi32_si128(
      int32_t(uint32_t(uint16_t(t.curve[s[0]])) | uint32_t(uint16_t(t.curve[s[1]])) << 16));
  return _mm_insert_epi16(rg, t.curve[s[2]], 2);
}

inline __m256i CurvePixels(const uint8_t* s, int kBpp, int p0, int p1, int p2, int p3,
                           const ToneLaneTables& t) {
  const __m128i lo = _mm_unpacklo_epi64(CurvePixel(s + p0 * kBpp, t), CurvePixel(s + p1 * kBpp, t));
  const __m128i hi = _mm_unpacklo_epi64(CurvePixel(s + p2 * kBpp, t), CurvePixel(s + p3 * kBpp, t));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// 16-bit rows without gray: the 24 or 32 samples of 8 pixels are three or four
// vectors of 32-bit lanes, each lane one sample's curve by a gather, with
// Spread16(k) giving each lane of vector k its pixel (0..7) for the grain (the
// fourth sample's lanes are looked up too; the store keeps the destination's).
template <int kSpp>
__m256i Spread16(int k) {
  if (kSpp == 4) return _mm256_setr_epi32(2 * k, 2 * k, 2 * k, 2 * k, 2 * k + 1, 2 * k + 1, 2 * k + 1, 2 * k + 1);
  return k == 0 ? _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2)
                : k == 1 ? _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5)
                         : _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7);
}

// 8 pixels from s to d through the curve, with the widened grain g (32-bit
// lanes, pixel order).
template <int kSpp>
inline void CurveBlock8x16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, __m256i g) {
  const __m256i white = _mm256_set1_epi32(32768);
  __m256i v[kSpp];
#pragma GCC unroll 4
  for (int k = 0; k < kSpp; ++k) {
    const __m256i samples = _mm256_cvtepu16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k)));
    const __m256i curved = _mm256_i32gather_epi32(t.curve, _mm256_min_epu32(samples, white), 4);
    // The sum's upper clamp here, its lower one in the pack.
    v[k] = _mm256_min_epi32(_mm256_add_epi32(curved, _mm256_permutevar8x32_epi32(g, Spread16<kSpp>(k))),
                            white);
  }
  const __m256i first = _mm256_permute4x64_epi64(_mm256_packus_epi32(v[0], v[1]), 0xD8);
  if (kSpp == 4) {
    const __m256i second = _mm256_permute4x64_epi64(_mm256_packus_epi32(v[2], v[3]), 0xD8);
    __m256i* out = reinterpret_cast<__m256i*>(d);
    _mm256_storeu_si256(out, _mm256_blend_epi16(first, _mm256_loadu_si256(out), 0x88));
    _mm256_storeu_si256(out + 1, _mm256_blend_epi16(second, _mm256_loadu_si256(out + 1), 0x88));
  } else {
    const __m256i last = _mm256_permute4x64_epi64(_mm256_packus_epi32(v[2], v[2]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm256_castsi256_si128(last));
  }
}

struct Avx2Ops {
  typedef __m256i V16;
  typedef __m256i V32;
  typedef __m256i V;
  static const int32_t kPixels = 16;
  // With 3 bytes the loads and stores reach 8 bytes past a block: 3 pixels more.
  static constexpr int32_t Overreach(int bpp) { return bpp == 3 ? 3 : 0; }

  static V16 Set1_16(int32_t v) { return _mm256_set1_epi16(int16_t(v)); }
  static V32 Set1_32(uint32_t v) { return _mm256_set1_epi32(int32_t(v)); }
  static V16 Zero16() { return _mm256_setzero_si256(); }
  static V16 LoadU16(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static V32 LoadU32(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void StoreU16(void* p, V16 v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  static V16 Add16(V16 a, V16 b) { return _mm256_add_epi16(a, b); }
  static V16 Sub16(V16 a, V16 b) { return _mm256_sub_epi16(a, b); }
  static V16 MulLo16(V16 a, V16 b) { return _mm256_mullo_epi16(a, b); }
  static V16 MulHiU16(V16 a, V16 b) { return _mm256_mulhi_epu16(a, b); }
  static V16 MinU16(V16 a, V16 b) { return _mm256_min_epu16(a, b); }
  static V16 CmpGt16(V16 a, V16 b) { return _mm256_cmpgt_epi16(a, b); }
  static V16 And16(V16 a, V16 b) { return _mm256_and_si256(a, b); }
  static V32 MulLo32(V32 a, V32 b) { return _mm256_mullo_epi32(a, b); }
  static V32 Add32(V32 a, V32 b) { return _mm256_add_epi32(a, b); }
  static V32 Sra16By16(V32 a) { return _mm256_srai_epi32(a, 16); }
  static V16 PackS32(V32 a, V32 b) { return _mm256_packs_epi32(a, b); }
  static V32 UnpackLo16(V16 a, V16 b) { return _mm256_unpacklo_epi16(a, b); }
  static V32 UnpackHi16(V16 a, V16 b) { return _mm256_unpackhi_epi16(a, b); }
  static V32 MAdd16(V32 a, V32 b) { return _mm256_madd_epi16(a, b); }
  static V32 Sra32By12(V32 a) { return _mm256_srai_epi32(a, 12); }
  static V AddS16(V a, V b) { return _mm256_adds_epi16(a, b); }
  static V PackUS16(V a, V b) { return _mm256_packus_epi16(a, b); }

  // Half a block, 8 pixels, in two vectors of four 16-bit lanes per pixel: `a`
  // holds pixels 0, 1, 4, 5 and `b` 2, 3, 6, 7, so that one pack per 128-bit
  // half puts the bytes in pixel order.
  template <bool kGray, int kBpp>
  static void Values8(const uint8_t* s, const ToneLaneTables& t, V* a, V* b) {
    if (!kGray) {
      *a = CurvePixels(s, kBpp, 0, 1, 4, 5, t);
      *b = CurvePixels(s, kBpp, 2, 3, 6, 7, t);
      return;
    }
    const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    __m256i bytes;  // each pixel's red, green, blue, 0 in a 32-bit lane, pixels 0 1 4 5 | 2 3 6 7
    if (kBpp == 3) {
      // Bytes 0-7 and 12-19 to the low half, 4-11 and 16-23 to the high half.
      const __m256i words = _mm256_permutevar8x32_epi32(src, _mm256_setr_epi32(0, 1, 3, 4, 1, 2, 4, 5));
      bytes = _mm256_shuffle_epi8(words, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 8, 9, 10, -1, 11, 12, 13, -1,
                                                          2, 3, 4, -1, 5, 6, 7, -1, 10, 11, 12, -1, 13, 14, 15, -1));
    } else {
      bytes = _mm256_and_si256(_mm256_permute4x64_epi64(src, 0xD8), _mm256_set1_epi32(0x00FFFFFF));
    }
    const __m256i sums = _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, _mm256_set1_epi8(1)),
                                           _mm256_set1_epi16(1));
    const long long* table = reinterpret_cast<const long long*>(t.gray);
    *a = _mm256_i32gather_epi64(table, _mm256_castsi256_si128(sums), 8);
    *b = _mm256_i32gather_epi64(table, _mm256_extracti128_si256(sums, 1), 8);
  }
  // Each pixel's grain over its four lanes, in the order of a and of b.
  static void SpreadGrain8(V16 g16, int half, V* ga, V* gb) {
    const __m256i g = _mm256_broadcastsi128_si256(half == 0 ? _mm256_castsi256_si128(g16)
                                                            : _mm256_extracti128_si256(g16, 1));
    *ga = _mm256_shuffle_epi8(g, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3,
                                                  8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, 10, 11));
    *gb = _mm256_shuffle_epi8(g, _mm256_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7,
                                                  12, 13, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15, 14, 15));
  }
  template <int kBpp>
  static void StoreBytes(uint8_t* d, V out) {
    if (kBpp == 4) {
      const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                          _mm256_blendv_epi8(out, old, _mm256_set1_epi32(int32_t(0xFF000000u))));
    } else {
      // 24 bytes, and 8 the next block (or the tail) overwrites.
      const __m256i packed = _mm256_shuffle_epi8(out, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                                                       0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                          _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)));
    }
  }

  // 16-bit samples: the block's widened grain in 32-bit lanes, pixels 0-7 and
  // 8-15, and two blocks of 8 pixels.
  struct Grain16 {
    __m256i lo, hi;
  };
  static Grain16 ZeroGrain16() { return Grain16{_mm256_setzero_si256(), _mm256_setzero_si256()}; }
  static Grain16 LoadGrain16(const int32_t* row) {
    return Grain16{_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row)),
                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 8))};
  }
  static Grain16 GrainOfDraws16(const int32_t* table, V16 draws) {
    return Grain16{
        _mm256_i32gather_epi32(table, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(draws)), 4),
        _mm256_i32gather_epi32(table, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(draws, 1)), 4)};
  }
  template <int kSpp>
  static GrayMasks16 Context16() {
    return LoadGrayMasks16<kSpp>();
  }
  template <bool kGray, int kSpp>
  static void Block16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, const Grain16& g,
                      const GrayMasks16& masks) {
    if (kGray) {
      GrayBlock8x16<kSpp>(s, d, t.grayCurve, g.lo, masks);
      GrayBlock8x16<kSpp>(s + 16 * kSpp, d + 16 * kSpp, t.grayCurve, g.hi, masks);
    } else {
      CurveBlock8x16<kSpp>(s, d, t, g.lo);
      CurveBlock8x16<kSpp>(s + 16 * kSpp, d + 16 * kSpp, t, g.hi);
    }
  }
};

}  // namespace
