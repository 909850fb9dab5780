// The tone pass: every picture row of the destination from its (jittered) source
// row, through gray and tint, the film-response curve and grain; the other rows
// get their background.
//
// Per pixel this is only table look-ups. Every input of the curve is a whole
// number, so per call we tabulate trunc(pow(v / 255, toneExponent) * 255) exactly,
// and the grain of each of the 32768 possible draws. Draws: one per pixel of the
// picture rows, row by row, left to right, and only when grainRange > 0.
//
// Rows depend on nothing but their source row and the generator, so the band
// runner (render/RenderThreads.h) runs them in bands on several threads: a band
// starts from the generator jumped ahead by the draws of the picture rows above
// it, and gives the bytes one thread gives.
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/RenderThreads.h"
#include "render/ToneKernels.h"

namespace {

// A channel whose power is infinite (pow(0, e) with e < 0) is stored as 0 whatever
// the grain adds; this value keeps it below 0 through any grain (grain <= 32767).
const int32_t kInfiniteChannel = INT32_MIN;

int32_t CurveValue(double v, double exponent) {
  const double scaled = std::pow(v / 255.0, exponent) * 255.0;
  if (std::isinf(scaled)) return kInfiniteChannel;
  return TruncToInt(scaled);
}

// The fast loops add grain of -128..127 to a curve value and clamp through one
// table. A value below -128 stores the same byte as -128 after such grain (0),
// one above 383 the same as 383 (255), so values are bounded to -128..383 and kept
// with a bias of 128; the grain gets a bias of 128 too.
const int32_t kValueLow = -128;
const int32_t kValueHigh = 383;
const int32_t kValueBias = 128;
const int32_t kGrainBias = 128;
const int32_t kClampBias = kValueBias + kGrainBias;  // clamp index = value + 256
const int32_t kClampSize = (kValueHigh + kValueBias) + 255 + 1;

const int32_t kDrawCount = kRandMax + 1;
const int32_t kGraySums = 3 * 255 + 1;

inline uint16_t BoundedValue(int32_t v) {
  return uint16_t((v < kValueLow ? kValueLow : (v > kValueHigh ? kValueHigh : v)) + kValueBias);
}

// The generator four steps at a time: state(k) = A^k * state + C * (A^(k-1) + ... + 1),
// so the four draws of a group come from independent multiplies instead of a chain.
struct Lcg4 {
  uint32_t a[4];
  uint32_t c[4];
};
constexpr Lcg4 MakeLcg4() {
  Lcg4 t = {{0, 0, 0, 0}, {0, 0, 0, 0}};
  uint32_t a = 1, c = 0;
  for (int k = 0; k < 4; ++k) {
    a = a * 214013u;
    c = c * 214013u + 2531011u;
    t.a[k] = a;
    t.c[k] = c;
  }
  return t;
}
constexpr Lcg4 kLcg4 = MakeLcg4();

inline uint32_t DrawIndex(uint32_t state) { return (state >> 16) & 0x7FFF; }

struct ToneTables {
  // Exact, unclamped curve of every whole input 0..255.
  int32_t curve[256];
  // With gray on: the three tinted, curved channels of each gray level.
  int32_t grayCurve[256][3];
  // Bounded and biased forms for the fast loops: by channel byte, and (gray) by
  // the sum of the three bytes, which saves the division by 3 per pixel.
  uint16_t curveFast[256];
  int16_t curveSimd[256];  // curveFast less 256, for the SSE2 loops
  uint16_t grayFast[kGraySums][4];
  // The same bounded values less 128, signed, for the SSE2 loops: one 8-byte load
  // per pixel, plus the biased grain, gives value + grain in 16-bit lanes.
  alignas(8) int16_t graySimd[kGraySums][4];
  uint8_t clamp[kClampSize];
  // The biased grain of each possible draw (fast loops only).
  uint8_t grain[kDrawCount];
};

struct GrainRule {
  bool on;
  int32_t modulus;  // trunc(grainRange); 0 or less counts every remainder as 0
  double half;      // grainRange / 2
};

inline int32_t GrainOf(int32_t draw, const GrainRule& g) {
  return TruncToInt(double(ModOrZero(draw, g.modulus)) - g.half);
}

void BuildCurves(const WorkingValues& wv, ToneTables* t) {
  for (int32_t i = 0; i < 256; ++i) t->curve[i] = CurveValue(i, wv.toneExponent);
  for (int32_t i = 0; i < 256; ++i) {
    t->curveFast[i] = BoundedValue(t->curve[i]);
    t->curveSimd[i] = int16_t(int32_t(t->curveFast[i]) - kClampBias);
  }
  for (int32_t i = 0; i < kClampSize; ++i) t->clamp[i] = ClampChannel(i - kClampBias);
  if (wv.grayOn == 0) return;
  for (int32_t g = 0; g < 256; ++g) {
    for (int c = 0; c < 3; ++c) {
      // A tint above 255 (or below 0) takes the value past the curve table:
      // those few are computed directly.
      const int32_t tinted = TruncToInt(g * wv.tintFactor[c]);
      t->grayCurve[g][c] = (tinted >= 0 && tinted <= 255) ? t->curve[tinted]
                                                          : CurveValue(tinted, wv.toneExponent);
    }
  }
  for (int32_t sum = 0; sum < kGraySums; ++sum) {
    for (int c = 0; c < 3; ++c) {
      t->grayFast[sum][c] = BoundedValue(t->grayCurve[sum / 3][c]);
      t->graySimd[sum][c] = int16_t(int32_t(t->grayFast[sum][c]) - kClampBias);
    }
    t->grayFast[sum][3] = 0;
    t->graySimd[sum][3] = 0;
  }
}

// Fills the grain table when every draw's grain lies in -128..127 (always so
// with Grain Amount in its range); false sends the render to the general loop.
bool BuildFastGrain(const GrainRule& g, ToneTables* t) {
  // The grain grows with the remainder, so the smallest and largest remainders
  // bound it.
  const int32_t largestRemainder =
      g.modulus <= 0 ? 0 : (g.modulus > kRandMax ? kRandMax : g.modulus - 1);
  const int32_t low = GrainOf(0, g);
  const int32_t high = GrainOf(largestRemainder, g);
  if (low < -kGrainBias || high > 255 - kGrainBias) return false;
  int32_t remainder = 0;
  for (int32_t draw = 0; draw < kDrawCount; ++draw) {
    t->grain[draw] = uint8_t(TruncToInt(double(remainder) - g.half) + kGrainBias);
    if (g.modulus > 0 && ++remainder == g.modulus) remainder = 0;
  }
  return true;
}

template <bool kGray, int kBpp>
inline void StorePixel(const uint8_t* s, uint8_t* d, const ToneTables& t, uint32_t grainBiased) {
  const uint8_t* clamp = t.clamp + grainBiased;
  if (kGray) {
    const uint16_t* v = t.grayFast[s[kRed] + s[kGreen] + s[kBlue]];
    d[kRed] = clamp[v[0]];
    d[kGreen] = clamp[v[1]];
    d[kBlue] = clamp[v[2]];
  } else {
    d[kRed] = clamp[t.curveFast[s[kRed]]];
    d[kGreen] = clamp[t.curveFast[s[kGreen]]];
    d[kBlue] = clamp[t.curveFast[s[kBlue]]];
  }
}

template <bool kGray, bool kGrain, int kBpp>
void ToneRowFast(const uint8_t* s, uint8_t* d, int32_t width, const ToneTables& t,
                 uint32_t* state) {
  int32_t x = 0;
  if (kGrain) {
    uint32_t st = *state;
    for (; x + 4 <= width; x += 4, s += 4 * kBpp, d += 4 * kBpp) {
      const uint32_t s1 = st * kLcg4.a[0] + kLcg4.c[0];
      const uint32_t s2 = st * kLcg4.a[1] + kLcg4.c[1];
      const uint32_t s3 = st * kLcg4.a[2] + kLcg4.c[2];
      st = st * kLcg4.a[3] + kLcg4.c[3];
      StorePixel<kGray, kBpp>(s, d, t, t.grain[DrawIndex(s1)]);
      StorePixel<kGray, kBpp>(s + kBpp, d + kBpp, t, t.grain[DrawIndex(s2)]);
      StorePixel<kGray, kBpp>(s + 2 * kBpp, d + 2 * kBpp, t, t.grain[DrawIndex(s3)]);
      StorePixel<kGray, kBpp>(s + 3 * kBpp, d + 3 * kBpp, t, t.grain[DrawIndex(st)]);
    }
    for (; x < width; ++x, s += kBpp, d += kBpp) {
      st = st * kLcg4.a[0] + kLcg4.c[0];
      StorePixel<kGray, kBpp>(s, d, t, t.grain[DrawIndex(st)]);
    }
    *state = st;
  } else {
    for (; x < width; ++x, s += kBpp, d += kBpp) StorePixel<kGray, kBpp>(s, d, t, kGrainBias);
  }
}

#if defined(__SSE2__)
// One pixel's curved red, green, blue (less 128) in the low four 16-bit lanes:
// with gray, the tinted channels of its gray level in one 8-byte load.
template <bool kGray>
inline __m128i PixelLanes(const uint8_t* s, const ToneTables& t) {
  if (kGray) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.graySimd[s[0] + s[1] + s[2]]));
  }
  const __m128i rg = _mm_cvtsi32_si128(
      int32_t(uint32_t(uint16_t(t.curveSimd[s[0]])) | uint32_t(uint16_t(t.curveSimd[s[1]])) << 16));
  return _mm_insert_epi16(rg, t.curveSimd[s[2]], 2);
}

