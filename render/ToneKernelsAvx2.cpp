// The tone pass's rows in AVX2 (this file alone is built with -mavx2; the tone
// pass calls it only on a processor that runs it). A block is 16 pixels: their
// 16 draws from the generator jumped ahead in 32-bit lanes, their remainders
// and grain in 16-bit lanes, then two halves of 8 pixels whose gray sums, table
// look-ups (gathers), grain and clamp are whole vectors, with whole-vector loads
// and stores. The last pixels of a row go through the scalar tail.
#include "render/ToneKernels.h"

#if defined(__AVX2__)

#include <immintrin.h>

#include "render/ToneKernelTail.h"

namespace {

// The generator's state of a block's pixels in two vectors of 32-bit lanes: the
// first holds pixels 0-3 and 8-11, the second 4-7 and 12-15, so that packing the
// two (per 128-bit half) puts the 16 draws in pixel order.
struct Generator {
  __m256i a0, c0, a1, c1;
};

Generator MakeGenerator() {
  static const int kFirst[8] = {0, 1, 2, 3, 8, 9, 10, 11};
  Generator g;
  alignas(32) uint32_t a0[8], c0[8], a1[8], c1[8];
  for (int i = 0; i < 8; ++i) {
    a0[i] = kLaneSteps.a[kFirst[i]];
    c0[i] = kLaneSteps.c[kFirst[i]];
    a1[i] = kLaneSteps.a[kFirst[i] + 4];
    c1[i] = kLaneSteps.c[kFirst[i] + 4];
  }
  g.a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a0));
  g.c0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c0));
  g.a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a1));
  g.c1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c1));
  return g;
}

// The 16 draws (bits 16..30 of each state) after the state `st`.
inline __m256i Draws(const Generator& g, uint32_t st) {
  const __m256i s = _mm256_set1_epi32(int32_t(st));
  const __m256i s0 = _mm256_add_epi32(_mm256_mullo_epi32(s, g.a0), g.c0);
  const __m256i s1 = _mm256_add_epi32(_mm256_mullo_epi32(s, g.a1), g.c1);
  const __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(s0, 16), _mm256_srai_epi32(s1, 16));
  return _mm256_and_si256(packed, _mm256_set1_epi16(0x7FFF));
}

struct GrainLanes {
  __m256i modulus, reciprocal, floorHalf, ceilHalfLess1;
};

GrainLanes MakeGrainLanes(const ToneLaneTables& t) {
  GrainLanes g;
  g.modulus = _mm256_set1_epi16(int16_t(t.modulus));
  g.reciprocal = _mm256_set1_epi16(int16_t(t.reciprocal));
  g.floorHalf = _mm256_set1_epi16(t.floorHalf);
  g.ceilHalfLess1 = _mm256_set1_epi16(t.ceilHalfLess1);
  return g;
}

// d mod m for 16 draws (see ToneKernels.h for why one correction suffices).
inline __m256i Remainders(__m256i d, __m256i m, __m256i reciprocal) {
  const __m256i q = _mm256_mulhi_epu16(d, reciprocal);
  const __m256i r = _mm256_sub_epi16(d, _mm256_mullo_epi16(q, m));
  // r - m wraps above r when r < m.
  return _mm256_min_epu16(r, _mm256_sub_epi16(r, m));
}

inline __m256i Grain(__m256i draws, const GrainLanes& g) {
  const __m256i r = Remainders(draws, g.modulus, g.reciprocal);
  // cmpgt gives -1 where r is above half.
  return _mm256_add_epi16(_mm256_sub_epi16(r, g.floorHalf), _mm256_cmpgt_epi16(r, g.ceilHalfLess1));
}

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

