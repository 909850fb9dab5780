// Scale: the damage laid out on a grid and drawn at the picture's size.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScaleLayout.h"
#include "render/SoftMarks.h"
#include "render/ToneKernels.h"
#include "tests/native/RenderTestSupport.h"

namespace {

using test::Image;

Image RenderScaled(const EffectParams& params, const Image& src, double scale, uint32_t seed,
                   ToneKernel kernel = ToneKernel::kChosen) {
  Image dst = test::MakeImage(src.width, src.height, src.alpha, 7);
  RenderJob job = test::MakeJob(params, src, dst);
  job.scale = scale;
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, 1, kernel};
  RenderEffectSeeded(&job, seed, &context);
  return dst;
}

// The red channel of `im` reduced `k` times each way by averaging.
std::vector<double> Reduced(const Image& im, int32_t k) {
  const int32_t w = im.width / k, h = im.height / k;
  std::vector<double> out(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double sum = 0;
      for (int32_t dy = 0; dy < k; ++dy) {
        for (int32_t dx = 0; dx < k; ++dx) sum += im.At(x * k + dx, y * k + dy)[0];
      }
      out[size_t(y) * w + x] = sum / (k * k);
    }
  }
  return out;
}

double StandardDeviation(const std::vector<double>& v) {
  double mean = 0, squares = 0;
  for (double x : v) mean += x;
  mean /= double(v.size());
  for (double x : v) squares += (x - mean) * (x - mean);
  return std::sqrt(squares / double(v.size()));
}

// Flat mid gray through the defaults, with only the parts of the damage asked for.
EffectParams Damage(bool grain, bool marks, bool scratches) {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kJitterProbability] = 0;
  p.value[kFrameNumber] = 30;
  if (!grain) p.value[kGrainAmount] = 0;
  if (!marks) {
    p.value[kDustAmount] = 0;
    p.value[kHairAmount] = 0;
  }
  if (!scratches) p.value[kScratchAmount] = 0;
  p.value[kScratchOpacity] = 80;
  return p;
}

}  // namespace

// The grid: Auto is 576 rows high, a factor set by hand is the picture over the
// factor, and a grid equal to the picture draws in pixels.
TEST(Scale, GridFollowsTheSetting) {
  struct Case {
    double scale;
    int32_t width, height;
    bool scaled;
    int32_t gridWidth, gridHeight;
  };
  const Case cases[] = {
      {kScaleAuto, 3840, 2160, true, 1024, 576}, {kScaleAuto, 960, 540, true, 1024, 576},
      {kScaleAuto, 6000, 4000, true, 864, 576},  {kScaleAuto, 720, 576, false, 720, 576},
      {kScaleAuto, 100, 60, true, 800, 480},     {4.0, 2880, 2304, true, 720, 576},
      {0.5, 640, 480, false, 640, 480},          {1.0, 640, 480, false, 640, 480},
      {100.0, 1600, 1600, true, 100, 100},       {-3.0, 1152, 1152, true, 576, 576},
      {std::nan(""), 640, 480, false, 640, 480}, {kScaleAuto, 32000, 100, true, 32767, 102},
      {kScaleAuto, 50, 10, true, 400, 80},
  };
  for (const Case& c : cases) {
    const ScaleLayout grid = LayoutFor(c.scale, c.width, c.height);
    const std::string at = std::to_string(c.scale) + " " + std::to_string(c.width) + "x" + std::to_string(c.height);
    EXPECT_EQ(grid.scaled, c.scaled) << at;
    EXPECT_EQ(grid.width, c.gridWidth) << at;
    EXPECT_EQ(grid.height, c.gridHeight) << at;
  }
}

// Where the grid is the picture (Scale 1, or Auto at 576 rows), every byte is
// the render without Scale.
TEST(Scale, OneAndAutoAt576RowsKeepEveryByte) {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kFrameNumber] = 12;
  p.value[kJitterProbability] = 100;
  for (bool alpha : {false, true}) {
    const Image src = test::MakePattern(300, 576, alpha, 3);
    const Image plain = RenderScaled(p, src, 1.0, 99);
    EXPECT_TRUE(RenderScaled(p, src, kScaleAuto, 99).bytes == plain.bytes);
    EXPECT_TRUE(RenderScaled(p, src, 0.25, 99).bytes == plain.bytes);
  }
}

