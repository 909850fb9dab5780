// The tone pass's rows in SSE2 (every x86-64, and the 32-bit module's floor):
// the row of render/ToneRow.h on SSE2's ops. A block is 8 pixels: their draws,
// remainders and grain in 16-bit lanes, then two halves of four pixels whose
// values are two pixels per vector (one 8-byte load per pixel with gray),
// clamped by saturation and stored whole. 16-bit samples take the block's
// draws from the lanes, then each pixel's look-ups and stores one at a time
// (SSE2 has no gathers).
#include "render/ToneKernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include "render/ToneRow.h"

namespace {

struct Sse2Ops : PixelByPixel16 {
  typedef __m128i V16;
  typedef __m128i V32;
  typedef __m128i V;
  static const int32_t kPixels = 8;
  // With 3 bytes the last store reaches 4 bytes past a block: 2 pixels more.
  static constexpr int32_t Overreach(int bpp) { return bpp == 3 ? 2 : 0; }

  static V16 Set1_16(int32_t v) { return _mm_set1_epi16(int16_t(v)); }
  static V32 Set1_32(uint32_t v) { return _mm_set1_epi32(int32_t(v)); }
  static V16 Zero16() { return _mm_setzero_si128(); }
  static V16 LoadU16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static V32 LoadU32(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void StoreU16(void* p, V16 v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static V16 Add16(V16 a, V16 b) { return _mm_add_epi16(a, b); }
  static V16 Sub16(V16 a, V16 b) { return _mm_sub_epi16(a, b); }
  static V16 MulLo16(V16 a, V16 b) { return _mm_mullo_epi16(a, b); }
  static V16 MulHiU16(V16 a, V16 b) { return _mm_mulhi_epu16(a, b); }
  // SSE2 has no unsigned 16-bit minimum: a - max(a - b, 0).
  static V16 MinU16(V16 a, V16 b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
  static V16 CmpGt16(V16 a, V16 b) { return _mm_cmpgt_epi16(a, b); }
  static V16 And16(V16 a, V16 b) { return _mm_and_si128(a, b); }
  // SSE2 multiplies only even 32-bit lanes: the odd ones are moved down.
  static V32 MulLo32(V32 a, V32 b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
  }
  static V32 Add32(V32 a, V32 b) { return _mm_add_epi32(a, b); }
  static V32 Sra16By16(V32 a) { return _mm_srai_epi32(a, 16); }
  static V16 PackS32(V32 a, V32 b) { return _mm_packs_epi32(a, b); }
  static V32 UnpackLo16(V16 a, V16 b) { return _mm_unpacklo_epi16(a, b); }
  static V32 UnpackHi16(V16 a, V16 b) { return _mm_unpackhi_epi16(a, b); }
  static V32 MAdd16(V32 a, V32 b) { return _mm_madd_epi16(a, b); }
  static V32 Sra32By12(V32 a) { return _mm_srai_epi32(a, 12); }
  static V AddS16(V a, V b) { return _mm_adds_epi16(a, b); }
  static V PackUS16(V a, V b) { return _mm_packus_epi16(a, b); }

  // Two pixels' red, green, blue (and 0) in four 16-bit lanes each.
  template <bool kGray, int kBpp>
  static __m128i Pixels2(const uint8_t* s, const ToneLaneTables& t) {
    if (kGray) {
      const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.gray[s[0] + s[1] + s[2]]));
      const uint8_t* n = s + kBpp;
      return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(first),
                                           reinterpret_cast<const double*>(t.gray[n[0] + n[1] + n[2]])));
    }
    return _mm_unpacklo_epi64(CurvePixel(s, t), CurvePixel(s + kBpp, t));
  }
  static __m128i CurvePixel(const uint8_t* s, const ToneLaneTables& t) {
    const __m128i rg = _mm_cvtsi32_si128(
        int32_t(uint32_t(uint16_t(t.curve[s[0]])) | uint32_t(uint16_t(t.curve[s[1]])) << 16));
    return _mm_insert_epi16(rg, t.curve[s[2]], 2);
  }
  // Half a block, four pixels: a holds pixels 0-1, b 2-3.
  template <bool kGray, int kBpp>
  static void Values8(const uint8_t* s, const ToneLaneTables& t, V* a, V* b) {
    *a = Pixels2<kGray, kBpp>(s, t);
    *b = Pixels2<kGray, kBpp>(s + 2 * kBpp, t);
  }
  // Each pixel's grain over its four lanes, in the order of a and of b.
  static void SpreadGrain8(V16 g, int half, V* ga, V* gb) {
    const __m128i four = half == 0 ? _mm_unpacklo_epi16(g, g) : _mm_unpackhi_epi16(g, g);
    *ga = _mm_unpacklo_epi32(four, four);
    *gb = _mm_unpackhi_epi32(four, four);
  }
  template <int kBpp>
  static void StoreBytes(uint8_t* d, V out) {
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

  // 16-bit samples pixel by pixel (PixelByPixel16, render/ToneRow.h): the
  // draws stored as the block's indexes into the grain table.
  static Grain16 GrainOfDraws16(const int32_t* table, V16 draws) {
    Grain16 g;
    g.values = table;
    _mm_store_si128(reinterpret_cast<__m128i*>(g.index), draws);
    return g;
  }
};

constexpr ToneRowSet kRows = MakeToneRows<Sse2Ops>();

}  // namespace

const ToneRowSet* ToneRowsSse2() { return &kRows; }

#else

const ToneRowSet* ToneRowsSse2() { return nullptr; }

#endif
