// The tone pass through RenderEffect: the film-response curve, gray with tint,
// grain, flicker and the order of the generator's draws, checked against numbers
// worked out by hand and against the plain reference renderer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "render/Passes.h"
#include "render/RenderThreads.h"
#include "render/ToneKernels.h"
#include "render/WorkingValues.h"
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

// One row of pixels, each with the same value v in all three channels.
Image GrayRow(const std::vector<int>& values, bool alpha) {
  Image im = MakeImage(int32_t(values.size()), 1, alpha, 0x44);
  for (size_t i = 0; i < values.size(); ++i) {
    for (int c = 0; c < 3; ++c) im.At(int32_t(i), 0)[c] = uint8_t(values[i]);
  }
  return im;
}

// Renders `src` with `params` into a fresh destination whose bytes (alpha
// included) start as 0x33.
Image Render(const EffectParams& params, const Image& src, uint32_t seed = 1) {
  Image dst = MakeImage(src.width, src.height, src.alpha, 0x33);
  RenderJob job = MakeJob(params, src, dst);
  EXPECT_EQ(RenderWithSeed(job, seed), 1);
  EXPECT_TRUE(dst.PaddingIntact());
  return dst;
}

// The grain of one draw with the default Grain Amount 23: grainRange 58.65,
// trunc(r % 58 - 29.325), worked out without floating point: remainders 0..29
// give rem - 29 (toward zero from below), 30..57 give rem - 30.
int32_t DefaultGrain(int32_t draw) {
  const int32_t rem = draw % 58;
  return rem <= 29 ? rem - 29 : rem - 30;
}

struct CurvePoint {
  double filmResponse;
  int in;
  int out;
};

}  // namespace

TEST(ToneCurve, FilmResponseGivesTheDocumentedValues) {
  const CurvePoint points[] = {
      {45, 0, 0},   {45, 1, 12},  {45, 64, 120},  {45, 128, 175}, {45, 200, 223},
      {45, 255, 255}, {0, 128, 0}, {0, 254, 231}, {100, 1, 64},  {100, 128, 215},
  };
  for (bool alpha : {false, true}) {
    for (const CurvePoint& p : points) {
      EffectParams params = QuietParams();
      params.value[kFilmResponse] = p.filmResponse;
      // The value in one channel at a time, so each channel position is checked.
      for (int c = 0; c < 3; ++c) {
        Image src = MakeImage(1, 1, alpha, 255);
        src.At(0, 0)[c] = uint8_t(p.in);
        const Image dst = Render(params, src);
        EXPECT_EQ(dst.At(0, 0)[c], p.out) << "FR " << p.filmResponse << " in " << p.in;
        EXPECT_EQ(dst.At(0, 0)[(c + 1) % 3], 255);
        if (alpha) {
          EXPECT_EQ(dst.At(0, 0)[3], 0x33);  // never written
        }
      }
    }
  }
}

TEST(ToneCurve, FilmResponse24LeavesEveryValueUnchanged) {
  for (bool alpha : {false, true}) {
    Image src = MakeImage(256, 1, alpha, 0x44);
    for (int i = 0; i < 256; ++i) {
      src.At(i, 0)[0] = uint8_t(i);
      src.At(i, 0)[1] = uint8_t(255 - i);
      src.At(i, 0)[2] = uint8_t(i * 7);
    }
    const Image dst = Render(QuietParams(), src);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(dst.At(i, 0)[0], src.At(i, 0)[0]);
      ASSERT_EQ(dst.At(i, 0)[1], src.At(i, 0)[1]);
      ASSERT_EQ(dst.At(i, 0)[2], src.At(i, 0)[2]);
      if (alpha) {
        ASSERT_EQ(dst.At(i, 0)[3], 0x33);
      }
    }
  }
}

