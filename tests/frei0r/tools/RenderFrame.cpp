// Renders one frame through a built frei0r module, the way a host does: dlopen,
// construct, set parameters by index, f0r_update at a given time. The host test
// compares what ffmpeg and melt produce with this.
//
//   frei0r-render-frame MODULE WIDTH HEIGHT TIME IN.rgba OUT.rgba [INDEX=VALUE ...]
//
// IN and OUT are raw RGBA frames; a colour value is written R/G/B. With TIME
// written clip@RATE, IN holds a whole clip: its frame k is rendered at k / RATE
// seconds, one after the other on one instance, and OUT holds them all.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <frei0r.h>
}

namespace {

template <typename T>
T Symbol(void* module, const char* name) {
  void* s = dlsym(module, name);
  if (s == nullptr) {
    std::fprintf(stderr, "missing %s\n", name);
    std::exit(2);
  }
  return reinterpret_cast<T>(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s MODULE WIDTH HEIGHT TIME IN OUT [INDEX=VALUE ...]\n", argv[0]);
    return 2;
  }
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const unsigned width = unsigned(std::atoi(argv[2]));
  const unsigned height = unsigned(std::atoi(argv[3]));
  const bool clip = std::strncmp(argv[4], "clip@", 5) == 0;
  const double time = clip ? 0.0 : std::atof(argv[4]);
  const double clipRate = clip ? std::atof(argv[4] + 5) : 0.0;
  const size_t bytes = size_t(width) * height * 4;

  auto init = Symbol<int (*)()>(module, "f0r_init");
  auto construct = Symbol<f0r_instance_t (*)(unsigned, unsigned)>(module, "f0r_construct");
  auto paramInfo = Symbol<void (*)(f0r_param_info_t*, int)>(module, "f0r_get_param_info");
  auto setParam = Symbol<void (*)(f0r_instance_t, f0r_param_t, int)>(module, "f0r_set_param_value");
  auto update = Symbol<void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*)>(module, "f0r_update");
  auto destruct = Symbol<void (*)(f0r_instance_t)>(module, "f0r_destruct");
  auto deinit = Symbol<void (*)()>(module, "f0r_deinit");

  // Whole frames of IN: one, or as many as the file holds in clip mode.
  std::vector<uint32_t> in;
  FILE* f = std::fopen(argv[5], "rb");
  std::vector<uint32_t> frame(bytes / 4);
  while (f != nullptr && bytes > 0 && std::fread(frame.data(), 1, bytes, f) == bytes) {
    in.insert(in.end(), frame.begin(), frame.end());
    if (!clip) break;
  }
  if (f == nullptr || in.empty()) {
    std::fprintf(stderr, "cannot read %u x %u RGBA from %s\n", width, height, argv[5]);
    return 2;
  }
  std::fclose(f);
  const size_t frames = in.size() / (bytes / 4);
  std::vector<uint32_t> out(in.size());

  init();
  f0r_instance_t instance = construct(width, height);
  if (instance == nullptr) {
    std::fprintf(stderr, "f0r_construct(%u, %u) failed\n", width, height);
    return 1;
  }
  for (int i = 7; i < argc; ++i) {
    int index = 0;
    char value[64];
    if (std::sscanf(argv[i], "%d=%63s", &index, value) != 2) {
      std::fprintf(stderr, "bad parameter %s\n", argv[i]);
      return 2;
    }
    f0r_param_info_t info;
    paramInfo(&info, index);
    if (info.type == F0R_PARAM_COLOR) {
      f0r_param_color_t c;
      if (std::sscanf(value, "%f/%f/%f", &c.r, &c.g, &c.b) != 3) return 2;
      setParam(instance, &c, index);
    } else {
      double d = std::atof(value);
      setParam(instance, &d, index);
    }
  }
  for (size_t k = 0; k < frames; ++k) {
    const size_t at = k * (bytes / 4);
    update(instance, clip ? double(k) / clipRate : time, in.data() + at, out.data() + at);
  }
  destruct(instance);
  deinit();

  f = std::fopen(argv[6], "wb");
  if (f == nullptr || std::fwrite(out.data(), 1, bytes * frames, f) != bytes * frames) return 2;
  std::fclose(f);
  return 0;
}
