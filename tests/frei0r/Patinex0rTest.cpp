// The frei0r entry points called in-process, as a video editor calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/Frei0rParams.h"
#include "render/Random.h"
#include "render/RenderJob.h"

namespace {

const unsigned kWidth = 96;
const unsigned kHeight = 64;

typedef std::vector<uint32_t> Frame;

// A frame with every channel varying (alpha too), so a lost or swapped byte shows.
Frame Pattern(unsigned width, unsigned height) {
  Frame f(size_t(width) * height);
  uint8_t* p = reinterpret_cast<uint8_t*>(f.data());
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      uint8_t* q = p + (size_t(y) * width + x) * 4;
      q[0] = uint8_t(x * 255 / (width - 1 ? width - 1 : 1));
      q[1] = uint8_t(y * 255 / (height - 1 ? height - 1 : 1));
      q[2] = uint8_t((x * 7 + y * 13) & 0xFF);
      q[3] = uint8_t(255 - ((x + y) & 0x3F));
    }
  }
  return f;
}

void SetDouble(f0r_instance_t instance, int index, double v) {
  f0r_set_param_value(instance, &v, index);
}

// Every part of the effect off, with the curve at its identity (Film Response 24).
void SetNeutral(f0r_instance_t instance) {
  SetDouble(instance, 0, 0.24);
  for (int index : {1, 3, 6, 8, 13, 16, 17}) SetDouble(instance, index, 0.0);
  SetDouble(instance, 14, 0.0);
  SetDouble(instance, 18, 0.0);
}

struct Plugin {
  f0r_instance_t instance;
  Plugin(unsigned width = kWidth, unsigned height = kHeight)
      : instance(f0r_construct(width, height)) {}
  ~Plugin() { f0r_destruct(instance); }
  Frame Render(double time, const Frame& in) {
    Frame out(in.size(), 0xDEADBEEFu);
    f0r_update(instance, time, in.data(), out.data());
    return out;
  }
};

}  // namespace

TEST(Patinex0r, DescribesAnRgbaFilterWithItsParameters) {
  ASSERT_EQ(f0r_init(), 1);
  f0r_plugin_info_t info;
  std::memset(&info, 0, sizeof info);
  f0r_get_plugin_info(&info);
  EXPECT_STREQ(info.name, "Patinex");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
  EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
  EXPECT_EQ(info.num_params, 22);
  for (int i = 0; i < info.num_params; ++i) {
    f0r_param_info_t p;
    f0r_get_param_info(&p, i);
    EXPECT_STREQ(p.name, Frei0rParam(i)->name);
    EXPECT_NE(p.explanation, nullptr) << p.name;
    const int expected = (i == 4 || i == 7 || i == 15) ? F0R_PARAM_COLOR
                         : (i == 14 || i == 18)        ? F0R_PARAM_BOOL
                                                       : F0R_PARAM_DOUBLE;
    EXPECT_EQ(p.type, expected) << p.name;
  }
  f0r_deinit();
}

// Frames over 32767 pixels on a side do not fit the renderer: they pass
// through unchanged, in place too, with one warning per instance.
TEST(Patinex0r, EmptyFramesAreRefusedAndFramesTooLargePassThrough) {
  EXPECT_EQ(f0r_construct(0, 64), nullptr);
  EXPECT_EQ(f0r_construct(64, 0), nullptr);
  f0r_destruct(nullptr);
  struct Size { unsigned width, height; };
  for (const Size size : {Size{32768, 2}, Size{3, 40000}}) {
    Plugin large(size.width, size.height);
    ASSERT_NE(large.instance, nullptr) << size.width;
    const Frame in = Pattern(size.width, size.height);
    testing::internal::CaptureStderr();
    EXPECT_EQ(large.Render(0.5, in), in) << size.width;
    Frame buffer = in;
    f0r_update(large.instance, 1.0, buffer.data(), buffer.data());
    EXPECT_EQ(buffer, in) << size.width;
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
    EXPECT_NE(warnings.find("larger than 32767 pixels on a side; left unchanged"),
              std::string::npos)
        << warnings;
  }
  // A 1-pixel frame renders with the defaults (moduli of 0 in every draw).
  Plugin tiny(1, 1);
  ASSERT_NE(tiny.instance, nullptr);
  const Frame in = Pattern(1, 1);
  const Frame out = tiny.Render(0.5, in);
  EXPECT_EQ(out[0] >> 24, in[0] >> 24);  // alpha kept
}

