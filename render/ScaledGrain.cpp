#include "render/ScaledGrain.h"

#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/MemBlock.h"
#include "render/Numerics.h"
#include "render/Random.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"
#include "render/ScaleLayout.h"

namespace {

const double kLargestRange = 2048.0;

const double kRoundingOffset = 4194304.0;  // 2^22

// One axis of the resampling: for each picture pixel the cell it starts from
// and the next cell's weight (0 where cells are smaller than pixels: the cell
// under the pixel's centre).
struct AxisSample {
  int32_t cell;
  double weight;
};

AxisSample SampleAxis(int32_t pixel, double unit, int32_t firstCell, int32_t endCell) {
  const double centre = (double(pixel) + 0.5) / unit;  // in cells
  AxisSample a;
  if (unit < 1.0) {
    a.cell = TruncToInt(std::floor(centre));
    a.weight = 0.0;
  } else {
    const double at = centre - 0.5;
    const double cell = std::floor(at);
    a.cell = TruncToInt(cell);
    a.weight = at - cell;
  }
  if (a.cell < firstCell) {
    a.cell = firstCell;
    a.weight = 0.0;
  }
  if (a.cell >= endCell - 1) {
    a.cell = endCell - 1;
    a.weight = 0.0;
  }
  return a;
}

// The factor that gives each pixel's grain the spread of one draw: a blend
// (1 - w) a + w b of independent draws varies (1 - w)^2 + w^2 as much, on
// average over the picture's pixels; where cells are smaller than pixels, the
// mean of the 1 / unit cells a pixel covers varies unit times as much.
double SpreadFactor(int32_t pixels, double unit) {
  if (unit < 1.0) return std::sqrt(unit);
  double sum = 0.0;
  for (int32_t p = 0; p < pixels; ++p) {
    const double at = (double(p) + 0.5) / unit - 0.5;
    const double w = at - std::floor(at);
    sum += (1.0 - w) * (1.0 - w) + w * w;
  }
  return sum > 0.0 ? std::sqrt(double(pixels) / sum) : 1.0;
}

struct GridRows {
  int32_t first;  // the grid's picture rows: first .. end - 1
  int32_t end;
};

GridRows GridPictureRows(const WorkingValues& wv) {
  const int32_t h = wv.layout.height;
  const int32_t j = GridJitter(wv);
  GridRows r;
  r.first = j < 0 ? -j : 0;
  r.end = j > 0 ? h - j : h;
  if (r.first > h) r.first = h;
  if (r.end < r.first) r.end = r.first;
  return r;
}

uint64_t GridDraws(const WorkingValues& wv) {
  const GridRows rows = GridPictureRows(wv);
  return uint64_t(rows.end - rows.first) * uint64_t(wv.layout.width);
}

// Grid row `gridRow`'s field row: its draws, left to right, resampled across
// the picture. The cells are drawn in order as the columns reach them, each
// less the mean and times the spread's factor in 16ths (halves up); a pixel
// between two cells blends them in 256ths of its weight, halves up:
// (here (256 - w) + after w + 128) >> 8.
void MakeFieldRow(const ScaledGrain& grain, int32_t slot, int32_t gridRow, int16_t* out) {
  const int32_t gridWidth = grain.gridWidth;
  const int32_t width = grain.width;
  const int16_t* const values = grain.cellValues;
  const int32_t* const w = grain.weights;
  uint32_t state =
      RngStateAfter(grain.startState, uint64_t(gridRow - grain.firstGridRow) * uint64_t(gridWidth));
  if (grain.fieldRow != nullptr) {
    int32_t* scratch = grain.slotScratch + std::ptrdiff_t(slot) * 2 * (gridWidth + 32);
    grain.fieldRow(state, values, grain.period, gridWidth, scratch, grain.cellOf, w, width, out);
    return;
  }
  const int32_t* const spanEnds = grain.spanEnds;
  auto next = [&state, values]() {
    state = state * kRandMultiplier + kRandIncrement;
    return int32_t(values[(state >> 16) & 0x7FFF]);
  };
  int32_t here = next();
  int32_t after = gridWidth > 1 ? next() : here;
  int32_t x = 0;
  int32_t cell = 0;
#if defined(__SSE2__)
  // Eight columns at a time from each span's start, while the stores stay in
  // the row: the columns past a span's end belong to the cells after it,
  // which write them again.
  const __m128i half = _mm_set1_epi32(128);
  for (; cell < gridWidth && spanEnds[cell] <= width - 8; ++cell) {
    const int32_t end = spanEnds[cell];
    const __m128i cells =
        _mm_set1_epi32(int32_t((uint32_t(here) & 0xFFFFu) | (uint32_t(after) << 16)));
    for (; x < end; x += 8) {
      const __m128i lo = _mm_madd_epi16(cells, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + x)));
      const __m128i hi = _mm_madd_epi16(cells, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + x + 4)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                       _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), 8),
                                       _mm_srai_epi32(_mm_add_epi32(hi, half), 8)));
    }
    x = end;
    here = after;
    if (cell + 2 < gridWidth) after = next();
  }
