// The tone pass's rows in AVX-512 (F, BW, VL; this file alone is built for it,
// and the tone pass calls it only on a processor that runs it). The AVX2 rows'
// steps in twice the width: a block is 32 pixels, whose draws, remainders and
// grain are one vector of 16-bit lanes, then two halves of 16 pixels whose gray
// sums, gathers, grain and clamp are whole vectors; with 3 bytes per pixel the
// loads and stores are masked to the block's 48 bytes. The last pixels of a row
// go through the scalar tail.
#include "render/ToneKernels.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)

#include <immintrin.h>

#include "render/ToneKernelTail.h"

// GCC 12's own AVX-512 header starts some results from an undefined vector, which
// it then warns of as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace {

// The generator's state of a block's 32 pixels in two vectors of 32-bit lanes:
// in 128-bit part j the first holds pixels 8j..8j+3, the second 8j+4..8j+7, so
// that packing the two (per 128-bit part) puts the draws in pixel order.
struct Generator {
  __m512i a0, c0, a1, c1;
};

Generator MakeGenerator() {
  alignas(64) uint32_t a0[16], c0[16], a1[16], c1[16];
  for (int i = 0; i < 16; ++i) {
    const int pixel = (i / 4) * 8 + i % 4;
    a0[i] = kLaneSteps.a[pixel];
    c0[i] = kLaneSteps.c[pixel];
    a1[i] = kLaneSteps.a[pixel + 4];
    c1[i] = kLaneSteps.c[pixel + 4];
  }
  Generator g;
  g.a0 = _mm512_loadu_si512(a0);
  g.c0 = _mm512_loadu_si512(c0);
  g.a1 = _mm512_loadu_si512(a1);
  g.c1 = _mm512_loadu_si512(c1);
  return g;
}

inline __m512i Draws(const Generator& g, uint32_t st) {
  const __m512i s = _mm512_set1_epi32(int32_t(st));
  const __m512i s0 = _mm512_add_epi32(_mm512_mullo_epi32(s, g.a0), g.c0);
  const __m512i s1 = _mm512_add_epi32(_mm512_mullo_epi32(s, g.a1), g.c1);
  const __m512i packed = _mm512_packs_epi32(_mm512_srai_epi32(s0, 16), _mm512_srai_epi32(s1, 16));
  return _mm512_and_si512(packed, _mm512_set1_epi16(0x7FFF));
}

struct GrainLanes {
  __m512i modulus, reciprocal, floorHalf, ceilHalfLess1;
};

GrainLanes MakeGrainLanes(const ToneLaneTables& t) {
  GrainLanes g;
  g.modulus = _mm512_set1_epi16(int16_t(t.modulus));
  g.reciprocal = _mm512_set1_epi16(int16_t(t.reciprocal));
  g.floorHalf = _mm512_set1_epi16(t.floorHalf);
  g.ceilHalfLess1 = _mm512_set1_epi16(t.ceilHalfLess1);
  return g;
}

// d mod m for 32 draws (see ToneKernels.h for why one correction suffices).
inline __m512i Remainders(__m512i d, __m512i m, __m512i reciprocal) {
  const __m512i q = _mm512_mulhi_epu16(d, reciprocal);
  const __m512i r = _mm512_sub_epi16(d, _mm512_mullo_epi16(q, m));
  // r - m wraps above r when r < m.
  return _mm512_min_epu16(r, _mm512_sub_epi16(r, m));
}

inline __m512i Grain(__m512i draws, const GrainLanes& g) {
  const __m512i r = Remainders(draws, g.modulus, g.reciprocal);
  const __m512i below = _mm512_sub_epi16(r, g.floorHalf);
  return _mm512_mask_sub_epi16(below, _mm512_cmpgt_epi16_mask(r, g.ceilHalfLess1), below,
                               _mm512_set1_epi16(1));
}

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