// ToneRowFast four pixels at a time in SSE2 (every x86-64, and the 32-bit build's
// baseline): the grain added in 16-bit lanes, and the store's clamp to 0..255
// done by the saturating pack instead of three look-ups. With 4 bytes a group is
// one 16-byte store that puts back the alpha bytes it read; with 3 bytes four
// 4-byte stores, each of whose last byte the next pixel overwrites, so a group
// needs a pixel after it. The pixels left go through the scalar StorePixel.
template <bool kGray, bool kGrain, int kBpp>
void ToneRowSse2(const uint8_t* s, uint8_t* d, int32_t width, const ToneTables& t,
                 uint32_t* state) {
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  const int32_t groupEnd = kBpp == 4 ? width - 3 : width - 4;
  uint32_t st = *state;
  int32_t x = 0;
  for (; x < groupEnd; x += 4, s += 4 * kBpp, d += 4 * kBpp) {
    uint32_t g0 = kGrainBias, g1 = kGrainBias, g2 = kGrainBias, g3 = kGrainBias;
    if (kGrain) {
      const uint32_t s1 = st * kLcg4.a[0] + kLcg4.c[0];
      const uint32_t s2 = st * kLcg4.a[1] + kLcg4.c[1];
      const uint32_t s3 = st * kLcg4.a[2] + kLcg4.c[2];
      st = st * kLcg4.a[3] + kLcg4.c[3];
      g0 = t.grain[DrawIndex(s1)];
      g1 = t.grain[DrawIndex(s2)];
      g2 = t.grain[DrawIndex(s3)];
      g3 = t.grain[DrawIndex(st)];
    }
    const __m128i a = _mm_unpacklo_epi64(PixelLanes<kGray>(s, t), PixelLanes<kGray>(s + kBpp, t));
    const __m128i b = _mm_unpacklo_epi64(PixelLanes<kGray>(s + 2 * kBpp, t),
                                         PixelLanes<kGray>(s + 3 * kBpp, t));
    // Grain g0..g3 in 16-bit lanes, then each spread over its pixel's four lanes.
    __m128i g = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int32_t(g0 | g1 << 16)),
                                   _mm_cvtsi32_si128(int32_t(g2 | g3 << 16)));
    g = _mm_unpacklo_epi16(g, g);
    __m128i out = _mm_packus_epi16(_mm_add_epi16(a, _mm_unpacklo_epi32(g, g)),
                                   _mm_add_epi16(b, _mm_unpackhi_epi32(g, g)));
    if (kBpp == 4) {
      const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
      out = _mm_or_si128(_mm_andnot_si128(alpha, out), _mm_and_si128(old, alpha));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
    } else {
      for (int i = 0; i < 4; ++i, out = _mm_srli_si128(out, 4)) {
        const uint32_t pixel = uint32_t(_mm_cvtsi128_si32(out));
        std::memcpy(d + 3 * i, &pixel, 4);
      }
    }
  }
  for (; x < width; ++x, s += kBpp, d += kBpp) {
    uint32_t grainBiased = kGrainBias;
    if (kGrain) {
      st = st * kLcg4.a[0] + kLcg4.c[0];
      grainBiased = t.grain[DrawIndex(st)];
    }
    StorePixel<kGray, kBpp>(s, d, t, grainBiased);
  }
  *state = st;
}
#endif

