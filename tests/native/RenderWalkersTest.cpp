// Whole renders with dust, hairs and scratches: exact replays from a fixed seed,
// stopping, a failed allocation, and a clip rendered frame after frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "render/MemBlock.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "tests/native/WalkerTestSupport.h"

namespace {

long gClock = 0;
long FixedClock() { return gClock; }

// Renders through RenderEffect, as the plug-in does, with the clock read as `seed`.
int32_t RenderWithSeed(const RenderJob& job, long seed) {
  gClock = seed;
  SetClockSourceForTesting(FixedClock);
  const int32_t result = RenderEffect(&job);
  SetClockSourceForTesting(nullptr);
  return result;
}

// The whole render read from the rules, for PlainParams-style records (the
// tone pass copies each picture row): background, jitter, picture rows, then
// at most `dustLimit` specks, and hairs and scratches unless stopped.
ModelImage ModelRender(const EffectParams& p, ModelImage src, ModelImage dst, uint32_t seed,
                       int32_t dustLimit = 1 << 30) {
  const double* P = p.value;
  const int32_t w = dst.width, h = dst.height;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (P[kRevealBackLayer] != 0) {
        for (int32_t c = 0; c < dst.bytesPerPixel; ++c) dst.At(x, y)[c] = src.At(x, y)[c];
      } else {
        for (int32_t c = 0; c < 3; ++c) dst.At(x, y)[c] = 0;
      }
    }
  }
  ModelRand r{seed};
  int32_t jitter = 0;
  if (r.Next() % 100 < P[kJitterProbability]) {
    const double a = h * (P[kJitterMaxOffset] / 100);
    jitter = int32_t(ModelMod(r.Next(), int32_t(a)) - a / 3);
  }
  for (int32_t y = 0; y < h; ++y)
    if (y + jitter >= 0 && y + jitter < h)
      for (int32_t x = 0; x < w; ++x)
        for (int32_t c = 0; c < 3; ++c) dst.At(x, y)[c] = src.At(x, y + jitter)[c];
  const int32_t dustCount = ModelWalkers(dst, p, jitter, r, kModelDust, dustLimit);
  if (dustLimit < dustCount) return dst;
  ModelWalkers(dst, p, jitter, r, kModelHair);
  ModelScratches(dst, p, jitter, int32_t(P[kFrameNumber] + 0.5));
  return dst;
}

}  // namespace

// Whole renders replayed from fixed seeds: jitter off and always on (Max Offset
// 10 on 48 rows: A = 4.8, offsets -1..2), both layouts, frames 0 and 7, the
// background filled or revealed. Every byte agrees, alpha and padding included.
TEST(RenderWalkers, WholeRendersReplayExactly) {
  for (int32_t bpp : {3, 4}) {
    for (double jitterProbability : {0.0, 100.0}) {
      for (double reveal : {0.0, 1.0}) {
        for (double frame : {0.0, 7.0}) {
          for (long seed : {1L, 31337L}) {
            EffectParams p = PlainParams();
            p.value[kJitterProbability] = jitterProbability;
            p.value[kJitterMaxOffset] = 10;
            p.value[kRevealBackLayer] = reveal;
            p.value[kFrameNumber] = frame;
            p.value[kDustAmount] = 60;
            p.value[kDustColorRed] = 250;
            const ModelImage src = PatternImage(64, 48, bpp);
            ModelImage dst = UniformImage(64, 48, bpp, 9);
            const ModelImage expected = ModelRender(p, src, dst, uint32_t(seed));
            RenderJob job = JobOver(p, dst, &src);
            ResetProgressLog();
            ASSERT_EQ(RenderWithSeed(job, seed), 1);
            ASSERT_EQ(dst.bytes, expected.bytes) << "bpp " << bpp << " jitter " << jitterProbability
                                                 << " reveal " << reveal << " frame " << frame
                                                 << " seed " << seed;
            // A job that carries its seed (the dialog's) does not read the clock.
            ModelImage seededDst = UniformImage(64, 48, bpp, 9);
            RenderJob seeded = JobOver(p, seededDst, &src);
            seeded.seeded = 1;
            seeded.seed = uint32_t(seed);
            ResetProgressLog();
            ASSERT_EQ(RenderWithSeed(seeded, seed + 1000), 1);
            ASSERT_EQ(seededDst.bytes, expected.bytes) << "seeded job, seed " << seed;
          }
        }
      }
    }
  }
}

// An abort answered after the first speck: result 0, one speck, no hairs, no
// scratches, and no report after that one.
TEST(RenderWalkers, AbortAfterTheFirstSpeck) {
  EffectParams p = PlainParams();
  p.value[kFrameNumber] = 5;
  p.value[kDustSize] = 60;  // long specks, so the one speck shows
  const ModelImage src = PatternImage(50, 40, 4);
  ModelImage dst = UniformImage(50, 40, 4, 0);
  for (long seed = 1; seed < 20; ++seed) {
    ModelImage expected = ModelRender(p, src, dst, uint32_t(seed), 1);
    const ModelImage plain = ModelRender(p, src, dst, uint32_t(seed), 0);
    ModelRand r{uint32_t(seed)};
    r.Next();
    const int32_t dustTotal = int32_t(r.Next() % 4 + 10.5);
    ModelImage out = dst;
    RenderJob job = JobOver(p, out, &src);
    ResetProgressLog(dustTotal);
    ASSERT_EQ(RenderWithSeed(job, seed), 0);
    ASSERT_EQ(gProgressLog.calls.back(), std::make_pair(1, dustTotal));
    ASSERT_EQ(gProgressLog.calls.size(), 41u);  // 40 rows, one speck
    ASSERT_EQ(out.bytes, expected.bytes);
    if (expected.bytes != plain.bytes) {  // a speck that showed: done
      ResetProgressLog();
      return;
    }
  }
  ResetProgressLog();
  FAIL() << "no seed gave a visible first speck";
}