#endif
  for (; cell < gridWidth && x < width; ++cell) {
    const int32_t end = spanEnds[cell];
    for (; x < end; ++x) {
      const int32_t wx = w[x] >> 16;
      out[x] = int16_t((here * (256 - wx) + after * wx + 128) >> 8);
    }
    here = after;
    if (cell + 2 < gridWidth) after = next();
  }
}

}  // namespace

uint32_t ScaledGrainEndState(const WorkingValues& wv, uint32_t startState) {
  return RngStateAfter(startState, GridDraws(wv));
}

bool BuildScaledGrain(const WorkingValues& wv, uint32_t startState, int32_t threads,
                      FieldRowMaker fieldRow, ScaledGrain* grain) {
  *grain = ScaledGrain{};
  grain->fieldRow = fieldRow;
  grain->width = wv.width;
  grain->gridWidth = wv.layout.width;
  grain->startState = startState;
  grain->endState = ScaledGrainEndState(wv, startState);
  const GridRows gridRows = GridPictureRows(wv);
  grain->firstGridRow = gridRows.first;
  if (wv.width <= 0 || wv.height <= 0 || gridRows.end <= gridRows.first) return true;

  // The draws' grain and its mean over every draw 0..32767. A range beyond
  // kLargestRange (a Grain Amount of 800; only a record from elsewhere has one)
  // counts as that: its grain already takes most pixels to black or white, and
  // the field's values stay within 16 bits (16ths of at most 1.5 times 1024).
  const double range = wv.grainRange < kLargestRange ? wv.grainRange : kLargestRange;
  const int32_t modulus = TruncToInt(range);
  const double half = range / 2.0;
  // The grain repeats with the modulus: each of its first `period` draws
  // stands for the draws equal to it modulo the period. The sums are of whole
  // numbers below 2^53: exact in any order.
  const int32_t period = modulus > 0 ? modulus : 1;
  grain->period = period;
  double total = 0.0, lowest = 0.0, highest = 0.0;
  for (int32_t d = 0; d < period && d <= kRandMax; ++d) {
    const double n = double(TruncToInt(double(ModOrZero(d, modulus)) - half));
    total += n * double((kRandMax - d) / period + 1);
    if (d == 0 || n < lowest) lowest = n;
    if (d == 0 || n > highest) highest = n;
  }
  const double mean = total / double(kRandMax + 1);
  const double spread = SpreadFactor(wv.width, wv.layout.unitX) * SpreadFactor(wv.height, wv.layout.unitY);
  grain->mean4096 = TruncToInt(std::floor(mean * 4096.0 + 0.5));
  const double reach = spread * (highest - mean > mean - lowest ? highest - mean : mean - lowest);
  grain->low = TruncToInt(std::floor(mean - reach)) - 1;
  grain->high = TruncToInt(std::ceil(mean + reach)) + 1;

  // The field rows are made as the picture's rows need them, by each thread
  // into its slot's two rows: the two a picture row blends are its slot's last
  // two, or new.
  const int32_t slots = RunnerSlots(threads);
  const int64_t slotRows = int64_t(slots) * 2 * wv.width;
  grain->slotRows = slotRows * int64_t(sizeof(int16_t)) <= INT32_MAX
                        ? static_cast<int16_t*>(NewMemBlock(int32_t(slotRows * int64_t(sizeof(int16_t)))))
                        : nullptr;
  grain->slotHeld = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * 2 * slots));
  const int64_t slotGrain = int64_t(slots) * wv.width * int64_t(sizeof(int32_t));
  grain->slotGrain = slotGrain <= INT32_MAX ? static_cast<int32_t*>(NewMemBlock(int32_t(slotGrain))) : nullptr;
  grain->blend = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * 3 * wv.height));
  grain->weights = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.width));
  grain->spanEnds = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.layout.width));
  // One value past the draws': a kernel reads each draw's value and the next.
  grain->cellValues = static_cast<int16_t*>(NewMemBlock(int32_t(sizeof(int16_t)) * (kRandMax + 2)));
  if (fieldRow != nullptr) {
    grain->cellOf = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.width));
    if (wv.layout.width <= kMaxGridSide) {
      grain->slotScratch = static_cast<int32_t*>(
          NewMemBlock(int32_t(sizeof(int32_t)) * slots * 2 * (wv.layout.width + 32)));
    }
  }
  const bool ok = grain->slotRows != nullptr && grain->slotHeld != nullptr &&
                  grain->slotGrain != nullptr &&
                  grain->blend != nullptr && grain->weights != nullptr &&
                  grain->spanEnds != nullptr && grain->cellValues != nullptr &&
                  (fieldRow == nullptr || (grain->cellOf != nullptr && grain->slotScratch != nullptr)) &&
                  wv.layout.width <= kMaxGridSide;
  if (!ok) {
    FreeScaledGrain(grain);
    return false;
  }
  for (int32_t i = 0; i < 2 * slots; ++i) grain->slotHeld[i] = -1;

  // Each picture row's two grid rows and the second's weight.
  for (int32_t y = 0; y < wv.height; ++y) {
    const AxisSample a = SampleAxis(y, wv.layout.unitY, gridRows.first, gridRows.end);
    int32_t* b = grain->blend + 3 * std::ptrdiff_t(y);
    b[0] = a.cell;
    b[1] = a.weight > 0.0 ? a.cell + 1 : a.cell;
    b[2] = TruncToInt(std::floor(a.weight * 256.0 + 0.5));
  }
  // The columns' cells only grow along the row: a cell's span ends where a
  // column starts from a later cell (cells no column starts from span nothing).
  for (int32_t c = 0; c < wv.layout.width; ++c) grain->spanEnds[c] = wv.width;
  int32_t previous = 0;
  for (int32_t x = 0; x < wv.width; ++x) {
    const AxisSample a = SampleAxis(x, wv.layout.unitX, 0, wv.layout.width);
    const int32_t w = TruncToInt(std::floor(a.weight * 256.0 + 0.5));
    grain->weights[x] = int32_t(uint32_t(256 - w) | (uint32_t(w) << 16));
    if (grain->cellOf != nullptr) grain->cellOf[x] = a.cell;
    for (int32_t c = previous; c < a.cell; ++c) grain->spanEnds[c] = x;
    if (a.cell > previous) previous = a.cell;
  }
  // Each draw's value as a cell of the field, halves up: |value| < 2^15
  // (kLargestRange), so the offset keeps the sum positive and exact, and the
  // cast truncates it as floor would. The values repeat with the modulus.
  for (int32_t d = 0; d <= kRandMax; ++d) {
    if (d >= period) {
      grain->cellValues[d] = grain->cellValues[d - period];
      continue;
    }
    const double n = double(TruncToInt(double(ModOrZero(d, modulus)) - half));
    grain->cellValues[d] = int16_t(int32_t((n - mean) * spread * 16.0 + (0.5 + kRoundingOffset)) -
                                   int32_t(kRoundingOffset));
  }
  return true;
}

