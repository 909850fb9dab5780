// The scratch pass: vertical scratches that drift sideways, age and respawn.
// Their history is replayed from seed 0 and frame 0 on every call, so the
// scratches of a frame depend only on the parameters, the image size and the
// frame number, and a clip rendered frame by frame shows them continue.
//
// Replaying costs scratch count x frame number steps. The replay cache
// (render/ScratchCache.cpp) keeps states of earlier replays (arrays and
// generator) and the pass steps on from the latest one at or before the frame
// asked for; every road gives the same bytes.
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/MemBlock.h"
#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"
#include "render/ScaleLayout.h"
#include "render/ScratchCache.h"

namespace {

// A count from a record from elsewhere may be anything; beyond this (the same
// bound as the 16-bit walker counts) it stops, so the arrays stay small and
// their byte size is always representable.
const int32_t kMaxScratchCount = 32767;

// Conversion to single precision without the undefined behaviour of a double
// beyond the float range: such values become the infinity of their sign.
inline float ToFloat(double v) {
  if (v > double(FLT_MAX)) return HUGE_VALF;
  if (v < -double(FLT_MAX)) return -HUGE_VALF;
  return float(v);
}

ReplayKey MakeKey(const WorkingValues& wv, int32_t count) {
  return ReplayKey{count, wv.layout.width, wv.layout.height, wv.scratchVelocity, wv.scratchLifespan};
}

// The spawn draws of one scratch's values. The first spawn draws x, y, age,
// stepX, stepY; a respawn age, x, y, stepX, stepY.
struct Spawner {
  int32_t width;
  int32_t height;
  int32_t ageRange;       // trunc(scratchLifespan)
  int32_t velocityRange;  // trunc(scratchVelocity)
  int32_t stepYRange;     // height div 5
  double halfVelocity;    // scratchVelocity / 2
};

// The scratches live on the grid of the damage (render/ScaleLayout.h): the
// picture itself at Scale 1.
Spawner MakeSpawner(const WorkingValues& wv) {
  Spawner s;
  s.width = wv.layout.width;
  s.height = wv.layout.height;
  s.ageRange = TruncToInt(wv.scratchLifespan);
  s.velocityRange = TruncToInt(wv.scratchVelocity);
  s.stepYRange = wv.layout.height / 5;
  s.halfVelocity = wv.scratchVelocity / 2.0;
  return s;
}

inline float DrawX(const Spawner& s, Rng& rng) { return float(ModOrZero(NextRand(rng), s.width)); }
inline float DrawY(const Spawner& s, Rng& rng) { return float(ModOrZero(NextRand(rng), s.height)); }
inline float DrawAge(const Spawner& s, Rng& rng) {
  return float(ModOrZero(NextRand(rng), s.ageRange));
}
inline float DrawStepX(const Spawner& s, Rng& rng) {
  return ToFloat(double(ModOrZero(NextRand(rng), s.velocityRange)) - s.halfVelocity);
}
inline float DrawStepY(const Spawner& s, Rng& rng) {
  return float(ModOrZero(NextRand(rng), s.stepYRange));
}

void FirstSpawn(const Spawner& s, Rng& rng, const ScratchState& st, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    // x, y, age, stepX, stepY
    st.x[i] = DrawX(s, rng);
    st.y[i] = DrawY(s, rng);
    st.age[i] = DrawAge(s, rng);
    st.stepX[i] = DrawStepX(s, rng);
    st.stepY[i] = DrawStepY(s, rng);
  }
}

// Frame steps: every scratch moves by its steps and ages by one; one older than
// scratchLifespan + 5 respawns at once, in the same step.
void StepFrames(const Spawner& s, double lifespan, Rng& rng, const ScratchState& st,
                int32_t count, int32_t frames) {
  const double respawnAge = lifespan + 5.0;
  for (int32_t f = 0; f < frames; ++f) {
    for (int32_t i = 0; i < count; ++i) {
      st.x[i] = st.x[i] + st.stepX[i];
      st.y[i] = st.y[i] + st.stepY[i];
      st.age[i] = st.age[i] + 1.0f;
      if (double(st.age[i]) > respawnAge) {
        // age, x, y, stepX, stepY
        st.age[i] = DrawAge(s, rng);
        st.x[i] = DrawX(s, rng);
        st.y[i] = DrawY(s, rng);
        st.stepX[i] = DrawStepX(s, rng);
        st.stepY[i] = DrawStepY(s, rng);
      }
    }
  }
}