TEST(GrayTint, TintsTheIntegerAverageBeforeTheCurve) {
  for (bool alpha : {false, true}) {
    EffectParams params = QuietParams();
    params.value[kConvertToGray] = 1;  // default tint 200, 100, 0
    Image dst = Render(params, GrayRow({128}, alpha));
    // 128 * 200 / 256 = 100, 128 * 100 / 256 = 50: red at byte 0 in both layouts.
    EXPECT_EQ(dst.At(0, 0)[0], 100);
    EXPECT_EQ(dst.At(0, 0)[1], 50);
    EXPECT_EQ(dst.At(0, 0)[2], 0);
    if (alpha) {
      EXPECT_EQ(dst.At(0, 0)[3], 0x33);
    }

    // A tint of 255 is 255/256, so gray 255 becomes 254.
    for (int c = 0; c < 3; ++c) params.value[kGrayTintRed + c] = 255;
    dst = Render(params, GrayRow({255}, alpha));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(dst.At(0, 0)[c], 254);

    // A record from elsewhere with a tint of 768 (factor 3): the gray is the
    // integer average, so (10, 20, 31) is 20, not 20.33, and comes out 60; the
    // gray of (1, 1, 0) is 0; values past 255 store 255.
    for (int c = 0; c < 3; ++c) params.value[kGrayTintRed + c] = 768;
    Image src = MakeImage(4, 1, alpha, 0);
    const uint8_t in[4][3] = {{10, 20, 31}, {1, 1, 0}, {1, 1, 1}, {100, 100, 100}};
    for (int x = 0; x < 4; ++x) {
      for (int c = 0; c < 3; ++c) src.At(x, 0)[c] = in[x][c];
    }
    dst = Render(params, src);
    const int expected[4] = {60, 0, 3, 255};
    for (int x = 0; x < 4; ++x) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(dst.At(x, 0)[c], expected[x]) << x;
    }
  }
}

TEST(Grain, DefaultAmountRunsFromMinus29To27WithZeroTwiceAsLikely) {
  EffectParams params = QuietParams();
  params.value[kGrainAmount] = 23;
  Image src = MakeImage(128, 128, false);
  for (int32_t y = 0; y < 128; ++y) {
    for (int32_t x = 0; x < 128; ++x) {
      src.At(x, y)[0] = 100;
      src.At(x, y)[1] = 128;
      src.At(x, y)[2] = 160;
    }
  }
  const uint32_t seed = 4242;
  const Image dst = Render(params, src, seed);
  // Replay: one draw for the jitter decision (no jitter), then one per pixel.
  Rng rng;
  SeedRng(rng, seed);
  NextRand(rng);
  std::map<int32_t, int32_t> counts;
  for (int32_t y = 0; y < 128; ++y) {
    for (int32_t x = 0; x < 128; ++x) {
      const int32_t n = DefaultGrain(NextRand(rng));
      // The same grain in every channel: it has no colour.
      ASSERT_EQ(dst.At(x, y)[0], 100 + n);
      ASSERT_EQ(dst.At(x, y)[1], 128 + n);
      ASSERT_EQ(dst.At(x, y)[2], 160 + n);
      ++counts[n];
    }
  }
  EXPECT_EQ(counts.begin()->first, -29);
  EXPECT_EQ(counts.rbegin()->first, 27);
  EXPECT_EQ(counts.size(), 57u);
  const double others = double(128 * 128 - counts[0]) / 56.0;
  EXPECT_GT(counts[0], 1.6 * others);
  EXPECT_LT(counts[0], 2.4 * others);
}

TEST(Grain, ClampsAfterAdding) {
  EffectParams params = QuietParams();
  params.value[kGrainAmount] = 100;  // grain -127..126
  const Image dst = Render(params, GrayRow(std::vector<int>(400, 0), false), 7);
  const Image top = Render(params, GrayRow(std::vector<int>(400, 255), false), 7);
  int zeros = 0, full = 0;
  for (int32_t x = 0; x < 400; ++x) {
    zeros += dst.At(x, 0)[0] == 0;
    full += top.At(x, 0)[0] == 255;
  }
  // About half the grain is negative (stored 0 over black, below 255 over white).
  EXPECT_GT(zeros, 150);
  EXPECT_LT(zeros, 250);
  EXPECT_GT(full, 150);
  EXPECT_LT(full, 250);
}

TEST(Flicker, SpeedZeroLeavesTheExponentForAnyAmount) {
  EffectParams params = QuietParams();
  params.value[kFilmResponse] = 45;
  params.value[kFlickerSpeed] = 0;
  params.value[kFlickerAmount] = 100;
  params.value[kFrameNumber] = 7;
  const Image dst = Render(params, GrayRow({0, 1, 64, 128, 200, 255}, false));
  const int expected[6] = {0, 12, 120, 175, 223, 255};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(dst.At(x, 0)[1], expected[x]);
}

TEST(Flicker, FrameZeroAddsTheFullAmount) {
  // Exponent 1 + cos(0) * 1 = 2: v becomes trunc(v * v / 255).
  EffectParams params = QuietParams();
  params.value[kFlickerSpeed] = 10;
  params.value[kFlickerAmount] = 100;
  params.value[kFrameNumber] = 0;
  const Image dst = Render(params, GrayRow({1, 16, 128, 200, 255}, true));
  const int expected[5] = {0, 1, 64, 156, 255};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.At(x, 0)[2], expected[x]);
}

