// 16 bits per channel: a 16-bit render of an 8-bit image widened to 16 bits is
// the 8-bit render of that image, finer; the curve keeps a gradient's levels;
// the threads give one thread's bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <set>
#include <vector>

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"
#include "render/ToneKernels.h"
#include "render/WorkingValues.h"
#include "tests/native/RenderTestSupport.h"

namespace {

// A 16-bit image (the byte image's fields, Bpp() counting samples); rows end on
// an odd number of bytes, so that no sample is assumed to be aligned.
struct Image16 : test::Image {
  uint16_t Get(int32_t x, int32_t y, int c) const {
    return LoadSample(bytes.data() + size_t(y) * rowBytes + size_t(x) * Bpp() * 2 + 2 * c);
  }
  void Set(int32_t x, int32_t y, int c, uint16_t v) {
    StoreSample(bytes.data() + size_t(y) * rowBytes + size_t(x) * Bpp() * 2 + 2 * c, v);
  }
};

Image16 MakeImage16(int32_t width, int32_t height, bool alpha) {
  Image16 im;
  im.width = width;
  im.height = height;
  im.alpha = alpha;
  im.rowBytes = width * im.Bpp() * 2 + 3;
  im.bytes.assign(size_t(im.rowBytes) * size_t(height), 0x5A);
  return im;
}

// Every sample of an 8-bit image widened to its level of 0..32768.
Image16 Widened(const test::Image& src) {
  Image16 im = MakeImage16(src.width, src.height, src.alpha);
  for (int32_t y = 0; y < src.height; ++y) {
    for (int32_t x = 0; x < src.width; ++x) {
      for (int c = 0; c < src.Bpp(); ++c) im.Set(x, y, c, uint16_t(WidenLevel(src.At(x, y)[c])));
    }
  }
  return im;
}

RenderJob MakeJob16(const EffectParams& params, const Image16& src, Image16& dst) {
  RenderJob job = test::MakeJob(params, src, dst);
  job.sixteenBits = 1;
  return job;
}

int32_t Render(const RenderJob& job, uint32_t seed, int32_t threads = 1,
               ToneKernel kernel = ToneKernel::kChosen, uint32_t* state = nullptr) {
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, threads, kernel};
  const int32_t result = RenderEffectSeeded(&job, seed, &context);
  if (state != nullptr) *state = rng.state;
  return result;
}

// RenderEffect, or with a given grain (field) RunTonePass after RenderEffect's
// set-up; *drew tells whether the tone pass then moved the generator.
int32_t RenderTone(const RenderJob& job, uint32_t seed, ToneKernel kernel,
                   const ToneGrainField* field, uint32_t* state, bool* drew) {
  *drew = false;
  if (field == nullptr) return Render(job, seed, 1, kernel, state);
  Rng rng;
  const WorkingValues wv = SetUpRender(job, seed, rng);
  const uint32_t before = rng.state;
  const bool finished = RunTonePass(job, wv, rng, 1, kernel, field);
  *state = rng.state;
  *drew = rng.state != before;
  return finished ? 1 : 0;
}

// Samples over the whole 16-bit range, most of them up to white (32768), some
// above it (a host may hand any value).
Image16 Noise16(int32_t width, int32_t height, bool alpha, uint32_t salt) {
  Image16 im = MakeImage16(width, height, alpha);
  uint32_t r = salt * 2654435761u + 99u;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < im.Bpp(); ++c) {
        r = r * 1103515245u + 12345u;
        const uint32_t v = r >> 8;
        im.Set(x, y, c, uint16_t(v % 16 == 0 ? 32768 + v % 32768 : v % 32769));
      }
    }
  }
  return im;
}

int32_t Curve8(int32_t v, double exponent) {
  return TruncToInt(std::pow(v / 255.0, exponent) * 255.0);
}