// A scratch's darkening for its age, in single precision, limited to 0..255 (a
// NaN from a record stays NaN).
float Darkening(const WorkingValues& wv, float age) {
  float s = ToFloat(double(age) / wv.scratchLifespan * 255.0 * wv.scratchOpacity);
  if (s < 0.0f) s = 0.0f;
  if (s >= 255.0f) s = 255.0f;
  return s;
}

// At 16 bits the darkening (already limited to 0..255) is widened to its level
// of 0..32768, a whole number, and the samples stay whole. A darkening that is
// not a number (from a record's NaN) stores 0 at 8 bits (trunc of NaN is 0): at
// 16 bits it darkens to 0 as well.
int32_t Darkening16(float s) { return s == s ? int32_t(WidenLevel(double(s))) : kMaxSample16; }

// One pixel of a Scale 1 scratch.
inline void DarkenPixel(uint8_t* p, bool sixteenBits, float s, int32_t s16) {
  if (sixteenBits) {
    for (int k = kRed; k <= kBlue; ++k) {
      StoreSample(p + 2 * k, ClampSample(int32_t(LoadSample(p + 2 * k)) - s16));
    }
    return;
  }
  for (int k = kRed; k <= kBlue; ++k) p[k] = ClampChannel(TruncToInt(float(p[k]) - s));
}

// Darkens scratch i's column, taking one draw per row, stored or not.
void DrawScratch(const RenderJob& job, const WorkingValues& wv, Rng& rng, float x, float age) {
  const int32_t col = int32_t(x);  // 0 < x < width
  const float s = Darkening(wv, age);
  const int32_t ageRange = TruncToInt(wv.scratchLifespan);
  // Rows that keep the background after the jitter shift stay unchanged: the
  // stored rows are those with -jitterOffset < r < height - jitterOffset.
  const int64_t storedLow = -int64_t(wv.jitterOffset);
  const int64_t storedHigh = int64_t(wv.height) - wv.jitterOffset;
  uint8_t* const column = job.dstData + ptrdiff_t(col) * wv.samplesPerPixel * wv.bytesPerSample;
  const bool sixteenBits = wv.bytesPerSample == 2;
  const int32_t s16 = Darkening16(s);
  for (int32_t r = 0; r < wv.height; ++r) {
    const int32_t t = ModOrZero(NextRand(rng), ageRange);
    // An undarkened row gives trunc(byte - 0), the byte itself: nothing to store.
    if (!(float(t) < age) || s == 0.0f) continue;
    if (!(storedLow < r && r < storedHigh)) continue;
    DarkenPixel(column + ptrdiff_t(r) * job.dstRowBytes, sixteenBits, s, s16);
  }
}

// A scaled scratch's darkening: as at Scale 1, but a NaN darkens fully.
float ScaledDarkening(const WorkingValues& wv, float age) {
  const float s = Darkening(wv, age);
  return s == s ? s : 255.0f;
}

// Each grid row's pixel rows and the part of the row their tent filter sees
// (float(TentCover)), made once for all of a frame's scaled scratches.
struct GridRowCovers {
  int32_t stride;  // covers per grid row
  PixelSpan* rows;
  float* cover;
};

// False (and nothing to free) without memory for them.
bool MakeGridRowCovers(const WorkingValues& wv, GridRowCovers* covers) {
  const ScaleLayout& grid = wv.layout;
  covers->stride = 0;
  for (int32_t r = 0; r < grid.height; ++r) {
    const PixelSpan rows = CellPixels(r, grid.unitY, wv.height);
    if (rows.end - rows.first > covers->stride) covers->stride = rows.end - rows.first;
  }
  const int64_t bytes = int64_t(grid.height) * (int64_t(sizeof(PixelSpan)) + int64_t(sizeof(float)) * covers->stride);
  void* block = bytes <= INT32_MAX ? NewMemBlock(int32_t(bytes)) : nullptr;
  if (block == nullptr) return false;
  covers->rows = static_cast<PixelSpan*>(block);
  covers->cover = reinterpret_cast<float*>(covers->rows + grid.height);
  for (int32_t r = 0; r < grid.height; ++r) {
    const PixelSpan rows = CellPixels(r, grid.unitY, wv.height);
    const double a = double(r) * grid.unitY, b = a + grid.unitY;
    covers->rows[r] = rows;
    float* cover = covers->cover + std::ptrdiff_t(r) * covers->stride;
    for (int32_t y = rows.first; y < rows.end; ++y) cover[y - rows.first] = float(TentCover(a, b, double(y) + 0.5));
  }
  return true;
}

