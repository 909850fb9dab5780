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

// The generator four steps at a time: state * a^4 + c (a^3 + a^2 + a + 1).
const uint32_t kFourStepsMultiplier = kRandMultiplier * kRandMultiplier * kRandMultiplier * kRandMultiplier;
const uint32_t kFourStepsIncrement =
    kRandIncrement * (kRandMultiplier * kRandMultiplier * kRandMultiplier +
                      kRandMultiplier * kRandMultiplier + kRandMultiplier + 1u);
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

// What every row of the field needs: the grain rule, the columns' samples.
struct FieldMaker : BandedRows {
  const WorkingValues* wv;
  ScaledGrain* grain;
  const int32_t* gridRowOf;  // per field row: its grid row
  // The picture's columns: each one's weights of its cell and the next in
  // 256ths, (256 - w) | w << 16, and for each cell of the grid the column after
  // the last that starts from it.
  const int32_t* weights;
  const int32_t* spanEnds;
  const int16_t* cellValues;  // each draw's grain less the mean, times the spread's factor, in 16ths
  // The kernel's field rows (with each column's cell), or null: cell by cell.
  FieldRowMaker fieldRow;
  const int32_t* cellOf;
  uint32_t startState;
  int32_t firstGridRow;

  Rng BandStart(int32_t) const override { return Rng{startState}; }

  // Field row k: its grid row's draws, left to right, resampled across the
  // picture. The cells are drawn in order as the columns reach them, each less
  // the mean and times the spread's factor in 16ths (halves up); a pixel
  // between two cells blends them in 256ths of its weight, halves up:
  // (here (256 - w) + after w + 128) >> 8.
  void Row(int32_t k, Rng&) const override {
    const int32_t gridWidth = wv->layout.width;
    Rng rng{RngStateAfter(startState, uint64_t(gridRowOf[k] - firstGridRow) * uint64_t(gridWidth))};
    const int32_t width = grain->width;
    int16_t* const out = grain->rows + std::ptrdiff_t(k) * width;
    const int16_t* const values = cellValues;
    const int32_t* const w = weights;
    uint32_t state = rng.state;
    auto next = [&state, values]() {
      state = state * kRandMultiplier + kRandIncrement;
      return int32_t(values[(state >> 16) & 0x7FFF]);
    };
    if (fieldRow != nullptr) {
      // The row's cells first, the last repeated (its columns weigh the next
      // cell 0), then the kernel's pixels.
      // The draws in four chains of the generator, each four steps at a time,
      // so that no draw waits for the one before it.
      int16_t cells[kMaxGridSide + 4];
      uint32_t chain[4];
      chain[0] = state * kRandMultiplier + kRandIncrement;
      for (int j = 1; j < 4; ++j) chain[j] = chain[j - 1] * kRandMultiplier + kRandIncrement;
      for (int32_t c = 0; c < gridWidth; c += 4) {
        for (int j = 0; j < 4; ++j) {
          cells[c + j] = values[(chain[j] >> 16) & 0x7FFF];
          chain[j] = chain[j] * kFourStepsMultiplier + kFourStepsIncrement;
        }
      }
      cells[gridWidth] = cells[gridWidth - 1];
      fieldRow(cells, cellOf, w, width, out);
      return;
    }
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
};

}  // namespace

uint32_t ScaledGrainEndState(const WorkingValues& wv, uint32_t startState) {
  return RngStateAfter(startState, GridDraws(wv));
}

