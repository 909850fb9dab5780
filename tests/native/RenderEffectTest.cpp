// RenderEffect around the tone pass: the jitter decision and offset, the
// background that uncovered rows show, progress reports and stopping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/native/RenderTestSupport.h"
#include "testing/ReferenceTone.h"

using test::Image;
using test::Log;
using test::MakeImage;
using test::MakeJob;
using test::MakePattern;
using test::QuietParams;
using test::RenderWithSeed;

namespace {

// A column whose every row says which source row it is: red + 256 * green.
Image NumberedRows(int32_t width, int32_t height, bool alpha) {
  Image im = MakeImage(width, height, alpha, 0x44);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      im.At(x, y)[0] = uint8_t(y & 255);
      im.At(x, y)[1] = uint8_t(y >> 8);
      im.At(x, y)[2] = 200;
    }
  }
  return im;
}

// The offset that a render seeded with `seed` must choose: one draw decides,
// a second (only then) gives trunc(draw % trunc(A) - A / 3).
int32_t ExpectedOffset(uint32_t seed, int32_t height, double maxOffset, double probability) {
  Rng rng;
  SeedRng(rng, seed);
  if (!(NextRand(rng) % 100 < probability)) return 0;
  const double a = height * (maxOffset / 100.0);
  return int32_t(NextRand(rng) % int32_t(a) - a / 3.0);
}

uint32_t SeedWithOffset(int32_t wanted, int32_t height, double maxOffset) {
  for (uint32_t seed = 0; seed < 100000; ++seed) {
    if (ExpectedOffset(seed, height, maxOffset, 100) == wanted) return seed;
  }
  ADD_FAILURE() << "no seed gives offset " << wanted;
  return 0;
}

bool RowIs(const Image& im, int32_t y, const std::vector<uint8_t>& pixel) {
  for (int32_t x = 0; x < im.width; ++x) {
    for (size_t c = 0; c < pixel.size(); ++c) {
      if (im.At(x, y)[c] != pixel[c]) return false;
    }
  }
  return true;
}

// Whole pixels, alpha included.
bool RowsEqual(const Image& a, int32_t ya, const Image& b, int32_t yb) {
  return std::equal(a.At(0, ya), a.At(0, ya) + a.width * a.Bpp(), b.At(0, yb));
}

// Red, green and blue only (the tone pass never writes alpha).
bool RgbEqual(const Image& a, int32_t ya, const Image& b, int32_t yb) {
  for (int32_t x = 0; x < a.width; ++x) {
    if (!std::equal(a.At(x, ya), a.At(x, ya) + 3, b.At(x, yb))) return false;
  }
  return true;
}

}  // namespace

TEST(Jitter, OffsetFollowsTheDrawsAndStaysInItsRange) {
  // Height 480, Jitter Max Offset 3: A = 14.4, R = 14, offsets -4..8.
  const Image src = NumberedRows(1, 480, false);
  EffectParams params = QuietParams();
  params.value[kJitterProbability] = 100;
  params.value[kJitterMaxOffset] = 3;
  int32_t lowest = 100, highest = -100;
  for (uint32_t seed = 0; seed < 300; ++seed) {
    Image dst = MakeImage(1, 480, false, 0x55);
    RenderJob job = MakeJob(params, src, dst);
    ASSERT_EQ(RenderWithSeed(job, seed), 1);
    const int32_t offset = ExpectedOffset(seed, 480, 3, 100);
    ASSERT_GE(offset, -4);
    ASSERT_LE(offset, 8);
    lowest = std::min(lowest, offset);
    highest = std::max(highest, offset);
    for (int32_t y = 0; y < 480; ++y) {
      const int32_t sy = y + offset;
      if (sy >= 0 && sy < 480) {
        ASSERT_TRUE(RowsEqual(dst, y, src, sy)) << "seed " << seed << " row " << y;
      } else {
        ASSERT_TRUE(RowIs(dst, y, {0, 0, 0})) << "seed " << seed << " row " << y;
      }
    }
  }
  EXPECT_EQ(lowest, -4);
  EXPECT_EQ(highest, 8);
}

TEST(Jitter, ProbabilityIsComparedWithEachDecisionDraw) {
  const Image src = NumberedRows(2, 60, true);
  for (double probability : {0.0, 37.5, 100.0}) {
    EffectParams params = QuietParams();
    params.value[kJitterProbability] = probability;
    params.value[kJitterMaxOffset] = 50;  // A = 30, offsets -10..19
    int jittered = 0;
    for (uint32_t seed = 0; seed < 100; ++seed) {
      Image dst = MakeImage(2, 60, true, 0x55);
      RenderJob job = MakeJob(params, src, dst);
      ASSERT_EQ(RenderWithSeed(job, seed), 1);
      Rng rng;
      SeedRng(rng, seed);
      const bool jitters = NextRand(rng) % 100 < probability;
      jittered += jitters;
      const int32_t offset = ExpectedOffset(seed, 60, 50, probability);
      // Row 30 is a picture row for every offset in range.
      ASSERT_TRUE(RgbEqual(dst, 30, src, 30 + offset)) << seed;
    }
    if (probability == 0) {
      EXPECT_EQ(jittered, 0);
    } else if (probability == 100) {
      EXPECT_EQ(jittered, 100);
    } else {
      EXPECT_TRUE(jittered > 20 && jittered < 55) << jittered;
    }
  }
}