// One pixel of a scaled scratch, darkened by d > 0.
inline void DarkenScaledPixel(uint8_t* p, bool sixteenBits, double d) {
  if (sixteenBits) {
    for (int k = kRed; k <= kBlue; ++k) {
      StoreSample(p + 2 * k, ClampSample(int64_t(LoadSample(p + 2 * k)) - int64_t(WidenLevel(d))));
    }
    return;
  }
  // d is at most 255 (the covers of a pixel's cells add up to 1 at most), so
  // byte - d is a small number: truncated as it is, clamped at 0 only.
  for (int k = kRed; k <= kBlue; ++k) {
    const int32_t v = static_cast<int32_t>(double(p[k]) - d);
    p[k] = uint8_t(v < 0 ? 0 : v);
  }
}

// Most rows of a scaled scratch take its whole darkening; for bytes, a column's
// result for every byte value, darkened by d, is made once, by the formula of
// DarkenScaledPixel (a d of 0 or less keeps the byte).
void MakeWholeTable(double d, uint8_t* table) {
  for (int32_t v = 0; v < 256; ++v) {
    const int32_t darker = d > 0.0 ? static_cast<int32_t>(double(v) - d) : v;
    table[v] = uint8_t(darker < 0 ? 0 : darker);
  }
}

// A scaled render's scratch: column col of the grid, darkened in the grid rows
// whose draw is below its age (one draw per grid row, as at Scale 1), drawn at
// the picture's size. Each picture pixel is darkened by the darkening times the
// part of the darkened cells its tent filter sees, so the scratch is as wide as
// its cells, with soft edges, and a faint young scratch stays a dotted line.
// `down` holds the picture's height in values, `across` its width, both 0.
// `covers`, where there was memory for it, holds each grid row's pixel rows and
// what their filter sees of it, the same for every scratch (GridRowCovers).
void DrawScaledScratch(const RenderJob& job, const WorkingValues& wv, Rng& rng, float x, float age,
                       float* down, float* across, const GridRowCovers* covers) {
  const ScaleLayout& grid = wv.layout;
  const int32_t col = int32_t(x);  // 0 < x < grid width
  const float s = ScaledDarkening(wv, age);
  const int32_t ageRange = TruncToInt(wv.scratchLifespan);
  const int64_t storedLow = -int64_t(GridJitter(wv));
  const int64_t storedHigh = int64_t(grid.height) - GridJitter(wv);
  int32_t rowLow = wv.height, rowEnd = 0;
  for (int32_t r = 0; r < grid.height; ++r) {
    const int32_t t = ModOrZero(NextRand(rng), ageRange);
    if (!(float(t) < age) || s == 0.0f) continue;
    if (!(storedLow < r && r < storedHigh)) continue;
    PixelSpan rows;
    if (covers != nullptr) {
      rows = covers->rows[r];
      const float* cover = covers->cover + std::ptrdiff_t(r) * covers->stride - rows.first;
      for (int32_t y = rows.first; y < rows.end; ++y) down[y] += cover[y];
    } else {
      rows = CellPixels(r, grid.unitY, wv.height);
      const double a = double(r) * grid.unitY, b = a + grid.unitY;
      for (int32_t y = rows.first; y < rows.end; ++y) {
        down[y] += float(TentCover(a, b, double(y) + 0.5));
      }
    }
    if (rows.first < rowLow) rowLow = rows.first;
    if (rows.end > rowEnd) rowEnd = rows.end;
  }
  const PixelSpan cols = CellPixels(col, grid.unitX, wv.width);
  const double a = double(col) * grid.unitX, b = a + grid.unitX;
  for (int32_t c = cols.first; c < cols.end; ++c) across[c] = float(TentCover(a, b, double(c) + 0.5));
  const bool sixteenBits = wv.bytesPerSample == 2;
  const int32_t pixelBytes = wv.samplesPerPixel * wv.bytesPerSample;
  // Most rows take the whole darkening (down 1: every cell their filter sees
  // is darkened), the same in every such row: for bytes, each column's result
  // for every byte value is made once, by the same formula as below.
  const int32_t kTableColumns = 24;
  uint8_t whole[kTableColumns][256];
  const bool tables = !sixteenBits && cols.end - cols.first <= kTableColumns;
  if (tables) {
    for (int32_t c = cols.first; c < cols.end; ++c) {
      MakeWholeTable(double(s) * double(across[c]), whole[c - cols.first]);
    }
  }
  for (int32_t y = rowLow; y < rowEnd; ++y) {
    const double darkening = double(s) * double(down[y]);
    const bool wholeRow = tables && down[y] == 1.0f;
    down[y] = 0.0f;
    const int64_t source = int64_t(y) + wv.jitterOffset;
    if (!(darkening > 0.0) || source < 0 || source >= wv.height) continue;
    uint8_t* p = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes + std::ptrdiff_t(cols.first) * pixelBytes;
    if (wholeRow) {
      for (int32_t c = 0; c < cols.end - cols.first; ++c, p += pixelBytes) {
        for (int k = kRed; k <= kBlue; ++k) p[k] = whole[c][p[k]];
      }
      continue;
    }
    for (int32_t c = cols.first; c < cols.end; ++c, p += pixelBytes) {
      const double d = darkening * double(across[c]);
      if (d > 0.0) DarkenScaledPixel(p, sixteenBits, d);
    }
  }
  for (int32_t c = cols.first; c < cols.end; ++c) across[c] = 0.0f;
}

