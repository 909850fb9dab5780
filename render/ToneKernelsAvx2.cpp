// The tone pass's rows in AVX2 (this file alone is built with -mavx2; the tone
// pass calls it only on a processor that runs it): the row of
// render/ToneRow.h on AVX2's ops. A block is 16 pixels: their draws, remainders
// and grain in 16-bit lanes, then two halves of 8 pixels whose gray sums, table
// look-ups (gathers), grain and clamp are whole vectors, with whole-vector loads
// and stores: AVX2's ops are in render/ToneOpsAvx2.h.
#include "render/ToneKernels.h"

#if defined(__AVX2__)

#include "render/ToneOpsAvx2.h"

namespace {

constexpr ToneRowSet kRows = MakeToneRows<Avx2Ops>(FieldRowAvx2);

}  // namespace

namespace {

// Eight pixels of a field row (see FieldRowAvx2), in 32-bit lanes, from the
// row's pairs (pairs[c] = cells[c] | cells[c + 1] << 16).
inline __m256i FieldEight(const int32_t* pairs, const int32_t* of, const int32_t* weights) {
  const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(of));
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights));
  __m256i two;
  if (of[7] - of[0] < 8) {
    const __m256i eight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + of[0]));
    two = _mm256_permutevar8x32_epi32(eight, _mm256_sub_epi32(at, _mm256_set1_epi32(of[0])));
  } else {
    two = _mm256_i32gather_epi32(reinterpret_cast<const int*>(pairs), at, 4);
  }
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(two, w), _mm256_set1_epi32(128)), 8);
}

}  // namespace

// The cells sixteen draws at a time, in two vectors of eight lanes of the
// generator each jumped ahead by its place, each draw's value by a gather
// (its low 16 bits: the value, the next value above them), the last repeated
// after them; then each cell beside the next in a 32-bit pair; then the pixels
// sixteen at a time: each pixel's pair times its weights in one multiply-add.
// Eight pixels whose cells lie within eight of the first's (cells as large as
// pixels or larger) take their pairs from the eight there by a permute; others
// gather them.
void FieldRowAvx2(uint32_t state, const int16_t* values, int32_t, int32_t gridWidth,
                  int32_t* scratch, const int32_t* cellOf, const int32_t* weights, int32_t width,
                  int16_t* out) {
  int16_t* const cells = reinterpret_cast<int16_t*>(scratch);  // gridWidth + 32 values
  int32_t* const pairs = scratch + gridWidth + 32;              // gridWidth + 16 used
  const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneSteps.a));
  const __m256i c0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneSteps.c));
  const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneSteps.a + 8));
  const __m256i c1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLaneSteps.c + 8));
  const __m256i st = _mm256_set1_epi32(int32_t(state));
  __m256i s0 = _mm256_add_epi32(_mm256_mullo_epi32(st, a0), c0);
  __m256i s1 = _mm256_add_epi32(_mm256_mullo_epi32(st, a1), c1);
  const __m256i a16 = _mm256_set1_epi32(int32_t(kLaneSteps.a[15]));
  const __m256i c16 = _mm256_set1_epi32(int32_t(kLaneSteps.c[15]));
  const __m256i draw = _mm256_set1_epi32(0x7FFF);
  const int* table = reinterpret_cast<const int*>(values);
  for (int32_t c = 0; c < gridWidth; c += 16) {
    const __m256i v0 = _mm256_i32gather_epi32(table, _mm256_and_si256(_mm256_srli_epi32(s0, 16), draw), 2);
    const __m256i v1 = _mm256_i32gather_epi32(table, _mm256_and_si256(_mm256_srli_epi32(s1, 16), draw), 2);
    const __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(v0, 16), 16),
                                              _mm256_srai_epi32(_mm256_slli_epi32(v1, 16), 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(cells + c), _mm256_permute4x64_epi64(packed, 0xD8));
    s0 = _mm256_add_epi32(_mm256_mullo_epi32(s0, a16), c16);
    s1 = _mm256_add_epi32(_mm256_mullo_epi32(s1, a16), c16);
  }
  for (int32_t c = gridWidth; c < gridWidth + 32; ++c) cells[c] = cells[gridWidth - 1];
  for (int32_t c = 0; c < gridWidth + 16; c += 8) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + c));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + c + 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairs + c),
                        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(here, next)),
                                                _mm_unpackhi_epi16(here, next), 1));
  }
  int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m256i lo = FieldEight(pairs, cellOf + x, weights + x);
    const __m256i hi = FieldEight(pairs, cellOf + x + 8, weights + x + 8);
    // The pack works in 128-bit halves: pixels 0-3, 8-11, 4-7, 12-15 back in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8));
  }
  FieldPixels(cells, cellOf, weights, x, width, out);
}

const ToneRowSet* ToneRowsAvx2() { return &kRows; }

#else

const ToneRowSet* ToneRowsAvx2() { return nullptr; }

#endif