TEST(Flicker, NegativeExponentStoresBlackAsBlackWhateverTheGrain) {
  // Film Response 100 (exponent 25/101) plus cos(3) * 1 is about -0.74: black's
  // power is infinite and is stored as 0 through any grain; every other value
  // comes out far above 255.
  EffectParams params = QuietParams();
  params.value[kFilmResponse] = 100;
  params.value[kFlickerSpeed] = 10;
  params.value[kFlickerAmount] = 100;
  params.value[kFrameNumber] = 3;
  params.value[kGrainAmount] = 23;
  Image src = MakeImage(300, 2, false);
  for (int32_t x = 0; x < 300; ++x) {
    src.At(x, 0)[0] = 0;
    src.At(x, 0)[1] = 128;
    src.At(x, 0)[2] = 0;
    src.At(x, 1)[0] = 1;
    src.At(x, 1)[1] = 0;
    src.At(x, 1)[2] = 64;
  }
  const Image dst = Render(params, src, 99);
  for (int32_t x = 0; x < 300; ++x) {
    ASSERT_EQ(dst.At(x, 0)[0], 0);
    ASSERT_EQ(dst.At(x, 0)[1], 255);
    ASSERT_EQ(dst.At(x, 0)[2], 0);
    ASSERT_EQ(dst.At(x, 1)[0], 255);
    ASSERT_EQ(dst.At(x, 1)[1], 0);
    ASSERT_EQ(dst.At(x, 1)[2], 255);
  }
}

// The draws up to the end of the tone pass: the jitter decision, the jitter
// draw only when it jitters, then one per pixel of the picture rows only.
TEST(DrawOrder, OneDrawPerPictureRowPixelOnlyWithGrain) {
  const Image src = MakePattern(7, 10, false);
  Image dst = MakeImage(7, 10, false);
  EffectParams params = QuietParams();
  params.value[kGrainAmount] = 23;
  RenderJob job = MakeJob(params, src, dst);
  WorkingValues wv = ComputeWorkingValues(params, job);
  wv.jitterOffset = 3;  // rows 7, 8, 9 are not picture rows
  Rng rng;
  SeedRng(rng, 5);
  ASSERT_TRUE(RunTonePass(job, wv, rng));
  Rng expected;
  SeedRng(expected, 5);
  for (int i = 0; i < 7 * 7; ++i) NextRand(expected);
  EXPECT_EQ(rng.state, expected.state);

  params.value[kGrainAmount] = 0;
  wv = ComputeWorkingValues(params, job);
  SeedRng(rng, 5);
  ASSERT_TRUE(RunTonePass(job, wv, rng));
  EXPECT_EQ(rng.state, 5u);  // no grain, no draw
}

TEST(DrawOrder, ModulusZeroStillTakesTheDraw) {
  // Jitter always, but trunc(height * 0) = 0: the jitter draw is taken, its
  // remainder counts 0, the offset is 0; the first pixel's grain is draw 3.
  EffectParams params = QuietParams();
  params.value[kJitterProbability] = 100;
  params.value[kJitterMaxOffset] = 0;
  params.value[kGrainAmount] = 23;
  const Image src = MakeImage(9, 3, false, 128);
  const Image dst = Render(params, src, 31337);
  Rng rng;
  SeedRng(rng, 31337);
  NextRand(rng);
  NextRand(rng);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(dst.At(x, y)[0], 128 + DefaultGrain(NextRand(rng)));
  }

  // Grain Amount 0.2: grainRange 0.51, modulus 0. Every pixel still draws, and
  // trunc(0 - 0.255) = 0 adds nothing.
  params = QuietParams();
  params.value[kGrainAmount] = 0.2;
  const Image pattern = MakePattern(6, 4, true);
  Image out = MakeImage(6, 4, true);
  RenderJob job = MakeJob(params, pattern, out);
  const WorkingValues wv = ComputeWorkingValues(params, job);
  SeedRng(rng, 8);
  ASSERT_TRUE(RunTonePass(job, wv, rng));
  Rng expected;
  SeedRng(expected, 8);
  for (int i = 0; i < 24; ++i) NextRand(expected);
  EXPECT_EQ(rng.state, expected.state);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(out.At(x, y)[c], pattern.At(x, y)[c]);
    }
  }
}