// The scratches drawn row by row. Scratch after scratch, each scratch walks
// down every row of the picture: on a large frame each of its pixels is a new
// cache line and a new page, for every scratch again. So the pass first takes
// every scratch's draws, in the order of the scratch-by-scratch drawing (the
// generator's state after the pass is the same), and keeps what the drawing
// needs: which rows of the grid each scratch darkens (a bit per scratch in each
// grid row), its darkening and its columns. Then it visits the picture once,
// row by row, darkening each row by its scratches in their order, so that where
// scratches overlap every pixel goes through the same steps as before: the same
// bytes.

// One drawn scratch.
struct RowScratch {
  float s;        // the darkening (Darkening or ScaledDarkening)
  int32_t s16;    // Scale 1 at 16 bits: Darkening16(s)
  int32_t first;  // its picture columns: first .. end - 1
  int32_t end;
  int32_t across;  // a scaled scratch: where its columns' covers start in RowPlan::across
  int32_t table;   // where its whole-darkening tables start in RowPlan::tables, or -1
};

// The most a plan may take: past it (a count, size or scale far past the
// dialog's ranges) the scratches are drawn one after another as before.
const int64_t kMaxPlanBytes = int64_t(64) << 20;
std::atomic<int64_t> gPlanByteLimit(kMaxPlanBytes);
// Whole-darkening tables are kept for scratches while they take no more than
// this; the others compute each pixel (the same bytes).
const int64_t kMaxTableBytes = int64_t(1) << 20;
const int32_t kTableColumns = 24;
// How far ahead of the row darkened its pixels are asked for.
const int32_t kPrefetchRows = 32;

struct RowPlan {
  int32_t count;       // the scratches drawn
  int32_t words;       // 64-bit words of marks per grid row
  int32_t rows;        // grid rows
  uint64_t* marks;     // grid row r's marks at r * words: bit j, scratch j darkens it
  RowScratch* scratches;
  float* across;       // scaled: each scratch's columns' covers
  uint8_t* tables;     // scaled, bytes: 256 per column of a scratch with tables
  void* block;
};

inline bool Drawn(const WorkingValues& wv, float x, float age) {
  return double(age) < wv.scratchLifespan && 0.0 < double(x) && double(x) < double(wv.layout.width);
}