// Every kernel's field rows and field grain give the scalar rows' bytes (and the
// soft marks made either way theirs): cells
// smaller and larger than pixels (Auto on short and tall pictures, fixed
// factors, cells just smaller than pixels), many blocks and a tail, a grain
// whose values repeat within the
// permuted 64 and one past them, with and without gray.
TEST(Scale, EveryKernelGivesTheScalarBytesAtEveryScale) {
  struct Case {
    int32_t width, height;
    double scale, grain;
    bool gray;
  };
  const Case cases[] = {{333, 40, kScaleAuto, 25, true},   {1001, 64, 2.5, 25, true},
                        {197, 900, kScaleAuto, 25, false}, {250, 120, 1.7, 40, true},
                        {131, 300, 16, 25, true},          {400, 700, kScaleAuto, 100, true},
                        {300, 550, kScaleAuto, 25, true}};
  for (const Case& c : cases) {
    EffectParams p;
    SetDefaultParams(&p);
    p.value[kShowDialog] = 0;
    p.value[kFrameNumber] = 5;
    p.value[kGrainAmount] = c.grain;
    p.value[kConvertToGray] = c.gray ? 1 : 0;
    const Image src = test::MakePattern(c.width, c.height, false, 11);
    const Image scalar = RenderScaled(p, src, c.scale, 21, ToneKernel::kScalar);
    // The soft marks' columns made in each row give the bytes of those made once.
    SetStampColumnBytesForTesting(1);
    EXPECT_TRUE(RenderScaled(p, src, c.scale, 21, ToneKernel::kScalar).bytes == scalar.bytes)
        << "columns in each row, " << c.width << " x " << c.height << " scale " << c.scale;
    SetStampColumnBytesForTesting(0);
    for (int32_t k = int32_t(ToneKernel::kSse2); k <= int32_t(BestToneKernel()); ++k) {
      if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;
      EXPECT_TRUE(RenderScaled(p, src, c.scale, 21, ToneKernel(k)).bytes == scalar.bytes)
          << ToneKernelName(ToneKernel(k)) << " " << c.width << " x " << c.height << " scale "
          << c.scale << " grain " << c.grain;
    }
  }
}

// The same film at 4 times the size: Auto at 720 x 576 against 2880 x 2304
// reduced 4 times by averaging. The marks cover the same share of the picture
// and stand in the same columns; the grain varies as much.
TEST(Scale, AutoAtFourTimesTheSizeReducesToTheSmallRender) {
  const Image small = test::MakeImage(720, 576, false, 128);
  const Image large = test::MakeImage(2880, 2304, false, 128);
  for (uint32_t seed : {5u, 6u}) {
    // Marks: pixels at least 12 levels darker than the undamaged gray.
    const EffectParams marks = Damage(false, true, true);
    const Image a = RenderScaled(marks, small, kScaleAuto, seed);
    const std::vector<double> b = Reduced(RenderScaled(marks, large, kScaleAuto, seed), 4);
    const Image clean = RenderScaled(Damage(false, false, false), small, kScaleAuto, seed);
    const double level = clean.At(0, 0)[0];
    int64_t darkA = 0, darkB = 0;
    for (int32_t y = 0; y < 576; ++y) {
      for (int32_t x = 0; x < 720; ++x) {
        darkA += a.At(x, y)[0] <= level - 12;
        darkB += b[size_t(y) * 720 + x] <= level - 12;
      }
    }
    ASSERT_GT(darkA, 2000);
    EXPECT_NEAR(double(darkB) / double(darkA), 1.0, 0.25) << darkA << " " << darkB;

    // Scratch columns: every column the small render's scratches darken on most
    // rows has one within a pixel in the reduced large render.
    const EffectParams scratches = Damage(false, false, true);
    const Image sa = RenderScaled(scratches, small, kScaleAuto, seed);
    const std::vector<double> sb = Reduced(RenderScaled(scratches, large, kScaleAuto, seed), 4);
    auto meanDarkening = [&](auto value, int32_t x) {
      double sum = 0;
      for (int32_t y = 0; y < 576; ++y) sum += level - value(x, y);
      return sum / 576;
    };
    int32_t columns = 0;
    for (int32_t x = 1; x + 1 < 720; ++x) {
      if (meanDarkening([&](int32_t cx, int32_t y) { return double(sa.At(cx, y)[0]); }, x) < 8) continue;
      ++columns;
      double best = 0;
      for (int32_t d = -1; d <= 1; ++d) {
        best = std::max(best, meanDarkening([&](int32_t cx, int32_t y) { return sb[size_t(y) * 720 + cx]; }, x + d));
      }
      EXPECT_GT(best, 4) << "column " << x;
    }
    EXPECT_GT(columns, 0);

    // Grain on flat gray.
    const EffectParams grain = Damage(true, false, false);
    std::vector<double> ga;
    const Image g = RenderScaled(grain, small, kScaleAuto, seed);
    for (int32_t y = 0; y < 576; ++y) {
      for (int32_t x = 0; x < 720; ++x) ga.push_back(g.At(x, y)[0]);
    }
    const double spreadA = StandardDeviation(ga);
    const double spreadB = StandardDeviation(Reduced(RenderScaled(grain, large, kScaleAuto, seed), 4));
    EXPECT_NEAR(spreadB / spreadA, 1.0, 0.25) << spreadA << " " << spreadB;
  }
}