bool BuildScaledGrain(const WorkingValues& wv, uint32_t startState, int32_t threads,
                      const FieldKernels& kernels, ScaledGrain* grain) {
  *grain = ScaledGrain{};
  grain->blender = kernels.blend;
  const FieldRowMaker fieldRow = kernels.row;
  grain->width = wv.width;
  grain->endState = ScaledGrainEndState(wv, startState);
  const GridRows gridRows = GridPictureRows(wv);
  if (wv.width <= 0 || wv.height <= 0 || gridRows.end <= gridRows.first) return true;

  // The draws' grain and its mean over every draw 0..32767. A range beyond
  // kLargestRange (a Grain Amount of 800; only a record from elsewhere has one)
  // counts as that: its grain already takes most pixels to black or white, and
  // the field's values stay within 16 bits (16ths of at most 1.5 times 1024).
  const double range = wv.grainRange < kLargestRange ? wv.grainRange : kLargestRange;
  const int32_t modulus = TruncToInt(range);
  const double half = range / 2.0;
  double total = 0.0, lowest = 0.0, highest = 0.0;
  for (int32_t d = 0; d <= kRandMax; ++d) {
    const double n = double(TruncToInt(double(ModOrZero(d, modulus)) - half));
    total += n;
    if (d == 0 || n < lowest) lowest = n;
    if (d == 0 || n > highest) highest = n;
  }
  const double mean = total / double(kRandMax + 1);
  const double spread = SpreadFactor(wv.width, wv.layout.unitX) * SpreadFactor(wv.height, wv.layout.unitY);
  grain->mean4096 = TruncToInt(std::floor(mean * 4096.0 + 0.5));
  const double reach = spread * (highest - mean > mean - lowest ? highest - mean : mean - lowest);
  grain->low = TruncToInt(std::floor(mean - reach)) - 1;
  grain->high = TruncToInt(std::ceil(mean + reach)) + 1;

  // Each picture row's two grid rows (in grid rows first), then the field rows
  // they name, in order: both only grow down the picture.
  grain->blend = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * 3 * wv.height));
  int32_t* gridRowOf = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * 2 * wv.height));
  int32_t* weights = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.width));
  int32_t* spanEnds =
      static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.layout.width));
  int16_t* cellValues = static_cast<int16_t*>(NewMemBlock(int32_t(sizeof(int16_t)) * (kRandMax + 1)));
  int32_t* cellOf = fieldRow != nullptr
                        ? static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * wv.width))
                        : nullptr;
  bool ok = grain->blend != nullptr && gridRowOf != nullptr && weights != nullptr &&
            spanEnds != nullptr && cellValues != nullptr &&
            (fieldRow == nullptr || cellOf != nullptr) && wv.layout.width <= kMaxGridSide;
  int32_t count = 0;
  for (int32_t y = 0; ok && y < wv.height; ++y) {
    const int64_t source = int64_t(y) + wv.jitterOffset;
    if (source < 0 || source >= wv.height) continue;
    const AxisSample a = SampleAxis(y, wv.layout.unitY, gridRows.first, gridRows.end);
    const int32_t second = a.weight > 0.0 ? a.cell + 1 : a.cell;
    int32_t* b = grain->blend + 3 * std::ptrdiff_t(y);
    // The rows needed only grow down the picture: a row is either one of the last
    // two named or new.
    for (int k = 0; k < 2; ++k) {
      const int32_t row = k == 0 ? a.cell : second;
      if (count > 0 && gridRowOf[count - 1] == row) {
        b[k] = count - 1;
      } else if (count > 1 && gridRowOf[count - 2] == row) {
        b[k] = count - 2;
      } else {
        gridRowOf[count] = row;
        b[k] = count++;
      }
    }
    b[2] = TruncToInt(std::floor(a.weight * 256.0 + 0.5));
  }
  grain->rowCount = count;
  if (ok && count > 0) {
    const int64_t bytes = int64_t(sizeof(int16_t)) * count * wv.width;
    grain->rows = bytes <= INT32_MAX ? static_cast<int16_t*>(NewMemBlock(int32_t(bytes))) : nullptr;
    ok = grain->rows != nullptr;
  }
  if (ok && count > 0) {
    // The columns' cells only grow along the row: a cell's span ends where a
    // column starts from a later cell (cells no column starts from span nothing).
    for (int32_t c = 0; c < wv.layout.width; ++c) spanEnds[c] = wv.width;
    int32_t previous = 0;
    for (int32_t x = 0; x < wv.width; ++x) {
      const AxisSample a = SampleAxis(x, wv.layout.unitX, 0, wv.layout.width);
      const int32_t w = TruncToInt(std::floor(a.weight * 256.0 + 0.5));
      weights[x] = int32_t(uint32_t(256 - w) | (uint32_t(w) << 16));
      if (cellOf != nullptr) cellOf[x] = a.cell;
      for (int32_t c = previous; c < a.cell; ++c) spanEnds[c] = x;
      if (a.cell > previous) previous = a.cell;
    }
    FieldMaker maker;
    maker.wv = &wv;
    maker.grain = grain;
    maker.gridRowOf = gridRowOf;
    maker.weights = weights;
    maker.spanEnds = spanEnds;
    // Each draw's value as a cell of the field, halves up: |value| < 2^15
    // (kLargestRange), so the offset keeps the sum positive and exact, and the
    // cast truncates it as floor would.
    for (int32_t d = 0; d <= kRandMax; ++d) {
      const double n = double(TruncToInt(double(ModOrZero(d, modulus)) - half));
      cellValues[d] = int16_t(int32_t((n - mean) * spread * 16.0 + (0.5 + kRoundingOffset)) -
                              int32_t(kRoundingOffset));
    }
    maker.cellValues = cellValues;
    maker.fieldRow = fieldRow;
    maker.cellOf = cellOf;
    maker.startState = startState;
    maker.firstGridRow = gridRows.first;
    // The field rows are no rows of the picture: the host hears of none of them.
    RenderJob quiet = RenderJob();
    int32_t reported = 0;
    RunRowBands(maker, count, threads, quiet, &reported);
  }
  FreeMemBlock(gridRowOf);
  FreeMemBlock(weights);
  FreeMemBlock(spanEnds);
  FreeMemBlock(cellValues);
  FreeMemBlock(cellOf);
  if (!ok) FreeScaledGrain(grain);
  return ok;
}