// The plan's block for the scratches to be drawn; false (nothing to free) when
// it would be larger than the limit or there is no memory for it.
bool NewRowPlan(const WorkingValues& wv, const ScratchState& st, int32_t count, RowPlan* plan) {
  const ScaleLayout& grid = wv.layout;
  const bool tables = grid.scaled && wv.bytesPerSample == 1;
  int64_t drawn = 0, acrossFloats = 0, tableBytes = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (!Drawn(wv, st.x[i], st.age[i])) continue;
    ++drawn;
    if (!grid.scaled) continue;
    const PixelSpan cols = CellPixels(int32_t(st.x[i]), grid.unitX, wv.width);
    acrossFloats += cols.end - cols.first;
    const int64_t table = int64_t(cols.end - cols.first) * 256;
    if (tables && cols.end - cols.first <= kTableColumns && tableBytes + table <= kMaxTableBytes) {
      tableBytes += table;
    }
  }
  plan->count = int32_t(drawn);
  plan->words = int32_t((drawn + 63) / 64);
  plan->rows = grid.height;
  const int64_t markBytes = int64_t(plan->rows) * plan->words * int64_t(sizeof(uint64_t));
  const int64_t bytes = markBytes + drawn * int64_t(sizeof(RowScratch)) +
                        acrossFloats * int64_t(sizeof(float)) + tableBytes;
  if (bytes > gPlanByteLimit.load(std::memory_order_relaxed) || bytes > INT32_MAX) return false;
  void* block = NewMemBlock(int32_t(bytes > 0 ? bytes : 1));
  if (block == nullptr) return false;
  plan->block = block;
  plan->marks = static_cast<uint64_t*>(block);
  plan->scratches = reinterpret_cast<RowScratch*>(static_cast<uint8_t*>(block) + markBytes);
  plan->across = reinterpret_cast<float*>(plan->scratches + drawn);
  plan->tables = reinterpret_cast<uint8_t*>(plan->across + acrossFloats);
  return true;
}

// Takes scratch j's draws, one per grid row, as DrawScratch and
// DrawScaledScratch take them, and keeps the rows it darkens and what its
// drawing needs. `acrossAt` and `tableAt` are where the pools are filled up to.
void PlanScratch(const WorkingValues& wv, Rng& rng, float x, float age, int32_t j, RowPlan* plan,
                 int32_t* acrossAt, int32_t* tableAt) {
  const ScaleLayout& grid = wv.layout;
  const int32_t col = int32_t(x);
  RowScratch& sc = plan->scratches[j];
  sc.s = grid.scaled ? ScaledDarkening(wv, age) : Darkening(wv, age);
  sc.s16 = Darkening16(sc.s);
  const int32_t ageRange = TruncToInt(wv.scratchLifespan);
  const int64_t storedLow = -int64_t(GridJitter(wv));
  const int64_t storedHigh = int64_t(grid.height) - GridJitter(wv);
  uint64_t* mark = plan->marks + j / 64;
  const uint64_t bit = uint64_t(1) << (j % 64);
  for (int32_t r = 0; r < grid.height; ++r) {
    const int32_t t = ModOrZero(NextRand(rng), ageRange);
    if (!(float(t) < age) || sc.s == 0.0f) continue;
    if (!(storedLow < r && r < storedHigh)) continue;
    mark[std::ptrdiff_t(r) * plan->words] |= bit;
  }
  sc.table = -1;
  if (!grid.scaled) {
    sc.first = col;
    sc.end = col + 1;
    return;
  }
  const PixelSpan cols = CellPixels(col, grid.unitX, wv.width);
  sc.first = cols.first;
  sc.end = cols.end;
  sc.across = *acrossAt;
  const double a = double(col) * grid.unitX, b = a + grid.unitX;
  float* across = plan->across + sc.across;
  for (int32_t c = cols.first; c < cols.end; ++c) {
    across[c - cols.first] = float(TentCover(a, b, double(c) + 0.5));
  }
  *acrossAt += cols.end - cols.first;
  const int32_t tableBytes = (cols.end - cols.first) * 256;
  if (wv.bytesPerSample == 1 && cols.end - cols.first <= kTableColumns &&
      *tableAt + int64_t(tableBytes) <= kMaxTableBytes) {
    sc.table = *tableAt;
    for (int32_t c = 0; c < cols.end - cols.first; ++c) {
      MakeWholeTable(double(sc.s) * double(across[c]), plan->tables + sc.table + 256 * c);
    }
    *tableAt += tableBytes;
  }
}

