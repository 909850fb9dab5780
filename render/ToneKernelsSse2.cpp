// The tone pass's rows in SSE2 (every x86-64, and the 32-bit module's floor). A
// block is 8 pixels: their 8 draws from the generator jumped ahead in 32-bit
// lanes, their remainders and grain in 16-bit lanes, then the values of two
// pixels per vector (one 8-byte load per pixel with gray), the grain added and
// clamped by saturation for four pixels at a time, and whole-vector stores. The
// last pixels of a row go through the scalar tail.
#include "render/ToneKernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include "render/ToneKernelTail.h"

namespace {

// The low 32 bits of st times each lane of a (SSE2 multiplies only even lanes;
// aOdd is a's odd lanes moved down).
inline __m128i MulLow32(__m128i st, __m128i a, __m128i aOdd) {
  const __m128i even = _mm_mul_epu32(st, a);
  const __m128i odd = _mm_mul_epu32(st, aOdd);
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
}

// The generator's state of a block's pixels 0-3 and 4-7 in 32-bit lanes.
struct Generator {
  __m128i a0, a0odd, c0, a1, a1odd, c1;
};

Generator MakeGenerator() {
  Generator g;
  const LaneSteps& k = kLaneSteps;
  g.a0 = _mm_setr_epi32(int32_t(k.a[0]), int32_t(k.a[1]), int32_t(k.a[2]), int32_t(k.a[3]));
  g.c0 = _mm_setr_epi32(int32_t(k.c[0]), int32_t(k.c[1]), int32_t(k.c[2]), int32_t(k.c[3]));
  g.a1 = _mm_setr_epi32(int32_t(k.a[4]), int32_t(k.a[5]), int32_t(k.a[6]), int32_t(k.a[7]));
  g.c1 = _mm_setr_epi32(int32_t(k.c[4]), int32_t(k.c[5]), int32_t(k.c[6]), int32_t(k.c[7]));
  g.a0odd = _mm_srli_epi64(g.a0, 32);
  g.a1odd = _mm_srli_epi64(g.a1, 32);
  return g;
}

// The 8 draws (bits 16..30 of each state) after the state `st`.
inline __m128i Draws(const Generator& g, uint32_t st) {
  const __m128i s = _mm_set1_epi32(int32_t(st));
  const __m128i s0 = _mm_add_epi32(MulLow32(s, g.a0, g.a0odd), g.c0);
  const __m128i s1 = _mm_add_epi32(MulLow32(s, g.a1, g.a1odd), g.c1);
  const __m128i packed = _mm_packs_epi32(_mm_srai_epi32(s0, 16), _mm_srai_epi32(s1, 16));
  return _mm_and_si128(packed, _mm_set1_epi16(0x7FFF));
}

struct GrainLanes {
  __m128i modulus, modulusLess1, reciprocal, floorHalf, ceilHalfLess1;
};

GrainLanes MakeGrainLanes(const ToneLaneTables& t) {
  GrainLanes g;
  g.modulus = _mm_set1_epi16(int16_t(t.modulus));
  g.modulusLess1 = _mm_set1_epi16(int16_t(t.modulus - 1));
  g.reciprocal = _mm_set1_epi16(int16_t(t.reciprocal));
  g.floorHalf = _mm_set1_epi16(t.floorHalf);
  g.ceilHalfLess1 = _mm_set1_epi16(t.ceilHalfLess1);
  return g;
}

// d mod m for 8 draws (see ToneKernels.h for why one correction suffices; r and
// m - 1 are at most 32767, so a signed compare finds r >= m).
inline __m128i Remainders(__m128i d, const GrainLanes& g) {
  const __m128i q = _mm_mulhi_epu16(d, g.reciprocal);
  const __m128i r = _mm_sub_epi16(d, _mm_mullo_epi16(q, g.modulus));
  return _mm_sub_epi16(r, _mm_and_si128(_mm_cmpgt_epi16(r, g.modulusLess1), g.modulus));
}

inline __m128i Grain(__m128i draws, const GrainLanes& g) {
  const __m128i r = Remainders(draws, g);
  return _mm_add_epi16(_mm_sub_epi16(r, g.floorHalf), _mm_cmpgt_epi16(r, g.ceilHalfLess1));
}

// One pixel's red, green, blue (and 0) in the low four 16-bit lanes.
template <bool kGray>
inline __m128i Pixel(const uint8_t* s, const ToneLaneTables& t) {
  if (kGray) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.gray[s[0] + s[1] + s[2]]));
  }
  const __m128i rg = _mm_cvtsi32_si128(
      int32_t(uint32_t(uint16_t(t.curve[s[0]])) | uint32_t(uint16_t(t.curve[s[1]])) << 16));
  return _mm_insert_epi16(rg, t.curve[s[2]], 2);
}