void FreeScaledGrain(ScaledGrain* grain) {
  FreeMemBlock(grain->slotRows);
  FreeMemBlock(grain->slotHeld);
  FreeMemBlock(grain->slotGrain);
  FreeMemBlock(grain->blend);
  FreeMemBlock(grain->weights);
  FreeMemBlock(grain->spanEnds);
  FreeMemBlock(grain->cellValues);
  FreeMemBlock(grain->cellOf);
  FreeMemBlock(grain->slotScratch);
  const ScaledGrain none = ScaledGrain{};
  grain->slotRows = none.slotRows;
  grain->slotHeld = none.slotHeld;
  grain->slotGrain = none.slotGrain;
  grain->blend = none.blend;
  grain->weights = none.weights;
  grain->spanEnds = none.spanEnds;
  grain->cellValues = none.cellValues;
  grain->cellOf = none.cellOf;
  grain->slotScratch = none.slotScratch;
}

FieldRowPair ScaledGrainRows(const ScaledGrain& grain, int32_t slot, int32_t y) {
  FieldRowPair pair;
  const int32_t* b = grain.blend + 3 * std::ptrdiff_t(y);
  int32_t* held = grain.slotHeld + 2 * slot;
  int16_t* rows = grain.slotRows + std::ptrdiff_t(2 * slot) * grain.width;
  const int16_t* found[2];
  for (int k = 0; k < 2; ++k) {
    int32_t i = held[0] == b[k] ? 0 : (held[1] == b[k] ? 1 : -1);
    if (i < 0) {
      // The entry that does not hold the other row this one is blended with.
      i = held[0] == b[1 - k] ? 1 : 0;
      MakeFieldRow(grain, slot, b[k], rows + std::ptrdiff_t(i) * grain.width);
      held[i] = b[k];
    }
    found[k] = rows + std::ptrdiff_t(i) * grain.width;
  }
  pair.first = found[0];
  pair.second = found[1];
  pair.weight = b[2];
  return pair;
}