TEST(Background, UncoveredRowsAreBlackWithAlphaKept) {
  EffectParams params = QuietParams();
  params.value[kFilmResponse] = 45;
  params.value[kJitterProbability] = 100;
  params.value[kJitterMaxOffset] = 20;  // height 60: A = 12, offsets -4..7
  const Image src = MakePattern(5, 60, true, 3);
  for (int32_t offset : {5, -3}) {
    Image dst = MakeImage(5, 60, true, 0x33);
    RenderJob job = MakeJob(params, src, dst);
    ASSERT_EQ(RenderWithSeed(job, SeedWithOffset(offset, 60, 20)), 1);
    for (int32_t y = 0; y < 60; ++y) {
      const bool picture = y + offset >= 0 && y + offset < 60;
      if (!picture) {
        EXPECT_TRUE(RowIs(dst, y, {0, 0, 0, 0x33})) << offset << " row " << y;
      }
      for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(dst.At(x, y)[3], 0x33);
    }
    // The picture itself moved: offset 5 leaves rows 55..59, -3 rows 0..2.
    EXPECT_FALSE(RowIs(dst, offset > 0 ? 54 : 3, {0, 0, 0, 0x33}));
  }
}

TEST(Background, RevealBackLayerShowsTheUnfilteredSourceInUncoveredRows) {
  EffectParams params = QuietParams();
  params.value[kFilmResponse] = 45;
  params.value[kRevealBackLayer] = 1;
  params.value[kJitterProbability] = 100;
  params.value[kJitterMaxOffset] = 20;
  for (bool alpha : {false, true}) {
    const Image src = MakePattern(6, 60, alpha, 9);
    for (int32_t offset : {7, -4}) {
      Image dst = MakeImage(6, 60, alpha, 0x33);
      RenderJob job = MakeJob(params, src, dst);
      ASSERT_EQ(RenderWithSeed(job, SeedWithOffset(offset, 60, 20)), 1);
      for (int32_t y = 0; y < 60; ++y) {
        const bool picture = y + offset >= 0 && y + offset < 60;
        // Uncovered rows are the source's own row, alpha included.
        if (!picture) {
          EXPECT_TRUE(RowsEqual(dst, y, src, y)) << offset << " row " << y;
        }
        // Covered rows are filtered (the curve changes most values) and keep
        // the alpha of the source row at the same position.
        if (picture) {
          EXPECT_FALSE(RgbEqual(dst, y, src, y + offset)) << offset << " row " << y;
        }
        if (alpha) {
          for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(dst.At(x, y)[3], src.At(x, y)[3]);
        }
      }
    }
  }
}

TEST(Progress, OneReportPerRowThenAnAbortTest) {
  EffectParams params = test::ToneDefaults();
  params.value[kJitterProbability] = 100;
  params.value[kJitterMaxOffset] = 30;  // A = 13.5: offsets -4..8
  const Image src = MakePattern(4, 45, false);
  Image dst = MakeImage(4, 45, false);
  RenderJob job = MakeJob(params, src, dst);
  test::WatchCallbacks(&job, 0);
  ASSERT_EQ(RenderWithSeed(job, SeedWithOffset(6, 45, 30)), 1);
  // Every row is reported, also the six left to the background.
  ASSERT_EQ(Log().progress.size(), 45u);
  for (int32_t i = 0; i < 45; ++i) {
    EXPECT_EQ(Log().progress[i].first, i + 1);
    EXPECT_EQ(Log().progress[i].second, 45);
  }
  EXPECT_EQ(Log().abortCalls, 45);
}

TEST(Progress, AbortAfterRowKLeavesTheRestToTheBackgroundAndDrawsNothingMore) {
  // The defaults, dust, hairs and scratches included: stopping in the tone pass
  // must also skip them, so the rows done are exactly the tone part's.
  EffectParams params;
  SetDefaultParams(&params);
  params.value[kFrameNumber] = 3;
  for (bool reveal : {false, true}) {
    params.value[kRevealBackLayer] = reveal ? 1 : 0;
    for (int32_t k : {1, 17, 40}) {
      const Image src = MakePattern(50, 40, true, uint32_t(k));
      Image dst = MakeImage(50, 40, true, 0x33);
      Image ref = dst;
      RenderJob job = MakeJob(params, src, dst);
      test::WatchCallbacks(&job, k);
      ASSERT_EQ(RenderWithSeed(job, 77), 0);
      EXPECT_EQ(Log().progress.size(), size_t(k));
      EXPECT_EQ(Log().abortCalls, k);
      RenderJob refJob = MakeJob(params, src, ref);
      ReferenceToneRender(refJob, 77);
      for (int32_t y = 0; y < 40; ++y) {
        if (y < k) {
          EXPECT_TRUE(RowsEqual(dst, y, ref, y)) << "k " << k << " row " << y;
        } else if (reveal) {
          EXPECT_TRUE(RowsEqual(dst, y, src, y)) << "k " << k << " row " << y;
        } else {
          EXPECT_TRUE(RowIs(dst, y, {0, 0, 0, 0x33})) << "k " << k << " row " << y;
        }
      }
    }
  }
}

TEST(Degenerate, EmptyAndInvertedRectanglesWriteNothing) {
  const Image src = MakePattern(4, 4, false);
  const Rect rects[] = {{0, 0, 0, 4}, {0, 0, 4, 0}, {4, 0, 0, 4}, {0, 4, 4, 0}, {-5, -5, -9, -9}};
  for (const Rect& r : rects) {
    Image dst = MakeImage(4, 4, false, 0x12);
    const std::vector<uint8_t> before = dst.bytes;
    EffectParams params = test::ToneDefaults();
    params.value[kJitterProbability] = 100;
    RenderJob job = MakeJob(params, src, dst);
    job.dstRect = r;
    job.srcRect = r;
    test::WatchCallbacks(&job, 0);
    EXPECT_EQ(RenderWithSeed(job, 5), 1);
    EXPECT_EQ(dst.bytes, before);
    const int32_t height = int32_t(r.bottom) - r.top;
    EXPECT_EQ(Log().progress.size(), size_t(height > 0 ? height : 0));
  }
}