template <bool kGray, int kBpp>
inline __m128i Pixels2(const uint8_t* s, const ToneLaneTables& t) {
  if (kGray) {
    const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.gray[s[0] + s[1] + s[2]]));
    const uint8_t* n = s + kBpp;
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(first),
                                         reinterpret_cast<const double*>(t.gray[n[0] + n[1] + n[2]])));
  }
  return _mm_unpacklo_epi64(Pixel<kGray>(s, t), Pixel<kGray>(s + kBpp, t));
}

// Four pixels from s to d; g holds their grain, each over its four lanes, for
// pixels 0-1 and 2-3.
template <bool kGray, int kBpp>
inline void Block4(const uint8_t* s, uint8_t* d, const ToneLaneTables& t, __m128i g01, __m128i g23) {
  // Signed saturation, then the pack's clamp to 0..255, is the clamp of the sum.
  const __m128i out = _mm_packus_epi16(_mm_adds_epi16(Pixels2<kGray, kBpp>(s, t), g01),
                                       _mm_adds_epi16(Pixels2<kGray, kBpp>(s + 2 * kBpp, t), g23));
  if (kBpp == 4) {
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_or_si128(_mm_andnot_si128(alpha, out), _mm_and_si128(old, alpha)));
  } else {
    // Each 8-byte half's two pixels to its low 6 bytes, then the high half's
    // next to the low one's: 12 bytes, and 4 the next pixels overwrite.
    const __m128i first = _mm_set1_epi64x(0x00FFFFFF);
    const __m128i second = _mm_set1_epi64x(0xFFFFFF000000);
    const __m128i halves = _mm_or_si128(_mm_and_si128(out, first),
                                        _mm_and_si128(_mm_srli_epi64(out, 8), second));
    const __m128i six = _mm_setr_epi32(0, int32_t(0xFFFF0000u), -1, -1);
    const __m128i packed = _mm_or_si128(_mm_move_epi64(halves),
                                        _mm_and_si128(_mm_srli_si128(halves, 2), six));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), packed);
  }
}

template <bool kGray, bool kGrain, int kBpp>
void Row(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  const GrainLanes lanes = MakeGrainLanes(t);
  // With 3 bytes the last store reaches 4 bytes past a block: 2 pixels more.
  const int32_t blockEnd = width - (kBpp == 3 ? 10 : 8);
  uint32_t st = *state;
  int32_t x = 0;
  for (; x <= blockEnd; x += 8, s += 8 * kBpp, d += 8 * kBpp) {
    __m128i g = _mm_setzero_si128();
    if (kGrain) {
      g = Grain(Draws(gen, st), lanes);
      st = st * kLaneSteps.a[7] + kLaneSteps.c[7];
    }
    const __m128i lo = _mm_unpacklo_epi16(g, g);  // pixels 0-3, each twice
    const __m128i hi = _mm_unpackhi_epi16(g, g);  // pixels 4-7
    Block4<kGray, kBpp>(s, d, t, _mm_unpacklo_epi32(lo, lo), _mm_unpackhi_epi32(lo, lo));
    Block4<kGray, kBpp>(s + 4 * kBpp, d + 4 * kBpp, t, _mm_unpacklo_epi32(hi, hi),
                        _mm_unpackhi_epi32(hi, hi));
  }
  *state = st;
  LaneTail<kGray, kGrain, kBpp>(s, d, width - x, t, state);
}