namespace {

struct ParamSet {
  const char* name;
  std::vector<std::pair<int, double>> changes;  // over ToneDefaults
};

const ParamSet kReferenceSets[] = {
    {"defaults", {}},
    {"always jitter", {{kJitterProbability, 100}, {kJitterMaxOffset, 30}}},
    {"no gray, film 0", {{kConvertToGray, 0}, {kFilmResponse, 0}}},
    {"film 100, grain 100", {{kFilmResponse, 100}, {kGrainAmount, 100}}},
    {"negative exponent", {{kFilmResponse, 100}, {kFlickerSpeed, 10}, {kFlickerAmount, 100},
                           {kFrameNumber, 3}}},
    {"flicker frame 12", {{kFlickerSpeed, 37}, {kFlickerAmount, 55}, {kFrameNumber, 12}}},
    {"reveal and jitter", {{kRevealBackLayer, 1}, {kJitterProbability, 100},
                           {kJitterMaxOffset, 50}}},
    {"white tint", {{kGrayTintRed, 255}, {kGrayTintGreen, 255}, {kGrayTintBlue, 255}}},
    {"typed values", {{kFilmResponse, 45.099998474121094}, {kGrainAmount, 0.3},
                      {kJitterProbability, 50}, {kGrayTintRed, 17}}},
    {"negative exponent, grain 100", {{kFilmResponse, 100}, {kFlickerSpeed, 10},
                                      {kFlickerAmount, 100}, {kFrameNumber, 3},
                                      {kGrainAmount, 100}, {kConvertToGray, 0}}},
    {"tint past 255, grain 100", {{kGrayTintRed, 400}, {kGrayTintGreen, 300},
                                  {kGrainAmount, 100}}},
    {"no grain", {{kGrainAmount, 0}}},
    {"no grain, no gray", {{kGrainAmount, 0}, {kConvertToGray, 0}, {kFilmResponse, 70}}},
    {"grain past the fast loops", {{kGrainAmount, 1000}, {kJitterProbability, 100}}},
};

// Every width from 1 to 67 (every block and tail length of the lanes' blocks),
// then widths of one to three 64-pixel byte runs followed by blocks and a tail.
std::vector<int32_t> KernelWidths() {
  std::vector<int32_t> widths;
  for (int32_t width = 1; width <= 67; ++width) widths.push_back(width);
  for (int32_t width : {101, 150, 200}) widths.push_back(width);
  return widths;
}

// RenderEffect with every tone kernel this processor runs, the scalar rows
// included, against the plain formulas.
void ExpectMatchesReference(const EffectParams& params, int32_t width, int32_t height,
                            bool alpha, uint32_t seed, const std::string& what) {
  const Image src = MakePattern(width, height, alpha, seed);
  Image ref = MakePattern(width, height, alpha, seed + 1);
  RenderJob refJob = MakeJob(params, src, ref);
  ReferenceToneRender(refJob, seed);
  for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
    if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
    Image dst = MakePattern(width, height, alpha, seed + 1);
    RenderJob job = MakeJob(params, src, dst);
    Rng rng = {0};
    RenderContext context = {&rng, nullptr, 0, ToneKernel(k)};
    ASSERT_EQ(RenderEffectSeeded(&job, seed, &context), 1) << what;
    ASSERT_TRUE(dst.bytes == ref.bytes) << what << " kernel " << ToneKernelName(ToneKernel(k));
  }
}

}  // namespace

TEST(Reference, RenderEffectMatchesThePlainFormulasByteForByte) {
  const int32_t sizes[][2] = {{37, 23}, {1, 5}, {2, 2}, {3, 9}, {64, 17}};
  for (const ParamSet& set : kReferenceSets) {
    EffectParams params = test::ToneDefaults();
    for (const auto& change : set.changes) params.value[change.first] = change.second;
    for (bool alpha : {false, true}) {
      for (const auto& size : sizes) {
        for (uint32_t seed : {1u, 977u, 123456789u}) {
          ExpectMatchesReference(params, size[0], size[1], alpha, seed,
                                 std::string(set.name) + (alpha ? " rgba " : " rgb ") +
                                     std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                     " seed " + std::to_string(seed));
        }
      }
    }
  }
}

