#include "render/ToneKernels.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "render/ToneRow.h"

namespace {

struct KernelName {
  ToneKernel kernel;
  const char* name;
};

const KernelName kKernelNames[] = {
    {ToneKernel::kScalar, "scalar"},
    {ToneKernel::kSse2, "sse2"},
    {ToneKernel::kAvx2, "avx2"},
    {ToneKernel::kAvx512, "avx512"},
    {ToneKernel::kWasmSimd128, "wasm-simd128"},
    {ToneKernel::kAvx512Vbmi, "avx512vbmi"},
};

// The widest kernel the processor and the operating system run: cpuid's
// feature flags, and for AVX and AVX-512 also XCR0 (xgetbv), whose bits say that
// the system saves those registers' state.
ToneKernel ProcessorKernel() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (d & (1u << 26)) == 0) return ToneKernel::kScalar;
  const bool osxsave = (c & (1u << 27)) != 0;
  const bool avx = (c & (1u << 28)) != 0;
  if (!osxsave || !avx) return ToneKernel::kSse2;
  unsigned xcr0 = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  if ((xcr0 & 0x6u) != 0x6u) return ToneKernel::kSse2;  // SSE and AVX state
  if (__get_cpuid_max(0, nullptr) < 7) return ToneKernel::kSse2;
  __cpuid_count(7, 0, a, b, c, d);
  if ((b & (1u << 5)) == 0) return ToneKernel::kSse2;  // AVX2
  // AVX-512 F, BW and VL, and the mask and upper registers' state.
  const unsigned avx512 = (1u << 16) | (1u << 30) | (1u << 31);
  if ((b & avx512) != avx512 || (xcr0 & 0xE6u) != 0xE6u) return ToneKernel::kAvx2;
  if ((c & (1u << 1)) == 0) return ToneKernel::kAvx512;  // VBMI
  return ToneKernel::kAvx512Vbmi;
#elif defined(__wasm_simd128__)
  // The page loads its SIMD build only where the browser validates SIMD code.
  return ToneKernel::kWasmSimd128;
#else
  return ToneKernel::kScalar;
#endif
}

// The scalar kernel's rows: the row template one pixel at a time, built for the
// floor like this file.
constexpr ToneRowSet kScalarRows = MakeToneRows<ScalarOps>();

}  // namespace

const char* ToneKernelName(ToneKernel kernel) {
  for (const KernelName& k : kKernelNames) {
    if (k.kernel == kernel) return k.name;
  }
  return "chosen";
}

ToneKernel BestToneKernel() {
  static const ToneKernel best = [] {
    ToneKernel k = ProcessorKernel();
    // The wide kernels' files are built for their instruction sets: asked only
    // of kernels the processor runs.
    while (ToneRowsOf(k) == nullptr) k = ToneKernel(int32_t(k) - 1);
    return k;
  }();
  return best;
}

// AVX-512 gave no gain over AVX2 on the processor it was measured on (an AMD
// EPYC, whose 512-bit operations run as two 256-bit halves and whose gathers of
// eight are no faster than two of four): it runs when PATINEX_SIMD asks for it.
// With VBMI the 8-bit rows look their bytes up without gathers, which is what
// the time went to: that kernel is taken where it runs.
ToneKernel DefaultToneKernel(ToneKernel best) {
  return best == ToneKernel::kAvx512 ? ToneKernel::kAvx2 : best;
}

ToneKernel ToneKernelFrom(ToneKernel best, const char* setting) {
  if (setting == nullptr) return DefaultToneKernel(best);
  while (*setting == ' ') ++setting;
  size_t length = std::strlen(setting);
  while (length > 0 && setting[length - 1] == ' ') --length;
  for (const KernelName& k : kKernelNames) {
    // Up to the best, and built here: on the page's build (best: WebAssembly's)
    // the x86 kernels' rows are none.
    if (std::strlen(k.name) == length && std::strncmp(k.name, setting, length) == 0 &&
        k.kernel <= best && ToneRowsOf(k.kernel) != nullptr) {
      return k.kernel;
    }
  }
  return DefaultToneKernel(best);
}

ToneKernel RenderToneKernel() {
  static const ToneKernel kernel = ToneKernelFrom(BestToneKernel(), std::getenv("PATINEX_SIMD"));
  return kernel;
}

const ToneRowSet* ToneRowsScalar() { return &kScalarRows; }

const ToneRowSet* ToneRowsOf(ToneKernel kernel) {
  switch (kernel) {
    case ToneKernel::kScalar:
      return ToneRowsScalar();
    case ToneKernel::kSse2:
      return ToneRowsSse2();
    case ToneKernel::kAvx2:
      return ToneRowsAvx2();
    case ToneKernel::kAvx512:
      return ToneRowsAvx512();
    case ToneKernel::kWasmSimd128:
      return ToneRowsWasmSimd128();
    case ToneKernel::kAvx512Vbmi:
      return ToneRowsAvx512Vbmi();
    default:
      return nullptr;
  }
}
