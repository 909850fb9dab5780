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

uint32_t FrameSeed(int32_t frameNumber, uint32_t seedNumber) {
  // The finaliser of splitmix64 over (seed number, frame number). The generator
  // only ever sees the low 31 bits of its seed in what it draws, so the mix
  // matters: a plain frame + seed would make seed 1 replay frame n + 1.
  uint64_t z = (uint64_t(seedNumber) << 32) | uint32_t(frameNumber);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return uint32_t(z >> 32);
}
