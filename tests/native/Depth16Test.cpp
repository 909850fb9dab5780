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
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"
#include "tests/native/RenderTestSupport.h"

namespace {

// A 16-bit image; rows end on an odd number of bytes, so that no sample is
// assumed to be aligned.
struct Image16 {
  int32_t width = 0;
  int32_t height = 0;
  bool alpha = false;
  int32_t rowBytes = 0;
  std::vector<uint8_t> bytes;

  int32_t Bpp() const { return alpha ? 4 : 3; }
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

int32_t Render(const RenderJob& job, uint32_t seed, int32_t threads = 1) {
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, threads};
  return RenderEffectSeeded(&job, seed, &context);
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
  EXPECT_EQ(WidenLevelOf(74.84), 9617.0);  // 9617.1
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

// Any number of threads gives the bytes of one, also for a stop.
TEST(Depth16, ThreadsGiveTheBytesOfOne) {
  SetMinBandRowsForTesting(2);
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kJitterProbability] = 100;
  for (bool alpha : {false, true}) {
    const Image16 src = Widened(test::MakePattern(37, 64, alpha, 3));
    Image16 one = MakeImage16(37, 64, alpha);
    ASSERT_EQ(Render(MakeJob16(p, src, one), 77, 1), 1);
    for (int32_t threads : {2, 3, 8}) {
      Image16 many = MakeImage16(37, 64, alpha);
      ASSERT_EQ(Render(MakeJob16(p, src, many), 77, threads), 1);
      EXPECT_EQ(many.bytes, one.bytes) << threads << " threads, alpha " << alpha;
    }
  }
  SetMinBandRowsForTesting(0);
}

}  // namespace