// Scratches depend on the frame alone: renders from other seeds give the same
// image without dust and hairs, and different ones with them. A failed block
// allocation skips the scratches and still reports a finished render.
TEST(RenderWalkers, ScratchesRepeatDustAndHairsDoNotAllocationFailureSkips) {
  EffectParams p = PlainParams();
  p.value[kFrameNumber] = 33;
  ResetProgressLog();
  const ModelImage src = PatternImage(64, 48, 3);
  ModelImage a = src, b = src;
  RenderJob jobA = JobOver(p, a, &src), jobB = JobOver(p, b, &src);
  ASSERT_EQ(RenderWithSeed(jobA, 10), 1);
  ASSERT_EQ(RenderWithSeed(jobB, 11), 1);
  EXPECT_NE(a.bytes, b.bytes);

  p.value[kDustAmount] = 0;
  p.value[kHairAmount] = 0;
  ASSERT_EQ(RenderWithSeed(jobA, 10), 1);
  ASSERT_EQ(RenderWithSeed(jobB, 11), 1);
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_NE(a.bytes, src.bytes);  // there were scratches

  p.value[kDustAmount] = 15;
  p.value[kHairAmount] = 5;
  p.value[kScratchAmount] = 0;
  ASSERT_EQ(RenderWithSeed(jobA, 12), 1);
  p.value[kScratchAmount] = 7;  // a total no other pass reports here
  FailNextBlockAllocationsForTesting(1);
  ResetProgressLog();
  EXPECT_EQ(RenderWithSeed(jobB, 12), 1);
  FailNextBlockAllocationsForTesting(0);
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_TRUE(ReportsWithTotal(7).empty());
}

// A clip rendered frame after frame, as a host repeats the filter (through the
// module's replay cache, checked against the full replay): every
// scratch seen in one frame (one column, one darkening) is found in the next
// within 10 columns (|stepX| <= 10) and darker by 76.5 / 46 (1 or 2 levels),
// until it reaches age 45 (level 125) or the edge; and one followed over three
// frames moves by the same step each time.
TEST(RenderWalkers, AClipShowsScratchesContinuing) {
  EffectParams p = PlainParams();
  p.value[kDustAmount] = 0;
  p.value[kHairAmount] = 0;
  const int32_t w = 320, h = 240;
  const ModelImage src = UniformImage(w, h, 3, 200);
  std::vector<std::map<int32_t, std::set<int32_t>>> frames;  // column -> darkened levels
  for (int32_t frame = 1; frame <= 40; ++frame) {
    p.value[kFrameNumber] = frame;
    ModelImage out = src;
    RenderJob job = JobOver(p, out, &src);
    ASSERT_EQ(RenderEffect(&job), 1);
    // The module's replay cache stepped on from the last frame; the full replay
    // from frame 0 must give the same bytes.
    ModelImage full = src;
    RenderJob fullJob = JobOver(p, full, &src);
    Rng rng;
    RenderContext noCache = {&rng, nullptr, 0};
    ASSERT_EQ(RenderEffectSeeded(&fullJob, 1, &noCache), 1);
    ASSERT_EQ(out.bytes, full.bytes) << "frame " << frame;
    std::map<int32_t, std::set<int32_t>> levels;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        if (out.At(x, y)[0] != 200) levels[x].insert(out.At(x, y)[0]);
    frames.push_back(levels);
  }
  // Columns of frame f + 1 that continue (column, level) of frame f.
  auto continuations = [&](size_t f, int32_t column, int32_t level) {
    std::vector<int32_t> found;
    for (const auto& [c, set] : frames[f + 1])
      if (std::abs(c - column) <= 10 && (set.count(level - 1) || set.count(level - 2))) found.push_back(c);
    return found;
  };
  int32_t followed = 0, moved = 0, threeFrames = 0;
  for (size_t f = 0; f + 1 < frames.size(); ++f) {
    for (const auto& [column, set] : frames[f]) {
      if (set.size() != 1 || column < 10 || column >= w - 10) continue;
      const int32_t level = *set.begin();
      if (level <= 125) continue;  // age 45: its last visible frame
      const std::vector<int32_t> next = continuations(f, column, level);
      ASSERT_FALSE(next.empty()) << "frame " << f + 1 << " column " << column << " level " << level;
      ++followed;
      if (next.size() != 1) continue;
      if (next[0] != column) ++moved;
      const auto& nextSet = frames[f + 1][next[0]];
      if (f + 2 >= frames.size() || nextSet.size() != 1 || next[0] < 10 || next[0] >= w - 10) continue;
      if (*nextSet.begin() <= 125) continue;
      const std::vector<int32_t> after = continuations(f + 1, next[0], *nextSet.begin());
      ASSERT_FALSE(after.empty());
      if (after.size() == 1) {
        EXPECT_EQ(after[0] - next[0], next[0] - column) << "frame " << f + 1;
        ++threeFrames;
      }
    }
  }
  EXPECT_GT(followed, 150);
  EXPECT_GT(moved, 100);
  EXPECT_GT(threeFrames, 100);
}
