#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "render/MemBlock.h"
#include "render/Passes.h"
#include "render/RenderThreads.h"
#include "tests/native/WalkerTestSupport.h"

namespace {

// One scratch pass as RenderEffect makes it. The incoming generator state must
// not matter: the pass reseeds with 0.
bool Scratch(const RenderJob& job, int32_t jitter, ScratchCache* cache = nullptr,
             uint32_t incoming = 12345, Rng* after = nullptr) {
  Rng rng;
  SeedRng(rng, incoming);
  const bool finished = RunScratchPass(job, PassValues(job, jitter), rng, cache);
  if (after != nullptr) *after = rng;
  return finished;
}

ModelImage ScratchedFrame(EffectParams p, int32_t w, int32_t h, int32_t bpp, double frame,
                          int32_t jitter = 0) {
  p.value[kFrameNumber] = frame;
  ModelImage img = UniformImage(w, h, bpp, 200);
  RenderJob job = JobOver(p, img);
  ResetProgressLog();
  EXPECT_TRUE(Scratch(job, jitter));
  return img;
}

}  // namespace

// One scratch on a 200 x 50 image, worked out by hand from seed 0, whose draws
// are 38, 7719, 21238, 2437, 8855, then 11797, 8365, 32285, 10450, 30612, 5853,
// 28100, ... With the defaults (Velocity 20, Lifespan 45 -> 46, Opacity 30):
// x = 38, y = 19, age = 21238 mod 46 = 32, stepX = 2437 mod 20 - 10 = 7,
// stepY = 8855 mod 10 = 5. Frame n < 14 draws column 38 + 7n at age 32 + n,
// darkened by age / 46 * 76.5 (32 -> 53.2, so 200 -> 146; 33 -> 145; 45 -> 125);
// the rows take t = 11797, 8365, ... mod 46 = 21, 39, 39, 8, 22, 11, 40: rows
// 3, 4, 5 darken, 1, 2, 6 do not, and row 0 never does (jitter 0). Ages 46 to
// 51 (frames 14 to 19) are not drawn; frame 20 (age 52) respawns with age
// 11797 mod 46 = 21, x = 8365 mod 200 = 165, stepX = 10450 mod 20 - 10 = 0, and
// its rows take t = 5853, 28100, ... mod 46 = 11, 40, 38, 5, 21, 5, 21, 19:
// rows 3, 5, 7 darken to trunc(200 - 34.92) = 165; at frame 21 (age 22) rows
// 4 and 6 join them at 163.
TEST(Scratch, OneScratchWorkedOutByHand) {
  EffectParams p = PlainParams();
  p.value[kScratchAmount] = 1;
  struct Frame { double frame; int32_t column; int32_t age; uint8_t value; int32_t drawsBefore; };
  const Frame frames[] = {{0, 38, 32, 146, 5},   {-3, 38, 32, 146, 5},  {1, 45, 33, 145, 5},
                          {13, 129, 45, 125, 5}, {20, 165, 21, 165, 10}, {21, 165, 22, 163, 10}};
  for (const Frame& f : frames) {
    ModelImage img = ScratchedFrame(p, 200, 50, 3, f.frame);
    ModelRand r{0};
    for (int32_t i = 0; i < f.drawsBefore; ++i) r.Next();
    for (int32_t row = 0; row < 50; ++row) {
      const int32_t t = r.Next() % 46;  // drawn for every row, row 0 included
      const bool dark = row > 0 && t < f.age;
      for (int32_t x = 0; x < 200; ++x) {
        const uint8_t want = (x == f.column && dark) ? f.value : 200;
        ASSERT_EQ(img.At(x, row)[1], want) << "frame " << f.frame << " row " << row << " x " << x;
      }
    }
    EXPECT_EQ(ReportsWithTotal(1), std::vector<int32_t>{1});
  }
  ModelImage f0 = ScratchedFrame(p, 200, 50, 3, 0);
  EXPECT_EQ(f0.At(38, 1)[0], 200);  // t = 39
  EXPECT_EQ(f0.At(38, 3)[0], 146);  // t = 8
  ModelImage f21 = ScratchedFrame(p, 200, 50, 3, 21);
  EXPECT_EQ(f21.At(165, 4)[0], 163);  // t = 21 < 22
  EXPECT_EQ(f21.At(165, 2)[0], 200);  // t = 38
  for (double frame = 14; frame <= 19; ++frame) {
    EXPECT_EQ(ScratchedFrame(p, 200, 50, 3, frame).bytes, UniformImage(200, 50, 3, 200).bytes);
  }
}

