// The renderer's working values, derived from EffectParams at the start of every
// call and shared by all passes under these names.
#pragma once

#include <cstdint>

#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScaleLayout.h"

struct WorkingValues {
  int32_t samplesPerPixel;  // 4 when dstHasAlpha, else 3
  int32_t bytesPerSample;   // 2 with 16-bit samples (job sixteenBits), else 1
  double toneExponent;      // 1 / ((P0 + 1) / 25), plus the flicker term
  double grainRange;        // P1 * 2.55
  double dustSize;          // P2
  double dustCountBase;     // P3 / 4 + 1
  double dustColor[3];      // P4..P6: red, green, blue
  double hairSize;          // P7
  double hairCountBase;     // P8 / 6 + 1
  double hairColor[3];      // P9..P11
  int32_t scratchCount;     // trunc(P12 + 0.5)
  double scratchVelocity;   // P13
  double scratchLifespan;   // P14 + 1
  double scratchOpacity;    // P15 / 100
  double jitterMaxFraction; // P16 / 100
  double jitterProbability; // P17
  int32_t grayOn;           // trunc(P18)
  double tintFactor[3];     // P19..P21 / 256 (256, not 255)
  double flickerSpeed;      // P22 / 10
  double flickerAmount;     // P23 / 100
  int32_t revealBackLayer;  // trunc(P24)
  int32_t frameNumber;      // trunc(P25 + 0.5)
  int32_t width;            // dstRect right - left
  int32_t height;           // dstRect bottom - top
  int32_t jitterOffset;     // destination row y shows source row y + jitterOffset
  // The grid of the damage (job scale): positions, walks, scratches, the jitter
  // draw and the grain's draws are those of a render of layout.width x
  // layout.height, drawn back at the picture's size; the picture itself when
  // !layout.scaled.
  ScaleLayout layout;
  int32_t layoutJitter;     // a scaled render's jitter in grid rows (jitterOffset: in pixels)
};

// The jitter in rows of the grid: jitterOffset itself when the grid is the picture.
inline int32_t GridJitter(const WorkingValues& wv) {
  return wv.layout.scaled ? wv.layoutJitter : wv.jitterOffset;
}

// Computes every value from the record and the job; toneExponent without the
// flicker term, jitterOffset 0 (both are decided later in the render).
WorkingValues ComputeWorkingValues(const EffectParams& p, const RenderJob& job);

// RenderEffect's set-up before the passes: the working values, the generator
// seeded with `seed`, the jitter drawn from it, and the flicker added to the
// tone exponent. The tone pass starts from here.
WorkingValues SetUpRender(const RenderJob& job, uint32_t seed, Rng& rng);
