// The scratch pass: vertical scratches that drift sideways, age and respawn.
// Their history is replayed from seed 0 and frame 0 on every call, so the
// scratches of a frame depend only on the parameters, the image size and the
// frame number, and a clip rendered frame by frame shows them continue.
//
// Replaying costs scratch count x frame number steps. The replay cache keeps
// the state at the end of the last replay (arrays and generator) and steps on
// from it when the next call asks for the same scratches at the same or a
// later frame; anything else replays in full. Both roads give the same bytes.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/MemHandle.h"
#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"

namespace {

// A count from a record from elsewhere may be anything; beyond this (the same
// bound as the 16-bit walker counts) it stops, so the arrays stay small and
// their byte size is always representable.
const int32_t kMaxScratchCount = 32767;

// Conversion to single precision without the undefined behaviour of a double
// beyond the float range: such values become the infinity of their sign.
inline float ToFloat(double v) {
  if (v > double(FLT_MAX)) return HUGE_VALF;
  if (v < -double(FLT_MAX)) return -HUGE_VALF;
  return float(v);
}

// What the replay depends on. Doubles are compared by their bits, so equal keys
// mean exactly the same arithmetic (NaN included).
struct ReplayKey {
  int32_t count;
  int32_t width;
  int32_t height;
  double velocity;
  double lifespan;
};

ReplayKey MakeKey(const WorkingValues& wv, int32_t count) {
  return ReplayKey{count, wv.width, wv.height, wv.scratchVelocity, wv.scratchLifespan};
}

bool SameKey(const ReplayKey& a, const ReplayKey& b) {
  return a.count == b.count && a.width == b.width && a.height == b.height &&
         std::memcmp(&a.velocity, &b.velocity, sizeof(double)) == 0 &&
         std::memcmp(&a.lifespan, &b.lifespan, sizeof(double)) == 0;
}

struct ScratchState {
  float* x;
  float* y;
  float* age;
  float* stepX;
  float* stepY;
};

// The spawn draws of one scratch's values. The first spawn draws x, y, age,
// stepX, stepY; a respawn age, x, y, stepX, stepY.
struct Spawner {
  int32_t width;
  int32_t height;
  int32_t ageRange;       // trunc(scratchLifespan)
  int32_t velocityRange;  // trunc(scratchVelocity)
  int32_t stepYRange;     // height div 5
  double halfVelocity;    // scratchVelocity / 2
};

Spawner MakeSpawner(const WorkingValues& wv) {
  Spawner s;
  s.width = wv.width;
  s.height = wv.height;
  s.ageRange = TruncToInt(wv.scratchLifespan);
  s.velocityRange = TruncToInt(wv.scratchVelocity);
  s.stepYRange = wv.height / 5;
  s.halfVelocity = wv.scratchVelocity / 2.0;
  return s;
}

inline float DrawX(const Spawner& s, Rng& rng) { return float(ModOrZero(NextRand(rng), s.width)); }
inline float DrawY(const Spawner& s, Rng& rng) { return float(ModOrZero(NextRand(rng), s.height)); }
inline float DrawAge(const Spawner& s, Rng& rng) {
  return float(ModOrZero(NextRand(rng), s.ageRange));
}
inline float DrawStepX(const Spawner& s, Rng& rng) {
  return ToFloat(double(ModOrZero(NextRand(rng), s.velocityRange)) - s.halfVelocity);
}
inline float DrawStepY(const Spawner& s, Rng& rng) {
  return float(ModOrZero(NextRand(rng), s.stepYRange));
}

void FirstSpawn(const Spawner& s, Rng& rng, const ScratchState& st, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    // x, y, age, stepX, stepY
    st.x[i] = DrawX(s, rng);
    st.y[i] = DrawY(s, rng);
    st.age[i] = DrawAge(s, rng);
    st.stepX[i] = DrawStepX(s, rng);
    st.stepY[i] = DrawStepY(s, rng);
  }
}