// No blocks and no stairs at factor 4: the grain's correlation along a row falls
// smoothly over 8 pixels (a field of 4 x 4 copies would fall straight to 0 at
// lag 4 and stay there), and a scratch's edges hold levels between the picture
// and the scratch.
TEST(Scale, FactorFourIsSmoothNotEnlarged) {
  const Image flat = test::MakeImage(512, 512, false, 128);
  const Image g = RenderScaled(Damage(true, false, false), flat, 4.0, 11);
  double mean = 0;
  for (int32_t y = 0; y < 512; ++y) {
    for (int32_t x = 0; x < 512; ++x) mean += g.At(x, y)[0];
  }
  mean /= 512.0 * 512.0;
  std::vector<double> r(10, 0.0);
  for (int32_t lag = 0; lag < 10; ++lag) {
    for (int32_t y = 0; y < 512; ++y) {
      for (int32_t x = 0; x + lag < 512; ++x) {
        r[lag] += (g.At(x, y)[0] - mean) * (g.At(x + lag, y)[0] - mean);
      }
    }
    r[lag] /= 512.0 * (512 - lag);
  }
  for (int32_t lag = 2; lag <= 7; ++lag) EXPECT_LT(r[lag], r[lag - 1]) << "lag " << lag;
  // The smooth field's correlation at lags 4 and 5 (a quarter and a tenth of lag
  // 0's, for a blend of independent cells) is well above 0.
  EXPECT_GT(r[4] / r[1], 0.15);
  EXPECT_GT(r[5] / r[1], 0.05);
  EXPECT_NEAR(r[9] / r[1], 0.0, 0.03);

  // One old scratch: its columns from the picture's level down to the darkest
  // and back, with a column of an intermediate level on each side.
  EffectParams p = Damage(false, false, true);
  p.value[kScratchAmount] = 1;
  const Image gray = test::MakeImage(400, 64, false, 200);
  EffectParams clean = Damage(false, false, false);
  bool seen = false;
  for (int32_t frame = 0; frame < 60 && !seen; ++frame) {
    p.value[kFrameNumber] = frame;
    clean.value[kFrameNumber] = frame;  // the flicker's level of this frame
    const int32_t level = RenderScaled(clean, gray, 4.0, 1).At(0, 0)[0];
    const Image s = RenderScaled(p, gray, 4.0, 1);
    std::vector<double> profile(400, 0.0);
    for (int32_t x = 0; x < 400; ++x) {
      for (int32_t y = 0; y < 64; ++y) profile[x] += level - s.At(x, y)[0];
    }
    int32_t first = -1, last = -1;
    double darkest = 0;
    for (int32_t x = 0; x < 400; ++x) {
      if (profile[x] > 0 && first < 0) first = x;
      if (profile[x] > 0) last = x;
      darkest = std::max(darkest, profile[x]);
    }
    if (darkest < 64 * 20) continue;  // too young to judge
    seen = true;
    EXPECT_GE(last - first + 1, 5);  // 4 pixels and soft edges
    EXPECT_LE(last - first + 1, 7);
    EXPECT_GT(profile[first], 0.0);
    EXPECT_LT(profile[first], 0.5 * darkest);
    EXPECT_LT(profile[last], 0.5 * darkest);
  }
  EXPECT_TRUE(seen);
}
