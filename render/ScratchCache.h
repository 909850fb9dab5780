// The scratch replay cache: replayed scratch states of earlier renders, kept so
// that frame n + 1 rendered right after frame n steps on instead of replaying
// from frame 0, and a seek replays from the nearest checkpoint. A caller that
// renders on its own RenderContext (the frei0r filter, the benchmarks) makes one
// per clip; a null cache means "always replay in full", and every result is
// identical either way. Renders on several threads may share one cache.
#pragma once

#include <cstdint>

#include "render/Random.h"

struct ScratchCache;

// A new, empty cache with a checkpoint every checkpointInterval frames (0 for
// the default, 4096); null when there is no memory for it.
ScratchCache* NewScratchCache(int32_t checkpointInterval = 0);
// Frees the cache and what it holds; null is fine.
void DeleteScratchCache(ScratchCache* cache);

// The scratch pass's side (render/ScratchPass.cpp).

// A replay's state: five arrays of `count` values each.
struct ScratchState {
  float* x;
  float* y;
  float* age;
  float* stepX;
  float* stepY;
};

// What a replay depends on. Doubles are compared by their bits, so equal keys
// mean exactly the same arithmetic (NaN included).
struct ReplayKey {
  int32_t count;
  int32_t width;
  int32_t height;
  double velocity;
  double lifespan;
};

// Frames between two checkpoints of the cache.
int32_t CheckpointInterval(const ScratchCache* cache);
// Puts into st and rng the latest stored state at or before frame `frames` and
// returns its frame, or returns -1 when there is none (replay from the spawn).
// A cache that holds other scratches forgets them.
int32_t RestoreNearest(ScratchCache* cache, const ReplayKey& key, int32_t frames,
                       const ScratchState& st, Rng& rng);
// Stores the state at frame `frame` as the next checkpoint, if it is the next one
// missing (another render may have stored it already). A cache without memory
// for it simply has fewer checkpoints.
void AddCheckpoint(ScratchCache* cache, const ReplayKey& key, int32_t frame,
                   const ScratchState& st, const Rng& rng);
// Keeps the state at the end of a replay as the cursor.
void StoreCursor(ScratchCache* cache, const ReplayKey& key, int32_t frame,
                 const ScratchState& st, const Rng& rng);
