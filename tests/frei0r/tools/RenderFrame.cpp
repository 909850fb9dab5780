// Renders one frame through a built frei0r module, the way a host does: dlopen,
// construct, set parameters by index, f0r_update at a given time. The host test
// compares what ffmpeg and melt produce with this.
//
//   frei0r-render-frame MODULE WIDTH HEIGHT TIME IN.rgba OUT.rgba [INDEX=VALUE ...]
//
// IN and OUT are raw RGBA frames; a colour value is written R/G/B.
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
  const double time = std::atof(argv[4]);
  const size_t bytes = size_t(width) * height * 4;

  auto init = Symbol<int (*)()>(module, "f0r_init");
  auto construct = Symbol<f0r_instance_t (*)(unsigned, unsigned)>(module, "f0r_construct");
  auto paramInfo = Symbol<void (*)(f0r_param_info_t*, int)>(module, "f0r_get_param_info");
  auto setParam = Symbol<void (*)(f0r_instance_t, f0r_param_t, int)>(module, "f0r_set_param_value");
  auto update = Symbol<void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*)>(module, "f0r_update");
  auto destruct = Symbol<void (*)(f0r_instance_t)>(module, "f0r_destruct");
  auto deinit = Symbol<void (*)()>(module, "f0r_deinit");

  std::vector<uint32_t> in(bytes / 4), out(bytes / 4);
  FILE* f = std::fopen(argv[5], "rb");
  if (f == nullptr || std::fread(in.data(), 1, bytes, f) != bytes) {
    std::fprintf(stderr, "cannot read %u x %u RGBA from %s\n", width, height, argv[5]);
    return 2;
  }
  std::fclose(f);

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
  update(instance, time, in.data(), out.data());
  destruct(instance);
  deinit();

  f = std::fopen(argv[6], "wb");
  if (f == nullptr || std::fwrite(out.data(), 1, bytes, f) != bytes) return 2;
  std::fclose(f);
  return 0;
}
