#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "render/Passes.h"
#include "tests/native/WalkerTestSupport.h"

namespace {

// Runs the dust pass and then the hair pass from a seed, as RenderEffect does.
bool RunWalkers(const RenderJob& job, const WorkingValues& wv, uint32_t seed, Rng* after = nullptr) {
  Rng rng;
  SeedRng(rng, seed);
  bool finished = RunDustPass(job, wv, rng, 1) && RunHairPass(job, wv, rng, 1);
  if (after != nullptr) *after = rng;
  return finished;
}

}  // namespace

// The counts come from the progress totals: the default Dust Amount 15 gives
// base 4.75, so trunc((r mod 4) + 10.5) = 10..13 specks; Hair Amount 5 gives
// base 11/6, so trunc((r mod 1) + 14/3) = 4 hairs, always. Every walker is
// reported once, counting 1, 2, ... up to the total.
TEST(DustHair, CountsFromProgressTotals) {
  EffectParams p = PlainParams();
  ModelImage img = PatternImage(40, 30, 3);
  RenderJob job = JobOver(p, img);
  std::set<int32_t> dustTotals;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    ResetProgressLog();
    ASSERT_TRUE(RunWalkers(job, PassValues(job, 0), seed));
    ASSERT_GE(gProgressLog.calls.size(), 14u);
    const int32_t dustTotal = gProgressLog.calls.front().second;
    dustTotals.insert(dustTotal);
    ASSERT_EQ(gProgressLog.calls.size(), size_t(dustTotal) + 4);
    for (int32_t i = 0; i < dustTotal; ++i) EXPECT_EQ(gProgressLog.calls[i], std::make_pair(i + 1, dustTotal));
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(gProgressLog.calls[dustTotal + i], std::make_pair(i + 1, 4));
    EXPECT_EQ(gProgressLog.abortCalls, dustTotal + 4);
  }
  EXPECT_EQ(dustTotals, (std::set<int32_t>{10, 11, 12, 13}));

  // Amount 1: dust base 1.25 -> trunc(0 + 3.5) = 3; hair base 7/6 -> trunc(0 + 3.33) = 3.
  // Amount 100: dust base 26 -> 53..78; hair base 17.67 -> (r mod 17) + 36.33 -> 36..52.
  struct Case { double amount; int32_t dustLow, dustHigh, hairLow, hairHigh; };
  for (const Case& c : {Case{1, 3, 3, 3, 3}, Case{100, 53, 78, 36, 52}}) {
    p.value[kDustAmount] = c.amount;
    p.value[kHairAmount] = c.amount;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      ResetProgressLog();
      ASSERT_TRUE(RunWalkers(job, PassValues(job, 0), seed));
      const int32_t dust = gProgressLog.calls.front().second;
      const int32_t hair = gProgressLog.calls.back().second;
      EXPECT_GE(dust, c.dustLow);
      EXPECT_LE(dust, c.dustHigh);
      EXPECT_GE(hair, c.hairLow);
      EXPECT_LE(hair, c.hairHigh);
      EXPECT_EQ(gProgressLog.calls.size(), size_t(dust + hair));
    }
  }
}

// Dust Amount 0 and Hair Amount 0 skip their passes without a draw.
TEST(DustHair, AmountZeroTakesNoDrawAndLeavesTheImage) {
  EffectParams p = PlainParams();
  p.value[kDustAmount] = 0;
  p.value[kHairAmount] = 0;
  ModelImage img = PatternImage(40, 30, 4);
  const std::vector<uint8_t> before = img.bytes;
  RenderJob job = JobOver(p, img);
  ResetProgressLog();
  Rng after;
  ASSERT_TRUE(RunWalkers(job, PassValues(job, 0), 77, &after));
  EXPECT_EQ(after.state, 77u);
  EXPECT_EQ(img.bytes, before);
  EXPECT_TRUE(gProgressLog.calls.empty());
}