TEST(Reference, TonePassLeavesTheGeneratorWhereTheReferenceDoes) {
  EffectParams params = test::ToneDefaults();
  params.value[kJitterProbability] = 60;
  params.value[kJitterMaxOffset] = 40;
  for (uint32_t seed = 0; seed < 20; ++seed) {
    const Image src = MakePattern(11, 13, false, seed);
    Image dst = MakeImage(11, 13, false);  // black already: the background
    Image ref = dst;
    RenderJob job = MakeJob(params, src, dst);
    // RenderEffect's own steps up to the tone pass, on a generator we can read.
    Rng rng;
    const WorkingValues wv = SetUpRender(job, seed, rng);
    ASSERT_TRUE(RunTonePass(job, wv, rng));
    RenderJob refJob = MakeJob(params, src, ref);
    EXPECT_EQ(rng.state, ReferenceToneRender(refJob, seed)) << seed;
    EXPECT_TRUE(dst.bytes == ref.bytes) << seed;
  }
}

// Records from an older run or another program: values far out of range, NaN
// and infinities in every entry the tone part reads. Nothing may crash, trip the
// sanitizers or write outside the picture, and the result is still exactly the
// plain formulas' (with their defined conversions).
TEST(BadRecords, OutOfRangeValuesRenderLikeTheReference) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double values[] = {nan, inf, -inf, 1e300, -1e300, 1e10, -1e10, -1, -0.5, -2, 150, 1e-300};
  const int indices[] = {kFilmResponse, kGrainAmount, kJitterMaxOffset, kJitterProbability,
                         kConvertToGray, kGrayTintRed, kGrayTintGreen, kGrayTintBlue,
                         kFlickerSpeed, kFlickerAmount, kRevealBackLayer, kFrameNumber,
                         kShowDialog};
  for (int index : indices) {
    for (double v : values) {
      EffectParams params = test::ToneDefaults();
      params.value[kJitterProbability] = 100;
      params.value[kFlickerSpeed] = 10;
      params.value[index] = v;
      for (bool alpha : {false, true}) {
        ExpectMatchesReference(params, 9, 7, alpha, 3,
                               "index " + std::to_string(index) + " = " + std::to_string(v));
      }
    }
  }
  // Everything at once.
  for (double v : values) {
    EffectParams params;
    for (int i = 0; i < kParamCount; ++i) params.value[i] = v;
    params.value[kDustAmount] = 0;
    params.value[kHairAmount] = 0;
    params.value[kScratchAmount] = 0;
    ExpectMatchesReference(params, 5, 6, true, 11, "all = " + std::to_string(v));
  }
}

// Any number of threads gives the bytes of one: across the parameter sets (grain
// on and off, jitter, the general loop of a huge Grain Amount, dust, hairs and
// scratches after the tone pass, the last also at Auto and at Scale 2.5, whose
// soft marks are laid in bands), both layouts, odd sizes, a host that stops
// the render, and a system that refuses some or all of the workers. With a minimum band height of 2 the small images really split;
// the bands used are asserted. The progress reports (one per row, in order) and
// the abort tests come only from the calling thread, and the generator ends
// where one thread leaves it.
TEST(Threads, AnyThreadCountGivesTheBytesOfOne) {
  struct ThreadCase {
    int32_t threads;
    int32_t bandsAt23Rows;   // min(4 * threads, 23 / 2)
    int32_t bandsAt200Rows;  // min(4 * threads, 200 / 2)
    int32_t workersStarted;  // -1: all; fewer: the system refuses the rest
  };
  const ThreadCase cases[] = {{1, 1, 1, -1},   {2, 8, 8, -1},   {3, 11, 12, -1},
                              {7, 11, 28, -1}, {16, 11, 64, -1}, {7, 11, 28, 2},
                              {16, 11, 64, 0}};
  std::vector<ParamSet> sets(std::begin(kReferenceSets), std::end(kReferenceSets));
  sets.push_back({"dust, hairs, scratches", {{kDustAmount, 60}, {kHairAmount, 40},
                                             {kScratchAmount, 20}, {kFrameNumber, 3},
                                             {kJitterProbability, 100}}});
  struct Size {
    int32_t width;
    int32_t height;
  };
  const Size sizes[] = {{37, 23}, {5, 200}};
  SetMinBandRowsForTesting(2);
  uint32_t seed = 40;
  for (const ParamSet& set : sets) {
    EffectParams params = test::ToneDefaults();
    for (const auto& change : set.changes) params.value[change.first] = change.second;
    const bool marks = &set == &sets.back();
    // The soft marks' set also at Auto and at Scale 2.5.
    for (double scale : {1.0, double(kScaleAuto), 2.5}) {
      if (scale != 1.0 && !marks) continue;
      for (bool alpha : {false, true}) {
        for (const Size& size : sizes) {
          const Image src = MakePattern(size.width, size.height, alpha, ++seed);
          for (int32_t stopAfter : {0, 13, size.height}) {
            const std::string what = std::string(set.name) + " scale " + std::to_string(scale) +
                                     (alpha ? " rgba " : " rgb ") +
                                     std::to_string(size.width) + "x" +
                                     std::to_string(size.height) + " stop " +
                                     std::to_string(stopAfter);
            Image one;
            uint32_t oneState = 0;
            test::CallbackLog oneLog;
            int32_t oneResult = 0;
            for (const ThreadCase& c : cases) {
              Image dst = MakePattern(size.width, size.height, alpha, seed + 1000);
              RenderJob job = MakeJob(params, src, dst);
              job.scale = scale;
              test::WatchCallbacks(&job, stopAfter);
              Rng rng = {0};
              RenderContext context = {&rng, nullptr, c.threads};
              SetWorkerStartLimitForTesting(c.workersStarted);
              const int32_t result = RenderEffectSeeded(&job, seed, &context);
              SetWorkerStartLimitForTesting(-1);
              const std::string at = what + " threads " + std::to_string(c.threads) +
                                     " workers " + std::to_string(c.workersStarted);
              EXPECT_EQ(LastToneBandCountForTesting(),
                        size.height == 23 ? c.bandsAt23Rows : c.bandsAt200Rows) << at;
              EXPECT_EQ(Log().callsFromOtherThreads, 0) << at;
              if (c.threads == 1) {
                one = dst;
                oneState = rng.state;
                oneLog = Log();
                oneResult = result;
                EXPECT_EQ(result, stopAfter == 0 ? 1 : 0) << at;
                continue;
              }
              EXPECT_EQ(result, oneResult) << at;
              EXPECT_EQ(rng.state, oneState) << at;
              EXPECT_EQ(Log().progress, oneLog.progress) << at;
              EXPECT_EQ(Log().abortCalls, oneLog.abortCalls) << at;
              ASSERT_TRUE(dst.bytes == one.bytes) << at;
            }
          }
        }
      }
    }
  }
  SetMinBandRowsForTesting(0);
}