// The grid rows whose pixel rows include picture row y: lo .. hi - 1, for rows
// taken from the top down (each grid row's pixel rows start and end no
// earlier than the row above's). At Scale 1, row y itself.
struct GridRowsOf {
  const WorkingValues* wv;
  const GridRowCovers* covers;
  int32_t lo;
  int32_t hi;

  void MoveTo(int32_t y) {
    if (!wv->layout.scaled) {
      lo = y;
      hi = y + 1;
      return;
    }
    const int32_t rows = wv->layout.height;
    while (lo < rows && covers->rows[lo].end <= y) ++lo;
    if (hi < lo) hi = lo;
    while (hi < rows && covers->rows[hi].first <= y) ++hi;
  }
};

// Darkens picture row y by each planned scratch that darkens it, in the
// scratches' order, as DrawScratch and DrawScaledScratch darken it.
void DarkenRow(const RenderJob& job, const WorkingValues& wv, const RowPlan& plan,
               const GridRowsOf& grid, int32_t y) {
  const bool sixteenBits = wv.bytesPerSample == 2;
  const int32_t pixelBytes = wv.samplesPerPixel * wv.bytesPerSample;
  uint8_t* const row = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes;
  if (!wv.layout.scaled) {
    const uint64_t* marks = plan.marks + std::ptrdiff_t(y) * plan.words;
    for (int32_t w = 0; w < plan.words; ++w) {
      for (uint64_t m = marks[w]; m != 0; m &= m - 1) {
        const RowScratch& sc = plan.scratches[w * 64 + __builtin_ctzll(m)];
        DarkenPixel(row + std::ptrdiff_t(sc.first) * pixelBytes, sixteenBits, sc.s, sc.s16);
      }
    }
    return;
  }
  // Rows that keep the background after the jitter shift stay unchanged.
  const int64_t source = int64_t(y) + wv.jitterOffset;
  if (source < 0 || source >= wv.height) return;
  const GridRowCovers& covers = *grid.covers;
  const int32_t lo = grid.lo, hi = grid.hi;
  for (int32_t w = 0; w < plan.words; ++w) {
    uint64_t any = 0;
    for (int32_t r = lo; r < hi; ++r) any |= plan.marks[std::ptrdiff_t(r) * plan.words + w];
    for (uint64_t m = any; m != 0; m &= m - 1) {
      const int32_t bit = __builtin_ctzll(m);
      // The part of the scratch's darkened cells row y's filter sees, added up
      // from the top as DrawScaledScratch adds it.
      float down = 0.0f;
      for (int32_t r = lo; r < hi; ++r) {
        if (((plan.marks[std::ptrdiff_t(r) * plan.words + w] >> bit) & 1u) == 0) continue;
        down += covers.cover[std::ptrdiff_t(r) * covers.stride + (y - covers.rows[r].first)];
      }
      const RowScratch& sc = plan.scratches[w * 64 + bit];
      const double darkening = double(sc.s) * double(down);
      if (!(darkening > 0.0)) continue;
      uint8_t* p = row + std::ptrdiff_t(sc.first) * pixelBytes;
      if (sc.table >= 0 && down == 1.0f) {
        const uint8_t* table = plan.tables + sc.table;
        for (int32_t c = sc.first; c < sc.end; ++c, p += pixelBytes, table += 256) {
          for (int k = kRed; k <= kBlue; ++k) p[k] = table[p[k]];
        }
        continue;
      }
      const float* across = plan.across + sc.across;
      for (int32_t c = sc.first; c < sc.end; ++c, p += pixelBytes, ++across) {
        const double d = darkening * double(*across);
        if (d > 0.0) DarkenScaledPixel(p, sixteenBits, d);
      }
    }
  }
}