// Scratch Amount 0.4 rounds to no scratch, 0.5 to one; Opacity 0 and Lifespan 0
// (every age 0, and older ones not drawn) change no pixel in any frame.
TEST(Scratch, AmountRoundingOpacityZeroLifespanZero) {
  const ModelImage plain = UniformImage(64, 40, 3, 200);
  EffectParams p = PlainParams();
  p.value[kScratchAmount] = 0.4;
  EXPECT_EQ(ScratchedFrame(p, 64, 40, 3, 30).bytes, plain.bytes);
  EXPECT_TRUE(gProgressLog.calls.empty());
  p.value[kScratchAmount] = 0.5;
  bool drawn = false;
  for (double frame = 0; frame < 20 && !drawn; ++frame) {
    drawn = ScratchedFrame(p, 64, 40, 3, frame).bytes != plain.bytes;
    EXPECT_EQ(gProgressLog.calls, (std::vector<std::pair<int32_t, int32_t>>{{1, 1}}));
  }
  EXPECT_TRUE(drawn);

  for (int index : {kScratchOpacity, kScratchLifespan}) {
    EffectParams q = PlainParams();
    q.value[kScratchAmount] = 100;
    q.value[index] = 0;
    for (double frame : {0.0, 1.0, 5.0, 60.0}) {
      EXPECT_EQ(ScratchedFrame(q, 64, 40, 4, frame).bytes, UniformImage(64, 40, 4, 200).bytes);
      EXPECT_EQ(ReportsWithTotal(100).size(), 100u);
    }
  }
}

// Exact replays against WalkerModel.h's literal reading, from seed 0 over the
// frames: both layouts, jitter shifts, a Velocity below 1 and an image under 5
// rows (modulus 0: remainder 0), a fractional Velocity, Opacity past 100 (the
// darkening stops at 255) and below 0 (none).
TEST(Scratch, ReplaysTheHistoryExactly) {
  struct Variant { int index; double value; int32_t w, h; };
  const Variant variants[] = {{kScratchAmount, 10, 64, 48},  {kScratchAmount, 40, 30, 20},
                              {kScratchVelocity, 0.5, 64, 48}, {kScratchVelocity, 7.3, 64, 48},
                              {kScratchAmount, 10, 64, 4},    {kScratchOpacity, 400, 40, 30},
                              {kScratchOpacity, -20, 40, 30},  {kScratchLifespan, 3.6, 40, 30}};
  for (const Variant& v : variants) {
    for (int32_t bpp : {3, 4}) {
      for (int32_t jitter : {0, 3, -3}) {
        for (int32_t frame : {0, 1, 2, 37, 300}) {
          EffectParams p = PlainParams();
          p.value[v.index] = v.value;
          p.value[kFrameNumber] = frame;
          ModelImage img = PatternImage(v.w, v.h, bpp);
          ModelImage expected = img;
          RenderJob job = JobOver(p, img);
          ResetProgressLog();
          ASSERT_TRUE(Scratch(job, jitter));
          ModelScratches(expected, p, jitter, frame);
          ASSERT_EQ(img.bytes, expected.bytes) << "param " << v.index << " bpp " << bpp
                                               << " jitter " << jitter << " frame " << frame;
        }
      }
    }
  }
}