// 16-bit rows: the block's 8 draws from the lanes, then each pixel's look-ups
// and stores one at a time, as the tail does (SSE2 has no gathers).
template <bool kGray, bool kGrain, int kSpp>
void Row16(const uint8_t* s, uint8_t* d, int32_t width, const ToneLaneTables16& t, uint32_t* state) {
  const Generator gen = MakeGenerator();
  uint32_t st = *state;
  int32_t x = 0;
  for (; x + 8 <= width; x += 8, s += 16 * kSpp, d += 16 * kSpp) {
    alignas(16) uint16_t draws[8] = {0};
    if (kGrain) {
      _mm_store_si128(reinterpret_cast<__m128i*>(draws), Draws(gen, st));
      st = st * kLaneSteps.a[7] + kLaneSteps.c[7];
    }
    for (int p = 0; p < 8; ++p) {
      const uint8_t* sp = s + 2 * kSpp * p;
      uint8_t* dp = d + 2 * kSpp * p;
      const int32_t g = kGrain ? t.grain[draws[p]] : 0;
      const uint32_t red = LaneSample16(sp), green = LaneSample16(sp + 2), blue = LaneSample16(sp + 4);
      if (kGray) {
        const int32_t* v = t.grayCurve + 4 * ((red + green + blue) / 3);
        LaneStore16(dp, v[0] + g);
        LaneStore16(dp + 2, v[1] + g);
        LaneStore16(dp + 4, v[2] + g);
      } else {
        LaneStore16(dp, t.curve[red] + g);
        LaneStore16(dp + 2, t.curve[green] + g);
        LaneStore16(dp + 4, t.curve[blue] + g);
      }
    }
  }
  *state = st;
  LaneTail16<kGray, kGrain, kSpp>(s, d, width - x, t, state);
}

}  // namespace

ToneLaneRow ToneLaneRowSse2(bool gray, bool grain, int32_t bytesPerPixel) {
  if (bytesPerPixel == 4) {
    if (gray) return grain ? Row<true, true, 4> : Row<true, false, 4>;
    return grain ? Row<false, true, 4> : Row<false, false, 4>;
  }
  if (gray) return grain ? Row<true, true, 3> : Row<true, false, 3>;
  return grain ? Row<false, true, 3> : Row<false, false, 3>;
}

ToneLaneRow16 ToneLaneRow16Sse2(bool gray, bool grain, int32_t samplesPerPixel) {
  if (samplesPerPixel == 4) {
    if (gray) return grain ? Row16<true, true, 4> : Row16<true, false, 4>;
    return grain ? Row16<false, true, 4> : Row16<false, false, 4>;
  }
  if (gray) return grain ? Row16<true, true, 3> : Row16<true, false, 3>;
  return grain ? Row16<false, true, 3> : Row16<false, false, 3>;
}

bool ToneLaneRemaindersSse2(const uint16_t* draws, int32_t count, uint16_t modulus,
                            uint16_t* out) {
  ToneLaneTables t;
  t.modulus = modulus;
  t.reciprocal = uint16_t(65535 / modulus);
  t.floorHalf = 0;
  t.ceilHalfLess1 = 0;
  const GrainLanes g = MakeGrainLanes(t);
  for (int32_t i = 0; i + 8 <= count; i += 8) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(draws + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), Remainders(d, g));
  }
  return true;
}

#else

ToneLaneRow ToneLaneRowSse2(bool, bool, int32_t) { return nullptr; }
ToneLaneRow16 ToneLaneRow16Sse2(bool, bool, int32_t) { return nullptr; }
bool ToneLaneRemaindersSse2(const uint16_t*, int32_t, uint16_t, uint16_t*) { return false; }

#endif
