#include "testing/ReferenceTone.h"

#include <cmath>
#include <cstddef>

#include "render/Numerics.h"

namespace {

// The runtime's srand/rand, written out again.
struct PlainRand {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

// A remainder with a modulus of 0 (or below) counts as 0; the draw was taken.
int32_t Remainder(int32_t draw, int32_t modulus) { return modulus > 0 ? draw % modulus : 0; }

uint8_t Store(int64_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

uint32_t ReferenceToneRender(const RenderJob& job, uint32_t seed, const int16_t* grain,
                             int32_t grainStride) {
  const double* P = job.params->value;
  const int32_t bpp = job.dstHasAlpha ? 4 : 3;
  double toneExponent = 1.0 / ((P[0] + 1.0) / 25.0);
  const double grainRange = P[1] * 2.55;
  const double jitterMaxFraction = P[16] / 100.0;
  const double jitterProbability = P[17];
  const bool grayOn = TruncToInt(P[18]) != 0;
  const double tint[3] = {P[19] / 256.0, P[20] / 256.0, P[21] / 256.0};
  const double flickerSpeed = P[22] / 10.0;
  const double flickerAmount = P[23] / 100.0;
  const bool revealBackLayer = TruncToInt(P[24]) != 0;
  const int32_t frameNumber = TruncToInt(P[25] + 0.5);
  const int32_t width = int32_t(job.dstRect.right) - job.dstRect.left;
  const int32_t height = int32_t(job.dstRect.bottom) - job.dstRect.top;

  // Background: the source (alpha too when both have it), or black with the
  // destination's alpha left alone.
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = job.srcData + std::ptrdiff_t(y) * job.srcRowBytes + x * (job.srcHasAlpha ? 4 : 3);
      uint8_t* q = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes + x * bpp;
      for (int c = 0; c < 3; ++c) q[c] = revealBackLayer ? p[c] : 0;
      if (revealBackLayer && job.dstHasAlpha) q[3] = job.srcHasAlpha ? p[3] : 0;
    }
  }

  PlainRand rnd = {seed};
  int64_t jitterOffset = 0;
  if (double(rnd.Next() % 100) < jitterProbability) {
    const double a = height * jitterMaxFraction;
    jitterOffset = TruncToInt(Remainder(rnd.Next(), TruncToInt(a)) - a / 3.0);
  }
  if (flickerSpeed > 0) toneExponent += std::cos(frameNumber * flickerSpeed) * flickerAmount;

  for (int32_t y = 0; y < height; ++y) {
    const int64_t sy = y + jitterOffset;
    if (sy < 0 || sy >= height) continue;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = job.srcData + std::ptrdiff_t(sy) * job.srcRowBytes + x * bpp;
      uint8_t* q = job.dstData + std::ptrdiff_t(y) * job.dstRowBytes + x * bpp;
      int32_t channel[3];
      if (grayOn) {
        const int32_t g = (p[0] + p[2] + p[1]) / 3;
        for (int c = 0; c < 3; ++c) channel[c] = TruncToInt(g * tint[c]);
      } else {
        for (int c = 0; c < 3; ++c) channel[c] = p[c];
      }
      bool infinite[3];
      for (int c = 0; c < 3; ++c) {
        const double curved = std::pow(channel[c] / 255.0, toneExponent) * 255.0;
        infinite[c] = std::isinf(curved);  // stored as 0 whatever the grain adds
        channel[c] = TruncToInt(curved);
      }
      int64_t n = 0;
      if (grain != nullptr) {
        n = grain[std::ptrdiff_t(y) * grainStride + x];
      } else if (grainRange > 0) {
        n = TruncToInt(Remainder(rnd.Next(), TruncToInt(grainRange)) - grainRange / 2.0);
      }
      for (int c = 0; c < 3; ++c) q[c] = infinite[c] ? 0 : Store(channel[c] + n);
    }
  }
  return rnd.state;
}
