#include "render/Random.h"

#include <ctime>

namespace {
Rng gModuleRng = {0};
ClockSource gClockSource = nullptr;
}  // namespace

uint32_t RngStateAfter(uint32_t state, uint64_t steps) {
  uint32_t multiplier = 1, increment = 0;     // the steps taken so far: s -> m * s + i
  uint32_t stepA = kRandMultiplier, stepC = kRandIncrement;  // 2^k steps at bit k
  for (; steps != 0; steps >>= 1) {
    if (steps & 1) {
      multiplier *= stepA;
      increment = increment * stepA + stepC;
    }
    stepC = stepC * stepA + stepC;
    stepA *= stepA;
  }
  return state * multiplier + increment;
}

Rng& ModuleRng() { return gModuleRng; }

long ReadRenderClock() {
  if (gClockSource != nullptr) return gClockSource();
  return static_cast<long>(clock());
}

void SetClockSourceForTesting(ClockSource source) { gClockSource = source; }