namespace {

// Rounded halves up: floor((v + 2048) / 4096), an arithmetic shift; the
// blended value in 4096ths, the mean put back, is within 32 bits (the field's
// values are 16-bit, the weights 8-bit, the mean's 4096ths below 2^22).
template <typename Out>
void BlendRows(const FieldRowPair& rows, int32_t add, int32_t x, int32_t count, Out* out) {
  for (; x < count; ++x) {
    out[x] = Out((int32_t(rows.first[x]) * (256 - rows.weight) + int32_t(rows.second[x]) * rows.weight +
                  add) >> 12);
  }
}

}  // namespace

const int16_t* ScaledGrainRow8(const ScaledGrain& grain, int32_t slot, int32_t y) {
  int16_t* out = reinterpret_cast<int16_t*>(grain.slotGrain + std::ptrdiff_t(slot) * grain.width);
  const FieldRowPair rows = ScaledGrainRows(grain, slot, y);
  const int32_t add = grain.mean4096 + 2048;
  int32_t x = 0;
#if defined(__SSE2__)
  // Eight pixels at a time: each pair (first, second) times (256 - w, w) in one
  // multiply-add, the mean and the half added, shifted, packed.
  const __m128i weights = _mm_set1_epi32(int32_t(uint32_t(256 - rows.weight) | (uint32_t(rows.weight) << 16)));
  const __m128i offset = _mm_set1_epi32(add);
  for (; x + 8 <= grain.width; x += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.first + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.second + x));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), offset), 12);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), offset), 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packs_epi32(lo, hi));
  }
#endif
  BlendRows(rows, add, x, grain.width, out);
  return out;
}

const int32_t* ScaledGrainRow16(const ScaledGrain& grain, int32_t slot, int32_t y) {
  int32_t* out = grain.slotGrain + std::ptrdiff_t(slot) * grain.width;
  // The 8-bit grain widened (render/Samples16.h), as a drawn grain is at 16 bits.
  BlendRows(ScaledGrainRows(grain, slot, y), grain.mean4096 + 2048, 0, grain.width, out);
  for (int32_t x = 0; x < grain.width; ++x) out[x] = int32_t(WidenLevel(out[x]));
  return out;
}
