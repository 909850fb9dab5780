// The tone pass's rows in AVX-512 (F, BW, VL; this file alone is built for it,
// and the tone pass calls it only on a processor that runs it): the row of
// render/ToneRow.h on AVX-512's ops, the AVX2 rows' steps in twice the width. A
// block is 32 pixels, whose draws, remainders and grain are one vector of
// 16-bit lanes, then two halves of 16 pixels whose gray sums, gathers, grain
// and clamp are whole vectors; with 3 bytes per pixel the loads and stores are
// masked to the half's 48 bytes.
#include "render/ToneKernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)

// GCC 12's own AVX-512 header starts some results from an undefined vector, which
// it then warns of as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "render/ToneGray16Avx2.h"
#include "render/ToneRow.h"

namespace {

inline __m128i CurvePixel(const uint8_t* s, const ToneLaneTables& t) {
  const __m128i rg = _mm_cvtsi32_si128(
      int32_t(uint32_t(uint16_t(t.curve[s[0]])) | uint32_t(uint16_t(t.curve[s[1]])) << 16));
  return _mm_insert_epi16(rg, t.curve[s[2]], 2);
}

// Pixels first, first + 1, first + 4, first + 5, ... first + 13 of s: two per
// 128-bit part.
inline __m128i CurvePair(const uint8_t* p, int kBpp, const ToneLaneTables& t) {
  return _mm_unpacklo_epi64(CurvePixel(p, t), CurvePixel(p + kBpp, t));
}

inline __m512i CurvePixels(const uint8_t* s, int kBpp, int first, const ToneLaneTables& t) {
  const uint8_t* p = s + first * kBpp;
  __m512i v = _mm512_castsi128_si512(CurvePair(p, kBpp, t));
  v = _mm512_inserti32x4(v, CurvePair(p + 4 * kBpp, kBpp, t), 1);
  v = _mm512_inserti32x4(v, CurvePair(p + 8 * kBpp, kBpp, t), 2);
  return _mm512_inserti32x4(v, CurvePair(p + 12 * kBpp, kBpp, t), 3);
}

// Each pixel's grain over its four lanes, in the order of a and of b: the 16-bit
// lane of the grain vector each lane takes.
alignas(64) const uint16_t kGrainOfA[32] = {0, 0, 0, 0, 1, 1, 1, 1, 4, 4, 4, 4, 5, 5, 5, 5,
                                            8, 8, 8, 8, 9, 9, 9, 9, 12, 12, 12, 12, 13, 13, 13, 13};
alignas(64) const uint16_t kGrainOfB[32] = {2, 2, 2, 2, 3, 3, 3, 3, 6, 6, 6, 6, 7, 7, 7, 7,
                                            10, 10, 10, 10, 11, 11, 11, 11, 14, 14, 14, 14, 15, 15, 15, 15};

// 16-bit rows without gray: the 48 or 64 samples of 16 pixels are three or four
// vectors of 32-bit lanes, each lane one sample's curve by a gather, with
// kSpread16[k] giving each lane of vector k its pixel (0..15) for the grain;
// the fourth sample's lanes are looked up too but not stored.
struct Spread16 {
  int32_t lanes[4][16];
};
template <int kSpp>
constexpr Spread16 MakeSpread16() {
  Spread16 s = {};
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 16; ++i) s.lanes[k][i] = (16 * k + i) / kSpp;
  }
  return s;
}
template <int kSpp>
alignas(64) constexpr Spread16 kSpread16 = MakeSpread16<kSpp>();