// Exact replays against the literal reading of the rules in WalkerModel.h, over
// seeds, both layouts, jitter shifts either way, and short, long, many and few
// walkers on a small image (so that many walks leave the bounds). The generator
// must end in the same state: the same draws were taken.
TEST(DustHair, ReplaysTheWalksExactly) {
  struct Variant { int index; double value; };
  const Variant variants[] = {{kDustSize, 21}, {kDustAmount, 100}, {kHairAmount, 100},
                              {kDustSize, 0},  {kHairSize, 0},     {kHairSize, 100}};
  for (const Variant& v : variants) {
    for (int32_t bpp : {3, 4}) {
      for (int32_t jitter : {0, 5, -5}) {
        for (uint32_t seed : {1u, 4242u, 987654321u}) {
          EffectParams p = PlainParams();
          p.value[v.index] = v.value;
          p.value[kDustColorRed] = 200;  // distinct channels, so a swap shows
          p.value[kDustColorBlue] = 10;
          p.value[kHairColorGreen] = 120;
          ModelImage img = PatternImage(48, 36, bpp);
          ModelImage expected = img;
          RenderJob job = JobOver(p, img);
          ResetProgressLog();
          Rng after;
          ASSERT_TRUE(RunWalkers(job, PassValues(job, jitter), seed, &after));

          ModelRand r{seed};
          ModelWalkers(expected, p, jitter, r, kModelDust);
          ModelWalkers(expected, p, jitter, r, kModelHair);
          ASSERT_EQ(img.bytes, expected.bytes) << "param " << v.index << " bpp " << bpp
                                               << " jitter " << jitter << " seed " << seed;
          ASSERT_EQ(after.state, r.state);
        }
      }
    }
  }
}

// Every plotted pixel holds the walker's colour at bytes 0, 1, 2 (red first, in
// both layouts); the fourth byte and the row padding never change. A colour is
// stored as the low 8 bits of its truncation: 263 -> 7, -1 -> 255, 255.9 -> 255.
TEST(DustHair, ColoursAndTheUntouchedFourthByte) {
  EffectParams p = PlainParams();
  p.value[kDustAmount] = 100;
  p.value[kHairAmount] = 100;
  const double dust[3] = {200, 10, 30};
  const double hair[3] = {263, -1, 255.9};
  for (int c = 0; c < 3; ++c) {
    p.value[kDustColorRed + c] = dust[c];
    p.value[kHairColorRed + c] = hair[c];
  }
  for (int32_t bpp : {3, 4}) {
    ModelImage img = UniformImage(60, 40, bpp, 128);
    const ModelImage before = img;
    RenderJob job = JobOver(p, img);
    ResetProgressLog();
    ASSERT_TRUE(RunWalkers(job, PassValues(job, 0), 5));
    int32_t dustPixels = 0, hairPixels = 0;
    for (size_t i = 0; i < img.bytes.size(); ++i) {
      const bool pixelByte = i < size_t(img.rowBytes) * 40 && i % img.rowBytes < size_t(60 * bpp);
      if (!pixelByte || (i % img.rowBytes) % bpp == 3) { ASSERT_EQ(img.bytes[i], before.bytes[i]) << i; }
    }
    for (int32_t y = 0; y < 40; ++y) {
      for (int32_t x = 0; x < 60; ++x) {
        const uint8_t* px = img.At(x, y);
        if (px[0] == 128 && px[1] == 128 && px[2] == 128) continue;
        if (px[0] == 200 && px[1] == 10 && px[2] == 30) {
          ++dustPixels;
        } else {
          ASSERT_TRUE(px[0] == 7 && px[1] == 255 && px[2] == 255) << x << "," << y;
          ++hairPixels;
        }
      }
    }
    EXPECT_GT(dustPixels, 50);
    EXPECT_GT(hairPixels, 50);
  }
}

// With jitterOffset 5 the bottom 5 rows have no picture, with -5 the top 5: no
// walker pixel lands there, though walkers reach the rows next to them.
TEST(DustHair, NoPixelInTheRowsTheJitterUncovered) {
  EffectParams p = PlainParams();
  p.value[kDustAmount] = 100;
  p.value[kHairAmount] = 100;
  p.value[kDustColorRed] = 255;
  p.value[kHairColorRed] = 255;
  const int32_t w = 30, h = 20;
  for (int32_t jitter : {5, -5}) {
    const int32_t firstBlocked = jitter > 0 ? h - 5 : 0;
    const int32_t edgeRow = jitter > 0 ? h - 6 : 5;
    bool edgeReached = false;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
      ModelImage img = UniformImage(w, h, 3, 0);
      RenderJob job = JobOver(p, img);
      ResetProgressLog();
      ASSERT_TRUE(RunWalkers(job, PassValues(job, jitter), seed));
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          const bool painted = img.At(x, y)[0] == 255;
          if (y >= firstBlocked && y < firstBlocked + 5) { ASSERT_FALSE(painted) << x << "," << y; }
          if (y == edgeRow && painted) edgeReached = true;
        }
      }
    }
    EXPECT_TRUE(edgeReached);
  }
}

