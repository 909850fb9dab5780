// The scratch replay cache: the state at the end of the latest replay (the
// cursor), and checkpoints, the states at every interval-th frame that a replay
// has passed. A replay starts from the nearest of these at or before its frame,
// so a clip played forward steps one frame, and a seek (backward too) replays
// fewer than one interval. The lock is held only to copy a state in or out,
// never while stepping: renders on several threads share one cache without
// waiting for each other's replays. Every block comes from NewMemBlock, as the
// rest of the renderer's memory does.
#include "render/ScratchCache.h"

#include <cstring>
#include <mutex>
#include <new>

#include "render/MemBlock.h"

namespace {

// Frames between two checkpoints. A seek costs at most this many frame steps
// more than playing on; each checkpoint keeps 20 bytes per scratch.
const int32_t kCheckpointInterval = 4096;
// The checkpoints of one cache stop growing at this size. The frei0r filter's
// film repeats after 2^20 frames, so it keeps at most 256 checkpoints (0.5 MB
// with 100 scratches); a record from elsewhere with thousands of scratches and
// a frame number in the millions would otherwise fill the memory.
const int64_t kMaxCheckpointBytes = 64 << 20;

// One state kept by the cache: the generator and the five arrays, one after the
// other (5 x count floats).
struct Checkpoint {
  uint32_t rng;
  float* floats;
};

bool SameKey(const ReplayKey& a, const ReplayKey& b) {
  return a.count == b.count && a.width == b.width && a.height == b.height &&
         std::memcmp(&a.velocity, &b.velocity, sizeof(double)) == 0 &&
         std::memcmp(&a.lifespan, &b.lifespan, sizeof(double)) == 0;
}

float* NewStateFloats(int32_t count) {
  return static_cast<float*>(NewMemBlock(int32_t(sizeof(float)) * 5 * count));
}

void GatherState(float* dst, const ScratchState& st, int32_t count) {
  const float* const src[5] = {st.x, st.y, st.age, st.stepX, st.stepY};
  for (int a = 0; a < 5; ++a) std::memcpy(dst + a * size_t(count), src[a], sizeof(float) * size_t(count));
}

void ScatterState(const ScratchState& st, const float* src, int32_t count) {
  float* const dst[5] = {st.x, st.y, st.age, st.stepX, st.stepY};
  for (int a = 0; a < 5; ++a) std::memcpy(dst[a], src + a * size_t(count), sizeof(float) * size_t(count));
}

}  // namespace

struct ScratchCache {
  std::mutex mutex;
  int32_t interval;       // frames between checkpoints
  bool valid;             // key and count below describe the stored states
  ReplayKey key;          // key.count: scratches per state
  float* cursor;          // 5 x count floats: x, y, age, stepX, stepY
  int32_t cursorFrame;    // -1: no cursor
  uint32_t cursorRng;
  // checkpoints[k] is the state at frame (k + 1) x interval: 5 x count floats.
  Checkpoint* checkpoints;
  int32_t checkpointCount;
  int32_t checkpointCapacity;
};

ScratchCache* NewScratchCache(int32_t checkpointInterval) {
  void* block = NewMemBlock(int32_t(sizeof(ScratchCache)));
  if (block == nullptr) return nullptr;
  ScratchCache* cache = new (block) ScratchCache();
  cache->interval = checkpointInterval > 0 ? checkpointInterval : kCheckpointInterval;
  cache->cursorFrame = -1;
  return cache;
}

