// The tone pass's rows in AVX-512 with VBMI (this file alone is built for AVX2
// and AVX-512 F, BW, VL and VBMI; the tone pass calls it only on a processor
// that runs them): AVX2's rows (render/ToneOpsAvx2.h), whose 8-bit rows first
// take runs of 64 pixels as bytes where the values are bytes
// (ToneLaneTables::valuesAreBytes): no gathers, every look-up a byte permute of
// a 256-byte table held in four registers, and the grain added with byte
// saturation. The 16-bit rows, and 8-bit values past a byte, are AVX2's.
//
// A run's grain comes from its four AVX2 blocks (render/ToneRow.h), packed to
// bytes: its positive part and its negative part, each saturated to 0..255.
// Without gray every byte of a pixel goes through the one curve, so each
// loaded vector is looked up whole and takes its pixels' grain bytes by a
// permute. With gray, the 64 pixels' gray levels come first, (r + g + b) * 683
// >> 11 (exactly the sum / 3 for every sum of three bytes), in one vector of
// bytes; each channel's table is looked up at the levels, the grain added, and
// the three channels interleaved back into the pixels' bytes by permutes.
#include "render/ToneKernels.h"

#if defined(__AVX2__) && defined(__AVX512F__) && defined(__AVX512BW__) && \
    defined(__AVX512VL__) && defined(__AVX512VBMI__)

// GCC 12's own AVX-512 header starts some results from an undefined vector, which
// it then warns of as uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "render/ToneOpsAvx2.h"

