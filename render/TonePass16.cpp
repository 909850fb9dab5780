// The tone pass at 16 bits per channel (render/Samples16.h): the formulas of the
// 8-bit pass with every level of 0..255 widened to the same level of 0..32768.
//
//   - Host samples above 32768 count as 32768 before any table.
//   - Gray: the sum of the three samples divided by 3 in integers, then each
//     channel trunc(gray * tint) as at 8 bits.
//   - The curve at full scale 32768: trunc(pow(v / 32768, toneExponent) * 32768),
//     exact for every whole input, tabulated per call over all 32769 of them.
//   - Grain: the same draw and the same n = trunc((rand() % trunc(grainRange)) -
//     grainRange / 2) as at 8 bits, widened: round(n * 32768 / 255).
//   - Stored: below 0 gives 0, 32768 or more gives 32768; alpha is not written.
// Draws: one per pixel of the picture rows, row by row, left to right, only when
// grainRange > 0: the 8-bit pass's draws. The rows run in bands on the band
// runner like the 8-bit rows, each band from the generator jumped ahead, and in
// the tone kernel's 16-bit rows (render/ToneKernels.h: look-ups in tables of
// every sample's curve, every gray level's channels and every draw's grain);
// the plain rows here compute whatever table there was no memory for.
#include <cmath>
#include <cstddef>
#include <new>

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/Samples16.h"
#include "render/ScaledGrain.h"
#include "render/ToneBands.h"
#include "render/ToneKernels.h"

namespace {

const int32_t kLevels16 = kMaxSample16 + 1;
const int32_t kDrawCount16 = kRandMax + 1;
// A channel whose power is infinite (pow(0, e) with e < 0) is stored as 0 whatever
// the grain adds: widened grain stays below 2^23, so this stays below 0.
const int32_t kInfiniteChannel16 = INT32_MIN;

int32_t CurveValue16(double v, double exponent) {
  const double scaled = std::pow(v / double(kMaxSample16), exponent) * double(kMaxSample16);
  if (std::isinf(scaled)) return kInfiniteChannel16;
  return TruncToInt(scaled);
}

// The tables of one call, on the heap (about 770 KB). When there is no memory for
// them every value is computed where it is needed: the same bytes, slower.
struct Tone16 {
  double exponent;
  double tint[3];
  GrainSource grainSource;
  int32_t grainModulus;
  double grainHalf;
  int32_t* curve;      // kLevels16: the curve of every whole input
  int32_t* grayCurve;  // 4 * kLevels16, with gray on: level g -> its 3 channels at 4 g, and 0
  int32_t* grain;      // kDrawCount16: each draw's widened grain, when all fit the lanes

  int32_t Curve(int32_t v) const {
    if (v >= 0 && v <= kMaxSample16 && curve != nullptr) return curve[v];
    return CurveValue16(v, exponent);
  }
  int32_t Tinted(int32_t gray, int c) const {
    // A tint above 255 (or below 0) takes the value past the table: computed.
    return Curve(TruncToInt(gray * tint[c]));
  }
  int32_t Gray(int32_t gray, int c) const {
    return grayCurve != nullptr ? grayCurve[4 * gray + c] : Tinted(gray, c);
  }
  int64_t Grain(int32_t draw) const {
    if (grain != nullptr) return grain[draw];
    return WidenLevel(TruncToInt(double(ModOrZero(draw, grainModulus)) - grainHalf));
  }
};

// Fails the next tables' allocation, for the test of that path.
bool gFailTables16 = false;

template <typename T>
T* NewTable(size_t count) {
  return gFailTables16 ? nullptr : new (std::nothrow) T[count];
}

int32_t Bounded16(int32_t v) {
  return v < -kLaneBound16 ? -kLaneBound16 : (v > kLaneBound16 ? kLaneBound16 : v);
}

// Fills the tables and tells whether the lane rows can take them: every table
// there, and every widened grain within -kLaneMaxGrain16..kLaneMaxGrain16 (a
// grain table that would hold more is dropped: only Grain Amounts far past the
// dialog's range draw such grain; a given grain must lie within them too, as
// gLow..gHigh says). For the lanes the curves are bounded as
// render/ToneKernels.h says, which leaves every stored sample as it was.
bool BuildTables(Tone16* t, bool gray, int32_t gLow, int32_t gHigh) {
  const bool drawn = t->grainSource == GrainSource::kDrawn;
  if (drawn && t->grain != nullptr) {
    int32_t* table = t->grain;
    t->grain = nullptr;  // Grain() computes while the table is filled
    bool fits = true;
    for (int32_t draw = 0; draw < kDrawCount16 && fits; ++draw) {
      const int64_t g = t->Grain(draw);
      fits = g >= -kLaneMaxGrain16 && g <= kLaneMaxGrain16;
      table[draw] = int32_t(fits ? g : 0);
    }
    if (fits) {
      t->grain = table;
    } else {
      delete[] table;
    }
  }
  const bool lanes = t->curve != nullptr && (!gray || t->grayCurve != nullptr) &&
                     (!drawn || t->grain != nullptr) && gLow >= -kLaneMaxGrain16 &&
                     gHigh <= kLaneMaxGrain16;
  auto stored = [lanes](int32_t v) { return lanes ? Bounded16(v) : v; };
  if (t->curve != nullptr) {
    for (int32_t v = 0; v < kLevels16; ++v) t->curve[v] = stored(CurveValue16(v, t->exponent));
  }
  if (gray && t->grayCurve != nullptr) {
    // Tinted reads the curve just filled (bounding twice is bounding once).
    for (int32_t g = 0; g < kLevels16; ++g) {
      for (int c = 0; c < 3; ++c) t->grayCurve[4 * g + c] = stored(t->Tinted(g, c));
      t->grayCurve[4 * g + 3] = 0;
    }
  }
  return lanes;
}

inline uint32_t HostSample(const uint8_t* p) { return LoadClampedSample(p); }

template <bool kGray, GrainSource kGrain>
void ToneRow16(const uint8_t* s, uint8_t* d, int32_t width, int32_t step, const Tone16& t,
               Rng& rng, const int32_t* grainRow) {
  for (int32_t x = 0; x < width; ++x, s += step, d += step) {
    const uint32_t red = HostSample(s + 2 * kRed);
    const uint32_t green = HostSample(s + 2 * kGreen);
    const uint32_t blue = HostSample(s + 2 * kBlue);
    int64_t v[3];
    if (kGray) {
      const int32_t gray = int32_t((red + blue + green) / 3);
      for (int c = 0; c < 3; ++c) v[c] = t.Gray(gray, c);
    } else {
      v[0] = t.Curve(int32_t(red));
      v[1] = t.Curve(int32_t(green));
      v[2] = t.Curve(int32_t(blue));
    }
    int64_t n = 0;
    if (kGrain == GrainSource::kDrawn) n = t.Grain(NextRand(rng));
    if (kGrain == GrainSource::kRow) n = grainRow[x];
    for (int c = 0; c < 3; ++c) v[c] += n;
    for (int c = 0; c < 3; ++c) StoreSample(d + 2 * (kRed + c), ClampSample(v[c]));
  }
}

typedef void (*Row16)(const uint8_t*, uint8_t*, int32_t, int32_t, const Tone16&, Rng&,
                      const int32_t*);

Row16 PickRow16(bool gray, GrainSource grain) {
  const GrainSource kNone = GrainSource::kNone, kDrawn = GrainSource::kDrawn,
                    kRow = GrainSource::kRow;
  static const Row16 rows[2][3] = {
      {ToneRow16<false, kNone>, ToneRow16<false, kDrawn>, ToneRow16<false, kRow>},
      {ToneRow16<true, kNone>, ToneRow16<true, kDrawn>, ToneRow16<true, kRow>}};
  return rows[gray][int32_t(grain)];
}

// The 16-bit picture rows: a kernel's rows on the tables, or the plain rows.
class ToneRows16 : public ToneBandRows {
 public:
  const Tone16* tone;
  Row16 row;
  const ToneLaneTables16* laneTables;
  ToneLaneRow16 laneRow;  // a kernel's rows on the lane tables, when set: instead of row
  const ToneGrainField* field;  // the given grain, with GrainSource::kRow