TEST(Patinex0r, ParametersRoundTripThroughTheApi) {
  Plugin p;
  f0r_param_color_t tint = {0.0f, 1.0f, 0.2f};
  f0r_set_param_value(p.instance, &tint, 15);
  f0r_param_color_t back = {9, 9, 9};
  f0r_get_param_value(p.instance, &back, 15);
  EXPECT_EQ(back.r, 0.0f);
  EXPECT_EQ(back.g, 1.0f);
  EXPECT_FLOAT_EQ(back.b * 255.0f, 51.0f);
  SetDouble(p.instance, 14, 0.2);  // Convert to Gray: below one half is off
  double v = 5;
  f0r_get_param_value(p.instance, &v, 14);
  EXPECT_EQ(v, 0.0);
  SetDouble(p.instance, 2, 0.33);
  f0r_get_param_value(p.instance, &v, 2);
  EXPECT_DOUBLE_EQ(v, 0.33);
  SetDouble(p.instance, 21, 0.25);  // Scale 4
  f0r_get_param_value(p.instance, &v, 21);
  EXPECT_DOUBLE_EQ(v, 0.25);
  // Out of range and null arguments are ignored.
  SetDouble(p.instance, 22, 0.9);
  SetDouble(p.instance, -1, 0.9);
  f0r_set_param_value(p.instance, nullptr, 2);
  f0r_set_param_value(nullptr, &v, 2);
  f0r_get_param_value(p.instance, &v, 2);
  EXPECT_DOUBLE_EQ(v, 0.33);
}

// With every part off and the identity curve, the frame comes out as it went
// in, alpha included: the bytes are red, green, blue, alpha in both directions.
TEST(Patinex0r, NeutralSettingsPassTheFrameThrough) {
  Plugin p;
  SetNeutral(p.instance);
  const Frame in = Pattern(kWidth, kHeight);
  EXPECT_EQ(p.Render(1.25, in), in);
}

// Gray with the default tint (200, 100, 0): gray g becomes
// (trunc(g * 200 / 256), trunc(g * 100 / 256), 0), and the identity curve keeps it.
TEST(Patinex0r, GrayTintLandsOnRedGreenBlue) {
  Plugin p;
  SetNeutral(p.instance);
  SetDouble(p.instance, 14, 1.0);
  Frame in(size_t(kWidth) * kHeight);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(in.data());
  for (size_t i = 0; i < in.size(); ++i) {
    const uint8_t pixel[4] = {30, 60, 90, uint8_t(i)};  // gray 60
    std::memcpy(bytes + 4 * i, pixel, 4);
  }
  const Frame out = p.Render(0.0, in);
  const uint8_t* o = reinterpret_cast<const uint8_t*>(out.data());
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(o[4 * i + 0], 46) << i;  // 60 * 200 / 256 = 46.875
    ASSERT_EQ(o[4 * i + 1], 23) << i;  // 60 * 100 / 256 = 23.4375
    ASSERT_EQ(o[4 * i + 2], 0) << i;
    ASSERT_EQ(o[4 * i + 3], uint8_t(i)) << i;
  }
}

// The renderer never writes alpha; whatever the effect does to the colours,
// every alpha byte is the source's (black jitter rows included).
TEST(Patinex0r, AlphaPassesThroughTheFullEffect) {
  Plugin p;
  SetDouble(p.instance, 13, 1.0);  // always jitter
  SetDouble(p.instance, 12, 0.3);
  const Frame in = Pattern(kWidth, kHeight);
  for (double t : {0.0, 0.5, 1.0}) {
    const Frame out = p.Render(t, in);
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i] >> 24, in[i] >> 24) << t << " " << i;
  }
}