// Frame steps: every scratch moves by its steps and ages by one; one older than
// scratchLifespan + 5 respawns at once, in the same step.
void StepFrames(const Spawner& s, double lifespan, Rng& rng, const ScratchState& st,
                int32_t count, int32_t frames) {
  const double respawnAge = lifespan + 5.0;
  for (int32_t f = 0; f < frames; ++f) {
    for (int32_t i = 0; i < count; ++i) {
      st.x[i] = st.x[i] + st.stepX[i];
      st.y[i] = st.y[i] + st.stepY[i];
      st.age[i] = st.age[i] + 1.0f;
      if (double(st.age[i]) > respawnAge) {
        // age, x, y, stepX, stepY
        st.age[i] = DrawAge(s, rng);
        st.x[i] = DrawX(s, rng);
        st.y[i] = DrawY(s, rng);
        st.stepX[i] = DrawStepX(s, rng);
        st.stepY[i] = DrawStepY(s, rng);
      }
    }
  }
}

// Darkens scratch i's column, taking one draw per row, stored or not.
void DrawScratch(const RenderJob& job, const WorkingValues& wv, Rng& rng, float x, float age) {
  const int32_t col = int32_t(x);  // 0 < x < width
  // The darkening, in single precision, limited to 0..255.
  float s = ToFloat(double(age) / wv.scratchLifespan * 255.0 * wv.scratchOpacity);
  if (s < 0.0f) s = 0.0f;
  if (s >= 255.0f) s = 255.0f;
  const int32_t ageRange = TruncToInt(wv.scratchLifespan);
  // Rows that keep the background after the jitter shift stay unchanged: the
  // stored rows are those with -jitterOffset < r < height - jitterOffset.
  const int64_t storedLow = -int64_t(wv.jitterOffset);
  const int64_t storedHigh = int64_t(wv.height) - wv.jitterOffset;
  uint8_t* const column = job.dstData + ptrdiff_t(col) * wv.bytesPerPixel;
  for (int32_t r = 0; r < wv.height; ++r) {
    const int32_t t = ModOrZero(NextRand(rng), ageRange);
    // An undarkened row gives trunc(byte - 0), the byte itself: nothing to store.
    if (!(float(t) < age) || s == 0.0f) continue;
    if (!(storedLow < r && r < storedHigh)) continue;
    uint8_t* const p = column + ptrdiff_t(r) * job.dstRowBytes;
    for (int k = kRed; k <= kBlue; ++k) {
      p[k] = ClampChannel(TruncToInt(float(p[k]) - s));
    }
  }
}

}  // namespace

struct ScratchCache {
  bool valid;
  ReplayKey key;
  int32_t frame;   // the frame number the state below was replayed to (>= 0)
  uint32_t rngState;  // the generator right after that replay
  int32_t capacity;   // entries per array
  float* arrays[5];   // x, y, age, stepX, stepY
};

ScratchCache* NewScratchCache() {
  ScratchCache* cache = static_cast<ScratchCache*>(std::calloc(1, sizeof(ScratchCache)));
  return cache;
}

void DeleteScratchCache(ScratchCache* cache) {
  if (cache == nullptr) return;
  for (float* a : cache->arrays) std::free(a);
  std::free(cache);
}

