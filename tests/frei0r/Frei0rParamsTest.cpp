#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>
#include <string>

#include "frei0r/Frei0rParams.h"
#include "render/RenderJob.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

double Get(const Frei0rSettings& s, int index) {
  double v[3];
  GetFrei0rParam(s, index, v);
  return v[0];
}

void Set(Frei0rSettings* s, int index, double v) {
  const double values[3] = {v, 0.0, 0.0};
  SetFrei0rParam(s, index, values);
}

Frei0rSettings Defaults() {
  Frei0rSettings s;
  SetDefaultFrei0rSettings(&s);
  return s;
}

}  // namespace

// The dialog's labels without their mnemonics, in the dialog's order, then the
// plug-in's own two, then Scale. Hosts address parameters by these names or
// positions, and projects keep them: this list only ever grows at its end.
TEST(Frei0rParams, NamesAndKindsFollowTheDialog) {
  const char* expected[] = {
      "Film Response",     "Grain Amount",       "Dust Size",         "Dust Amount",
      "Dust Color",        "Hair Size",          "Hair Amount",       "Hair Color",
      "Scratch Amount",    "Scratch Velocity",   "Scratch Lifespan",  "Scratch Opacity",
      "Jitter Max Offset", "Jitter Probability", "Convert to Gray",   "Gray Tint Value",
      "Flicker Speed",     "Flicker Amount",     "Reveal Back Layer", "Film Frame Rate",
      "Seed",              "Scale"};
  ASSERT_EQ(kFrei0rParamCount, int(std::size(expected)));
  EXPECT_EQ(Frei0rParam(-1), nullptr);
  EXPECT_EQ(Frei0rParam(kFrei0rParamCount), nullptr);
  std::set<int> recordIndices;
  for (int i = 0; i < kFrei0rParamCount; ++i) {
    const ParamRow* row = Frei0rParam(i);
    ASSERT_NE(row, nullptr) << i;
    EXPECT_STREQ(row->name, expected[i]) << i;
    ASSERT_NE(row->explanation, nullptr);
    const bool isColor = i == 4 || i == 7 || i == 15;
    const bool isSwitch = i == 14 || i == 18;
    EXPECT_EQ(row->kind == kColorParam, isColor) << i;
    EXPECT_EQ(row->kind == kSwitchParam, isSwitch) << i;
    EXPECT_NE(row->kind, kInternalParam) << i;
    const int first = row->recordIndex;
    if (i < 19) {
      // Every record setting appears once, colours as three consecutive indices.
      for (int c = 0; c < (isColor ? 3 : 1); ++c) EXPECT_TRUE(recordIndices.insert(first + c).second);
    } else {
      EXPECT_EQ(first, i == 21 ? kScale : -1);
    }
  }
  EXPECT_EQ(recordIndices.size(), size_t(kFrameNumber));
  EXPECT_EQ(*recordIndices.begin(), 0);
  EXPECT_EQ(*recordIndices.rbegin(), kRevealBackLayer);
}

// The record's documented defaults seen through frei0r's 0..1 values.
TEST(Frei0rParams, DefaultsAreTheRecordsOnes) {
  const Frei0rSettings s = Defaults();
  const double amounts[][2] = {{0, 0.45},  {1, 0.23},  {2, 0.21},  {3, 0.15},  {5, 0.65},
                               {6, 0.05},  {8, 0.10},  {9, 0.20},  {10, 0.45}, {11, 0.30},
                               {12, 0.03}, {13, 0.05}, {16, 0.10}, {17, 0.10}};
  for (const auto& a : amounts) EXPECT_DOUBLE_EQ(Get(s, int(a[0])), a[1]) << a[0];
  EXPECT_EQ(Get(s, 14), 1.0);  // Convert to Gray on
  EXPECT_EQ(Get(s, 18), 0.0);  // Reveal Back Layer off
  const double colors[][4] = {{4, 50, 50, 50}, {7, 30, 30, 30}, {15, 200, 100, 0}};
  for (const auto& c : colors) {
    double v[3];
    GetFrei0rParam(s, int(c[0]), v);
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(v[k] * 255.0, c[k + 1]) << c[0];
  }
  EXPECT_DOUBLE_EQ(Get(s, 19), 0.24);  // 24 frames per second
  EXPECT_EQ(Get(s, 20), 0.0);
  EXPECT_EQ(s.filmFrameRate, 24.0);
  EXPECT_EQ(s.seedNumber, 0u);
  EXPECT_EQ(Get(s, 21), 0.0);  // Scale Auto
  EXPECT_EQ(s.scale, kScaleAuto);
  EXPECT_EQ(s.record.value[kShowDialog], 0.0);
}