// With jitterOffset 0 the top row is never scratched, with 3 the bottom 3 rows,
// with -3 rows 0 to 3; the rows next to them are.
TEST(Scratch, RowsOutsideThePictureAreNeverScratched) {
  EffectParams p = PlainParams();
  p.value[kScratchAmount] = 100;
  p.value[kScratchOpacity] = 100;
  const int32_t w = 50, h = 30;
  struct Case { int32_t jitter, blockedLow, blockedHigh, edgeRow; };  // blocked rows [low, high)
  for (const Case& c : {Case{0, 0, 1, 1}, Case{3, h - 3, h, h - 4}, Case{-3, 0, 4, 4}}) {
    bool edgeScratched = false;
    for (double frame : {0.0, 10.0, 25.0}) {
      ModelImage img = ScratchedFrame(p, w, h, 3, frame, c.jitter);
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          const bool changed = img.At(x, y)[0] != 200;
          if (y >= c.blockedLow && y < c.blockedHigh) { ASSERT_FALSE(changed) << y; }
          if (y == c.edgeRow && changed) edgeScratched = true;
        }
      }
    }
    EXPECT_TRUE(edgeScratched) << c.jitter;
  }
}

// The cache changes no byte: a run of frames forward, repeated, backwards,
// across checkpoints and skipping ahead, with changes of count, velocity,
// lifespan, opacity, width and height in between, gives the same images and the
// same generator state with a cache (checkpoints every 4096 frames, the default,
// and every 16) as without one.
TEST(Scratch, TheReplayCacheGivesTheFullReplay) {
  struct Call { double frame; int index; double value; int32_t w, h; };
  const Call calls[] = {
      {0, -1, 0, 64, 48},  {1, -1, 0, 64, 48},   {2, -1, 0, 64, 48},   {3, -1, 0, 64, 48},
      {3, -1, 0, 64, 48},  {40, -1, 0, 64, 48},  {39, -1, 0, 64, 48},  {41, -1, 0, 64, 48},
      {16, -1, 0, 64, 48}, {15, -1, 0, 64, 48},  {33, -1, 0, 64, 48},  {100, -1, 0, 64, 48},
      {17, -1, 0, 64, 48}, {4097, -1, 0, 64, 48}, {4096, -1, 0, 64, 48}, {4095, -1, 0, 64, 48},
      {42, kScratchAmount, 11, 64, 48},          {43, kScratchAmount, 3, 64, 48},
      {44, kScratchVelocity, 9, 64, 48},         {45, kScratchLifespan, 12, 64, 48},
      {46, kScratchOpacity, 80, 64, 48},         {47, -1, 0, 65, 48},  {48, -1, 0, 65, 47},
      {-5, -1, 0, 64, 48}, {0, -1, 0, 64, 48},   {500, -1, 0, 64, 48}, {501, -1, 0, 64, 48},
      {502, kScratchAmount, 0, 64, 48},          {503, -1, 0, 64, 48}, {1e300, kScratchAmount, 0, 64, 48}};
  for (int32_t interval : {0, 16}) {
    ScratchCache* cache = NewScratchCache(interval);
    ASSERT_NE(cache, nullptr);
    for (const Call& c : calls) {
      EffectParams p = PlainParams();
      if (c.index >= 0) p.value[c.index] = c.value;
      p.value[kFrameNumber] = c.frame;
      ModelImage withCache = PatternImage(c.w, c.h, 3), full = withCache;
      RenderJob jobCache = JobOver(p, withCache), jobFull = JobOver(p, full);
      Rng rngCache, rngFull;
      ASSERT_TRUE(Scratch(jobCache, 2, cache, 1, &rngCache));
      ASSERT_TRUE(Scratch(jobFull, 2, nullptr, 1, &rngFull));
      ASSERT_EQ(withCache.bytes, full.bytes) << "interval " << interval << ", frame " << c.frame;
      ASSERT_EQ(rngCache.state, rngFull.state) << "interval " << interval << ", frame " << c.frame;
    }
    DeleteScratchCache(cache);
  }
}