// The scratches one after another, each down the whole picture: where there is
// no memory for a plan. A scaled render draws through a column of the
// picture's rows and a row of its columns; without memory for them the
// scratches are not drawn, as when the pass's arrays cannot be had.
bool DrawScratchByScratch(const RenderJob& job, const WorkingValues& wv, Rng& rng,
                          const ScratchState& st, int32_t count, const GridRowCovers* covers) {
  float* lines = nullptr;
  if (wv.layout.scaled && count > 0) {
    lines = static_cast<float*>(NewMemBlock(int32_t(sizeof(float)) * (wv.width + wv.height)));
    if (lines == nullptr) return true;
  }
  bool finished = true;
  for (int32_t i = 0; i < count && finished; ++i) {
    const float x = st.x[i];
    const float age = st.age[i];
    if (Drawn(wv, x, age)) {
      if (lines != nullptr) {
        DrawScaledScratch(job, wv, rng, x, age, lines, lines + wv.height, covers);
      } else {
        DrawScratch(job, wv, rng, x, age);
      }
    }
    if (ReportAndCheckAbort(job, i + 1, count)) finished = false;
  }
  FreeMemBlock(lines);
  return finished;
}

// The plan's rows on the band runner (render/RenderThreads.h): the rows take
// no draw and depend on nothing but the plan, so any number of threads gives
// the bytes of one. Visited row by row, scratch after scratch, the pixels'
// addresses follow no stride the processor would guess: each row's pixels are
// asked for kPrefetchRows rows before they are darkened.
class ScratchRows final : public BandedRows {
 public:
  ScratchRows(const RenderJob& job, const WorkingValues& wv, const RowPlan& plan,
              const GridRowCovers* covers)
      : job_(job), wv_(wv), plan_(plan), covers_(covers) {
    for (Slot& slot : slots_) slot = Slot{-1, {&wv, covers, 0, 0}, {&wv, covers, 0, 0}};
  }

  Rng BandStart(int32_t) const override { return Rng{0}; }

  // A thread's rows come band by band, each from its top down: a row that does
  // not follow the slot's last one starts a band.
  void Row(int32_t y, int32_t slot, Rng&) const override {
    Slot& s = slots_[slot];
    if (y != s.next) {
      s.rows = GridRowsOf{&wv_, covers_, 0, 0};
      s.ahead = GridRowsOf{&wv_, covers_, 0, 0};
      for (int32_t k = y; k < y + kPrefetchRows && k < wv_.height; ++k) AskFor(&s.ahead, k);
    }
    if (y + kPrefetchRows < wv_.height) AskFor(&s.ahead, y + kPrefetchRows);
    s.rows.MoveTo(y);
    DarkenRow(job_, wv_, plan_, s.rows, y);
    s.next = y + 1;
  }

 private:
  struct Slot {
    int32_t next;  // the row after the slot's last
    GridRowsOf rows;
    GridRowsOf ahead;
  };

  // Prefetches the pixels picture row y's scratches darken; `ahead` follows y.
  // (It moves `ahead` too: a function that only prefetches may be taken for one
  // without effects and its calls dropped.)
  void AskFor(GridRowsOf* ahead, int32_t y) const {
    ahead->MoveTo(y);
    const int32_t pixelBytes = wv_.samplesPerPixel * wv_.bytesPerSample;
    const uint8_t* const row = job_.dstData + std::ptrdiff_t(y) * job_.dstRowBytes;
    for (int32_t w = 0; w < plan_.words; ++w) {
      uint64_t any = 0;
      for (int32_t r = ahead->lo; r < ahead->hi; ++r) {
        any |= plan_.marks[std::ptrdiff_t(r) * plan_.words + w];
      }
      for (uint64_t m = any; m != 0; m &= m - 1) {
        const RowScratch& sc = plan_.scratches[w * 64 + __builtin_ctzll(m)];
        __builtin_prefetch(row + std::ptrdiff_t(sc.first) * pixelBytes, 1);
        __builtin_prefetch(row + std::ptrdiff_t(sc.end) * pixelBytes - 1, 1);
      }
    }
  }

  const RenderJob& job_;
  const WorkingValues& wv_;
  const RowPlan& plan_;
  const GridRowCovers* covers_;
  mutable Slot slots_[kMaxRenderThreads];
};

// Darkens every row of the picture from the plan on up to `threads` threads.
// The host is not asked in between (the pass has reported every scratch).
void DarkenRows(const RenderJob& job, const WorkingValues& wv, const RowPlan& plan,
                const GridRowCovers* covers, int32_t threads) {
  RenderJob quiet = job;
  quiet.progressProc = nullptr;
  quiet.abortProc = nullptr;
  const ScratchRows rows(job, wv, plan, covers);
  int32_t reported = 0;
  RunRowBands(rows, wv.height, threads, quiet, &reported);
}

