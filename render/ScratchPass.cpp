// The scratch pass: vertical scratches that drift sideways, age and respawn.
// Their history is replayed from seed 0 and frame 0 on every call, so the
// scratches of a frame depend only on the parameters, the image size and the
// frame number, and a clip rendered frame by frame shows them continue.
//
// Replaying costs scratch count x frame number steps. The replay cache
// (render/ScratchCache.cpp) keeps states of earlier replays (arrays and
// generator) and the pass steps on from the latest one at or before the frame
// asked for; every road gives the same bytes.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/MemBlock.h"
#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
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

// Darkens scratch i's column, taking one draw per row, stored or not.
void DrawScratch(const RenderJob& job, const WorkingValues& wv, Rng& rng, float x, float age) {
  const int32_t col = int32_t(x);  // 0 < x < width
  // The darkening, in single precision, limited to 0..255.
  float s = ToFloat(double(age) / wv.scratchLifespan * 255.0 * wv.scratchOpacity);
  if (s < 0.0f) s = 0.0f;
  if (s >= 255.0f) s = 255.0f;
  const int32_t ageRange = TruncToInt(wv.scratchLifespan);
  // Rows that keep the background after the jitter shift stay unchanged: the
  // stored rows are those with -jitterOffset < r < height - jitterOffset.
  const int64_t storedLow = -int64_t(wv.jitterOffset);
  const int64_t storedHigh = int64_t(wv.height) - wv.jitterOffset;
  uint8_t* const column = job.dstData + ptrdiff_t(col) * wv.samplesPerPixel * wv.bytesPerSample;
  // At 16 bits the darkening (already limited to 0..255) is widened to its level
  // of 0..32768, a whole number, and the samples stay whole.
  const bool sixteenBits = wv.bytesPerSample == 2;
  // A darkening that is not a number (from a record's NaN) stores 0 at 8 bits
  // (trunc of NaN is 0): at 16 bits it darkens to 0 as well.
  const int32_t s16 = s == s ? int32_t(WidenLevel(double(s))) : kMaxSample16;
  for (int32_t r = 0; r < wv.height; ++r) {
    const int32_t t = ModOrZero(NextRand(rng), ageRange);
    // An undarkened row gives trunc(byte - 0), the byte itself: nothing to store.
    if (!(float(t) < age) || s == 0.0f) continue;
    if (!(storedLow < r && r < storedHigh)) continue;
    uint8_t* const p = column + ptrdiff_t(r) * job.dstRowBytes;
    if (sixteenBits) {
      for (int k = kRed; k <= kBlue; ++k) {
        StoreSample(p + 2 * k, ClampSample(int32_t(LoadSample(p + 2 * k)) - s16));
      }
      continue;
    }
    for (int k = kRed; k <= kBlue; ++k) {
      p[k] = ClampChannel(TruncToInt(float(p[k]) - s));
    }
  }
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
  // The darkening, in single precision, limited to 0..255 (a NaN darkens fully).
  float s = ToFloat(double(age) / wv.scratchLifespan * 255.0 * wv.scratchOpacity);
  if (!(s == s)) s = 255.0f;
  if (s < 0.0f) s = 0.0f;
  if (s >= 255.0f) s = 255.0f;
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
      const double d = double(s) * double(across[c]);
      for (int32_t v = 0; v < 256; ++v) {
        const int32_t darker = d > 0.0 ? static_cast<int32_t>(double(v) - d) : v;
        whole[c - cols.first][v] = uint8_t(darker < 0 ? 0 : darker);
      }
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
      if (!(d > 0.0)) continue;
      if (sixteenBits) {
        for (int k = kRed; k <= kBlue; ++k) {
          StoreSample(p + 2 * k, ClampSample(int64_t(LoadSample(p + 2 * k)) - int64_t(WidenLevel(d))));
        }
        continue;
      }
      // d is at most 255 (the covers of a pixel's cells add up to 1 at most),
      // so byte - d is a small number: truncated as it is, clamped at 0 only.
      for (int k = kRed; k <= kBlue; ++k) {
        const int32_t v = static_cast<int32_t>(double(p[k]) - d);
        p[k] = uint8_t(v < 0 ? 0 : v);
      }
    }
  }
  for (int32_t c = cols.first; c < cols.end; ++c) across[c] = 0.0f;
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

bool RunScratchPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, ScratchCache* cache) {
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

  // A scaled render draws through a column of the picture's rows and a row of its
  // columns; without memory for them the scratches are not drawn, as when the
  // arrays above cannot be had.
  float* lines = nullptr;
  GridRowCovers covers = {0, nullptr, nullptr};
  bool haveCovers = false;
  if (wv.layout.scaled && count > 0) {
    lines = static_cast<float*>(NewMemBlock(int32_t(sizeof(float)) * (wv.width + wv.height)));
    if (lines == nullptr) {
      FreeMemBlock(arrays);
      return true;
    }
    haveCovers = MakeGridRowCovers(wv, &covers);
  }
  const double width = double(wv.layout.width);
  bool finished = true;
  for (int32_t i = 0; i < count && finished; ++i) {
    const float x = st.x[i];
    const float age = st.age[i];
    if (double(age) < wv.scratchLifespan && 0.0 < double(x) && double(x) < width) {
      if (lines != nullptr) {
        DrawScaledScratch(job, wv, rng, x, age, lines, lines + wv.height,
                          haveCovers ? &covers : nullptr);
      } else {
        DrawScratch(job, wv, rng, x, age);
      }
    }
    if (ReportAndCheckAbort(job, i + 1, count)) finished = false;
  }
  FreeMemBlock(lines);
  FreeMemBlock(covers.rows);
  FreeMemBlock(arrays);
  return finished;
}