TEST(Depth16, WidenedLevelsAndTheirBytes) {
  // round(v * 32768 / 255), halves up; 255 is white at both depths.
  const int64_t cases[][2] = {{0, 0}, {1, 129}, {2, 257}, {44, 5654}, {128, 16448},
                              {254, 32639}, {255, 32768}, {-29, -3727}, {27, 3470}};
  for (const auto& c : cases) EXPECT_EQ(WidenLevel(c[0]), c[1]) << c[0];
  for (int32_t v = 0; v < 256; ++v) {
    ASSERT_EQ(ReduceSample(uint16_t(WidenLevel(v))), v);
    // The exact quotient is never a half, so floor(x + 1/2) is the nearest level.
    ASSERT_LE(std::fabs(double(WidenLevel(v)) - v * 32768.0 / 255.0), 0.5);
  }
  EXPECT_EQ(ReduceSample(65535), 255);  // above white counts as white
  EXPECT_EQ(WidenLevel(74.84), 9617.0);  // 9617.1
}

// Reduced to 8 bits, the 16-bit render of the widened image is the 8-bit render
// of the image: the same draws give the same grain, specks, hairs, scratches and
// jitter. The 16-bit pass keeps what the 8-bit pass truncates, so it may lie a
// level above; with gray on the 8-bit pass truncates the gray and its tint
// before the curve, so the 16-bit one may lie above by as much as the curve
// climbs over the two levels after the 8-bit tinted level, plus one; a
// scratch's darkening, truncated at 8 bits, adds one level either way.
TEST(Depth16, EachPassMatchesTheEightBitRender) {
  struct Case {
    const char* name;
    void (*set)(EffectParams*);
  };
  const Case cases[] = {
      {"curve", [](EffectParams* p) { p->value[kFilmResponse] = 45; }},
      {"steep curve", [](EffectParams* p) { p->value[kFilmResponse] = 0; }},
      {"grain", [](EffectParams* p) { p->value[kGrainAmount] = 23; }},
      {"gray", [](EffectParams* p) { p->value[kConvertToGray] = 1; p->value[kFilmResponse] = 45; }},
      {"dust", [](EffectParams* p) {
         p->value[kDustAmount] = 40;
         p->value[kDustColorRed] = 300;  // stores 44 at 8 bits: 5654 at 16
       }},
      {"hair", [](EffectParams* p) { p->value[kHairAmount] = 40; }},
      {"scratches", [](EffectParams* p) { p->value[kScratchAmount] = 30; p->value[kFrameNumber] = 9; }},
      {"jitter, back layer", [](EffectParams* p) {
         p->value[kJitterProbability] = 100;
         p->value[kJitterMaxOffset] = 20;
         p->value[kRevealBackLayer] = 1;
       }},
      {"all, flicker", [](EffectParams* p) {
         SetDefaultParams(p);
         p->value[kShowDialog] = 0;
         p->value[kScratchAmount] = 30;
         p->value[kFrameNumber] = 7;
         p->value[kJitterProbability] = 100;
       }},
  };
  for (const Case& c : cases) {
    for (bool alpha : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (alpha ? ", 4 planes" : ", 3 planes"));
      EffectParams p = test::QuietParams();
      c.set(&p);
      const test::Image src = test::MakePattern(61, 47, alpha, 5);
      test::Image out8 = test::MakeImage(61, 47, alpha, 7);
      const Image16 src16 = Widened(src);
      Image16 out16 = MakeImage16(61, 47, alpha);
      const uint32_t seed = 0xC0FFEE;
      ASSERT_EQ(Render(test::MakeJob(p, src, out8), seed), 1);
      ASSERT_EQ(Render(MakeJob16(p, src16, out16), seed), 1);

      const bool gray = TruncToInt(p.value[kConvertToGray]) != 0;
      const bool scratches = TruncToInt(p.value[kScratchAmount] + 0.5) > 0;
      // The exponent of this frame, flicker included, for the gray bound.
      double exponent = 25.0 / (p.value[kFilmResponse] + 1.0);
      if (p.value[kFlickerSpeed] > 0) {
        exponent += std::cos(double(TruncToInt(p.value[kFrameNumber] + 0.5)) *
                             (p.value[kFlickerSpeed] / 10.0)) * (p.value[kFlickerAmount] / 100.0);
      }
      const bool jitter = p.value[kJitterProbability] > 0;
      const bool reveal = TruncToInt(p.value[kRevealBackLayer]) != 0;
      // With gray on, the climb of the 8-bit curve over the two levels after the
      // tinted one: for the pixel's own tinted level when no jitter moves the
      // rows, else the steepest anywhere.
      auto climb = [&](int32_t t) {
        const int32_t top = t + 2 > 255 ? 255 : t + 2;
        return Curve8(top, exponent) - Curve8(t, exponent);
      };
      int32_t steepest = 0;
      for (int32_t t = 0; t < 256; ++t) steepest = std::max(steepest, climb(t));
      int32_t worst = 0;
      for (int32_t y = 0; y < 47; ++y) {
        for (int32_t x = 0; x < 61; ++x) {
          const uint8_t* s = src.At(x, y);
          for (int k = 0; k < 3; ++k) {
            const int32_t a = out8.At(x, y)[k];
            const int32_t b = ReduceSample(out16.Get(x, y, k));
            int32_t above = 0;
            if (gray) {
              const int32_t t = TruncToInt((s[0] + s[1] + s[2]) / 3 * (p.value[kGrayTintRed + k] / 256.0));
              above = jitter ? steepest : climb(t);
            }
            const int32_t extra = scratches ? 1 : 0;
            ASSERT_LE(b - a, above + 1 + extra) << x << "," << y << " channel " << k;
            ASSERT_LE(a - b, 1 + extra) << x << "," << y << " channel " << k;
            worst = std::max(worst, std::abs(a - b));
          }
          // Alpha is never written: the source's under Reveal Back Layer, else
          // what the destination held.
          if (alpha) {
            ASSERT_EQ(out16.Get(x, y, 3), reveal ? src16.Get(x, y, 3) : 0x5A5A);
          }
        }
      }
      if (!gray) {
        EXPECT_LE(worst, scratches ? 2 : 1);
      }
    }
  }
}

