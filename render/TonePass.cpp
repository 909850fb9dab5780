// The tone pass: every picture row of the destination from its (jittered) source
// row, through gray and tint, the film-response curve and grain; the other rows
// get their background.
//
// Per pixel this is only table look-ups. Every input of the curve is a whole
// number, so per call we tabulate trunc(pow(v / 255, toneExponent) * 255) exactly;
// the scalar rows also tabulate the grain of each of the 32768 possible draws,
// while the vector kernels (render/ToneKernels.h) work it out in lanes. Draws:
// one per pixel of the picture rows, row by row, left to right, and only when
// grainRange > 0.
//
// Rows depend on nothing but their source row and the generator, so the band
// runner (render/RenderThreads.h) runs them in bands on several threads: a band
// starts from the generator jumped ahead by the draws of the picture rows above
// it, and gives the bytes one thread gives.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/RenderThreads.h"
#include "render/ScaledGrain.h"
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
  uint16_t grayFast[kGraySums][4];
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
    }
    t->grayFast[sum][3] = 0;
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

// A row's pixels with the grain of a scaled render (render/ScaledGrain.h), a
// piece at a time: the values unbounded, the grain added in 64 bits.
void ToneRowScaledGrain(const uint8_t* s, uint8_t* d, int32_t y, int32_t width, int32_t bpp,
                        bool gray, const ScaledGrain& field, const ToneTables& t) {
  int32_t grain[kScaledGrainPiece];
  int16_t narrow[kScaledGrainPiece];
  for (int32_t x0 = 0; x0 < width; x0 += kScaledGrainPiece) {
    const int32_t count = width - x0 < kScaledGrainPiece ? width - x0 : kScaledGrainPiece;
    if (field.rows16 != nullptr) {
      ScaledGrainPieceNarrow(field, y, x0, count, narrow);
      for (int32_t i = 0; i < count; ++i) grain[i] = narrow[i];
    } else {
      ScaledGrainPiece(field, y, x0, count, grain);
    }
    for (int32_t i = 0; i < count; ++i, s += bpp, d += bpp) {
      const int32_t* v = gray ? t.grayCurve[(s[kRed] + s[kGreen] + s[kBlue]) / 3] : nullptr;
      for (int c = 0; c < 3; ++c) {
        const int64_t sum = int64_t(gray ? v[c] : t.curve[s[c]]) + grain[i];
        d[c] = uint8_t(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
      }
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

// The scalar rows: the kernel of a processor without vector lanes.
FastRow PickScalarRow(bool gray, bool grain, int32_t bpp) {
  return PickRows<ScalarRows>(gray, grain, bpp);
}

// The rows of a vector kernel (render/ToneKernels.h); null for the scalar one.
ToneLaneRow PickLaneRow(ToneKernel kernel, bool gray, bool grain, int32_t bpp) {
  switch (kernel) {
    case ToneKernel::kSse2:
      return ToneLaneRowSse2(gray, grain, bpp);
    case ToneKernel::kAvx2:
      return ToneLaneRowAvx2(gray, grain, bpp);
    case ToneKernel::kAvx512:
      return ToneLaneRowAvx512(gray, grain, bpp);
    default:
      return nullptr;
  }
}

int16_t LaneBounded(int32_t v, int32_t low, int32_t high) {
  return int16_t(v < low ? low : (v > high ? high : v));
}

// The vector kernels' tables (see render/ToneKernels.h); false when the grain is
// too large for 16-bit lanes, which sends the render to the general loop.
bool BuildLaneTables(const WorkingValues& wv, const GrainRule& g, const ToneTables& t,
                     ToneLaneTables* lanes) {
  int32_t low = 0, high = 255;  // no grain: the clamp itself
  lanes->modulus = 1;
  lanes->floorHalf = 0;
  lanes->ceilHalfLess1 = kRandMax;
  if (g.on) {
    // half > 0 here; the bound also rules out infinity.
    if (!(g.half <= double(kLaneMaxFloorHalf))) return false;
    const double floorHalf = std::floor(g.half);
    const double ceilHalf = std::ceil(g.half);
    lanes->modulus =
        uint16_t(g.modulus <= 0 ? 1 : (g.modulus > kRandMax ? kRandMax + 1 : g.modulus));
    lanes->floorHalf = int16_t(floorHalf);
    lanes->ceilHalfLess1 = int16_t(ceilHalf == floorHalf ? kRandMax : int32_t(ceilHalf) - 1);
    const int32_t largest = lanes->modulus - 1;
    const int32_t grainLow = -lanes->floorHalf;
    const int32_t grainHigh =
        largest - lanes->floorHalf - (largest > lanes->ceilHalfLess1 ? 1 : 0);
    low = -grainHigh;
    high = 255 - grainLow;
  }
  lanes->reciprocal = uint16_t(65535 / lanes->modulus);
  for (int32_t i = 0; i < 256; ++i) lanes->curve[i] = LaneBounded(t.curve[i], low, high);
  if (wv.grayOn == 0) return true;
  for (int32_t sum = 0; sum < kLaneGraySums; ++sum) {
    for (int c = 0; c < 3; ++c) {
      lanes->gray[sum][c] = LaneBounded(t.grayCurve[sum / 3][c], low, high);
    }
    lanes->gray[sum][3] = 0;
  }
  return true;
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
  const ToneLaneTables* laneTables;
  ToneLaneRow laneRow;  // a vector kernel's rows, when set: instead of fastRow
  const ScaledGrain* scaledGrain;  // a scaled render's grain field, when set
  uint32_t startState;  // the generator at the first row's first draw

  // The generator as the row-by-row pass leaves it before row y.
  Rng BandStart(int32_t y) const override {
    if (!grain.on || wv->width <= 0 || scaledGrain != nullptr) return Rng{startState};
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
    if (scaledGrain != nullptr) {
      ToneRowScaledGrain(s, d, y, wv->width, wv->bytesPerPixel, wv->grayOn != 0, *scaledGrain,
                         *tables);
    } else if (laneRow != nullptr) {
      laneRow(s, d, wv->width, *laneTables, &rng.state);
    } else if (fast) {
      fastRow(s, d, wv->width, *tables, &rng.state);
    } else {
      ToneRowGeneral(s, d, wv->width, wv->bytesPerPixel, wv->grayOn != 0, grain, *tables, rng);
    }
  }
};

}  // namespace

bool RunTonePass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                 ToneKernel kernel) {
  if (wv.bytesPerSample == 2) return RunTonePass16(job, wv, rng, threads, kernel);
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
  // A vector kernel's rows where the grain fits 16-bit lanes; otherwise the
  // scalar rows, or the general loop for grain beyond -128..127.
  if (kernel == ToneKernel::kChosen) kernel = RenderToneKernel();
  ToneLaneTables laneTables;
  rows.laneTables = &laneTables;
  rows.laneRow = nullptr;
  if (kernel != ToneKernel::kScalar && BuildLaneTables(wv, grain, tables, &laneTables)) {
    rows.laneRow = PickLaneRow(kernel, wv.grayOn != 0, grain.on, wv.bytesPerPixel);
  }
  rows.fast = rows.laneRow != nullptr || !grain.on || BuildFastGrain(grain, &tables);
  rows.fastRow = PickScalarRow(wv.grayOn != 0, grain.on, wv.bytesPerPixel);
  rows.startState = rng.state;
  rows.scaledGrain = nullptr;

  // A scaled render's grain: a field made from the grid's draws before the rows.
  // Without memory for it the picture goes without grain, and the draws after it
  // are the same.
  ScaledGrain field;
  const bool scaled = grain.on && wv.layout.scaled;
  if (scaled) {
    if (BuildScaledGrain(wv, rng.state, threads, &field)) {
      rows.scaledGrain = &field;
    } else {
      rows.grain.on = false;
      rows.laneRow = nullptr;
      rows.fast = true;
      rows.fastRow = PickScalarRow(wv.grayOn != 0, false, wv.bytesPerPixel);
    }
  }

  int32_t reported = 0;
  const bool finished = RunRowBands(rows, wv.height, threads, job, &reported);
  if (scaled) {
    rng.state = ScaledGrainEndState(wv, rows.startState);
    if (rows.scaledGrain != nullptr) FreeScaledGrain(&field);
  } else {
    rng = rows.BandStart(reported);
  }
  // Stopped: the rows not reported keep the background, also those a band had
  // already rendered.
  if (!finished) RestoreBackgroundRows(job, wv, reported, wv.height);
  return finished;
}
