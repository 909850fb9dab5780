// The tone pass: every picture row of the destination from its (jittered) source
// row, through gray and tint, the film-response curve and grain; the other rows
// get their background.
//
// Per pixel this is only table look-ups. Every input of the curve is a whole
// number, so per call we tabulate trunc(pow(v / 255, toneExponent) * 255) exactly;
// the kernels' rows (render/ToneRow.h) work the grain out in lanes. Draws: one
// per pixel of the picture rows, row by row, left to right, and only when
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
#include "render/Samples16.h"
#include "render/ScaledGrain.h"
#include "render/ToneBands.h"
#include "render/ToneKernels.h"
#include "render/ToneRow.h"

namespace {

// A channel whose power is infinite (pow(0, e) with e < 0) is stored as 0 whatever
// the grain adds; this value keeps it below 0 through any grain (grain <= 32767).
const int32_t kInfiniteChannel = INT32_MIN;

int32_t CurveValue(double v, double exponent) {
  const double scaled = std::pow(v / 255.0, exponent) * 255.0;
  if (std::isinf(scaled)) return kInfiniteChannel;
  return TruncToInt(scaled);
}

struct ToneTables {
  // Exact, unclamped curve of every whole input 0..255.
  int32_t curve[256];
  // With gray on: the three tinted, curved channels of each gray level.
  int32_t grayCurve[256][3];
  // The scalar kernel's look-ups (render/ToneKernels.h).
  int8_t drawGrain[kRandMax + 1];
  uint8_t clamp[kLaneClampSize];
};

struct GrainRule {
  GrainSource source;
  int32_t modulus;  // trunc(grainRange); 0 or less counts every remainder as 0
  double half;      // grainRange / 2
};

inline int32_t GrainOf(int32_t draw, const GrainRule& g) {
  return TruncToInt(double(ModOrZero(draw, g.modulus)) - g.half);
}

void BuildCurves(const WorkingValues& wv, ToneTables* t) {
  for (int32_t i = 0; i < 256; ++i) t->curve[i] = CurveValue(i, wv.toneExponent);
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
}

// The general loop: any grain at all (a record from elsewhere with a huge Grain
// Amount, or a given grain past the lanes' range), values unbounded, grain
// added in 64 bits. Slow, exact, and only for such grain.
void ToneRowGeneral(const uint8_t* s, uint8_t* d, int32_t width, int32_t bpp, bool gray,
                    const GrainRule& g, const ToneTables& t, Rng& rng, const int16_t* grainRow) {
  for (int32_t x = 0; x < width; ++x, s += bpp, d += bpp) {
    int32_t value[3];
    if (gray) {
      const int32_t* v = t.grayCurve[(s[kRed] + s[kGreen] + s[kBlue]) / 3];
      for (int c = 0; c < 3; ++c) value[c] = v[c];
    } else {
      for (int c = 0; c < 3; ++c) value[c] = t.curve[s[c]];
    }
    int64_t n = 0;
    if (g.source == GrainSource::kDrawn) n = GrainOf(NextRand(rng), g);
    if (g.source == GrainSource::kRow || g.source == GrainSource::kField) n = grainRow[x];
    for (int c = 0; c < 3; ++c) {
      const int64_t sum = int64_t(value[c]) + n;
      d[c] = uint8_t(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
    }
  }
}

// The drawn grain's fields of the lanes' tables (see render/ToneKernels.h) and
// its range gLow..gHigh; false when it is too large for 16-bit lanes. Without
// drawn grain the fields draw nothing.
bool FillLaneGrain(const GrainRule& g, ToneLaneTables* lanes, int32_t* gLow, int32_t* gHigh) {
  lanes->modulus = 1;
  lanes->reciprocal = 65535;
  lanes->floorHalf = 0;
  lanes->ceilHalfLess1 = kRandMax;
  if (g.source != GrainSource::kDrawn) return true;
  // half > 0 here; the bound also rules out infinity.
  if (!(g.half <= double(kLaneMaxFloorHalf))) return false;
  const double floorHalf = std::floor(g.half);
  const double ceilHalf = std::ceil(g.half);
  lanes->modulus =
      uint16_t(g.modulus <= 0 ? 1 : (g.modulus > kRandMax ? kRandMax + 1 : g.modulus));
  lanes->reciprocal = uint16_t(65535 / lanes->modulus);
  lanes->floorHalf = int16_t(floorHalf);
  lanes->ceilHalfLess1 = int16_t(ceilHalf == floorHalf ? kRandMax : int32_t(ceilHalf) - 1);
  const int32_t largest = lanes->modulus - 1;
  *gLow = -lanes->floorHalf;
  *gHigh = largest - lanes->floorHalf - (largest > lanes->ceilHalfLess1 ? 1 : 0);
  return true;
}

// The scalar kernel's grain of every draw (the lanes' formula, tabulated) for
// grain within -128..127 and, for grain within 256 values, its clamp as a
// table: a row is then a few look-ups per pixel.
void FillScalarLookUps(bool drawn, int32_t gLow, int32_t gHigh, ToneTables* t,
                       ToneLaneTables* lanes) {
  if (drawn && gLow >= -128 && gHigh <= 127) {
    const GrainLanes<ScalarOps> one = MakeGrainLanes<ScalarOps>(*lanes);
    for (uint32_t draw = 0; draw <= uint32_t(kRandMax); ++draw) {
      t->drawGrain[draw] = int8_t(int16_t(Grain<ScalarOps>(draw, one)));
    }
    lanes->drawGrain = t->drawGrain;
  }
  if (gHigh - gLow <= 255) {
    for (int32_t i = 0; i < kLaneClampSize; ++i) t->clamp[i] = Clamp8Scalar(i - kLaneClampBias);
    lanes->clamp = t->clamp;
  }
}

int16_t LaneBounded(int32_t v, int32_t low, int32_t high) {
  return int16_t(v < low ? low : (v > high ? high : v));
}

// The 8-bit picture rows: a kernel's rows, or the general loop.
class ToneRows : public ToneBandRows {
 public:
  const ToneTables* tables;
  GrainRule grain;
  const ToneGrainField* field;  // the given grain, with GrainSource::kRow
  const ToneLaneTables* laneTables;
  ToneLaneRow laneRow;  // a kernel's rows, when set: instead of the general loop

  void Picture(const uint8_t* s, uint8_t* d, int32_t y, int32_t slot, Rng& rng) const override {
    GivenGrain8 given = {nullptr, nullptr, nullptr, 0, 0};
    if (grain.source == GrainSource::kField) {
      // A scaled render's grain (no draws): the kernel blends the field's two
      // rows; the general loop takes the row made.
      const ScaledGrain& scaled = *field->scaled;
      if (laneRow == nullptr) {
        given.row = ScaledGrainRow8(scaled, slot, y);
      } else {
        const FieldRowPair rows = ScaledGrainRows(scaled, slot, y);
        given = {nullptr, rows.first, rows.second, rows.weight, scaled.mean4096 + 2048};
      }
    } else if (grain.source == GrainSource::kRow) {
      given.row = field->rows8 + std::ptrdiff_t(y) * field->stride;
    }
    if (laneRow != nullptr) {
      laneRow(s, d, wv->width, *laneTables, &rng.state, &given);
    } else {
      ToneRowGeneral(s, d, wv->width, wv->samplesPerPixel, wv->grayOn != 0, grain, *tables, rng,
                     given.row);
    }
  }
};

// Gives destination rows firstRow..endRow - 1 their background: the source rows
// (alpha included) with Reveal Back Layer on, else black (red, green and blue;
// alpha is kept); bytes or 16-bit samples.
void RestoreBackgroundRows(const RenderJob& job, const WorkingValues& wv, int32_t firstRow,
                           int32_t endRow) {
  if (firstRow < 0) firstRow = 0;
  if (endRow > wv.height) endRow = wv.height;
  // One row at a time: the 16-bit rectangle and counts carry the width, while
  // the count of rows may be up to 65535.
  for (int32_t y = firstRow; y < endRow; ++y) {
    uint8_t* d = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes;
    const bool sixteen = wv.bytesPerSample == 2;
    if (wv.revealBackLayer != 0) {
      const uint8_t* s = job.srcData + std::ptrdiff_t(y) * job.srcRowBytes;
      (sixteen ? CopyPixelBlock16 : CopyPixelBlock)(s, job.srcRowBytes, job.srcHasAlpha != 0, d,
                                                    job.dstRowBytes, job.dstHasAlpha != 0,
                                                    wv.width, 1);
    } else {
      Rect row = job.dstRect;
      row.top = 0;
      row.bottom = 1;
      if (sixteen) {
        FillPixelBlock16(d, job.dstRowBytes, row, job.dstHasAlpha != 0, 0, 0, 0);
      } else {
        FillPixelBlock(d, job.dstRowBytes, row, job.dstHasAlpha != 0, 0, 0, 0);
      }
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

}  // namespace

bool FillToneLaneValues(const int32_t* curve, const int32_t (*grayCurve)[3], int32_t gLow,
                        int32_t gHigh, ToneLaneTables* t) {
  if (gLow > gHigh || gLow < -kLaneMaxFloorHalf || gHigh > 32767) return false;
  const int32_t low = -gHigh, high = 255 - gLow;
  t->drawGrain = nullptr;
  t->clamp = nullptr;
  // A value within 0..255 is its own bound (low <= 0, high >= 255).
  bool bytes = true;
  for (int32_t i = 0; i < 256; ++i) {
    t->curve[i] = LaneBounded(curve[i], low, high);
    if (grayCurve == nullptr) bytes = bytes && curve[i] >= 0 && curve[i] <= 255;
    t->curveBytes[i] = uint8_t(curve[i]);
  }
  if (grayCurve != nullptr) {
    for (int32_t sum = 0; sum < kLaneGraySums; ++sum) {
      for (int c = 0; c < 3; ++c) t->gray[sum][c] = LaneBounded(grayCurve[sum / 3][c], low, high);
      t->gray[sum][3] = 0;
    }
    for (int32_t level = 0; level < 256; ++level) {
      for (int c = 0; c < 3; ++c) {
        bytes = bytes && grayCurve[level][c] >= 0 && grayCurve[level][c] <= 255;
        t->grayBytes[c][level] = uint8_t(grayCurve[level][c]);
      }
    }
  }
  t->valuesAreBytes = bytes;
  return true;
}

namespace {

// A scaled render's tone pass (render/ScaleLayout.h): the grain is the field of
// the grid's draws (render/ScaledGrain.h), made first and handed to the rows as
// a given grain; the generator is left after the grid's draws. Without memory
// for the field the picture goes without grain, and the draws after it are the
// same.
bool RunScaledTonePass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                       ToneKernel kernel) {
  const uint32_t start = rng.state;
  ScaledGrain grain;
  bool finished;
  const ToneRowSet* rows = ToneRowsOf(kernel == ToneKernel::kChosen ? RenderToneKernel() : kernel);
  // A field with no rows (the jitter moved every grid row out) is no grain.
  if (BuildScaledGrain(wv, start, threads, rows != nullptr ? rows->fieldRow : nullptr, &grain) &&
      grain.blend != nullptr) {
    const bool sixteen = wv.bytesPerSample == 2;
    ToneGrainField field = {nullptr, nullptr, 0,
                            sixteen ? int32_t(WidenLevel(grain.low)) : grain.low,
                            sixteen ? int32_t(WidenLevel(grain.high)) : grain.high, &grain};
    finished = RunTonePass(job, wv, rng, threads, kernel, &field);
    FreeScaledGrain(&grain);
  } else {
    WorkingValues plain = wv;
    plain.grainRange = 0;
    finished = RunTonePass(job, plain, rng, threads, kernel);
  }
  rng.state = ScaledGrainEndState(wv, start);
  return finished;
}

}  // namespace

bool RunTonePass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                 ToneKernel kernel, const ToneGrainField* field) {
  if (field == nullptr && wv.layout.scaled && wv.grainRange > 0) {
    return RunScaledTonePass(job, wv, rng, threads, kernel);
  }
  if (wv.bytesPerSample == 2) return RunTonePass16(job, wv, rng, threads, kernel, field);
  GrainRule grain;
  grain.source = field == nullptr ? (wv.grainRange > 0 ? GrainSource::kDrawn : GrainSource::kNone)
                                  : (field->scaled != nullptr ? GrainSource::kField : GrainSource::kRow);
  grain.modulus = TruncToInt(wv.grainRange);
  grain.half = wv.grainRange / 2.0;

  ToneTables tables;
  BuildCurves(wv, &tables);

  ToneRows rows;
  rows.job = &job;
  rows.wv = &wv;
  rows.drawn = grain.source == GrainSource::kDrawn;
  rows.tables = &tables;
  rows.grain = grain;
  rows.field = field;
  // A kernel's rows where the grain fits 16-bit lanes; otherwise the general
  // loop. About 7 KB: on the stack, so a render allocates nothing for its tables.
  if (kernel == ToneKernel::kChosen) kernel = RenderToneKernel();
  ToneLaneTables laneTables;
  rows.laneTables = &laneTables;
  rows.laneRow = nullptr;
  int32_t gLow = 0, gHigh = 0;
  if (field != nullptr) {
    gLow = field->low;
    gHigh = field->high;
  }
  const bool gray = wv.grayOn != 0;
  if (FillLaneGrain(grain, &laneTables, &gLow, &gHigh) &&
      FillToneLaneValues(tables.curve, gray ? tables.grayCurve : nullptr, gLow, gHigh,
                         &laneTables)) {
    if (kernel == ToneKernel::kScalar) FillScalarLookUps(grain.source == GrainSource::kDrawn, gLow, gHigh, &tables, &laneTables);
    rows.laneRow = ToneRowsOf(kernel)->rows8[gray][int32_t(grain.source)].row[wv.samplesPerPixel == 4];
  }
  return RunToneBands(rows, rng, threads);
}

Rng ToneBandRows::BandStart(int32_t y) const {
  if (!drawn || wv->width <= 0) return Rng{startState};
  return Rng{RngStateAfter(startState, uint64_t(PictureRowsAbove(*wv, y)) * uint64_t(wv->width))};
}

void ToneBandRows::Row(int32_t y, int32_t slot, Rng& rng) const {
  const int64_t sourceRow = int64_t(y) + wv->jitterOffset;
  const bool picture = sourceRow >= 0 && sourceRow < wv->height;
  // With Reveal Back Layer the source row goes under the picture too: the tone
  // pass writes red, green and blue, and alpha stays the source's.
  if (!picture || wv->revealBackLayer != 0) RestoreBackgroundRows(*job, *wv, y, y + 1);
  if (!picture || wv->width <= 0) return;
  Picture(job->srcData + std::ptrdiff_t(sourceRow) * job->srcRowBytes,
          job->dstData + std::ptrdiff_t(y) * job->dstRowBytes, y, slot, rng);
}

bool RunToneBands(ToneBandRows& rows, Rng& rng, int32_t threads) {
  rows.startState = rng.state;
  int32_t reported = 0;
  const bool finished = RunRowBands(rows, rows.wv->height, threads, *rows.job, &reported);
  rng = rows.BandStart(reported);
  if (!finished) RestoreBackgroundRows(*rows.job, *rows.wv, reported, rows.wv->height);
  return finished;
}