// A dust colour is reduced to the byte the 8-bit pass stores, then widened.
TEST(Depth16, DustColourIsTheStoredByteWidened) {
  EffectParams p = test::QuietParams();
  p.value[kDustAmount] = 60;
  p.value[kDustColorRed] = 300;   // low byte 44
  p.value[kDustColorGreen] = -1;  // low byte 255
  p.value[kDustColorBlue] = 0;
  Image16 src = MakeImage16(40, 30, false);
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      for (int c = 0; c < 3; ++c) src.Set(x, y, c, 1000);
    }
  }
  Image16 out = MakeImage16(40, 30, false);
  ASSERT_EQ(Render(MakeJob16(p, src, out), 99), 1);
  int32_t specks = 0;
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      if (out.Get(x, y, 0) == 1000) continue;
      ++specks;
      EXPECT_EQ(out.Get(x, y, 0), 5654);
      EXPECT_EQ(out.Get(x, y, 1), 32768);
      EXPECT_EQ(out.Get(x, y, 2), 0);
    }
  }
  EXPECT_GT(specks, 0);
}

// A smooth gradient through the curve keeps far more than 256 levels (no
// banding); samples above 32768 render as 32768.
TEST(Depth16, GradientKeepsItsLevelsAndHighSamplesAreWhite) {
  EffectParams p = test::ToneDefaults();
  p.value[kGrainAmount] = 0;
  p.value[kConvertToGray] = 0;
  p.value[kJitterProbability] = 0;
  p.value[kFlickerSpeed] = 0;
  Image16 src = MakeImage16(4097, 2, false);
  for (int32_t x = 0; x < 4097; ++x) {
    for (int c = 0; c < 3; ++c) {
      src.Set(x, 0, c, uint16_t(x * 8));                    // 0..32768
      src.Set(x, 1, c, uint16_t(x % 2 ? 65535 : 32768));    // above white, white
    }
  }
  Image16 out = MakeImage16(4097, 2, false);
  ASSERT_EQ(Render(MakeJob16(p, src, out), 1), 1);
  std::set<uint16_t> levels;
  for (int32_t x = 0; x < 4097; ++x) levels.insert(out.Get(x, 0, 0));
  EXPECT_GT(levels.size(), 256u);
  EXPECT_EQ(out.Get(0, 0, 0), 0);
  EXPECT_EQ(out.Get(4096, 0, 0), 32768);
  // The curve at 16 bits: trunc(pow(v / 32768, 25 / 46) * 32768).
  EXPECT_EQ(out.Get(2048, 0, 1), TruncToInt(std::pow(16384 / 32768.0, 25.0 / 46.0) * 32768.0));
  for (int32_t x = 0; x < 4097; ++x) ASSERT_EQ(out.Get(x, 1, 2), 32768) << x;
}