// N: the cores, at most 16; PATINEX_THREADS can only lower it, and text that is
// not a whole number from 1 up is ignored.
TEST(Threads, CountFollowsTheCoresAndPatinexThreads) {
  struct Case {
    uint32_t cores;
    const char* setting;
    int32_t threads;
  };
  const Case cases[] = {
      {2, nullptr, 2},  {64, nullptr, 16}, {0, nullptr, 1},  {8, "1", 1},    {8, " 3 ", 3},
      {8, "99", 8},     {40, "20", 16},    {8, "0", 8},      {8, "-2", 8},   {8, "2.5", 8},
      {8, "", 8},       {8, "four", 8},    {8, "3x", 8},     {8, "99999999999", 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ThreadCountFrom(c.cores, c.setting), c.threads)
        << c.cores << " cores, PATINEX_THREADS=" << (c.setting ? c.setting : "(unset)");
  }
}

// The tone kernel: the best this processor runs (AVX2 where AVX-512 also runs);
// PATINEX_SIMD can name another up to the best that this build has, and any
// other text is ignored.
TEST(ToneKernels, ChoiceFollowsTheProcessorAndPatinexSimd) {
  struct Case {
    ToneKernel best;
    const char* setting;
    ToneKernel kernel;
  };
  const ToneKernel sse2 = ToneKernel::kSse2, scalar = ToneKernel::kScalar;
  const ToneKernel avx2 = ToneKernel::kAvx2, avx512 = ToneKernel::kAvx512;
  const ToneKernel wasm = ToneKernel::kWasmSimd128, vbmi = ToneKernel::kAvx512Vbmi;
  const Case cases[] = {
      {sse2, nullptr, sse2},    {sse2, "scalar", scalar}, {sse2, " scalar ", scalar},
      {sse2, "sse2", sse2},     {scalar, "sse2", scalar}, {scalar, nullptr, scalar},
      {sse2, "", sse2},         {sse2, "SCALAR", sse2},   {sse2, "scalar2", sse2},
      {sse2, "scal", sse2},     {sse2, "chosen", sse2},   {sse2, "avx-512", sse2},
      {avx512, "avx2", avx2},   {avx512, "sse2", sse2},   {avx512, nullptr, avx2},
      {avx512, "avx512", avx512}, {avx2, "avx512", avx2}, {sse2, "avx2", sse2},
      {avx512, "avx-512", avx2}, {avx2, nullptr, avx2},
      // The page's SIMD build: its own kernel, never capped at AVX2.
      {wasm, nullptr, wasm},    {wasm, "scalar", scalar},
      // With VBMI's byte permutes the widest is the default; below it, as asked.
      {vbmi, nullptr, vbmi},    {vbmi, "avx512", avx512}, {vbmi, "avx2", avx2},
      {avx512, "avx512vbmi", avx2}, {vbmi, "wasm-simd128", vbmi},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToneKernelFrom(c.best, c.setting), c.kernel)
        << ToneKernelName(c.best) << ", PATINEX_SIMD=" << (c.setting ? c.setting : "(unset)");
  }
}