namespace {

void ForgetStates(ScratchCache* cache) {
  FreeMemBlock(cache->cursor);
  cache->cursor = nullptr;
  cache->cursorFrame = -1;
  for (int32_t k = 0; k < cache->checkpointCount; ++k) FreeMemBlock(cache->checkpoints[k].floats);
  FreeMemBlock(cache->checkpoints);
  cache->checkpoints = nullptr;
  cache->checkpointCount = 0;
  cache->checkpointCapacity = 0;
  cache->valid = false;
}

// Room for one more checkpoint: the array doubled (from 16) when it is full.
// False when there is no memory for it.
bool MakeRoomForCheckpoint(ScratchCache* cache) {
  if (cache->checkpointCount < cache->checkpointCapacity) return true;
  const int32_t capacity = cache->checkpointCapacity > 0 ? cache->checkpointCapacity * 2 : 16;
  Checkpoint* grown =
      static_cast<Checkpoint*>(NewMemBlock(int32_t(sizeof(Checkpoint)) * capacity));
  if (grown == nullptr) return false;
  if (cache->checkpointCount > 0) {
    std::memcpy(grown, cache->checkpoints, sizeof(Checkpoint) * size_t(cache->checkpointCount));
  }
  FreeMemBlock(cache->checkpoints);
  cache->checkpoints = grown;
  cache->checkpointCapacity = capacity;
  return true;
}

// Freed with the module (the static's destructor runs when the module unloads).
struct ModuleCacheHolder {
  ScratchCache* cache;
  ModuleCacheHolder() : cache(NewScratchCache(0)) {}
  ~ModuleCacheHolder() { DeleteScratchCache(cache); }
};

ModuleCacheHolder gModuleCache;

}  // namespace

void DeleteScratchCache(ScratchCache* cache) {
  if (cache == nullptr) return;
  ForgetStates(cache);
  cache->~ScratchCache();
  FreeMemBlock(cache);
}

ScratchCache* ModuleScratchCache() { return gModuleCache.cache; }

int32_t CheckpointInterval(const ScratchCache* cache) { return cache->interval; }

int32_t RestoreNearest(ScratchCache* cache, const ReplayKey& key, int32_t frames,
                       const ScratchState& st, Rng& rng) {
  std::lock_guard<std::mutex> lock(cache->mutex);
  if (!cache->valid || !SameKey(cache->key, key)) {
    ForgetStates(cache);
    cache->key = key;
    cache->valid = true;
    return -1;
  }
  int32_t from = -1;
  const int32_t k = frames / cache->interval;  // checkpoint k - 1 is at frame k x interval
  const int32_t usable = k < cache->checkpointCount ? k : cache->checkpointCount;
  if (usable > 0) {
    const Checkpoint& saved = cache->checkpoints[usable - 1];
    ScatterState(st, saved.floats, key.count);
    rng.state = saved.rng;
    from = usable * cache->interval;
  }
  if (cache->cursor != nullptr && cache->cursorFrame <= frames && cache->cursorFrame > from) {
    ScatterState(st, cache->cursor, key.count);
    rng.state = cache->cursorRng;
    from = cache->cursorFrame;
  }
  return from;
}

void AddCheckpoint(ScratchCache* cache, const ReplayKey& key, int32_t frame,
                   const ScratchState& st, const Rng& rng) {
  std::lock_guard<std::mutex> lock(cache->mutex);
  if (!cache->valid || !SameKey(cache->key, key)) return;
  if (int64_t(frame) != int64_t(cache->checkpointCount + 1) * cache->interval) return;
  if (int64_t(cache->checkpointCount + 1) * key.count * 20 > kMaxCheckpointBytes) return;
  if (!MakeRoomForCheckpoint(cache)) return;
  float* floats = NewStateFloats(key.count);
  if (floats == nullptr) return;
  GatherState(floats, st, key.count);
  cache->checkpoints[cache->checkpointCount++] = Checkpoint{rng.state, floats};
}

void StoreCursor(ScratchCache* cache, const ReplayKey& key, int32_t frame,
                 const ScratchState& st, const Rng& rng) {
  std::lock_guard<std::mutex> lock(cache->mutex);
  if (!cache->valid || !SameKey(cache->key, key)) return;
  if (cache->cursor == nullptr) {
    cache->cursor = NewStateFloats(key.count);
    if (cache->cursor == nullptr) return;
  }
  GatherState(cache->cursor, st, key.count);
  cache->cursorFrame = frame;
  cache->cursorRng = rng.state;
}