// Every kernel on any number of threads gives the bytes and the generator
// state of the scalar rows on one, also when the host stops the render after
// any row, at Scale 1, Auto and 2.5.
TEST(Depth16, EveryKernelAndThreadCountGivesTheBytesOfOne) {
  SetMinBandRowsForTesting(2);
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kJitterProbability] = 100;
  const int32_t height = 24;
  for (bool alpha : {false, true}) {
    const Image16 src = Noise16(37, height, alpha, 3);
    for (double scale : {1.0, kScaleAuto, 2.5}) {
    for (int32_t stopAfter = 0; stopAfter <= height; ++stopAfter) {
      Image16 one = MakeImage16(37, height, alpha);
      RenderJob oneJob = MakeJob16(p, src, one);
      oneJob.scale = scale;
      test::WatchCallbacks(&oneJob, stopAfter);
      uint32_t oneState = 0;
      const int32_t finished = Render(oneJob, 77, 1, ToneKernel::kScalar, &oneState);
      for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
        if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
        for (int32_t threads : {1, 2, 3, 8}) {
          Image16 many = MakeImage16(37, height, alpha);
          RenderJob job = MakeJob16(p, src, many);
          job.scale = scale;
          test::WatchCallbacks(&job, stopAfter);
          uint32_t state = 0;
          ASSERT_EQ(Render(job, 77, threads, ToneKernel(k), &state), finished);
          const std::string at = std::string(ToneKernelName(ToneKernel(k))) + ", " +
                                 std::to_string(threads) + " threads, stop " +
                                 std::to_string(stopAfter) + ", scale " + std::to_string(scale) +
                                 (alpha ? ", 4 samples" : ", 3 samples");
          EXPECT_EQ(state, oneState) << at;
          ASSERT_EQ(many.bytes, one.bytes) << at;
        }
      }
    }
    }
  }
  SetMinBandRowsForTesting(0);
}