// Steps the scratches from frame `from` to frame `frames`, storing every
// checkpoint passed on the way.
void ReplayWithCache(ScratchCache* cache, const Spawner& spawner, const WorkingValues& wv,
                     const ReplayKey& key, int32_t frames, const ScratchState& st, Rng& rng) {
  const int32_t interval = CheckpointInterval(cache);
  int32_t from = RestoreNearest(cache, key, frames, st, rng);
  if (from < 0) {
    FirstSpawn(spawner, rng, st, key.count);
    from = 0;
  }
  while (from < frames) {
    const int64_t nextCheckpoint = (int64_t(from) / interval + 1) * interval;
    const int32_t to = nextCheckpoint < frames ? int32_t(nextCheckpoint) : frames;
    StepFrames(spawner, wv.scratchLifespan, rng, st, key.count, to - from);
    from = to;
    if (from % interval == 0) AddCheckpoint(cache, key, from, st, rng);
  }
  StoreCursor(cache, key, frames, st, rng);
}

}  // namespace

bool RunScratchPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, ScratchCache* cache,
                    int32_t threads) {
  int32_t count = wv.scratchCount;
  if (count < 0) count = 0;
  if (count > kMaxScratchCount) count = kMaxScratchCount;

  // The pass's own arrays, x, y, age, stepX, stepY, in one block, each with one
  // entry more than the count (the last never used). Without memory for them the
  // pass is skipped.
  const int32_t stride = count + 1;
  float* const arrays = static_cast<float*>(NewMemBlock(int32_t(sizeof(float)) * 5 * stride));
  if (arrays == nullptr) return true;
  const ScratchState st = {arrays, arrays + stride, arrays + 2 * stride, arrays + 3 * stride,
                           arrays + 4 * stride};

  // A frame number of 0 or less replays no step.
  const int32_t frames = wv.frameNumber > 0 ? wv.frameNumber : 0;
  const Spawner spawner = MakeSpawner(wv);
  const ReplayKey key = MakeKey(wv, count);

  SeedRng(rng, 0);
  if (count > 0) {
    if (cache != nullptr) {
      ReplayWithCache(cache, spawner, wv, key, frames, st, rng);
    } else {
      FirstSpawn(spawner, rng, st, count);
      StepFrames(spawner, wv.scratchLifespan, rng, st, count, frames);
    }
  }

  // A scaled render finds each grid row's pixel rows and covers once
  // (MakeGridRowCovers). Row by row where there is memory for the plan (and for
  // the covers, in a scaled render); otherwise scratch by scratch.
  GridRowCovers covers = {0, nullptr, nullptr};
  const bool haveCovers = wv.layout.scaled && count > 0 && MakeGridRowCovers(wv, &covers);
  RowPlan plan;
  bool finished = true;
  if (count > 0 && (haveCovers || !wv.layout.scaled) && NewRowPlan(wv, st, count, &plan)) {
    int32_t j = 0, acrossAt = 0, tableAt = 0;
    for (int32_t i = 0; i < count && finished; ++i) {
      if (Drawn(wv, st.x[i], st.age[i])) {
        PlanScratch(wv, rng, st.x[i], st.age[i], j++, &plan, &acrossAt, &tableAt);
      }
      if (ReportAndCheckAbort(job, i + 1, count)) finished = false;
    }
    // After a stop the scratches planned are drawn, as the scratch-by-scratch
    // drawing leaves them.
    if (j > 0) DarkenRows(job, wv, plan, haveCovers ? &covers : nullptr, threads);
    FreeMemBlock(plan.block);
  } else {
    finished = DrawScratchByScratch(job, wv, rng, st, count, haveCovers ? &covers : nullptr);
  }
  FreeMemBlock(covers.rows);
  FreeMemBlock(arrays);
  return finished;
}

void SetScratchPlanLimitForTesting(int64_t bytes) {
  gPlanByteLimit.store(bytes >= 0 ? bytes : kMaxPlanBytes, std::memory_order_relaxed);
}
