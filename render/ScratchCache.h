// The scratch replay cache: replayed scratch states of earlier renders, kept so
// that frame n + 1 rendered right after frame n steps on instead of replaying
// from frame 0, and a seek replays from the nearest checkpoint. A caller that
// renders on its own RenderContext (the frei0r filter, the benchmarks) makes one
// per clip; a null cache means "always replay in full", and every result is
// identical either way. Renders on several threads may share one cache.
#pragma once

#include <cstdint>

struct ScratchCache;

// A new, empty cache with a checkpoint every checkpointInterval frames (0 for
// the default, 4096); null when there is no memory for it.
ScratchCache* NewScratchCache(int32_t checkpointInterval = 0);
// Frees the cache and what it holds; null is fine.
void DeleteScratchCache(ScratchCache* cache);