void FreeScaledGrain(ScaledGrain* grain) {
  FreeMemBlock(grain->rows);
  FreeMemBlock(grain->blend);
  grain->rows = nullptr;
  grain->blend = nullptr;
  grain->rowCount = 0;
}

namespace {

// The blended value of pixel x in 4096ths, the mean put back: within 32 bits
// (the field's values are 16-bit, the weights 8-bit, the mean's 4096ths below
// 2^22).
inline int32_t FieldValue(const int16_t* first, const int16_t* second, int32_t weight,
                          int32_t mean4096, int32_t x) {
  return int32_t(first[x]) * (256 - weight) + int32_t(second[x]) * weight + mean4096;
}

// The two field rows picture row y blends, and the second's weight.
inline const int16_t* FieldRows(const ScaledGrain& grain, int32_t y, const int16_t** second,
                                int32_t* weight) {
  const int32_t* b = grain.blend + 3 * std::ptrdiff_t(y);
  *second = grain.rows + std::ptrdiff_t(b[1]) * grain.width;
  *weight = b[2];
  return grain.rows + std::ptrdiff_t(b[0]) * grain.width;
}

// Rounded halves up: floor((v + 2048) / 4096), an arithmetic shift.
template <typename Out>
void Piece(const ScaledGrain& grain, int32_t y, int32_t x0, int32_t count, Out* out) {
  const int16_t* second = nullptr;
  int32_t weight = 0;
  const int16_t* first = FieldRows(grain, y, &second, &weight);
  for (int32_t i = 0; i < count; ++i) {
    out[i] = Out((FieldValue(first, second, weight, grain.mean4096, x0 + i) + 2048) >> 12);
  }
}

}  // namespace

void ScaledGrainPiece(const ScaledGrain& grain, int32_t y, int32_t x0, int32_t count,
                      int16_t* out) {
  if (grain.rows == nullptr) {
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    return;
  }
  if (grain.blender != nullptr) {
    const int16_t* second = nullptr;
    int32_t weight = 0;
    const int16_t* first = FieldRows(grain, y, &second, &weight);
    grain.blender(first + x0, second + x0, weight, grain.mean4096 + 2048, count, out);
    return;
  }
  int32_t i = 0;
#if defined(__SSE2__)
  // Eight pixels at a time: each pair (first, second) times (256 - w, w) in one
  // multiply-add, the mean and the half added, shifted, packed.
  const int16_t* second = nullptr;
  int32_t weight = 0;
  const int16_t* first = FieldRows(grain, y, &second, &weight) + x0;
  second += x0;
  const __m128i weights = _mm_set1_epi32(int32_t(uint32_t(256 - weight) | (uint32_t(weight) << 16)));
  const __m128i add = _mm_set1_epi32(grain.mean4096 + 2048);
  for (; i + 8 <= count; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + i));
    const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), add), 12);
    const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), add), 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(lo, hi));
  }
#endif
  Piece(grain, y, x0 + i, count - i, out + i);
}

void ScaledGrainPiece(const ScaledGrain& grain, int32_t y, int32_t x0, int32_t count,
                      int32_t* out) {
  if (grain.rows == nullptr) {
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    return;
  }
  // The 8-bit grain widened (render/Samples16.h), as a drawn grain is at 16 bits.
  Piece(grain, y, x0, count, out);
  for (int32_t i = 0; i < count; ++i) out[i] = int32_t(WidenLevel(out[i]));
}
