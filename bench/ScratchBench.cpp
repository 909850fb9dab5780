// A clip, frame after frame: frame n rendered right after frame n - 1 (same
// parameters, same 6000 x 4000 size), for n = 1, 10 000 and 100 000, through the
// renderer's replay cache and through the full replay from frame 0 that the
// cache saves. The Time column is the cost of one frame. (main is in
// RenderBench.cpp: one benchmark program.)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "host/ParamTable.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScratchCache.h"

namespace {

const int32_t kClipWidth = 6000;
const int32_t kClipHeight = 4000;

struct ClipFrame {
  std::vector<uint8_t> src, dst;
  EffectParams params;
  RenderJob job;
};

// A 3-byte frame with some structure, and a job over it.
ClipFrame& SharedClipFrame() {
  static ClipFrame* frame = [] {
    ClipFrame* f = new ClipFrame;
    f->src.resize(size_t(kClipWidth) * kClipHeight * 3);
    for (int32_t y = 0; y < kClipHeight; ++y)
      for (int32_t x = 0; x < kClipWidth; ++x)
        for (int32_t c = 0; c < 3; ++c)
          f->src[(size_t(y) * kClipWidth + x) * 3 + c] = uint8_t((x * 7 + y * 3 + c * 50) ^ (x >> 4));
    f->dst.resize(f->src.size());
    SetDefaultParams(&f->params);
    RenderJob& job = f->job;
    job = RenderJob{};
    job.params = &f->params;
    job.dstRect = Rect{0, 0, int16_t(kClipHeight), int16_t(kClipWidth)};
    job.srcRect = job.dstRect;
    job.srcData = f->src.data();
    job.dstData = f->dst.data();
    job.srcRowBytes = job.dstRowBytes = kClipWidth * 3;
    return f;
  }();
  return *frame;
}

// Args: frame n; cached 1 (a replay cache that lives across the frames, as the
// module's does) or 0 (no cache: every frame replays from frame 0); the number
// of scratches (10, the default, or 100, the dialog's largest). Only frame n
// is timed.
void BM_ClipNextFrame(benchmark::State& state) {
  const int32_t frame = int32_t(state.range(0));
  ClipFrame& f = SharedClipFrame();
  SetDefaultParams(&f.params);
  f.params.value[kScratchAmount] = double(state.range(2));
  ScratchCache* cache = state.range(1) != 0 ? NewScratchCache() : nullptr;
  RenderContext context = {&ModuleRng(), cache, 0};
  uint32_t seed = 1;
  for (auto _ : state) {
    state.PauseTiming();
    f.params.value[kFrameNumber] = frame - 1;
    RenderEffectSeeded(&f.job, seed++, &context);
    f.params.value[kFrameNumber] = frame;
    state.ResumeTiming();
    benchmark::DoNotOptimize(RenderEffectSeeded(&f.job, seed++, &context));
    benchmark::ClobberMemory();
  }
  // Seconds per pixel; the console shows it with an SI prefix ("2.3n" is 2.3 ns).
  state.counters["time_per_pixel"] =
      benchmark::Counter(double(kClipWidth) * kClipHeight,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  DeleteScratchCache(cache);
}
BENCHMARK(BM_ClipNextFrame)
    ->ArgNames({"frame", "cached", "scratches"})
    ->ArgsProduct({{1, 10000, 100000}, {1, 0}, {10, 100}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

}  // namespace
