// RenderEffect: working values, jitter and flicker, then the passes
// in their fixed order on the destination, and one clean-up exit.
#include <cmath>

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/WorkingValues.h"

WorkingValues ComputeWorkingValues(const EffectParams& params, const RenderJob& job) {
  const double* P = params.value;
  WorkingValues wv;
  wv.samplesPerPixel = job.dstHasAlpha ? 4 : 3;
  wv.bytesPerSample = job.sixteenBits ? 2 : 1;
  wv.toneExponent = 1.0 / ((P[kFilmResponse] + 1.0) / 25.0);
  wv.grainRange = P[kGrainAmount] * 2.55;
  wv.dustSize = P[kDustSize];
  wv.dustCountBase = P[kDustAmount] / 4.0 + 1.0;
  for (int c = 0; c < 3; ++c) wv.dustColor[c] = P[kDustColorRed + c];
  wv.hairSize = P[kHairSize];
  wv.hairCountBase = P[kHairAmount] / 6.0 + 1.0;
  for (int c = 0; c < 3; ++c) wv.hairColor[c] = P[kHairColorRed + c];
  wv.scratchCount = TruncToInt(P[kScratchAmount] + 0.5);
  wv.scratchVelocity = P[kScratchVelocity];
  wv.scratchLifespan = P[kScratchLifespan] + 1.0;
  wv.scratchOpacity = P[kScratchOpacity] / 100.0;
  wv.jitterMaxFraction = P[kJitterMaxOffset] / 100.0;
  wv.jitterProbability = P[kJitterProbability];
  wv.grayOn = TruncToInt(P[kConvertToGray]);
  for (int c = 0; c < 3; ++c) wv.tintFactor[c] = P[kGrayTintRed + c] / 256.0;
  wv.flickerSpeed = P[kFlickerSpeed] / 10.0;
  wv.flickerAmount = P[kFlickerAmount] / 100.0;
  wv.revealBackLayer = TruncToInt(P[kRevealBackLayer]);
  wv.frameNumber = TruncToInt(P[kFrameNumber] + 0.5);
  wv.width = RectWidth(job.dstRect);
  wv.height = RectHeight(job.dstRect);
  wv.jitterOffset = 0;
  wv.layout = LayoutFor(job.scale, wv.width, wv.height);
  wv.layoutJitter = 0;
  return wv;
}

namespace {

// One draw decides whether the frame jitters; a second, only then, how far:
// trunc((rand() % trunc(A)) - A / 3) with A = height * jitterMaxFraction, the
// height of the grid the damage is laid out on.
int32_t DrawJitterOffset(const WorkingValues& wv, int32_t height, Rng& rng) {
  if (!(double(NextRand(rng) % 100) < wv.jitterProbability)) return 0;
  const double a = double(height) * wv.jitterMaxFraction;
  const int32_t offset = TruncToInt(double(ModOrZero(NextRand(rng), TruncToInt(a))) - a / 3.0);
  // An offset of a whole height or more either way leaves no picture row; keep it
  // there so that row arithmetic (y + jitterOffset) cannot overflow.
  const int32_t limit = height > 0 ? height : 0;
  return offset > limit ? limit : (offset < -limit ? -limit : offset);
}

// The grid's jitter in picture rows: rounded to the nearest row, within +-height.
int32_t JitterInPixels(const WorkingValues& wv) {
  if (!wv.layout.scaled) return wv.layoutJitter;
  const int32_t rows = TruncToInt(std::floor(double(wv.layoutJitter) * wv.layout.unitY + 0.5));
  const int32_t limit = wv.height > 0 ? wv.height : 0;
  return rows > limit ? limit : (rows < -limit ? -limit : rows);
}

}  // namespace

WorkingValues SetUpRender(const RenderJob& job, uint32_t seed, Rng& rng) {
  WorkingValues wv = ComputeWorkingValues(*job.params, job);
  // The jitter decides which rows the background must cover: the tone pass lays
  // the background row by row beside the picture.
  SeedRng(rng, seed);
  wv.layoutJitter = DrawJitterOffset(wv, wv.layout.height, rng);
  wv.jitterOffset = JitterInPixels(wv);
  if (wv.flickerSpeed > 0) {
    wv.toneExponent += std::cos(double(wv.frameNumber) * wv.flickerSpeed) * wv.flickerAmount;
  }
  return wv;
}

int32_t RenderEffectSeeded(const RenderJob* job, uint32_t seed, RenderContext* context) {
  // Set-up: the working values come from the record.
  Rng& rng = *context->rng;
  const WorkingValues wv = SetUpRender(*job, seed, rng);

  // The passes in their fixed order; the first that is stopped ends the render.
  // Each pass frees what it took before it returns.
  bool finished = RunTonePass(*job, wv, rng, context->threads, context->kernel);
  if (finished && wv.dustCountBase > 1.0) finished = RunDustPass(*job, wv, rng, context->threads);
  if (finished && wv.hairCountBase > 1.0) finished = RunHairPass(*job, wv, rng, context->threads);
  if (finished) finished = RunScratchPass(*job, wv, rng, context->scratchCache, context->threads);
  return finished ? 1 : 0;
}

RenderJob MakeRenderJob(const EffectParams* params, const Rect& rect, bool alpha,
                        const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                        int32_t dstRowBytes, RenderProgressProc progress,
                        RenderAbortProc abort) {
  RenderJob job;
  job.params = params;
  job.srcRect = rect;
  job.dstRect = rect;
  job.srcData = src;
  job.dstData = dst;
  job.srcRowBytes = srcRowBytes;
  job.dstRowBytes = dstRowBytes;
  job.srcHasAlpha = alpha ? 1 : 0;
  job.dstHasAlpha = alpha ? 1 : 0;
  job.progressProc = progress;
  job.abortProc = abort;
  return job;
}

int32_t RenderEffect(const RenderJob* job) {
  RenderContext context = {&ModuleRng(), ModuleScratchCache(), 0};
  const uint32_t seed = job->seeded ? job->seed : static_cast<uint32_t>(ReadRenderClock());
  return RenderEffectSeeded(job, seed, &context);
}