// 16 pixels from s to d through the curve, with the widened grain g (32-bit
// lanes, pixel order).
template <int kSpp>
inline void CurveBlock16x16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, __m512i g) {
  const __m512i white = _mm512_set1_epi32(32768);
#pragma GCC unroll 4
  for (int k = 0; k < kSpp; ++k) {
    const __m512i samples = _mm512_cvtepu16_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32 * k)));
    const __m512i curved = _mm512_i32gather_epi32(_mm512_min_epu32(samples, white), t.curve, 4);
    const __m512i spread = _mm512_loadu_si512(kSpread16<kSpp>.lanes[k]);
    const __m512i sum = _mm512_add_epi32(curved, _mm512_permutexvar_epi32(spread, g));
    const __m256i out = _mm512_cvtepi32_epi16(
        _mm512_max_epi32(_mm512_min_epi32(sum, white), _mm512_setzero_si512()));
    if (kSpp == 4) {
      _mm256_mask_storeu_epi16(d + 32 * k, __mmask16(0x7777), out);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32 * k), out);
    }
  }
}

struct Avx512Ops {
  typedef __m512i V16;
  typedef __m512i V32;
  typedef __m512i V;
  static const int32_t kPixels = 32;
  static constexpr int32_t Overreach(int) { return 0; }

