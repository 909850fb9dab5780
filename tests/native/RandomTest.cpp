#include <gtest/gtest.h>

#include <set>

#include "render/Random.h"

// The runtime's sequence from seed 1 (the documented first values of rand() after
// srand(1) on the platform): 41, 18467, 6334, 26500, 19169.
TEST(Random, ReproducesTheRuntimeSequence) {
  Rng rng;
  SeedRng(rng, 1);
  const int32_t expected[] = {41, 18467, 6334, 26500, 19169};
  for (int32_t e : expected) EXPECT_EQ(NextRand(rng), e);
}

TEST(Random, SeedZeroStartsWith38) {
  Rng rng;
  SeedRng(rng, 0);
  // state 2531011 -> (2531011 >> 16) & 0x7fff = 38
  EXPECT_EQ(NextRand(rng), 38);
  EXPECT_EQ(NextRand(rng), 7719);
}

// A jump of n steps lands where n draws do, and a whole period (2^32) returns to
// the start: the bands of a render start from such jumps.
TEST(Random, JumpAheadEqualsDrawingOneByOne) {
  for (uint32_t seed : {0u, 1u, 0xDEADBEEFu}) {
    Rng rng;
    SeedRng(rng, seed);
    uint64_t drawn = 0;
    for (uint64_t n : {0ull, 1ull, 2ull, 3ull, 64ull, 1000ull, 123457ull}) {
      for (; drawn < n; ++drawn) NextRand(rng);
      EXPECT_EQ(RngStateAfter(seed, n), rng.state) << seed << " " << n;
    }
    EXPECT_EQ(RngStateAfter(seed, 1ull << 32), seed);
    EXPECT_EQ(RngStateAfter(seed, (1ull << 32) + 5), RngStateAfter(seed, 5));
  }
}

TEST(Random, FrameSeedsOfNeighbouringFramesAndSeedsDiffer) {
  EXPECT_EQ(FrameSeed(12, 3), FrameSeed(12, 3));
  // The generator draws from the low 31 bits only: those must differ between
  // neighbours, and seed s + 1 must not replay frame n + 1 of seed s.
  const uint32_t kDrawnBits = 0x7FFFFFFFu;
  std::set<uint32_t> seen;
  for (int32_t n = 0; n < 5000; ++n) {
    EXPECT_NE(FrameSeed(n, 0) & kDrawnBits, FrameSeed(n + 1, 0) & kDrawnBits) << n;
    EXPECT_NE(FrameSeed(n, 1) & kDrawnBits, FrameSeed(n + 1, 0) & kDrawnBits) << n;
    EXPECT_NE(FrameSeed(n, 0) & kDrawnBits, FrameSeed(n, 1) & kDrawnBits) << n;
    seen.insert(FrameSeed(n, 7) & kDrawnBits);
  }
  EXPECT_GT(seen.size(), 4990u);
}