namespace {

const int kRunPixels = 64;

// The gray level of a sum of three bytes, without a division.
constexpr int LevelOfSum(int sum) { return (sum * 683) >> 11; }
constexpr bool LevelIsThirdOfEverySum() {
  for (int sum = 0; sum <= 3 * 255; ++sum) {
    if (LevelOfSum(sum) != sum / 3) return false;
  }
  return true;
}
static_assert(LevelIsThirdOfEverySum(), "the level must be the sum's whole third");

// Where pixel p (0..63) of a run stands in the run's grain bytes: blocks 0 and
// 1 packed together (each 128-bit part: 8 pixels of block 0, then 8 of block
// 1), then blocks 2 and 3 so in the upper half.
constexpr int GrainByteOf(int p) {
  const int block = p / 16, i = p % 16;
  return 32 * (block / 2) + 16 * (i / 8) + 8 * (block % 2) + i % 8;
}

// Where pixel p stands in the run's gray levels: pixels 16 m .. 16 m + 15 in
// the 32-bit lanes of part m, parts 0 and 1 packed to 16-bit lanes, 2 and 3
// too, then those two to bytes (each pack works per 128-bit part).
constexpr int LevelByteOf(int p) {
  const int m = p / 16, i = p % 16;
  return 16 * (i / 4) + 8 * (m / 2) + 4 * (m % 2) + i % 4;
}

// The permutes' indexes and masks, made once at compile time.
struct RunIndexes {
  // 3 bytes, gray: part m's pixels as red, green, blue, (0) from the two loaded
  // vectors m / 2 and m / 2 + 1.
  uint8_t parts3[4][64];
  // Gray: the grain bytes in the levels' order.
  uint8_t grainAtLevels[64];
  // Without gray: each stored byte's grain byte (3 and 4 bytes a pixel).
  uint8_t grain3[3][64];
  uint8_t grain4[4][64];
  // Gray: each stored byte's place among the levels, + 64 for green (a permute
  // of red and green together); the bytes that are blue take it from blue.
  uint8_t gray3[3][64];
  uint8_t gray4[4][64];
  uint64_t blue3[3];
  uint64_t blue4[4];
};

constexpr RunIndexes MakeRunIndexes() {
  RunIndexes r = {};
  const int offsets[4] = {0, 48, 32, 80};  // part m's first byte in its two vectors
  for (int m = 0; m < 4; ++m) {
    for (int i = 0; i < 16; ++i) {
      for (int c = 0; c < 4; ++c) r.parts3[m][4 * i + c] = uint8_t(c < 3 ? offsets[m] + 3 * i + c : 0);
    }
  }
  for (int p = 0; p < kRunPixels; ++p) r.grainAtLevels[LevelByteOf(p)] = uint8_t(GrainByteOf(p));
  for (int k = 0; k < 4; ++k) {
    for (int j = 0; j < 64; ++j) {
      const int n = 64 * k + j;
      if (k < 3) {
        r.grain3[k][j] = uint8_t(GrainByteOf(n / 3));
        r.gray3[k][j] = uint8_t(LevelByteOf(n / 3) + (n % 3 == 1 ? 64 : 0));
        if (n % 3 == 2) r.blue3[k] |= uint64_t(1) << j;
      }
      r.grain4[k][j] = uint8_t(GrainByteOf(n / 4));
      r.gray4[k][j] = uint8_t(LevelByteOf(n / 4) + (n % 4 == 1 ? 64 : 0));
      if (n % 4 == 2) r.blue4[k] |= uint64_t(1) << j;
    }
  }
  return r;
}
alignas(64) constexpr RunIndexes kRunIndexes = MakeRunIndexes();

inline __m512i Load64(const uint8_t* p) { return _mm512_loadu_si512(p); }
// 64 bytes of 3-byte pixels, or of 4-byte pixels whose fourth byte is the
// destination's.
template <int kBpp>
inline void Store64(uint8_t* p, __m512i v) {
  if (kBpp == 4) {
    _mm512_mask_storeu_epi8(p, __mmask64(0x7777777777777777ull), v);
  } else {
    _mm512_storeu_si512(p, v);
  }
}

// A 256-byte table in four registers, and its bytes at 64 indexes: the lower
// and the upper 128 by two-register permutes, the index's top bit choosing.
struct Table256 {
  __m512i q[4];
};
inline __m512i LookUp(const Table256& t, __m512i at, __mmask64 upper) {
  const __m512i lower = _mm512_permutex2var_epi8(t.q[0], at, t.q[1]);
  const __m512i higher = _mm512_permutex2var_epi8(t.q[2], at, t.q[3]);
  return _mm512_mask_blend_epi8(upper, lower, higher);
}

// v + g clamped to 0..255, for a byte v, with g as its saturated parts.
inline __m512i AddGrain(__m512i v, __m512i plus, __m512i minus) {
  return _mm512_subs_epu8(_mm512_adds_epu8(v, plus), minus);
}

struct Avx512VbmiOps : Avx2Ops {
  static constexpr int kByteBlocks = kRunPixels / Avx2Ops::kPixels;

  struct ByteTables {
    Table256 channel[3];  // gray: red, green, blue by level; else [0], the curve
  };
  template <bool kGray>
  __attribute__((always_inline)) static ByteTables LoadByteTables(const ToneLaneTables& t) {
    ByteTables b = {};
    for (int c = 0; c < (kGray ? 3 : 1); ++c) {
      const uint8_t* table = kGray ? t.grayBytes[c] : t.curveBytes;
      for (int q = 0; q < 4; ++q) b.channel[c].q[q] = _mm512_load_si512(table + 64 * q);
    }
    return b;
  }

