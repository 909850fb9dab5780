// RenderJob: what a caller hands RenderEffect. The caller owns every buffer.
#pragma once

#include <cstdint>

#include "render/EffectParams.h"
#include "render/CallConv.h"
#include "render/Rect.h"
#include "render/ToneKernels.h"

// What the renderer calls back, with the filter interface's convention, so that a
// host's own progress and abort callbacks go in as they are: progress(done,
// total) after each unit of work, then abort(), non-zero to stop.
typedef void(PATINEX_CDECL* RenderProgressProc)(int32_t done, int32_t total);
typedef uint8_t(PATINEX_CDECL* RenderAbortProc)(void);

struct RenderJob {
  const EffectParams* params;
  Rect srcRect;  // MakeRenderJob sets it equal to dstRect; not read
  Rect dstRect;  // its width and height are the size of the render
  const uint8_t* srcData;
  uint8_t* dstData;
  int32_t srcRowBytes;
  int32_t dstRowBytes;
  uint8_t srcHasAlpha;
  uint8_t dstHasAlpha;
  RenderProgressProc progressProc;
  RenderAbortProc abortProc;
  // Samples of 16 bits (0..32768, two bytes in the machine's byte order) instead
  // of bytes; the layouts are the same, each sample twice as wide.
  uint8_t sixteenBits = 0;
  // The size of the damage: 1 draws every mark, step and grain at the picture's
  // own pixels (the look the 32-bit module always has); a factor above 1 lays the
  // damage out on a grid that much coarser and draws it back at the picture's
  // size with soft edges and a smooth grain; kScaleAuto takes the factor from the
  // picture's height (height / kScaleAutoRows). See ScaleFactorOf.
  double scale = 1.0;
  // With `seeded` the render seeds its generator from `seed` instead of reading
  // the clock: the parameters dialog reads the clock once when it opens, and its
  // preview and the render after OK all seed from that reading.
  uint8_t seeded = 0;
  uint32_t seed = 0;
};

// Scale's setting: 0 is Auto, 1..kScaleMax a factor (a value between 0 and 1
// counts as 1).
const double kScaleAuto = 0.0;
const double kScaleMax = 16.0;
// At Auto the damage is laid out on a grid of this many rows.
const int32_t kScaleAutoRows = 576;

// The job every caller renders with: `params` over a picture of rect's size,
// read from `src` and written to `dst` (rows srcRowBytes and dstRowBytes apart,
// 4 bytes per pixel with alpha, else 3), with the host's callbacks (null: none;
// the renderer goes on to the end).
RenderJob MakeRenderJob(const EffectParams* params, const Rect& rect, bool alpha,
                        const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                        int32_t dstRowBytes, RenderProgressProc progress,
                        RenderAbortProc abort);

// Renders the whole effect into job->dstData. Returns 1 when every pass ran to
// its end, 0 when the host's abort callback asked to stop.
int32_t RenderEffect(const RenderJob* job);

struct ScratchCache;

// What one render draws from and may keep: the generator it seeds and draws from,
// the scratch replay cache (may be null), the most threads it may use (0: as
// many as RenderThreadCount() gives) and the tone pass's kernel (kChosen: the one
// RenderToneKernel() gives); the bytes are the same for any number and kernel.
// RenderEffect uses the module's own; a caller that renders on several threads
// gives each render its own context.
struct RenderContext {
  struct Rng* rng;
  ScratchCache* scratchCache;
  int32_t threads;
  ToneKernel kernel = ToneKernel::kChosen;
};

// RenderEffect with an explicit seed instead of the clock, on a given context.
int32_t RenderEffectSeeded(const RenderJob* job, uint32_t seed, RenderContext* context);