namespace {

// Freed with the module (the static's destructor runs when the module unloads).
struct ModuleCacheHolder {
  ScratchCache* cache;
  ModuleCacheHolder() : cache(NewScratchCache()) {}
  ~ModuleCacheHolder() { DeleteScratchCache(cache); }
};

ModuleCacheHolder gModuleCache;

bool CacheMatches(const ScratchCache* cache, const ReplayKey& key, int32_t frames) {
  return cache != nullptr && cache->valid && cache->frame <= frames &&
         SameKey(cache->key, key);
}

void RestoreFromCache(const ScratchCache* cache, const ScratchState& st, int32_t count, Rng& rng) {
  float* const dst[5] = {st.x, st.y, st.age, st.stepX, st.stepY};
  for (int a = 0; a < 5; ++a) std::memcpy(dst[a], cache->arrays[a], sizeof(float) * size_t(count));
  rng.state = cache->rngState;
}

// Keeps the replayed state; a cache that cannot grow simply forgets.
void StoreInCache(ScratchCache* cache, const ReplayKey& key, int32_t frames,
                  const ScratchState& st, int32_t count, const Rng& rng) {
  if (cache == nullptr) return;
  cache->valid = false;
  if (count > cache->capacity) {
    for (float*& a : cache->arrays) {
      std::free(a);
      a = nullptr;
    }
    cache->capacity = 0;
    for (float*& a : cache->arrays) {
      a = static_cast<float*>(std::malloc(sizeof(float) * size_t(count)));
      if (a == nullptr) return;
    }
    cache->capacity = count;
  }
  const float* const src[5] = {st.x, st.y, st.age, st.stepX, st.stepY};
  for (int a = 0; a < 5; ++a) {
    if (count > 0) std::memcpy(cache->arrays[a], src[a], sizeof(float) * size_t(count));
  }
  cache->key = key;
  cache->frame = frames;
  cache->rngState = rng.state;
  cache->valid = true;
}

}  // namespace

ScratchCache* ModuleScratchCache() { return gModuleCache.cache; }

bool RunScratchPass(const RenderJob& job, const WorkingValues& wv, Rng& rng,
                    ScratchArrays* arrays, ScratchCache* cache) {
  int32_t count = wv.scratchCount;
  if (count < 0) count = 0;
  if (count > kMaxScratchCount) count = kMaxScratchCount;

  // One entry more than the count, the last never used. When one block cannot
  // be had the pass is skipped; the clean-up frees those already obtained.
  const int32_t bytes = 4 * count + 4;
  float** const slots[5] = {&arrays->scratchX, &arrays->scratchY, &arrays->scratchAge,
                            &arrays->scratchStepX, &arrays->scratchStepY};
  for (float** slot : slots) {
    *slot = static_cast<float*>(NewMemBlock(bytes));
    if (*slot == nullptr) return true;
  }
  const ScratchState st = {arrays->scratchX, arrays->scratchY, arrays->scratchAge,
                           arrays->scratchStepX, arrays->scratchStepY};

  // A frame number of 0 or less replays no step.
  const int32_t frames = wv.frameNumber > 0 ? wv.frameNumber : 0;
  const Spawner spawner = MakeSpawner(wv);
  const ReplayKey key = MakeKey(wv, count);

  SeedRng(rng, 0);
  if (count > 0) {
    if (CacheMatches(cache, key, frames)) {
      RestoreFromCache(cache, st, count, rng);
      StepFrames(spawner, wv.scratchLifespan, rng, st, count, frames - cache->frame);
    } else {
      FirstSpawn(spawner, rng, st, count);
      StepFrames(spawner, wv.scratchLifespan, rng, st, count, frames);
    }
    StoreInCache(cache, key, frames, st, count, rng);
  }

  const double width = double(wv.width);
  for (int32_t i = 0; i < count; ++i) {
    const float x = st.x[i];
    const float age = st.age[i];
    if (double(age) < wv.scratchLifespan && 0.0 < double(x) && double(x) < width) {
      DrawScratch(job, wv, rng, x, age);
    }
    if (ReportAndCheckAbort(job, i + 1, count)) return false;
  }
  return true;
}

void FreeScratchArrays(ScratchArrays* arrays) {
  float** const slots[5] = {&arrays->scratchX, &arrays->scratchY, &arrays->scratchAge,
                            &arrays->scratchStepX, &arrays->scratchStepY};
  for (float** slot : slots) {
    if (*slot != nullptr) FreeMemBlock(*slot);
    *slot = nullptr;
  }
}