  void Picture(const uint8_t* s, uint8_t* d, int32_t y, int32_t slot, Rng& rng) const override {
    if (tone->grainSource == GrainSource::kRow && field->scaled != nullptr) {
      // A scaled render's grain, widened.
      Run(s, d, wv->width, rng, ScaledGrainRow16(*field->scaled, slot, y));
      return;
    }
    const int32_t* grainRow = tone->grainSource == GrainSource::kRow
                                  ? field->rows16 + std::ptrdiff_t(y) * field->stride
                                  : nullptr;
    Run(s, d, wv->width, rng, grainRow);
  }

  void Run(const uint8_t* s, uint8_t* d, int32_t width, Rng& rng, const int32_t* grainRow) const {
    if (laneRow != nullptr) {
      laneRow(s, d, width, *laneTables, &rng.state, grainRow);
    } else {
      row(s, d, width, 2 * wv->samplesPerPixel, *tone, rng, grainRow);
    }
  }
};

}  // namespace

void FailTables16ForTesting(bool fail) { gFailTables16 = fail; }

bool RunTonePass16(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                   ToneKernel kernel, const ToneGrainField* field) {
  Tone16 tone;
  tone.exponent = wv.toneExponent;
  for (int c = 0; c < 3; ++c) tone.tint[c] = wv.tintFactor[c];
  tone.grainSource = field != nullptr
                         ? GrainSource::kRow
                         : (wv.grainRange > 0 ? GrainSource::kDrawn : GrainSource::kNone);
  tone.grainModulus = TruncToInt(wv.grainRange);
  tone.grainHalf = wv.grainRange / 2.0;
  const bool gray = wv.grayOn != 0;
  tone.curve = NewTable<int32_t>(kLevels16);
  tone.grayCurve = gray ? NewTable<int32_t>(4 * kLevels16) : nullptr;
  tone.grain =
      tone.grainSource == GrainSource::kDrawn ? NewTable<int32_t>(kDrawCount16) : nullptr;
  const bool lanes =
      BuildTables(&tone, gray, field != nullptr ? field->low : 0, field != nullptr ? field->high : 0);

  ToneRows16 rows;
  rows.job = &job;
  rows.wv = &wv;
  rows.drawn = tone.grainSource == GrainSource::kDrawn;
  rows.tone = &tone;
  rows.row = PickRow16(gray, tone.grainSource);
  rows.field = field;
  // A kernel's rows where the tables are there and fit its lanes; otherwise the
  // plain rows, which compute what a table lacks.
  const ToneLaneTables16 laneTables = {tone.curve, tone.grayCurve, tone.grain};
  rows.laneTables = &laneTables;
  if (kernel == ToneKernel::kChosen) kernel = RenderToneKernel();
  rows.laneRow =
      lanes ? ToneRowsOf(kernel)->rows16[gray][int32_t(tone.grainSource)].row[wv.samplesPerPixel == 4]
            : nullptr;
  const bool finished = RunToneBands(rows, rng, threads);
  delete[] tone.curve;
  delete[] tone.grayCurve;
  delete[] tone.grain;
  return finished;
}