// An abort answered after the first scratch leaves exactly that one drawn.
TEST(Scratch, AbortAfterTheFirstScratch) {
  EffectParams p = PlainParams();
  p.value[kScratchAmount] = 30;
  p.value[kFrameNumber] = 12;
  ModelImage img = PatternImage(60, 40, 3), expected = img;
  RenderJob job = JobOver(p, img);
  ResetProgressLog(30);
  EXPECT_FALSE(Scratch(job, 0));
  EXPECT_EQ(gProgressLog.calls, (std::vector<std::pair<int32_t, int32_t>>{{1, 30}}));
  ModelScratches(expected, p, 0, 12, 1);
  EXPECT_EQ(img.bytes, expected.bytes);
}

// A block that cannot be had skips the pass and the result stays "finished":
// the arrays' block (one failure, or several in a row) before anything is drawn.
TEST(Scratch, AnAllocationFailureSkipsThePass) {
  EffectParams p = PlainParams();
  p.value[kFrameNumber] = 20;
  for (int32_t failing : {1, 5}) {
    ModelImage img = PatternImage(40, 30, 4);
    const std::vector<uint8_t> before = img.bytes;
    RenderJob job = JobOver(p, img);
    ResetProgressLog();
    Rng rng;
    SeedRng(rng, 99);
    FailNextBlockAllocationsForTesting(failing);
    EXPECT_TRUE(RunScratchPass(job, PassValues(job, 0), rng, nullptr));
    FailNextBlockAllocationsForTesting(0);
    EXPECT_EQ(rng.state, 99u);  // not reseeded: the pass ended before the seed
    EXPECT_EQ(img.bytes, before);
    EXPECT_TRUE(gProgressLog.calls.empty());
  }
  // Service restored: the same call now scratches.
  ModelImage img = PatternImage(40, 30, 4), expected = img;
  RenderJob job = JobOver(p, img);
  EXPECT_TRUE(Scratch(job, 0));
  ModelScratches(expected, p, 0, 20);
  EXPECT_EQ(img.bytes, expected.bytes);
}

// Records from elsewhere: NaN, infinite, huge and negative counts, velocities,
// lifespans, opacities and frame numbers, on empty, 1-pixel and short images.
// Nothing overflows or writes outside the buffer (the sanitizers watch); a
// count stops at 32767; a negative frame number replays nothing (frame 0).
TEST(Scratch, OutOfRangeRecordsStayInBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (int index : {kScratchVelocity, kScratchLifespan, kScratchOpacity}) {
    for (double v : {nan, inf, -inf, 1e300, -1e300, -7.0, 0.2}) {
      for (int32_t size : {0, 1, 3, 9}) {
        EffectParams p = PlainParams();
        p.value[kScratchAmount] = 20;
        p.value[index] = v;
        p.value[kFrameNumber] = 60;
        ModelImage img = PatternImage(size, size, 4);
        RenderJob job = JobOver(p, img);
        ResetProgressLog();
        EXPECT_TRUE(Scratch(job, 0));
        EXPECT_EQ(img.bytes.back(), 0xEE);
        EXPECT_EQ(ReportsWithTotal(20).size(), 20u);
      }
    }
  }
  EffectParams p = PlainParams();
  for (double v : {nan, -1e300, -3.0}) {
    p.value[kScratchAmount] = v;
    ModelImage img = PatternImage(8, 8, 3);
    RenderJob job = JobOver(p, img);
    ResetProgressLog();
    EXPECT_TRUE(Scratch(job, 0));
    EXPECT_TRUE(gProgressLog.calls.empty());
  }
  for (double v : {inf, 1e12}) {
    p.value[kScratchAmount] = v;
    ModelImage img = PatternImage(8, 8, 3);
    RenderJob job = JobOver(p, img);
    ResetProgressLog();
    EXPECT_TRUE(Scratch(job, 0));
    ASSERT_EQ(gProgressLog.calls.size(), 32767u);
    EXPECT_EQ(gProgressLog.calls.back(), std::make_pair(32767, 32767));
  }
  p.value[kScratchAmount] = 10;
  for (double frame : {-1e300, -1.0, nan}) {
    p.value[kFrameNumber] = frame;
    EXPECT_EQ(ScratchedFrame(p, 30, 20, 3, frame).bytes, ScratchedFrame(p, 30, 20, 3, 0).bytes);
  }
}