// Any grain at all (a record from elsewhere with a huge Grain Amount): values
// unbounded, grain added in 64 bits. Slow, exact, and only for such records.
void ToneRowGeneral(const uint8_t* s, uint8_t* d, int32_t width, int32_t bpp, bool gray,
                    const GrainRule& g, const ToneTables& t, Rng& rng) {
  for (int32_t x = 0; x < width; ++x, s += bpp, d += bpp) {
    int32_t value[3];
    if (gray) {
      const int32_t* v = t.grayCurve[(s[kRed] + s[kGreen] + s[kBlue]) / 3];
      for (int c = 0; c < 3; ++c) value[c] = v[c];
    } else {
      for (int c = 0; c < 3; ++c) value[c] = t.curve[s[c]];
    }
    const int64_t n = g.on ? GrainOf(NextRand(rng), g) : 0;
    for (int c = 0; c < 3; ++c) {
      const int64_t sum = int64_t(value[c]) + n;
      d[c] = uint8_t(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
    }
  }
}

typedef void (*FastRow)(const uint8_t*, uint8_t*, int32_t, const ToneTables&, uint32_t*);

template <template <bool, bool, int> class Rows>
FastRow PickRows(bool gray, bool grain, int32_t bpp) {
  if (bpp == 4) {
    if (gray) return grain ? Rows<true, true, 4>::Run : Rows<true, false, 4>::Run;
    return grain ? Rows<false, true, 4>::Run : Rows<false, false, 4>::Run;
  }
  if (gray) return grain ? Rows<true, true, 3>::Run : Rows<true, false, 3>::Run;
  return grain ? Rows<false, true, 3>::Run : Rows<false, false, 3>::Run;
}

template <bool kGray, bool kGrain, int kBpp>
struct ScalarRows {
  static void Run(const uint8_t* s, uint8_t* d, int32_t width, const ToneTables& t,
                  uint32_t* state) {
    ToneRowFast<kGray, kGrain, kBpp>(s, d, width, t, state);
  }
};

#if defined(__SSE2__)
template <bool kGray, bool kGrain, int kBpp>
struct Sse2Rows {
  static void Run(const uint8_t* s, uint8_t* d, int32_t width, const ToneTables& t,
                  uint32_t* state) {
    ToneRowSse2<kGray, kGrain, kBpp>(s, d, width, t, state);
  }
};
#endif

// The fast rows of the given kernel (render/ToneKernels.h); a kernel this build
// has no rows for gets the scalar loops.
FastRow PickToneRow(ToneKernel kernel, bool gray, bool grain, int32_t bpp) {
  if (kernel == ToneKernel::kChosen) kernel = RenderToneKernel();
  switch (kernel) {
#if defined(__SSE2__)
    case ToneKernel::kSse2:
      return PickRows<Sse2Rows>(gray, grain, bpp);
#endif
    default:
      return PickRows<ScalarRows>(gray, grain, bpp);
  }
}

// Gives destination rows firstRow..endRow - 1 their background: the source rows
// (alpha included) with Reveal Back Layer on, else black (red, green and blue;
// alpha is kept).
void RestoreBackgroundRows(const RenderJob& job, const WorkingValues& wv, int32_t firstRow,
                           int32_t endRow) {
  if (firstRow < 0) firstRow = 0;
  if (endRow > wv.height) endRow = wv.height;
  // One row at a time: the 16-bit rectangle and counts carry the width, while
  // the count of rows may be up to 65535.
  for (int32_t y = firstRow; y < endRow; ++y) {
    uint8_t* d = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes;
    if (wv.revealBackLayer != 0) {
      CopyPixelBlock(job.srcData + std::ptrdiff_t(y) * job.srcRowBytes, job.srcRowBytes,
                     job.srcHasAlpha != 0, d, job.dstRowBytes, job.dstHasAlpha != 0, wv.width, 1);
    } else {
      Rect row = job.dstRect;
      row.top = 0;
      row.bottom = 1;
      FillPixelBlock(d, job.dstRowBytes, row, job.dstHasAlpha != 0, 0, 0, 0);
    }
  }
}

// The picture rows above row y: 0 <= row + jitterOffset < height (the offset is
// within +-height).
int32_t PictureRowsAbove(const WorkingValues& wv, int32_t y) {
  const int32_t first = wv.jitterOffset < 0 ? -wv.jitterOffset : 0;
  const int32_t end = wv.jitterOffset > 0 ? wv.height - wv.jitterOffset : wv.height;
  const int32_t below = y < end ? y : end;
  return below > first ? below - first : 0;
}

// The tone pass's rows for the band runner: each row's background and picture,
// and the generator jumped ahead to a band's first row.
class ToneRows : public BandedRows {
 public:
  const RenderJob* job;
  const WorkingValues* wv;
  const ToneTables* tables;
  GrainRule grain;
  bool fast;
  FastRow fastRow;
  uint32_t startState;  // the generator at the first row's first draw

  // The generator as the row-by-row pass leaves it before row y.
  Rng BandStart(int32_t y) const override {
    if (!grain.on || wv->width <= 0) return Rng{startState};
    return Rng{RngStateAfter(startState, uint64_t(PictureRowsAbove(*wv, y)) * uint64_t(wv->width))};
  }

  void Row(int32_t y, Rng& rng) const override {
    const int64_t sourceRow = int64_t(y) + wv->jitterOffset;
    const bool picture = sourceRow >= 0 && sourceRow < wv->height;
    // With Reveal Back Layer the source row goes under the picture too: the tone
    // pass writes red, green and blue, and alpha stays the source's.
    if (!picture || wv->revealBackLayer != 0) RestoreBackgroundRows(*job, *wv, y, y + 1);
    if (!picture || wv->width <= 0) return;
    const uint8_t* s = job->srcData + std::ptrdiff_t(sourceRow) * job->srcRowBytes;
    uint8_t* d = job->dstData + std::ptrdiff_t(y) * job->dstRowBytes;
    if (fast) {
      fastRow(s, d, wv->width, *tables, &rng.state);
    } else {
      ToneRowGeneral(s, d, wv->width, wv->bytesPerPixel, wv->grayOn != 0, grain, *tables, rng);
    }
  }
};

}  // namespace

bool RunTonePass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                 ToneKernel kernel) {
  GrainRule grain;
  grain.on = wv.grainRange > 0;
  grain.modulus = TruncToInt(wv.grainRange);
  grain.half = wv.grainRange / 2.0;

  // About 40 KB: on the stack, so a render allocates nothing for its tables.
  ToneTables tables;
  BuildCurves(wv, &tables);

  ToneRows rows;
  rows.job = &job;
  rows.wv = &wv;
  rows.tables = &tables;
  rows.grain = grain;
  rows.fast = !grain.on || BuildFastGrain(grain, &tables);
  rows.fastRow = PickToneRow(kernel, wv.grayOn != 0, grain.on, wv.bytesPerPixel);
  rows.startState = rng.state;

  int32_t reported = 0;
  const bool finished = RunRowBands(rows, wv.height, threads, job, &reported);
  rng = rows.BandStart(reported);
  // Stopped: the rows not reported keep the background, also those a band had
  // already rendered.
  if (!finished) RestoreBackgroundRows(job, wv, reported, wv.height);
  return finished;
}