TEST(Frei0rParams, AmountsMapToHundredsAndClampOutsideTheUnitRange) {
  Frei0rSettings s = Defaults();
  Set(&s, 1, 0.37);
  EXPECT_DOUBLE_EQ(s.record.value[kGrainAmount], 37.0);
  Set(&s, 1, 1.0);
  EXPECT_EQ(s.record.value[kGrainAmount], 100.0);
  Set(&s, 1, 0.0);
  EXPECT_EQ(s.record.value[kGrainAmount], 0.0);
  // A host may send anything; a record beyond the dialog's range never results.
  const double outside[][2] = {{-0.5, 0}, {1.5, 100}, {kNaN, 0}, {kInf, 100}, {-kInf, 0}, {1e300, 100}};
  for (const auto& o : outside) {
    Set(&s, 8, o[0]);  // Scratch Amount: 1e9 scratches would replay for hours
    EXPECT_EQ(s.record.value[kScratchAmount], o[1]) << o[0];
  }
  // Film Response 24 is the identity curve; 0.24 must land on it exactly.
  Set(&s, 0, 0.24);
  EXPECT_EQ(s.record.value[kFilmResponse], 24.0);
  // Each amount writes its own index and no other.
  Frei0rSettings before = Defaults();
  Frei0rSettings after = before;
  Set(&after, 13, 0.77);  // Jitter Probability
  for (int i = 0; i < kParamCount; ++i) {
    if (i == kJitterProbability) {
      EXPECT_DOUBLE_EQ(after.record.value[i], 77.0);
    } else {
      EXPECT_EQ(after.record.value[i], before.record.value[i]) << i;
    }
  }
}

TEST(Frei0rParams, SwitchesAreOnFromOneHalf) {
  Frei0rSettings s = Defaults();
  const double cases[][2] = {{0.0, 0}, {0.49, 0}, {0.5, 1}, {1.0, 1}, {kNaN, 0}, {7.0, 1}, {-1.0, 0}};
  for (const auto& c : cases) {
    Set(&s, 18, c[0]);
    EXPECT_EQ(s.record.value[kRevealBackLayer], c[1]) << c[0];
    EXPECT_EQ(Get(s, 18), c[1]) << c[0];
  }
  // A record value the dialog would not store still reads as the renderer sees it:
  // only a whole part other than 0 is on.
  s.record.value[kConvertToGray] = 0.5;
  EXPECT_EQ(Get(s, 14), 0.0);
}

TEST(Frei0rParams, ColorsAreWholeChannelValues) {
  Frei0rSettings s = Defaults();
  const double set[3] = {1.0, 0.5, 0.0};
  SetFrei0rParam(&s, 4, set);
  EXPECT_EQ(s.record.value[kDustColorRed], 255.0);
  EXPECT_EQ(s.record.value[kDustColorGreen], 128.0);  // 127.5 rounds up
  EXPECT_EQ(s.record.value[kDustColorBlue], 0.0);
  const double outside[3] = {-3.0, kNaN, 2.0};
  SetFrei0rParam(&s, 7, outside);
  EXPECT_EQ(s.record.value[kHairColorRed], 0.0);
  EXPECT_EQ(s.record.value[kHairColorGreen], 0.0);
  EXPECT_EQ(s.record.value[kHairColorBlue], 255.0);
  // frei0r carries colours as floats: every channel value survives the trip.
  for (int v = 0; v < 256; ++v) {
    double got[3];
    s.record.value[kGrayTintRed] = v;
    GetFrei0rParam(s, 15, got);
    const double back[3] = {double(float(got[0])), 0.0, 0.0};
    SetFrei0rParam(&s, 15, back);
    ASSERT_EQ(s.record.value[kGrayTintRed], double(v));
  }
}