namespace {

// Stops the pass at the abort test after report number gStopAt (0: never).
int32_t gStopAt = 0;
int32_t gReports = 0;
void PATINEX_CDECL CountReport(int32_t, int32_t) { ++gReports; }
uint8_t PATINEX_CDECL StopAtReport() { return gStopAt > 0 && gReports >= gStopAt; }

}  // namespace

// The pass draws row by row from a plan of every scratch, in bands on the
// render's threads; without memory for the plan (limit 0) it draws scratch
// after scratch as it always has. Both give the same bytes, generator state and
// result, on any number of threads (bands of 2 rows and up): Scale 1, Auto on a
// short picture (several grid rows to a pixel row), 2.5 and 16 (a few cells:
// many scratches share columns), 8 and 16 bits, 3 and 4 samples, the jitter
// either way, a count past 64 (more than one word of marks) on narrow pictures,
// where scratches overlap, and a host that stops the pass after some scratch.
TEST(Scratch, RowByRowGivesTheScratchByScratchBytes) {
  struct Case { double scale; int32_t w, h; double amount; int32_t jitter, stopAt; };
  const Case cases[] = {{1, 40, 37, 100, 0, 0},         {1, 23, 50, 70, 3, 0},
                        {1, 40, 37, 100, -2, 41},       {kScaleAuto, 31, 60, 30, 0, 0},
                        {kScaleAuto, 50, 90, 100, -5, 7}, {2.5, 61, 47, 100, 2, 0},
                        {2.5, 61, 47, 100, 0, 90},      {16, 200, 150, 100, -1, 0},
                        {16, 97, 211, 12, 1, 5}};
  SetMinBandRowsForTesting(2);
  for (const Case& c : cases) {
    for (bool sixteen : {false, true}) {
      for (int32_t samples : {3, 4}) {
        EffectParams p = PlainParams();
        p.value[kScratchAmount] = c.amount;
        p.value[kScratchOpacity] = 90;
        p.value[kScratchVelocity] = 4;
        p.value[kScratchLifespan] = 30;
        p.value[kFrameNumber] = 3;
        const ModelImage original = PatternImage(c.w, c.h, samples * (sixteen ? 2 : 1));
        ModelImage expected = original;
        Rng expectedAfter;
        bool expectedFinished = false;
        for (int32_t threads : {0, 1, 2, 3, 16}) {  // 0: scratch by scratch, on one
          ModelImage img = original;
          RenderJob job = JobOver(p, img);
          job.dstHasAlpha = job.srcHasAlpha = samples == 4;
          job.sixteenBits = sixteen;
          job.scale = c.scale;
          job.progressProc = CountReport;
          job.abortProc = StopAtReport;
          WorkingValues wv = PassValues(job, c.jitter);
          wv.layoutJitter = c.jitter;
          gStopAt = c.stopAt;
          gReports = 0;
          Rng after;
          SeedRng(after, 3);
          SetScratchPlanLimitForTesting(threads == 0 ? 0 : -1);
          const bool finished = RunScratchPass(job, wv, after, nullptr, threads == 0 ? 1 : threads);
          SetScratchPlanLimitForTesting(-1);
          const std::string at = "scale " + std::to_string(c.scale) + " " + std::to_string(c.w) +
                                 "x" + std::to_string(c.h) + (sixteen ? " 16 bits " : " 8 bits ") +
                                 std::to_string(samples) + " samples, threads " +
                                 std::to_string(threads);
          if (threads == 0) {
            ASSERT_NE(img.bytes, original.bytes) << at;  // scratches were drawn
            EXPECT_EQ(finished, c.stopAt == 0) << at;
            expected = img;
            expectedAfter = after;
            expectedFinished = finished;
            continue;
          }
          ASSERT_EQ(img.bytes, expected.bytes) << at;
          EXPECT_EQ(after.state, expectedAfter.state) << at;
          EXPECT_EQ(finished, expectedFinished) << at;
        }
      }
    }
  }
  SetMinBandRowsForTesting(0);
}