// What a frame looks like is the renderer's answer for frame trunc(time x rate
// + 0.5) and the seed mixed from that frame and the Seed parameter, at the
// Scale of parameter 21 (x 16; Auto when never set).
TEST(Patinex0r, RendersTheFrameAtTheHostsTime) {
  const double kUnset = -1.0;
  for (double scale : {kUnset, 1.0, 2.5}) {
    Plugin p;
    SetDouble(p.instance, 19, 0.25);  // 25 fps
    SetDouble(p.instance, 20, 0.042);
    if (scale != kUnset) SetDouble(p.instance, 21, scale / 16.0);
    const Frame in = Pattern(kWidth, kHeight);
    const Frame got = p.Render(0.5, in);  // frame 13 (12.5 rounds up)

    Frei0rSettings s;
    SetDefaultFrei0rSettings(&s);
    s.record.value[kFrameNumber] = 13;
    Frame expected = in;
    const Rect r = {0, 0, int16_t(kHeight), int16_t(kWidth)};
    RenderJob job = {&s.record, r, r,
                     reinterpret_cast<const uint8_t*>(in.data()),
                     reinterpret_cast<uint8_t*>(expected.data()),
                     int32_t(kWidth * 4), int32_t(kWidth * 4), 1, 1, nullptr, nullptr};
    job.scale = scale != kUnset ? scale : kScaleAuto;
    Rng rng = {0};
    RenderContext context = {&rng, nullptr, 0};
    ASSERT_EQ(RenderEffectSeeded(&job, FrameSeed(13, 42), &context), 1);
    EXPECT_EQ(got, expected) << scale;
  }
}

TEST(Patinex0r, AFrameLooksTheSameHoweverItWasReached) {
  const Frame in = Pattern(kWidth, kHeight);
  const int kFrames = 30;
  std::vector<Frame> forward;
  {
    Plugin p;
    for (int k = 0; k < kFrames; ++k) forward.push_back(p.Render(k / 24.0, in));
  }
  // Backwards, and every frame on a new instance, and seeking around on one.
  {
    Plugin p;
    for (int k = kFrames - 1; k >= 0; --k) ASSERT_EQ(p.Render(k / 24.0, in), forward[k]) << k;
  }
  for (int k : {0, 17, 29}) {
    Plugin fresh;
    EXPECT_EQ(fresh.Render(k / 24.0, in), forward[k]) << k;
  }
  {
    Plugin p;
    for (int k : {5, 6, 7, 29, 3, 4, 12, 12, 28, 0}) {
      ASSERT_EQ(p.Render(k / 24.0, in), forward[k]) << k;
    }
  }
}

// ffmpeg hands a frame it converted for the filter without its time (a huge
// negative number); NaN and infinities are no time either. Such frames are the
// instance's count of frames so far, which for frames in order at the film's
// rate is what correct seconds give; a large but real negative time is still a
// time (before the clip: frame 0).
TEST(Patinex0r, AFrameWithoutItsTimeIsTheCountOfFramesGiven) {
  const Frame in = Pattern(kWidth, kHeight);
  const double kNoTimes[] = {-1e18, -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), -3.7e20};
  Plugin timed, lost;
  Frame previous;
  for (int k = 0; k < 10; ++k) {
    const Frame frame = lost.Render(kNoTimes[k % 5], in);
    ASSERT_EQ(frame, timed.Render(k / 24.0, in)) << k;
    EXPECT_NE(frame, previous) << k;
    previous = frame;
  }
  // Counted frames and timed ones mix: the count goes on under timed frames.
  EXPECT_EQ(lost.Render(-1e9, in), timed.Render(0.0, in));
  EXPECT_EQ(lost.Render(-1e18, in), timed.Render(11 / 24.0, in));
}

// The same frame in the same place shows the same grain; moving on a frame,
// or choosing another seed, shows other grain.
TEST(Patinex0r, FramesAndSeedsDrawTheirOwnGrain) {
  Plugin p;
  SetNeutral(p.instance);
  SetDouble(p.instance, 1, 0.4);  // grain only
  const Frame in = Pattern(kWidth, kHeight);
  const Frame a = p.Render(1.0, in);
  EXPECT_NE(a, in);
  EXPECT_EQ(p.Render(1.0, in), a);
  EXPECT_EQ(p.Render(1.0 + 0.4 / 24.0, in), a);  // still frame 24
  EXPECT_NE(p.Render(1.0 + 1.0 / 24.0, in), a);
  SetDouble(p.instance, 20, 0.001);
  EXPECT_NE(p.Render(1.0, in), a);
}