// Every kernel gives the plain formulas' bytes at every width of KernelWidths (so
// every block and tail length is met), with jitter, for Grain Amounts across the
// whole range the lanes take and past it: fractions just above and below a
// whole half, the largest modulus, the largest grain in 16 bits and beyond it.
TEST(ToneKernels, EveryWidthAndGrainGivesThePlainFormulasBytes) {
  std::vector<ParamSet> sets = {{"defaults, jitter", {{kJitterProbability, 100}}},
                                {"no gray, film 0", {{kConvertToGray, 0}, {kFilmResponse, 0}}},
                                {"no grain", {{kGrainAmount, 0}}},
                                {"negative exponent", {{kFilmResponse, 100}, {kFlickerSpeed, 10},
                                                       {kFlickerAmount, 100}, {kFrameNumber, 3}}},
                                {"tint past 255", {{kGrayTintRed, 400}, {kGrayTintGreen, 300}}}};
  for (double amount : {0.01, 0.4, 0.79, 1.18, 3.3, 50.2, 100.0 + 1e-12, 117.6, 500.0, 1284.7,
                        12849.8, 12850.2, 25499.5, 25499.7, 30000.0}) {
    sets.push_back({"grain", {{kGrainAmount, amount}, {kJitterProbability, 100}}});
    sets.push_back({"grain, no gray", {{kGrainAmount, amount}, {kConvertToGray, 0}}});
  }
  uint32_t seed = 5;
  for (const ParamSet& set : sets) {
    EffectParams params = test::ToneDefaults();
    for (const auto& change : set.changes) params.value[change.first] = change.second;
    for (bool alpha : {false, true}) {
      for (int32_t width : KernelWidths()) {
        ExpectMatchesReference(params, width, 3, alpha, ++seed,
                               std::string(set.name) + " " +
                                   std::to_string(params.value[kGrainAmount]) +
                                   (alpha ? " rgba " : " rgb ") + std::to_string(width));
      }
    }
  }
}

// A grain given per pixel instead of drawn, for every kernel and the general
// loop: random values within each range of the table (the lanes' bounds come
// from the range: a narrow one, one of one value, the widest the lanes take,
// and past it), at every width of KernelWidths, with jitter, against the plain
// formulas with the same grain; no number is drawn for it.
TEST(ToneKernels, EveryWidthAndGivenGrainGivesThePlainFormulasBytes) {
  const std::vector<std::pair<int, double>> sets[] = {
      {{kJitterProbability, 100}},
      {{kConvertToGray, 0}, {kFilmResponse, 0}},
      {{kGrayTintRed, 400}, {kGrayTintGreen, 300}, {kFilmResponse, 100}},
      {{kFilmResponse, 100}, {kFlickerSpeed, 10}, {kFlickerAmount, 100}, {kFrameNumber, 3}}};
  const int32_t ranges[][2] = {{-29, 27}, {5, 5}, {-300, -200}, {200, 400},
                               {-kLaneMaxFloorHalf, 32767}, {-kLaneMaxFloorHalf - 1, 0},
                               {-32768, 32767}};
  const int32_t height = 3;
  uint32_t seed = 900;
  for (const auto& changes : sets) {
    EffectParams params = test::ToneDefaults();
    for (const auto& change : changes) params.value[change.first] = change.second;
    for (const auto& range : ranges) {
      for (bool alpha : {false, true}) {
        for (int32_t width : KernelWidths()) {
          ++seed;
          std::vector<int16_t> grain(size_t(width) * height);
          uint32_t r = seed;
          for (int16_t& g : grain) {
            r = r * 1103515245u + 12345u;
            g = int16_t(range[0] + int64_t(r >> 8) % (int64_t(range[1]) - range[0] + 1));
          }
          const ToneGrainField field = {grain.data(), nullptr, width, range[0], range[1]};
          const Image src = MakePattern(width, height, alpha, seed);
          Image ref = MakePattern(width, height, alpha, seed + 1);
          RenderJob refJob = MakeJob(params, src, ref);
          const uint32_t refState = ReferenceToneRender(refJob, seed, grain.data(), width);
          for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
            if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
            Image dst = MakePattern(width, height, alpha, seed + 1);
            RenderJob job = MakeJob(params, src, dst);
            Rng rng;
            const WorkingValues wv = SetUpRender(job, seed, rng);
            ASSERT_TRUE(RunTonePass(job, wv, rng, 1, ToneKernel(k), &field));
            const std::string at = std::string(ToneKernelName(ToneKernel(k))) + " grain " +
                                   std::to_string(range[0]) + ".." + std::to_string(range[1]) +
                                   (alpha ? " rgba " : " rgb ") + std::to_string(width);
            EXPECT_EQ(rng.state, refState) << at;
            ASSERT_TRUE(dst.bytes == ref.bytes) << at;
          }
        }
      }
    }
  }
}