  template <bool kGray, int kBpp>
  __attribute__((always_inline)) static void ByteRun(const uint8_t* s, uint8_t* d, const ByteTables& t, const V16* g) {
    const RunIndexes& x = kRunIndexes;
    // The grain's positive and negative parts as bytes (packs saturate to 0..255).
    const __m256i zero = _mm256_setzero_si256();
    const __m512i plus = _mm512_inserti64x4(_mm512_castsi256_si512(_mm256_packus_epi16(g[0], g[1])),
                                            _mm256_packus_epi16(g[2], g[3]), 1);
    const __m512i minus = _mm512_inserti64x4(
        _mm512_castsi256_si512(_mm256_packus_epi16(_mm256_subs_epi16(zero, g[0]), _mm256_subs_epi16(zero, g[1]))),
        _mm256_packus_epi16(_mm256_subs_epi16(zero, g[2]), _mm256_subs_epi16(zero, g[3])), 1);
    __m512i in[kBpp];
#pragma GCC unroll 4
    for (int k = 0; k < kBpp; ++k) in[k] = Load64(s + 64 * k);
    if (!kGray) {
#pragma GCC unroll 4
      for (int k = 0; k < kBpp; ++k) {
        const __m512i at = Load64(kBpp == 3 ? x.grain3[k] : x.grain4[k]);
        const __m512i v = LookUp(t.channel[0], in[k], _mm512_movepi8_mask(in[k]));
        const __m512i out = AddGrain(v, _mm512_permutexvar_epi8(at, plus), _mm512_permutexvar_epi8(at, minus));
        Store64<kBpp>(d + 64 * k, out);
      }
      return;
    }
    // Each part's sums, r + g and b (+ 0) in 16-bit lanes, then times 683 in 32.
    const __m512i ones = kBpp == 4 ? _mm512_set1_epi32(0x00010101) : _mm512_set1_epi8(1);
    const __m512i third = _mm512_set1_epi16(683);
    __m512i level32[4];
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
      __m512i pixels;
      if constexpr (kBpp == 4) {
        pixels = in[m];
      } else {
        pixels = _mm512_maskz_permutex2var_epi8(__mmask64(0x7777777777777777ull), in[m / 2],
                                                Load64(x.parts3[m]), in[m / 2 + 1]);
      }
      level32[m] = _mm512_srli_epi32(_mm512_madd_epi16(_mm512_maddubs_epi16(pixels, ones), third), 11);
    }
    const __m512i levels = _mm512_packus_epi16(_mm512_packus_epi32(level32[0], level32[1]),
                                               _mm512_packus_epi32(level32[2], level32[3]));
    const __mmask64 upper = _mm512_movepi8_mask(levels);
    const __m512i at = Load64(x.grainAtLevels);
    const __m512i plusAt = _mm512_permutexvar_epi8(at, plus), minusAt = _mm512_permutexvar_epi8(at, minus);
    const __m512i red = AddGrain(LookUp(t.channel[0], levels, upper), plusAt, minusAt);
    const __m512i green = AddGrain(LookUp(t.channel[1], levels, upper), plusAt, minusAt);
    const __m512i blue = AddGrain(LookUp(t.channel[2], levels, upper), plusAt, minusAt);
#pragma GCC unroll 4
    for (int k = 0; k < kBpp; ++k) {
      const __m512i place = Load64(kBpp == 3 ? x.gray3[k] : x.gray4[k]);
      const __m512i redGreen = _mm512_permutex2var_epi8(red, place, green);
      const __m512i out =
          _mm512_mask_permutexvar_epi8(redGreen, kBpp == 3 ? x.blue3[k] : x.blue4[k], place, blue);
      Store64<kBpp>(d + 64 * k, out);
    }
  }
};