TEST(Patinex0r, InPlaceRenderingMatches) {
  Plugin p;
  SetDouble(p.instance, 13, 1.0);  // jitter reads rows the render has written
  SetDouble(p.instance, 12, 0.3);
  const Frame in = Pattern(kWidth, kHeight);
  for (double t : {0.0, 0.25, 2.0}) {
    Frame buffer = in;
    f0r_update(p.instance, t, buffer.data(), buffer.data());
    EXPECT_EQ(buffer, p.Render(t, in)) << t;
  }
}

// Editors render on several threads; even several threads on one instance (which
// frei0r does not allow, but a host may do) give what one thread gives. The
// frames are tall enough for each render to split its rows over the threads it
// can get, which differ from render to render.
TEST(Patinex0r, ConcurrentRendersMatchSequentialOnes) {
  const unsigned kTall = 300;
  const Frame in = Pattern(kWidth, kTall);
  const int kFrames = 24;
  std::vector<Frame> expected;
  {
    Plugin p(kWidth, kTall);
    for (int k = 0; k < kFrames; ++k) expected.push_back(p.Render(k / 24.0, in));
  }
  // Threads 0 and 1 share an instance; 2 and 3 have their own.
  Plugin shared(kWidth, kTall), second(kWidth, kTall), third(kWidth, kTall);
  Plugin* plugins[4] = {&shared, &shared, &second, &third};
  std::vector<std::vector<Frame>> got(4, std::vector<Frame>(kFrames));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFrames; ++i) {
        const int k = (i * 5 + t * 7) % kFrames;
        got[t][k] = plugins[t]->Render(k / 24.0, in);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    for (int k = 0; k < kFrames; ++k) ASSERT_EQ(got[t][k], expected[k]) << t << " " << k;
  }
}

// ffmpeg's frei0r filter calls from libavfilter: 5.1's rows are padded to 16
// pixels, later versions' are whole. Through stand-ins of both, every pixel
// of every row, the last included, is what a caller with whole rows gets, and
// the padding is left alone.
TEST(Patinex0r, FollowsTheRowsOfTheLibavfilterThatCalls) {
  typedef int (*CallUpdate)(decltype(&f0r_update), f0r_instance_t, double, const uint32_t*,
                            uint32_t*);
  struct Case { const char* library; unsigned width; unsigned rowPixels; };
  const Case cases[] = {{FAKE_AVFILTER8, 37, 48},  {FAKE_AVFILTER8, 32, 32},
                        {FAKE_AVFILTER10, 37, 37}, {FAKE_AVFILTER10, 21, 21}};
  const unsigned kRows = 24;
  const uint32_t kPadding = 0xA5A5A5A5u;
  for (const Case& c : cases) {
    void* library = dlopen(c.library, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    CallUpdate call = reinterpret_cast<CallUpdate>(dlsym(library, "CallUpdate"));
    ASSERT_NE(call, nullptr);
    const Frame in = Pattern(c.width, kRows);
    Frame padded(size_t(c.rowPixels) * kRows, kPadding);
    for (unsigned y = 0; y < kRows; ++y) {
      std::copy_n(in.begin() + y * c.width, c.width, padded.begin() + y * c.rowPixels);
    }
    Plugin direct(c.width, kRows), fromFfmpeg(c.width, kRows);
    SetDouble(fromFfmpeg.instance, 13, 1.0);  // jitter: rows read from other rows
    SetDouble(direct.instance, 13, 1.0);
    const Frame expected = direct.Render(0.5, in);
    Frame out(padded.size(), kPadding);
    call(f0r_update, fromFfmpeg.instance, 500.0, padded.data(), out.data());
    for (unsigned y = 0; y < kRows; ++y) {
      for (unsigned x = 0; x < c.rowPixels; ++x) {
        const uint32_t want = x < c.width ? expected[y * c.width + x] : kPadding;
        ASSERT_EQ(out[y * c.rowPixels + x], want)
            << c.library << " " << c.width << " " << x << "," << y;
      }
    }
    dlclose(library);
  }
}