// The bounds are strict and a hair that finds itself outside never moves: in an
// image one pixel wide every hair starts in column 0 (x = rand() mod 1) and
// plots nothing; in one pixel high, every hair starts in row 0. A speck moves
// before its first test, so there it can still enter column 0 or row 0.
TEST(DustHair, AHairStartingInRowOrColumnZeroPlotsNothing) {
  for (bool wide : {false, true}) {
    EffectParams p = PlainParams();
    p.value[kHairColorRed] = 255;
    p.value[kDustColorRed] = 100;
    const int32_t w = wide ? 40 : 1, h = wide ? 1 : 40;
    bool dustSeen = false;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
      ModelImage img = UniformImage(w, h, 3, 0);
      RenderJob job = JobOver(p, img);
      ResetProgressLog();
      ASSERT_TRUE(RunWalkers(job, PassValues(job, 0), seed));
      ASSERT_EQ(ReportsWithTotal(4).size(), 4u);  // the hairs were walked
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          ASSERT_NE(img.At(x, y)[0], 255);
          if (img.At(x, y)[0] == 100) dustSeen = true;
        }
      }
    }
    EXPECT_TRUE(dustSeen);
  }
}

// Specks and hairs are new on every render: another seed, other walks.
TEST(DustHair, OtherSeedsPlaceWalkersElsewhere) {
  EffectParams p = PlainParams();
  ModelImage a = PatternImage(64, 48, 3), b = a;
  RenderJob jobA = JobOver(p, a), jobB = JobOver(p, b);
  ASSERT_TRUE(RunWalkers(jobA, PassValues(jobA, 0), 1));
  ASSERT_TRUE(RunWalkers(jobB, PassValues(jobB, 0), 2));
  EXPECT_NE(a.bytes, b.bytes);
}

// Records from elsewhere: NaN, infinite, huge and negative amounts, sizes and
// colours, on empty, 1-pixel and small images. The sanitizers watch for
// overflow and writes outside the buffer; counts stop at 32767, lengths too.
TEST(DustHair, OutOfRangeRecordsStayInBounds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double odd[] = {nan, inf, -inf, 1e300, -1e300, -5, 0.5, 40000};
  for (double v : odd) {
    for (int32_t size : {0, 1, 7}) {
      EffectParams p = PlainParams();
      for (int i : {kDustSize, kHairSize, kDustColorRed, kHairColorBlue}) p.value[i] = v;
      ModelImage img = PatternImage(size, size, 4);
      RenderJob job = JobOver(p, img);
      ResetProgressLog();
      EXPECT_TRUE(RunWalkers(job, PassValues(job, 0), 3));
      EXPECT_EQ(img.bytes.back(), 0xEE);
    }
  }
  // Huge amounts: the 16-bit counts stop at 32767 walkers each.
  EffectParams p = PlainParams();
  p.value[kDustAmount] = 1e300;
  p.value[kHairAmount] = inf;
  ModelImage img = PatternImage(5, 5, 3);
  RenderJob job = JobOver(p, img);
  ResetProgressLog();
  EXPECT_TRUE(RunWalkers(job, PassValues(job, 0), 3));
  EXPECT_EQ(gProgressLog.calls.front(), std::make_pair(1, 32767));
  EXPECT_EQ(gProgressLog.calls.back(), std::make_pair(32767, 32767));
  // NaN and negative amounts are "not greater than 1": no pass.
  for (double v : {nan, -1e300}) {
    p.value[kDustAmount] = v;
    p.value[kHairAmount] = v;
    ResetProgressLog();
    EXPECT_TRUE(RunWalkers(job, PassValues(job, 0), 3));
    EXPECT_TRUE(gProgressLog.calls.empty());
  }
}
