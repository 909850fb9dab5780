// The frei0r filter as any host may drive it: construct at a size, set every
// parameter to any value, update at any times, in place or not, destruct.
//
// Input: width, height, flags, the pictures' seed; then each parameter's value in
// the order f0r_get_param_info gives (a double, or three floats for a colour);
// then up to four times (doubles).
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "tests/fuzz/FuzzCheck.h"

namespace {

const size_t kGuard = 64;
const int kMaxUpdates = 4;

std::vector<uint8_t> Picture(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> p(bytes + 2 * kGuard);
  uint32_t x = seed | 1;
  for (uint8_t& b : p) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x >> 24);
  }
  return p;
}

uint32_t* Frame(std::vector<uint8_t>& p) { return reinterpret_cast<uint32_t*>(p.data() + kGuard); }

// Every parameter reads back within 0..1, and setting what was read changes nothing.
void CheckParameters(f0r_instance_t instance, int count) {
  for (int i = 0; i < count; ++i) {
    f0r_param_info_t info;
    std::memset(&info, 0, sizeof info);
    f0r_get_param_info(&info, i);
    FUZZ_CHECK(info.name != nullptr && info.explanation != nullptr, "parameter %d unnamed", i);
    if (info.type == F0R_PARAM_COLOR) {
      f0r_param_color_t c, again;
      f0r_get_param_value(instance, &c, i);
      for (float v : {c.r, c.g, c.b}) FUZZ_CHECK(v >= 0.0f && v <= 1.0f, "%s %g", info.name, v);
      f0r_set_param_value(instance, &c, i);
      f0r_get_param_value(instance, &again, i);
      FUZZ_CHECK(std::memcmp(&c, &again, sizeof c) == 0, "%s moved when set to itself",
                 info.name);
    } else {
      double v = -1.0, again = -1.0;
      f0r_get_param_value(instance, &v, i);
      FUZZ_CHECK(v >= 0.0 && v <= 1.0, "%s reads %.17g", info.name, v);
      if (info.type == F0R_PARAM_BOOL) FUZZ_CHECK(v == 0.0 || v == 1.0, "%s reads %g", info.name, v);
      f0r_set_param_value(instance, &v, i);
      f0r_get_param_value(instance, &again, i);
      FUZZ_CHECK(v == again, "%s moved from %.17g to %.17g when set to itself", info.name, v,
                 again);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in = {data, size};
  const unsigned width = 1 + in.Next<uint8_t>() % 64;
  const unsigned height = 1 + in.Next<uint8_t>() % 64;
  const uint32_t pixelSeed = in.Next<uint32_t>();

  static bool initialised = false;
  static f0r_plugin_info_t plugin;
  if (!initialised) {
    FUZZ_CHECK(f0r_init() == 1, "f0r_init failed");
    f0r_get_plugin_info(&plugin);
    initialised = true;
  }
  FUZZ_CHECK(f0r_construct(0, height) == nullptr && f0r_construct(width, 0) == nullptr,
             "an empty frame was accepted");
  f0r_instance_t instance = f0r_construct(width, height);
  FUZZ_CHECK(instance != nullptr, "no instance for %ux%u", width, height);
  // The same settings render in place on a twin given the same frames: a frame
  // without a usable time is the count of frames an instance has been given.
  f0r_instance_t twin = f0r_construct(width, height);
  FUZZ_CHECK(twin != nullptr, "no second instance for %ux%u", width, height);

  for (int i = 0; i < plugin.num_params; ++i) {
    f0r_param_info_t info;
    f0r_get_param_info(&info, i);
    if (info.type == F0R_PARAM_COLOR) {
      f0r_param_color_t c;
      c.r = in.Next<float>();
      c.g = in.Next<float>();
      c.b = in.Next<float>();
      f0r_set_param_value(instance, &c, i);
      f0r_set_param_value(twin, &c, i);
    } else {
      double v = in.Next<double>();
      f0r_set_param_value(instance, &v, i);
      f0r_set_param_value(twin, &v, i);
    }
  }
  CheckParameters(instance, plugin.num_params);

  const size_t bytes = size_t(width) * height * 4;
  for (int u = 0; u < kMaxUpdates && in.size >= sizeof(double); ++u) {
    const double time = in.Next<double>();
    std::vector<uint8_t> source = Picture(bytes, pixelSeed + u);
    const std::vector<uint8_t> sourceBefore = source;
    std::vector<uint8_t> out = Picture(bytes, ~pixelSeed);
    const std::vector<uint8_t> outBefore = out;
    f0r_update(instance, time, Frame(source), Frame(out));
    FUZZ_CHECK(source == sourceBefore, "update at %.17g changed its input frame", time);
    for (size_t i = 0; i < out.size(); ++i) {
      const bool inFrame = i >= kGuard && i < kGuard + bytes;
      if (!inFrame) {
        FUZZ_CHECK(out[i] == outBefore[i], "update at %.17g wrote guard byte %zu", time, i);
      } else if ((i - kGuard) % 4 == 3) {
        FUZZ_CHECK(out[i] == source[i], "update at %.17g: alpha of pixel %zu is not the input's",
                   time, (i - kGuard) / 4);
      }
    }
    // In place (one buffer for both), the same frame comes out.
    f0r_update(twin, time, Frame(source), Frame(source));
    FUZZ_CHECK(std::memcmp(source.data() + kGuard, out.data() + kGuard, bytes) == 0,
               "update at %.17g in place differs", time);
    FUZZ_CHECK(std::memcmp(source.data(), sourceBefore.data(), kGuard) == 0 &&
                   std::memcmp(source.data() + kGuard + bytes, sourceBefore.data() + kGuard + bytes,
                               kGuard) == 0,
               "update at %.17g in place wrote outside the frame", time);
  }
  f0r_destruct(instance);
  f0r_destruct(twin);
  return 0;
}