// A field row (see FieldRowMaker in render/ToneKernels.h) in 512-bit lanes:
// the cells 32 draws at a time, each draw's value by a permute of the values'
// first 64 where they repeat within them (the draw's remainder by the period
// in 16-bit lanes, exact as the tone rows' is), else by a gather; each cell
// beside the next in a 32-bit pair; then the pixels 16 at a time, each pixel's
// pair times its weights in one multiply-add, the pairs of 16 pixels whose
// cells lie within 16 of the first's by a permute, others by a gather.
void FieldRowAvx512Vbmi(uint32_t state, const int16_t* values, int32_t period, int32_t gridWidth,
                        int32_t* scratch, const int32_t* cellOf, const int32_t* weights,
                        int32_t width, int16_t* out) {
  int16_t* const cells = reinterpret_cast<int16_t*>(scratch);  // gridWidth + 32 values
  int32_t* const pairs = scratch + gridWidth + 32;              // gridWidth + 32 used
  const __m512i a0 = _mm512_loadu_si512(kLaneSteps.a), c0 = _mm512_loadu_si512(kLaneSteps.c);
  const __m512i a1 = _mm512_loadu_si512(kLaneSteps.a + 16), c1 = _mm512_loadu_si512(kLaneSteps.c + 16);
  const __m512i st = _mm512_set1_epi32(int32_t(state));
  __m512i s0 = _mm512_add_epi32(_mm512_mullo_epi32(st, a0), c0);
  __m512i s1 = _mm512_add_epi32(_mm512_mullo_epi32(st, a1), c1);
  const __m512i a32 = _mm512_set1_epi32(int32_t(kLaneSteps.a[31]));
  const __m512i c32 = _mm512_set1_epi32(int32_t(kLaneSteps.c[31]));
  const __m512i draw = _mm512_set1_epi32(0x7FFF);
  const bool permuted = period >= 1 && period <= 64;
  const __m512i low = _mm512_loadu_si512(values), high = _mm512_loadu_si512(values + 32);
  const __m512i modulus = _mm512_set1_epi16(int16_t(permuted ? period : 1));
  const __m512i reciprocal = _mm512_set1_epi16(int16_t(uint16_t(65535 / (permuted ? period : 1))));
  for (int32_t c = 0; c < gridWidth; c += 32) {
    const __m512i d0 = _mm512_and_si512(_mm512_srli_epi32(s0, 16), draw);
    const __m512i d1 = _mm512_and_si512(_mm512_srli_epi32(s1, 16), draw);
    __m512i v;
    if (permuted) {
      const __m512i d = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(d0)),
                                           _mm512_cvtepi32_epi16(d1), 1);
      const __m512i q = _mm512_mulhi_epu16(d, reciprocal);
      const __m512i r = _mm512_sub_epi16(d, _mm512_mullo_epi16(q, modulus));
      v = _mm512_permutex2var_epi16(low, _mm512_min_epu16(r, _mm512_sub_epi16(r, modulus)), high);
    } else {
      const int* table = reinterpret_cast<const int*>(values);
      v = _mm512_inserti64x4(
          _mm512_castsi256_si512(_mm512_cvtepi32_epi16(_mm512_i32gather_epi32(d0, table, 2))),
          _mm512_cvtepi32_epi16(_mm512_i32gather_epi32(d1, table, 2)), 1);
    }
    _mm512_storeu_si512(cells + c, v);
    s0 = _mm512_add_epi32(_mm512_mullo_epi32(s0, a32), c32);
    s1 = _mm512_add_epi32(_mm512_mullo_epi32(s1, a32), c32);
  }
  for (int32_t c = gridWidth; c < gridWidth + 32; ++c) cells[c] = cells[gridWidth - 1];
  for (int32_t c = 0; c < gridWidth + 16; c += 16) {
    const __m512i here = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + c)));
    const __m512i next = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells + c + 1)));
    _mm512_storeu_si512(pairs + c, _mm512_or_si512(here, _mm512_slli_epi32(next, 16)));
  }
  const __m512i half = _mm512_set1_epi32(128);
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m512i at = _mm512_loadu_si512(cellOf + x);
    __m512i two;
    if (cellOf[x + 15] - cellOf[x] < 16) {
      two = _mm512_permutexvar_epi32(_mm512_sub_epi32(at, _mm512_set1_epi32(cellOf[x])),
                                     _mm512_loadu_si512(pairs + cellOf[x]));
    } else {
      two = _mm512_i32gather_epi32(at, pairs, 4);
    }
    const __m512i v = _mm512_srai_epi32(
        _mm512_add_epi32(_mm512_madd_epi16(two, _mm512_loadu_si512(weights + x)), half), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm512_cvtsepi32_epi16(v));
  }
  FieldPixels(cells, cellOf, weights, x, width, out);
}

constexpr ToneRowSet kRows = MakeToneRows<Avx512VbmiOps>(FieldRowAvx512Vbmi);

}  // namespace

const ToneRowSet* ToneRowsAvx512Vbmi() { return &kRows; }

#else

const ToneRowSet* ToneRowsAvx512Vbmi() { return nullptr; }

#endif