// The values of 8 pixels in two vectors of four 16-bit lanes per pixel: `a` holds
// pixels 0, 1, 4, 5 and `b` 2, 3, 6, 7, so that one pack per 128-bit half puts
// the bytes in pixel order.
template <bool kGray, int kBpp>
inline void Values8(const uint8_t* s, const ToneLaneTables& t, __m256i* a, __m256i* b) {
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

// 8 pixels from s to d with the grain of g8 (16-bit lanes, pixel order).
template <bool kGray, int kBpp>
inline void Block8(const uint8_t* s, uint8_t* d, const ToneLaneTables& t, __m128i g8) {
  __m256i a, b;
  Values8<kGray, kBpp>(s, t, &a, &b);
  const __m256i g = _mm256_broadcastsi128_si256(g8);
  // Each pixel's grain over its four lanes, in the order of a and of b.
  const __m256i ga = _mm256_shuffle_epi8(g, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3,
                                                             8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, 10, 11));
  const __m256i gb = _mm256_shuffle_epi8(g, _mm256_setr_epi8(4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 6, 7,
                                                             12, 13, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15, 14, 15));
  // Signed saturation, then the pack's clamp to 0..255, is the clamp of the sum.
  const __m256i out = _mm256_packus_epi16(_mm256_adds_epi16(a, ga), _mm256_adds_epi16(b, gb));
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

template <bool kGray, bool kGrain, int kBpp>
void Row(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  const GrainLanes lanes = MakeGrainLanes(t);
  // With 3 bytes the loads and stores reach 8 bytes past a block: 3 pixels more.
  const int32_t blockEnd = width - (kBpp == 3 ? 19 : 16);
  uint32_t st = *state;
  int32_t x = 0;
  for (; x <= blockEnd; x += 16, s += 16 * kBpp, d += 16 * kBpp) {
    __m256i g = _mm256_setzero_si256();
    if (kGrain) {
      g = Grain(Draws(gen, st), lanes);
      st = st * kLaneSteps.a[15] + kLaneSteps.c[15];
    }
    Block8<kGray, kBpp>(s, d, t, _mm256_castsi256_si128(g));
    Block8<kGray, kBpp>(s + 8 * kBpp, d + 8 * kBpp, t, _mm256_extracti128_si256(g, 1));
  }
  *state = st;
  LaneTail<kGray, kGrain, kBpp>(s, d, width - x, t, state);
}

// 16-bit rows, 8 pixels at a time. With gray, GrayBlock8x16
// (render/ToneKernelTail.h); without, the 24 or 32 samples are three or four
// vectors of 32-bit lanes, each lane one sample's curve by a gather, with
// Spread(k) giving each lane of vector k its pixel (0..7) for the grain (the
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

template <bool kGray, bool kGrain, int kSpp>
void Row16(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables16& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  const GrayShuffles16 shuffles = MakeGrayShuffles16<kSpp>();
  uint32_t st = *state;
  int32_t x = 0;
  for (; x + 16 <= width; x += 16, s += 32 * kSpp, d += 32 * kSpp) {
    __m256i g0 = _mm256_setzero_si256(), g1 = g0;
    if (kGrain) {
      const __m256i draws = Draws(gen, st);
      g0 = _mm256_i32gather_epi32(t.grain, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(draws)), 4);
      g1 = _mm256_i32gather_epi32(t.grain, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(draws, 1)), 4);
      st = st * kLaneSteps.a[15] + kLaneSteps.c[15];
    }
    if (kGray) {
      GrayBlock8x16<kSpp>(s, d, t.grayCurve, g0, shuffles);
      GrayBlock8x16<kSpp>(s + 16 * kSpp, d + 16 * kSpp, t.grayCurve, g1, shuffles);
    } else {
      CurveBlock8x16<kSpp>(s, d, t, g0);
      CurveBlock8x16<kSpp>(s + 16 * kSpp, d + 16 * kSpp, t, g1);
    }
  }
  *state = st;
  LaneTail16<kGray, kGrain, kSpp>(s, d, width - x, t, state);
}

}  // namespace

ToneLaneRow ToneLaneRowAvx2(bool gray, bool grain, int32_t bytesPerPixel) {
  if (bytesPerPixel == 4) {
    if (gray) return grain ? Row<true, true, 4> : Row<true, false, 4>;
    return grain ? Row<false, true, 4> : Row<false, false, 4>;
  }
  if (gray) return grain ? Row<true, true, 3> : Row<true, false, 3>;
  return grain ? Row<false, true, 3> : Row<false, false, 3>;
}

ToneLaneRow16 ToneLaneRow16Avx2(bool gray, bool grain, int32_t samplesPerPixel) {
  if (samplesPerPixel == 4) {
    if (gray) return grain ? Row16<true, true, 4> : Row16<true, false, 4>;
    return grain ? Row16<false, true, 4> : Row16<false, false, 4>;
  }
  if (gray) return grain ? Row16<true, true, 3> : Row16<true, false, 3>;
  return grain ? Row16<false, true, 3> : Row16<false, false, 3>;
}

bool ToneLaneRemaindersAvx2(const uint16_t* draws, int32_t count, uint16_t modulus,
                            uint16_t* out) {
  const __m256i m = _mm256_set1_epi16(int16_t(modulus));
  const __m256i reciprocal = _mm256_set1_epi16(int16_t(65535 / modulus));
  for (int32_t i = 0; i + 16 <= count; i += 16) {
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(draws + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), Remainders(d, m, reciprocal));
  }
  return true;
}

#else

ToneLaneRow ToneLaneRowAvx2(bool, bool, int32_t) { return nullptr; }
ToneLaneRow16 ToneLaneRow16Avx2(bool, bool, int32_t) { return nullptr; }
bool ToneLaneRemaindersAvx2(const uint16_t*, int32_t, uint16_t, uint16_t*) { return false; }

#endif
