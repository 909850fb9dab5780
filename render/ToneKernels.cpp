#include "render/ToneKernels.h"

#include <cstdlib>
#include <cstring>

namespace {

struct KernelName {
  ToneKernel kernel;
  const char* name;
};

const KernelName kKernelNames[] = {
    {ToneKernel::kScalar, "scalar"},
    {ToneKernel::kSse2, "sse2"},
};

}  // namespace

const char* ToneKernelName(ToneKernel kernel) {
  for (const KernelName& k : kKernelNames) {
    if (k.kernel == kernel) return k.name;
  }
  return "chosen";
}

// SSE2 where the compiler may use it: every x86-64, and the 32-bit module, which
// is built for it.
ToneKernel BestToneKernel() {
#if defined(__SSE2__)
  return ToneKernel::kSse2;
#else
  return ToneKernel::kScalar;
#endif
}

ToneKernel ToneKernelFrom(ToneKernel best, const char* setting) {
  if (setting == nullptr) return best;
  while (*setting == ' ') ++setting;
  size_t length = std::strlen(setting);
  while (length > 0 && setting[length - 1] == ' ') --length;
  for (const KernelName& k : kKernelNames) {
    if (std::strlen(k.name) == length && std::strncmp(k.name, setting, length) == 0 &&
        k.kernel <= best) {
      return k.kernel;
    }
  }
  return best;
}

ToneKernel RenderToneKernel() {
  static const ToneKernel kernel = ToneKernelFrom(BestToneKernel(), std::getenv("PATINEX_SIMD"));
  return kernel;
}