// The values of 16 pixels in two vectors of four 16-bit lanes per pixel: `a`
// holds pixels 0 1 4 5 8 9 12 13 and `b` 2 3 6 7 10 11 14 15, so that one pack
// per 128-bit part puts the bytes in pixel order.
template <bool kGray, int kBpp>
inline void Values16(const uint8_t* s, const ToneLaneTables& t, __m512i* a, __m512i* b) {
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

// Each pixel's grain over its four lanes, in the order of a and of b: the 16-bit
// lane of the grain vector each lane takes.
alignas(64) const uint16_t kGrainOfA[32] = {0, 0, 0, 0, 1, 1, 1, 1, 4, 4, 4, 4, 5, 5, 5, 5,
                                            8, 8, 8, 8, 9, 9, 9, 9, 12, 12, 12, 12, 13, 13, 13, 13};
alignas(64) const uint16_t kGrainOfB[32] = {2, 2, 2, 2, 3, 3, 3, 3, 6, 6, 6, 6, 7, 7, 7, 7,
                                            10, 10, 10, 10, 11, 11, 11, 11, 14, 14, 14, 14, 15, 15, 15, 15};

// 16 pixels from s to d with the grain of g16 (16-bit lanes, pixel order).
template <bool kGray, int kBpp>
inline void Block16(const uint8_t* s, uint8_t* d, const ToneLaneTables& t, __m256i g16) {
  __m512i a, b;
  Values16<kGray, kBpp>(s, t, &a, &b);
  const __m512i g = _mm512_castsi256_si512(g16);
  const __m512i ga = _mm512_permutexvar_epi16(_mm512_loadu_si512(kGrainOfA), g);
  const __m512i gb = _mm512_permutexvar_epi16(_mm512_loadu_si512(kGrainOfB), g);
  // Signed saturation, then the pack's clamp to 0..255, is the clamp of the sum.
  const __m512i out = _mm512_packus_epi16(_mm512_adds_epi16(a, ga), _mm512_adds_epi16(b, gb));
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

template <bool kGray, bool kGrain, int kBpp>
void Row(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  const GrainLanes lanes = MakeGrainLanes(t);
  uint32_t st = *state;
  int32_t x = 0;
  for (; x + 32 <= width; x += 32, s += 32 * kBpp, d += 32 * kBpp) {
    __m512i g = _mm512_setzero_si512();
    if (kGrain) {
      g = Grain(Draws(gen, st), lanes);
      st = st * kLaneSteps.a[31] + kLaneSteps.c[31];
    }
    Block16<kGray, kBpp>(s, d, t, _mm512_castsi512_si256(g));
    Block16<kGray, kBpp>(s + 16 * kBpp, d + 16 * kBpp, t, _mm512_extracti64x4_epi64(g, 1));
  }
  *state = st;
  LaneTail<kGray, kGrain, kBpp>(s, d, width - x, t, state);
}

// 16-bit rows, 16 pixels at a time. With gray, two GrayBlock8x16
// (render/ToneKernelTail.h); without, the 48 or 64 samples are three or four
// vectors of 32-bit lanes, each lane one sample's curve by a gather, with
// Spread16(k) giving each lane of vector k its pixel (0..15) for the grain; the
// fourth sample's lanes are looked up too but not stored.
template <int kSpp>
inline __m512i Spread16(int k) {
  int32_t lanes[16];
  for (int i = 0; i < 16; ++i) lanes[i] = (16 * k + i) / kSpp;
  return _mm512_loadu_si512(lanes);
}

// 16 pixels from s to d through the curve, with the widened grain g (32-bit
// lanes, pixel order).
template <int kSpp>
inline void CurveBlock16x16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, __m512i g,
                            const __m512i* spread) {
  const __m512i white = _mm512_set1_epi32(32768);
#pragma GCC unroll 4
  for (int k = 0; k < kSpp; ++k) {
    const __m512i samples = _mm512_cvtepu16_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32 * k)));
    const __m512i curved = _mm512_i32gather_epi32(_mm512_min_epu32(samples, white), t.curve, 4);
    const __m512i sum = _mm512_add_epi32(curved, _mm512_permutexvar_epi32(spread[k], g));
    const __m256i out = _mm512_cvtepi32_epi16(
        _mm512_max_epi32(_mm512_min_epi32(sum, white), _mm512_setzero_si512()));
    if (kSpp == 4) {
      _mm256_mask_storeu_epi16(d + 32 * k, __mmask16(0x7777), out);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32 * k), out);
    }
  }
}