TEST(Frei0rParams, FrameRateAndSeedScales) {
  Frei0rSettings s = Defaults();
  Set(&s, 19, 0.25);
  EXPECT_DOUBLE_EQ(s.filmFrameRate, 25.0);
  EXPECT_DOUBLE_EQ(Get(s, 19), 0.25);
  Set(&s, 19, 2.0);
  EXPECT_EQ(s.filmFrameRate, 100.0);
  Set(&s, 19, kNaN);
  EXPECT_EQ(s.filmFrameRate, 0.0);

  Set(&s, 20, 0.123);
  EXPECT_EQ(s.seedNumber, 123u);
  EXPECT_DOUBLE_EQ(Get(s, 20), 0.123);
  Set(&s, 20, 0.0014);
  EXPECT_EQ(s.seedNumber, 1u);
  Set(&s, 20, 0.0016);
  EXPECT_EQ(s.seedNumber, 2u);
  Set(&s, 20, 5.0);
  EXPECT_EQ(s.seedNumber, 1000u);
  Set(&s, 20, -5.0);
  EXPECT_EQ(s.seedNumber, 0u);
}

// Parameter 21, Scale, is the job's scale x 1/16: 0 Auto, 1/16 the pixel-sized
// look, 1 the largest factor; what a host sends outside 0..1 clamps. Projects
// that set the first 21 by position keep their meaning: Scale stays at Auto, and
// Scale touches nothing else.
TEST(Frei0rParams, ScaleIsParameter21InSixteenths) {
  const double cases[][2] = {{0.0, 0.0},    {1.0 / 16, 1.0}, {2.5 / 16, 2.5}, {0.5, 8.0},
                             {1.0, 16.0},   {0.01, 0.16},    {kNaN, 0.0},     {-1.0, 0.0},
                             {kInf, 16.0}};
  for (const auto& c : cases) {
    Frei0rSettings s = Defaults();
    const Frei0rSettings before = s;
    Set(&s, 21, c[0]);
    EXPECT_DOUBLE_EQ(s.scale, c[1]) << c[0];
    EXPECT_DOUBLE_EQ(Get(s, 21), c[1] / 16.0) << c[0];
    EXPECT_EQ(std::memcmp(&s.record, &before.record, sizeof(EffectParams)), 0) << c[0];
    EXPECT_EQ(s.filmFrameRate, before.filmFrameRate);
    EXPECT_EQ(s.seedNumber, before.seedNumber);
  }
  Frei0rSettings s = Defaults();
  for (int i = 0; i < 21; ++i) {
    const double v[3] = {0.75, 0.75, 0.75};
    SetFrei0rParam(&s, i, v);
  }
  EXPECT_EQ(s.scale, kScaleAuto);
  EXPECT_EQ(s.seedNumber, 750u);
  EXPECT_DOUBLE_EQ(s.filmFrameRate, 75.0);
  EXPECT_DOUBLE_EQ(s.record.value[kFlickerAmount], 75.0);
}

TEST(Frei0rParams, IndicesOutsideTheListAreIgnored) {
  Frei0rSettings s = Defaults();
  const Frei0rSettings before = s;
  const double v[3] = {0.9, 0.9, 0.9};
  SetFrei0rParam(&s, -1, v);
  SetFrei0rParam(&s, kFrei0rParamCount, v);
  EXPECT_EQ(std::memcmp(&s.record, &before.record, sizeof(EffectParams)), 0);
  EXPECT_EQ(s.filmFrameRate, before.filmFrameRate);
  EXPECT_EQ(s.seedNumber, before.seedNumber);
  EXPECT_EQ(s.scale, before.scale);
  EXPECT_EQ(Get(s, kFrei0rParamCount), 0.0);
  EXPECT_EQ(Get(s, -7), 0.0);
}

// Frame k of a clip at the film's own rate arrives at time k / rate, which is
// rarely exact in binary; adding 0.5 before truncating finds k all the same.
TEST(Frei0rFrames, EveryFrameTimeOfAClipGivesItsNumber) {
  const double rates[] = {24.0, 25.0, 30000.0 / 1001.0, 100.0};
  for (double rate : rates) {
    for (int32_t k = 0; k < 200000; ++k) {
      ASSERT_EQ(FrameNumberAt(double(k) / rate, rate), k) << rate;
    }
  }
}

