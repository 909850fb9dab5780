// The renderer's random numbers: exactly the platform runtime's srand/rand
// (state = state * 214013 + 2531011 mod 2^32, rand() = bits 16..30 of the state,
// RAND_MAX 32767), but with a state of the plug-in's own, so that rendering never
// reseeds the host's rand(). Both builds draw the same sequence, so a native test
// can replay any render of the Windows module from its seed.
#pragma once

#include <cstdint>

const int32_t kRandMax = 32767;
// One step of the generator: state * kRandMultiplier + kRandIncrement (mod 2^32).
const uint32_t kRandMultiplier = 214013u;
const uint32_t kRandIncrement = 2531011u;

struct Rng {
  uint32_t state;
};

inline void SeedRng(Rng& rng, uint32_t seed) { rng.state = seed; }

inline int32_t NextRand(Rng& rng) {
  rng.state = rng.state * kRandMultiplier + kRandIncrement;
  return static_cast<int32_t>((rng.state >> 16) & 0x7FFF);
}

// The state `steps` draws ahead, in O(log steps): n steps are one multiply-add,
// state * A^n + C * (A^(n-1) + ... + A + 1), whose constants come from doubling.
// A band of rows starts here from the draws of the rows above it.
uint32_t RngStateAfter(uint32_t state, uint64_t steps);

// The seed of one frame for the editors' filters (frei0r, GEGL), which render
// any frame in any order: the frame number and a seed number mixed so that
// neighbouring frames (and seeds) start unrelated sequences.
uint32_t FrameSeed(int32_t frameNumber, uint32_t seedNumber);

// The module-level generator that RenderEffect uses: seeded from the clock at the
// start of every render and left where the render's last draw left it.
Rng& ModuleRng();

// The clock the renderer seeds from: clock() unless a test has put its own in.
typedef long (*ClockSource)(void);
long ReadRenderClock();
// Test-only: renders after this seed from the given source; nullptr restores clock().
void SetClockSourceForTesting(ClockSource source);