template <bool kGray, bool kGrain, int kSpp>
void Row16(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables16& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  __m512i spread[kSpp];
  for (int k = 0; k < kSpp; ++k) spread[k] = Spread16<kSpp>(k);
  const GrayShuffles16 shuffles = MakeGrayShuffles16<kSpp>();
  uint32_t st = *state;
  int32_t x = 0;
  for (; x + 32 <= width; x += 32, s += 64 * kSpp, d += 64 * kSpp) {
    __m512i g[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    if (kGrain) {
      const __m512i draws = Draws(gen, st);
      g[0] = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(draws)), t.grain, 4);
      g[1] = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(draws, 1)), t.grain, 4);
      st = st * kLaneSteps.a[31] + kLaneSteps.c[31];
    }
    for (int half = 0; half < 2; ++half) {
      const uint8_t* sh = s + 32 * kSpp * half;
      uint8_t* dh = d + 32 * kSpp * half;
      if (kGray) {
        GrayBlock8x16<kSpp>(sh, dh, t.grayCurve, _mm512_castsi512_si256(g[half]), shuffles);
        GrayBlock8x16<kSpp>(sh + 16 * kSpp, dh + 16 * kSpp, t.grayCurve,
                            _mm512_extracti64x4_epi64(g[half], 1), shuffles);
      } else {
        CurveBlock16x16<kSpp>(sh, dh, t, g[half], spread);
      }
    }
  }
  *state = st;
  LaneTail16<kGray, kGrain, kSpp>(s, d, width - x, t, state);
}

}  // namespace

ToneLaneRow ToneLaneRowAvx512(bool gray, bool grain, int32_t bytesPerPixel) {
  if (bytesPerPixel == 4) {
    if (gray) return grain ? Row<true, true, 4> : Row<true, false, 4>;
    return grain ? Row<false, true, 4> : Row<false, false, 4>;
  }
  if (gray) return grain ? Row<true, true, 3> : Row<true, false, 3>;
  return grain ? Row<false, true, 3> : Row<false, false, 3>;
}

ToneLaneRow16 ToneLaneRow16Avx512(bool gray, bool grain, int32_t samplesPerPixel) {
  if (samplesPerPixel == 4) {
    if (gray) return grain ? Row16<true, true, 4> : Row16<true, false, 4>;
    return grain ? Row16<false, true, 4> : Row16<false, false, 4>;
  }
  if (gray) return grain ? Row16<true, true, 3> : Row16<true, false, 3>;
  return grain ? Row16<false, true, 3> : Row16<false, false, 3>;
}

bool ToneLaneRemaindersAvx512(const uint16_t* draws, int32_t count, uint16_t modulus,
                              uint16_t* out) {
  const __m512i m = _mm512_set1_epi16(int16_t(modulus));
  const __m512i reciprocal = _mm512_set1_epi16(int16_t(65535 / modulus));
  for (int32_t i = 0; i + 32 <= count; i += 32) {
    const __m512i d = _mm512_loadu_si512(draws + i);
    _mm512_storeu_si512(out + i, Remainders(d, m, reciprocal));
  }
  return true;
}

#else

ToneLaneRow ToneLaneRowAvx512(bool, bool, int32_t) { return nullptr; }
ToneLaneRow16 ToneLaneRow16Avx512(bool, bool, int32_t) { return nullptr; }
bool ToneLaneRemaindersAvx512(const uint16_t*, int32_t, uint16_t, uint16_t*) { return false; }

#endif