TEST(Frei0rFrames, FrameNumbersRoundToTheNearestFilmFrame) {
  EXPECT_EQ(FrameNumberAt(0.5, 24.0), 12);
  EXPECT_EQ(FrameNumberAt(0.5, 25.0), 13);      // 12.5 rounds up
  EXPECT_EQ(FrameNumberAt(0.02, 24.0), 0);      // 0.48
  EXPECT_EQ(FrameNumberAt(0.021, 24.0), 1);     // 0.504
  EXPECT_EQ(FrameNumberAt(1.0 / 25.0, 24.0), 1);  // a 25 fps host on 24 fps film
  EXPECT_EQ(FrameNumberAt(3600.0, 24.0), 86400);
  // Film that does not run, and times no host should send.
  EXPECT_EQ(FrameNumberAt(12.3, 0.0), 0);
  EXPECT_EQ(FrameNumberAt(-2.0, 24.0), 0);
  EXPECT_EQ(FrameNumberAt(kNaN, 24.0), 0);
  // The film repeats after kFilmFrameCycle frames, so no time costs a replay
  // beyond it.
  EXPECT_EQ(FrameNumberAt(double(kFilmFrameCycle - 1) / 24.0, 24.0), kFilmFrameCycle - 1);
  EXPECT_EQ(FrameNumberAt(double(kFilmFrameCycle) / 24.0, 24.0), 0);
  EXPECT_EQ(FrameNumberAt(double(kFilmFrameCycle + 5) / 100.0, 100.0), 5);
  EXPECT_EQ(FrameNumberAt(kInf, 24.0), INT32_MAX % kFilmFrameCycle);
  EXPECT_EQ(FrameNumberAt(1e12, 24.0), INT32_MAX % kFilmFrameCycle);
}

// ffmpeg's frei0r filter passes milliseconds; MLT and everyone else seconds.
TEST(Frei0rFrames, OnlyLibavfilterCallsInMilliseconds) {
  struct Case { const char* caller; double seconds; };
  const Case cases[] = {
      {"/usr/lib/x86_64-linux-gnu/libavfilter.so.8", 0.5},
      {"/opt/ffmpeg/lib/libavfilter.so.9.12.100", 0.5},
      {"libavfilter.so.7", 0.5},
      {"/usr/lib/x86_64-linux-gnu/mlt-7/libmltfrei0r.so", 500.0},
      {"/usr/bin/ffmpeg", 500.0},  // libavfilter linked into the program: not told apart
      {"/home/u/libavfilter/libother.so", 500.0},
      {"", 500.0},
      {nullptr, 500.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostTimeInSeconds(500.0, c.caller), c.seconds) << (c.caller ? c.caller : "null");
  }
}

// ffmpeg 5.1 (libavfilter 8) hands rows padded to 16 pixels (the strides are
// those a probe filter saw in Debian's 5.1.9); later versions, older ones and
// every other caller whole rows: the padding must never reach them.
TEST(Frei0rFrames, RowsFollowTheLineAlignmentOfTheCallingLibavfilter) {
  struct Version { unsigned avfilterVersion; int lineAlignment; };
  const Version versions[] = {
      {0x082C64, 16},  // 8.44.100, ffmpeg 5.1
      {0x080000, 16},  {0x08FFFF, 16},
      {0x090C64, 1},   // 9.12.100, ffmpeg 6.1
      {0x0A0464, 1},   // 10.4.100, ffmpeg 7.1
      {0x0B0000, 1},   {0x076E64, 1},  // 11, and 7.110.100 (ffmpeg 4.4)
      {0, 1},          // not ffmpeg
  };
  for (const Version& v : versions) {
    EXPECT_EQ(FfmpegLineAlignment(v.avfilterVersion), v.lineAlignment)
        << std::hex << v.avfilterVersion;
  }
  struct Rows { unsigned width; size_t padded; };
  const Rows rows[] = {{1, 64},      {16, 64},     {17, 128},    {721, 2944},   {854, 3456},
                       {1000, 4032}, {1080, 4352}, {1366, 5504}, {1920, 7680}, {32767, 131072}};
  for (const Rows& r : rows) {
    EXPECT_EQ(FfmpegRowBytes(r.width, 16), r.padded) << r.width;
    EXPECT_EQ(FfmpegRowBytes(r.width, 1), size_t(r.width) * 4) << r.width;
    EXPECT_EQ(FfmpegRowBytes(r.width, 0), size_t(r.width) * 4) << r.width;
  }
}