// Every kernel on 1 to 16 threads gives the bytes and the generator state of
// the scalar rows on one, also when the host stops the render after any row,
// with and without grain, gray and jitter, at Scale 1, Auto (on 12 rows: cells
// smaller than pixels) and 2.5 (cells larger: the grain blended between them).
TEST(ToneKernels, EveryThreadCountAndStopGivesTheScalarBytes) {
  const std::vector<std::pair<int, double>> variants[] = {
      {{kJitterProbability, 100}, {kJitterMaxOffset, 30}},
      {{kConvertToGray, 0}, {kGrainAmount, 100}},
      {{kGrainAmount, 0}}};
  SetMinBandRowsForTesting(2);
  const int32_t width = 43, height = 12;
  uint32_t seed = 70;
  for (const auto& changes : variants) {
    EffectParams params = test::ToneDefaults();
    for (const auto& change : changes) params.value[change.first] = change.second;
    for (bool alpha : {false, true}) {
      const Image src = MakePattern(width, height, alpha, ++seed);
      for (double scale : {1.0, kScaleAuto, 2.5}) {
      for (int32_t stopAfter = 0; stopAfter < height; ++stopAfter) {
        Image expected;
        uint32_t expectedState = 0;
        for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
          if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
          for (int32_t threads : {1, 2, 3, 16}) {
            Image dst = MakePattern(width, height, alpha, seed + 500);
            RenderJob job = MakeJob(params, src, dst);
            job.scale = scale;
            test::WatchCallbacks(&job, stopAfter);
            Rng rng = {0};
            RenderContext context = {&rng, nullptr, threads, ToneKernel(k)};
            RenderEffectSeeded(&job, seed, &context);
            const std::string at = std::string(ToneKernelName(ToneKernel(k))) + " threads " +
                                   std::to_string(threads) + " stop " +
                                   std::to_string(stopAfter) + " scale " +
                                   std::to_string(scale) + (alpha ? " rgba" : " rgb");
            if (expected.bytes.empty()) {
              expected = dst;
              expectedState = rng.state;
              continue;
            }
            EXPECT_EQ(rng.state, expectedState) << at;
            ASSERT_TRUE(dst.bytes == expected.bytes) << at;
          }
        }
      }
      }
    }
  }
  SetMinBandRowsForTesting(0);
}

// The remainder in 16-bit lanes (a multiply-high by 65535 / m and one
// correction) against the true remainder, for every draw 0..32767 and every
// modulus 1..32768, in each kernel's own lane code (the scalar kernel's tail
// included).
TEST(ToneKernels, LaneRemainderIsExactForEveryDrawAndModulus) {
  std::vector<uint16_t> draws(32768), out(32768);
  for (int32_t d = 0; d < 32768; ++d) draws[d] = uint16_t(d);
  for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
    if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
    const ToneRowSet* rows = ToneRowsOf(ToneKernel(k));
    ASSERT_NE(rows, nullptr);
    for (int32_t m = 1; m <= 32768; ++m) {
      ASSERT_TRUE(rows->remainders(draws.data(), 32768, uint16_t(m), out.data()));
      int32_t expected = 0;  // d % m, stepped
      for (int32_t d = 0; d < 32768; ++d) {
        if (out[d] != expected) {
          FAIL() << ToneKernelName(ToneKernel(k)) << " draw " << d << " modulus " << m << ": "
                 << out[d] << " instead of " << expected;
        }
        if (++expected == m) expected = 0;
      }
    }
  }
}