// Every kernel's rows give the bytes and the generator state of the plain rows
// (which the pass runs when there is no memory for its tables) at every width
// from 1 to 67, both layouts, samples above white, grain across its range and
// past what the lanes take, drawn or given (random widened grain within a
// range: the lanes', its edge, and past it), a given grain drawing nothing.
TEST(Depth16, EveryKernelGivesThePlainRowsBytes) {
  struct Set {
    const char* name;
    std::vector<std::pair<int, double>> changes;  // over the tone defaults
    int32_t given[2];  // the given grain's range, or drawn where both are 0
  };
  std::vector<Set> sets = {{"defaults, jitter", {{kJitterProbability, 100}}, {0, 0}},
                           {"no gray, film 0", {{kConvertToGray, 0}, {kFilmResponse, 0}}, {0, 0}},
                           {"no grain", {{kGrainAmount, 0}}, {0, 0}},
                           {"given grain, jitter", {{kJitterProbability, 100}}, {-3000, 2000}},
                           {"no grain, no gray", {{kGrainAmount, 0}, {kConvertToGray, 0}}, {0, 0}},
                           {"negative exponent", {{kFilmResponse, 100}, {kFlickerSpeed, 10},
                                                  {kFlickerAmount, 100}, {kFrameNumber, 3}}, {0, 0}},
                           {"tint past 255", {{kGrayTintRed, 400}, {kGrayTintGreen, 300}}, {0, 0}},
                           {"given grain, lanes' edge", {{kConvertToGray, 0}},
                            {-kLaneMaxGrain16, kLaneMaxGrain16}},
                           {"given grain past the lanes", {{kFilmResponse, 100}},
                            {-kLaneMaxGrain16 - 1, 40000}}};
  // 100000: widened grain past the lanes' bound, the plain rows for every kernel.
  const double amounts[] = {0.4, 3.3, 100.0, 12849.8, 25499.7, 30000.0, 100000.0};
  for (size_t i = 0; i < sizeof amounts / sizeof amounts[0]; ++i) {
    if (i % 2 == 0) sets.push_back({"grain", {{kGrainAmount, amounts[i]}, {kJitterProbability, 100}}, {0, 0}});
    if (i % 2 == 1) sets.push_back({"grain, no gray", {{kGrainAmount, amounts[i]}, {kConvertToGray, 0}}, {0, 0}});
  }
  // Every block and tail length of every kernel (8, 16 and 32 pixels to a block)
  // for the first four sets, the edges around them for the others.
  std::vector<int32_t> allWidths, edgeWidths = {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 48, 67};
  for (int32_t width = 1; width <= 67; ++width) allWidths.push_back(width);
  uint32_t salt = 0;
  for (const Set& set : sets) {
    EffectParams p = test::ToneDefaults();
    for (const auto& change : set.changes) p.value[change.first] = change.second;
    const bool given = set.given[0] != 0 || set.given[1] != 0;
    for (bool alpha : {false, true}) {
      for (int32_t width : &set - sets.data() < 4 ? allWidths : edgeWidths) {
        const Image16 src = Noise16(width, 3, alpha, ++salt);
        std::vector<int32_t> grain(size_t(width) * 3);
        uint32_t r = salt;
        for (int32_t& g : grain) {
          r = r * 1103515245u + 12345u;
          g = int32_t(set.given[0] + int64_t(r >> 4) % (int64_t(set.given[1]) - set.given[0] + 1));
        }
        const ToneGrainField field = {nullptr, grain.data(), width, set.given[0], set.given[1]};
        Image16 plain = MakeImage16(width, 3, alpha);
        uint32_t plainState = 0;
        bool drew = false;
        FailTables16ForTesting(true);
        ASSERT_EQ(RenderTone(MakeJob16(p, src, plain), salt, ToneKernel::kChosen,
                             given ? &field : nullptr, &plainState, &drew), 1);
        FailTables16ForTesting(false);
        if (given) {
          EXPECT_FALSE(drew) << set.name;
        }
        for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
          if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
          Image16 out = MakeImage16(width, 3, alpha);
          uint32_t state = 0;
          ASSERT_EQ(RenderTone(MakeJob16(p, src, out), salt, ToneKernel(k), given ? &field : nullptr,
                               &state, &drew), 1);
          const std::string at = std::string(set.name) + " " + std::to_string(p.value[kGrainAmount]) +
                                 ", " + ToneKernelName(ToneKernel(k)) + ", width " +
                                 std::to_string(width) + (alpha ? ", 4 samples" : ", 3 samples");
          EXPECT_EQ(state, plainState) << at;
          ASSERT_EQ(out.bytes, plain.bytes) << at;
        }
      }
    }
  }
}

// With the curve and the tint at 1 the output is the gray level itself: every
// kernel takes the third of every sum of three samples (0..98304, samples
// above white counted as white), in both layouts.
TEST(Depth16, EveryKernelTakesTheThirdOfEveryGraySum) {
  EffectParams p = test::QuietParams();
  p.value[kConvertToGray] = 1;
  p.value[kFilmResponse] = 24;  // exponent 1
  for (int c = 0; c < 3; ++c) p.value[kGrayTintRed + c] = 256;  // tint 1
  const int32_t width = 331, height = 299;  // 98969 pixels: every sum, then some above white
  for (bool alpha : {false, true}) {
    Image16 src = MakeImage16(width, height, alpha);
    for (int32_t i = 0; i < width * height; ++i) {
      const int32_t sum = i;  // past 98304: samples above white
      const uint16_t red = uint16_t(std::min(sum, 32768));
      const uint16_t green = uint16_t(std::min(sum - red, 32768));
      const uint16_t blue = uint16_t(std::min(sum - red - green, 65535));
      src.Set(i % width, i / width, 0, red);
      src.Set(i % width, i / width, 1, green);
      src.Set(i % width, i / width, 2, blue);
    }
    for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
      if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // x86's, in the page's build
      Image16 out = MakeImage16(width, height, alpha);
      ASSERT_EQ(Render(MakeJob16(p, src, out), 1, 1, ToneKernel(k)), 1);
      for (int32_t i = 0; i < width * height; ++i) {
        const int32_t x = i % width, y = i / width;
        int32_t sum = 0;
        for (int c = 0; c < 3; ++c) sum += std::min<int32_t>(src.Get(x, y, c), 32768);
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(out.Get(x, y, c), sum / 3)
              << ToneKernelName(ToneKernel(k)) << " sum " << sum << (alpha ? ", 4 samples" : "");
        }
      }
    }
  }
}

}  // namespace