  static V16 Set1_16(int32_t v) { return _mm512_set1_epi16(int16_t(v)); }
  static V32 Set1_32(uint32_t v) { return _mm512_set1_epi32(int32_t(v)); }
  static V16 Zero16() { return _mm512_setzero_si512(); }
  static V16 LoadU16(const void* p) { return _mm512_loadu_si512(p); }
  static V32 LoadU32(const uint32_t* p) { return _mm512_loadu_si512(p); }
  static void StoreU16(void* p, V16 v) { _mm512_storeu_si512(p, v); }
  static V16 Add16(V16 a, V16 b) { return _mm512_add_epi16(a, b); }
  static V16 Sub16(V16 a, V16 b) { return _mm512_sub_epi16(a, b); }
  static V16 MulLo16(V16 a, V16 b) { return _mm512_mullo_epi16(a, b); }
  static V16 MulHiU16(V16 a, V16 b) { return _mm512_mulhi_epu16(a, b); }
  static V16 MinU16(V16 a, V16 b) { return _mm512_min_epu16(a, b); }
  static V16 CmpGt16(V16 a, V16 b) { return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b)); }
  static V16 And16(V16 a, V16 b) { return _mm512_and_si512(a, b); }
  static V32 MulLo32(V32 a, V32 b) { return _mm512_mullo_epi32(a, b); }
  static V32 Add32(V32 a, V32 b) { return _mm512_add_epi32(a, b); }
  static V32 Sra16By16(V32 a) { return _mm512_srai_epi32(a, 16); }
  static V16 PackS32(V32 a, V32 b) { return _mm512_packs_epi32(a, b); }
  static V32 UnpackLo16(V16 a, V16 b) { return _mm512_unpacklo_epi16(a, b); }
  static V32 UnpackHi16(V16 a, V16 b) { return _mm512_unpackhi_epi16(a, b); }
  static V32 MAdd16(V32 a, V32 b) { return _mm512_madd_epi16(a, b); }
  static V32 Sra32By12(V32 a) { return _mm512_srai_epi32(a, 12); }
  static V AddS16(V a, V b) { return _mm512_adds_epi16(a, b); }
  static V PackUS16(V a, V b) { return _mm512_packus_epi16(a, b); }

  // Half a block, 16 pixels, in two vectors of four 16-bit lanes per pixel:
  // `a` holds pixels 0 1 4 5 8 9 12 13 and `b` 2 3 6 7 10 11 14 15, so that one
  // pack per 128-bit part puts the bytes in pixel order.
  template <bool kGray, int kBpp>
  static void Values8(const uint8_t* s, const ToneLaneTables& t, V* a, V* b) {
    if (!kGray) {
      *a = CurvePixels(s, kBpp, 0, t);
      *b = CurvePixels(s, kBpp, 2, t);
      return;
    }
    __m512i bytes;  // each pixel's red, green, blue, 0 in a 32-bit lane, in the order a, b
    if (kBpp == 3) {
      const __m512i src = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFull, s);
      const __m512i words = _mm512_permutexvar_epi32(
          _mm512_setr_epi32(0, 1, 3, 4, 6, 7, 9, 10, 1, 2, 4, 5, 7, 8, 10, 11), src);
      const __m512i pick = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 8, 9, 10, -1, 11, 12, 13, -1));
      const __m512i pickShifted = _mm512_broadcast_i32x4(_mm_setr_epi8(2, 3, 4, -1, 5, 6, 7, -1, 10, 11, 12, -1, 13, 14, 15, -1));
      bytes = _mm512_shuffle_epi8(words, _mm512_mask_blend_epi64(0xF0, pick, pickShifted));
    } else {
      const __m512i src = _mm512_loadu_si512(s);
      bytes = _mm512_and_si512(_mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), src),
                               _mm512_set1_epi32(0x00FFFFFF));
    }
    const __m512i sums = _mm512_madd_epi16(_mm512_maddubs_epi16(bytes, _mm512_set1_epi8(1)),
                                           _mm512_set1_epi16(1));
    *a = _mm512_i32gather_epi64(_mm512_castsi512_si256(sums), t.gray, 8);
    *b = _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(sums, 1), t.gray, 8);
  }
  static void SpreadGrain8(V16 g32, int half, V* ga, V* gb) {
    const __m512i g = _mm512_castsi256_si512(half == 0 ? _mm512_castsi512_si256(g32)
                                                       : _mm512_extracti64x4_epi64(g32, 1));
    *ga = _mm512_permutexvar_epi16(_mm512_loadu_si512(kGrainOfA), g);
    *gb = _mm512_permutexvar_epi16(_mm512_loadu_si512(kGrainOfB), g);
  }
  template <int kBpp>
  static void StoreBytes(uint8_t* d, V out) {
    if (kBpp == 4) {
      const __m512i old = _mm512_loadu_si512(d);
      _mm512_storeu_si512(d, _mm512_mask_blend_epi8(0x8888888888888888ull, out, old));
    } else {
      const __m512i packed = _mm512_shuffle_epi8(out, _mm512_broadcast_i32x4(_mm_setr_epi8(
                                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)));
      const __m512i joined = _mm512_permutexvar_epi32(
          _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15), packed);
      _mm512_mask_storeu_epi8(d, 0x0000FFFFFFFFFFFFull, joined);
    }
  }

  // 16-bit samples: the block's widened grain in 32-bit lanes, pixels 0-15 and
  // 16-31, and two halves of 16 pixels.
  struct Grain16 {
    __m512i half[2];
  };
  static Grain16 ZeroGrain16() { return Grain16{{_mm512_setzero_si512(), _mm512_setzero_si512()}}; }
  static Grain16 LoadGrain16(const int32_t* row) {
    return Grain16{{_mm512_loadu_si512(row), _mm512_loadu_si512(row + 16)}};
  }
  static Grain16 GrainOfDraws16(const int32_t* table, V16 draws) {
    return Grain16{
        {_mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(draws)), table, 4),
         _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(draws, 1)), table, 4)}};
  }
  template <int kSpp>
  static GrayMasks16 Context16() {
    return LoadGrayMasks16<kSpp>();
  }
  template <bool kGray, int kSpp>
  static void Block16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, const Grain16& g,
                      const GrayMasks16& masks) {
    for (int half = 0; half < 2; ++half) {
      const uint8_t* sh = s + 32 * kSpp * half;
      uint8_t* dh = d + 32 * kSpp * half;
      if (kGray) {
        GrayBlock8x16<kSpp>(sh, dh, t.grayCurve, _mm512_castsi512_si256(g.half[half]), masks);
        GrayBlock8x16<kSpp>(sh + 16 * kSpp, dh + 16 * kSpp, t.grayCurve,
                            _mm512_extracti64x4_epi64(g.half[half], 1), masks);
      } else {
        CurveBlock16x16<kSpp>(sh, dh, t, g.half[half]);
      }
    }
  }
};

// Its field rows are AVX2's (a processor with AVX-512 has AVX2).
constexpr ToneRowSet kRows = MakeToneRows<Avx512Ops>(FieldRowAvx2);

}  // namespace

const ToneRowSet* ToneRowsAvx512() { return &kRows; }

#else

const ToneRowSet* ToneRowsAvx512() { return nullptr; }

#endif
