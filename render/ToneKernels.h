// Which kernel runs the tone pass's rows: every kernel gives the same bytes, and
// a render takes the fastest this processor runs unless the environment variable
// PATINEX_SIMD names another (for tests and benchmarks; read once, like
// PATINEX_THREADS). PATINEX_SIMD=scalar gives the plain loops that a build for a
// processor without SSE2 (an ARM build of patinex.so) runs.
//
// A new kernel adds its value below (from the plainest up, so that a processor
// that runs one runs those before it), its name in ToneKernels.cpp, what the
// processor must have in BestToneKernel, and its rows in PickToneRow
// (render/TonePass.cpp).
#pragma once

#include <cstdint>

enum class ToneKernel : int32_t {
  kChosen = 0,  // not a kernel: the one RenderToneKernel() gives
  kScalar = 1,
  kSse2 = 2,
};

// The kernel's name as PATINEX_SIMD takes it ("scalar", "sse2").
const char* ToneKernelName(ToneKernel kernel);

// The fastest kernel this processor runs.
ToneKernel BestToneKernel();

// The kernel from the best this processor runs and the text of PATINEX_SIMD
// (null when unset): the name of a kernel up to `best` (blanks around it
// allowed) chooses it; anything else is ignored.
ToneKernel ToneKernelFrom(ToneKernel best, const char* setting);

// The kernel for this machine and process (read once).
ToneKernel RenderToneKernel();
