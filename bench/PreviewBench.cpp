// The dialog's preview on a 24-megapixel photograph (6000 x 4000, 3 bytes), at
// the defaults, after one change of a value: the quick render of the reduced copy
// (what shows at once, marked), and the update that replaces it, the full render
// reduced to the preview's size by averaging, at Auto (the 64-bit module's
// default) and at Scale 1 (the 32-bit module), on all threads as the preview's
// worker renders; the reduction alone beside them. A preview of 206 x 137 is what
// the dialog's frame holds for a 3:2 picture. (main is in RenderBench.cpp.)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/BenchFrame.h"
#include "host/ParamTable.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScratchCache.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewReduction.h"

namespace {

const int32_t kWidth = 6000;
const int32_t kHeight = 4000;
const int32_t kPreviewWidth = 206;
const int32_t kPreviewHeight = 137;

struct PreviewFrame {
  std::vector<uint8_t> src, dst, proxySrc, proxyDst, preview;
};

PreviewFrame& Frame() {
  static PreviewFrame f;
  if (f.src.empty()) {
    f.src = RampWithNoise(kWidth, kHeight, 7);
    f.dst.resize(f.src.size());
    const size_t proxyBytes = size_t(PreviewRowBytes(kPreviewWidth)) * kPreviewHeight;
    f.proxySrc.assign(proxyBytes, 90);
    f.proxyDst.resize(proxyBytes);
    f.preview.resize(proxyBytes);
  }
  return f;
}

EffectParams PreviewParams() {
  EffectParams params;
  SetDefaultParams(&params);
  params.value[kFrameNumber] = 1;  // the frame OK renders first
  return params;
}

// The quick render of the reduced copy, at Auto.
void BM_PreviewQuick(benchmark::State& state) {
  PreviewFrame& f = Frame();
  const EffectParams params = PreviewParams();
  RenderJob job = MakeRenderJob(&params, Rect{0, 0, int16_t(kPreviewHeight), int16_t(kPreviewWidth)},
                                false, f.proxySrc.data(), PreviewRowBytes(kPreviewWidth),
                                f.proxyDst.data(), PreviewRowBytes(kPreviewWidth), nullptr,
                                nullptr);
  job.scale = kScaleAuto;
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, 1};
  for (auto _ : state) benchmark::DoNotOptimize(RenderEffectSeeded(&job, 1234, &context));
}

// Arg: Scale (0: Auto, 1). The full render and its reduction, as one update.
void BM_PreviewUpdate(benchmark::State& state) {
  PreviewFrame& f = Frame();
  const EffectParams params = PreviewParams();
  RenderJob job = MakeRenderJob(&params, Rect{0, 0, int16_t(kHeight), int16_t(kWidth)}, false,
                                f.src.data(), kWidth * 3, f.dst.data(), kWidth * 3, nullptr,
                                nullptr);
  job.scale = double(state.range(0));
  ScratchCache* cache = NewScratchCache();
  Rng rng = {0};
  RenderContext context = {&rng, cache, 0};
  const PictureView picture = {f.dst.data(), kWidth * 3, kWidth, kHeight, false, false};
  for (auto _ : state) {
    benchmark::DoNotOptimize(RenderEffectSeeded(&job, 1234, &context));
    benchmark::DoNotOptimize(ReducePicture(picture, f.preview.data(),
                                           PreviewRowBytes(kPreviewWidth), kPreviewWidth,
                                           kPreviewHeight));
  }
  DeleteScratchCache(cache);
}

// The reduction by averaging alone.
void BM_PreviewReduce(benchmark::State& state) {
  PreviewFrame& f = Frame();
  const PictureView picture = {f.src.data(), kWidth * 3, kWidth, kHeight, false, false};
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReducePicture(picture, f.preview.data(),
                                           PreviewRowBytes(kPreviewWidth), kPreviewWidth,
                                           kPreviewHeight));
  }
}

}  // namespace

BENCHMARK(BM_PreviewQuick)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
BENCHMARK(BM_PreviewUpdate)->ArgName("scale")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_PreviewReduce)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
