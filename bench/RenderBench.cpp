// RenderEffect on a 24-megapixel frame (6000 x 4000) in both layouts, on one
// thread and on all (RenderThreadCount(): the cores, or PATINEX_THREADS), against
// the plain per-pixel reference of the same formulas and a memcpy of the same
// bytes, all in one run. Every time is wall-clock (the workers' time counts).
// Prints nanoseconds per pixel and the ratios at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/ParamTable.h"
#include "render/Passes.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"
#include "render/ToneKernels.h"
#include "testing/ReferenceTone.h"

namespace {

const int32_t kWidth = 6000;
const int32_t kHeight = 4000;
const double kPixels = double(kWidth) * kHeight;

struct Frame {
  bool alpha;
  int32_t rowBytes;
  std::vector<uint8_t> src;
  std::vector<uint8_t> dst;
};

// A photograph-like source: smooth gradients with some texture, so the gray,
// curve and grain see every kind of value.
Frame& GetFrame(bool alpha) {
  static std::map<bool, Frame> frames;
  Frame& f = frames[alpha];
  if (f.src.empty()) {
    f.alpha = alpha;
    f.rowBytes = kWidth * (alpha ? 4 : 3);
    f.src.resize(size_t(f.rowBytes) * kHeight);
    f.dst.resize(f.src.size());
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = f.src.data() + size_t(y) * f.rowBytes;
      for (int32_t x = 0; x < kWidth; ++x) {
        noise = noise * 1103515245u + 12345u;
        const uint32_t t = (noise >> 24) & 15;
        uint8_t* p = row + x * (alpha ? 4 : 3);
        p[0] = uint8_t((x * 255 / kWidth + t) & 255);
        p[1] = uint8_t((y * 255 / kHeight + t) & 255);
        p[2] = uint8_t(((x + y) * 127 / (kWidth + kHeight) + 64 + t) & 255);
        if (alpha) p[3] = 255;
      }
    }
  }
  return f;
}

EffectParams DefaultParams(bool toneOnly) {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kFrameNumber] = 1;  // the first render after the dialog
  if (toneOnly) {
    p.value[kDustAmount] = 0;
    p.value[kHairAmount] = 0;
    p.value[kScratchAmount] = 0;
  }
  return p;
}

RenderJob MakeJob(const EffectParams& params, Frame& f) {
  RenderJob job = {};
  job.params = &params;
  job.dstRect.bottom = int16_t(kHeight);
  job.dstRect.right = int16_t(kWidth);
  job.srcRect = job.dstRect;
  job.srcData = f.src.data();
  job.dstData = f.dst.data();
  job.srcRowBytes = f.rowBytes;
  job.dstRowBytes = f.rowBytes;
  job.srcHasAlpha = f.alpha;
  job.dstHasAlpha = f.alpha;
  return job;
}

// Seconds per pixel; the console shows it with an SI prefix ("2.3n" is 2.3 ns).
void SetPixelCounter(benchmark::State& state) {
  state.counters["time_per_pixel"] = benchmark::Counter(
      kPixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

Frame& GetFrame16(bool alpha);

// Renders the frame (bytes, or 16-bit samples) at the defaults, or their tone
// part alone, with a new seed each time, on `threads` threads with `kernel`'s rows.
void TimeRenders(benchmark::State& state, bool sixteenBits, bool alpha, bool toneOnly,
                 int32_t threads, ToneKernel kernel) {
  Frame& f = sixteenBits ? GetFrame16(alpha) : GetFrame(alpha);
  const EffectParams params = DefaultParams(toneOnly);
  RenderJob job = MakeJob(params, f);
  job.sixteenBits = sixteenBits ? 1 : 0;
  Rng rng = {0};
  RenderContext context = {&rng, nullptr, threads, kernel};
  uint32_t seed = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(RenderEffectSeeded(&job, seed++, &context));
    benchmark::ClobberMemory();
  }
  SetPixelCounter(state);
}

// Args: bytes per pixel; 1 = tone part only, 0 = the full defaults; threads.
void BM_RenderEffect(benchmark::State& state) {
  TimeRenders(state, false, state.range(0) == 4, state.range(1) != 0, int32_t(state.range(2)),
              ToneKernel::kChosen);
}

// The whole effect at the defaults with one tone kernel (registered in main for
// each kernel this processor runs): kernel, bytes per pixel, threads.
void BM_Kernel(benchmark::State& state, ToneKernel kernel, int32_t bpp, int32_t threads) {
  TimeRenders(state, false, bpp == 4, false, threads, kernel);
}

// The tone part alone at 16 bits with one kernel's rows, or with the plain rows
// the pass runs when it has no memory for its tables (plain).
void BM_Kernel16(benchmark::State& state, ToneKernel kernel, bool plain, int32_t samples,
                 int32_t threads) {
  FailTables16ForTesting(plain);
  TimeRenders(state, true, samples == 4, true, threads, kernel);
  FailTables16ForTesting(false);
}

void BM_Reference(benchmark::State& state) {
  Frame& f = GetFrame(state.range(0) == 4);
  const EffectParams params = DefaultParams(true);
  const RenderJob job = MakeJob(params, f);
  uint32_t seed = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReferenceToneRender(job, seed++));
    benchmark::ClobberMemory();
  }
  SetPixelCounter(state);
}

void BM_Memcpy(benchmark::State& state) {
  Frame& f = GetFrame(state.range(0) == 4);
  for (auto _ : state) {
    std::memcpy(f.dst.data(), f.src.data(), f.src.size());
    benchmark::ClobberMemory();
  }
  SetPixelCounter(state);
}

// Args: bytes per pixel, and for RenderEffect 1 = tone part only (no dust, hairs
// or scratches), 0 = the full defaults, then the threads: one, and all.
BENCHMARK(BM_RenderEffect)
    ->ArgsProduct({{3, 4}, {1, 0}, {1, RenderThreadCount()}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->UseRealTime();
BENCHMARK(BM_Reference)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Memcpy)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();

// The same frame at 16 bits per channel: every byte widened to its level of
// 0..32768, as a 16-bit document of the same picture.
Frame& GetFrame16(bool alpha) {
  static std::map<bool, Frame> frames;
  Frame& f = frames[alpha];
  if (f.src.empty()) {
    const Frame& f8 = GetFrame(alpha);
    f.alpha = alpha;
    f.rowBytes = 2 * f8.rowBytes;
    f.src.resize(2 * f8.src.size());
    f.dst.resize(f.src.size());
    for (size_t i = 0; i < f8.src.size(); ++i) {
      StoreSample(f.src.data() + 2 * i, uint16_t(WidenLevel(f8.src[i])));
    }
  }
  return f;
}

// Args as BM_RenderEffect's, on the 16-bit frame.
void BM_RenderEffect16(benchmark::State& state) {
  TimeRenders(state, true, state.range(0) == 4, state.range(1) != 0, int32_t(state.range(2)),
              ToneKernel::kChosen);
}

void BM_Memcpy16(benchmark::State& state) {
  Frame& f = GetFrame16(state.range(0) == 4);
  for (auto _ : state) {
    std::memcpy(f.dst.data(), f.src.data(), f.src.size());
    benchmark::ClobberMemory();
  }
  SetPixelCounter(state);
}

BENCHMARK(BM_RenderEffect16)
    ->ArgsProduct({{3, 4}, {1, 0}, {1, RenderThreadCount()}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->UseRealTime();
BENCHMARK(BM_Memcpy16)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();

// Keeps each run's wall-clock time per pixel for the summary: its own
// time_per_pixel where it has one (a picture of another size), else over the
// 6000 x 4000 frame.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> nsPerPixel;
  std::map<std::string, double> pairRatios;  // BM_ScaleRatio's auto_over_one
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const auto ratio = run.counters.find("auto_over_one");
      if (ratio != run.counters.end()) {
        pairRatios[run.benchmark_name()] = ratio->second.value;
        continue;
      }
      const double seconds = run.real_accumulated_time / double(run.iterations);
      const auto own = run.counters.find("time_per_pixel");
      nsPerPixel[run.benchmark_name()] =
          own != run.counters.end() ? own->second.value * 1e9 : seconds * 1e9 / kPixels;
    }
  }
};

// The run whose name starts with `prefix` (names carry options after the args).
double Find(const std::map<std::string, double>& ns, const std::string& prefix) {
  for (const auto& entry : ns) {
    if (entry.first.compare(0, prefix.size(), prefix) == 0) return entry.second;
  }
  return 0;
}

void PrintSummary(const std::map<std::string, double>& ns, const std::map<std::string, double>& pairs) {
  std::printf("\nSummary, wall-clock time per pixel (6000 x 4000 unless the name gives a width):\n");
  for (const auto& entry : ns) std::printf("  %-36s %8.3f ns/pixel\n", entry.first.c_str(), entry.second);
  const int32_t n = RenderThreadCount();
  for (int bpp : {3, 4}) {
    const std::string b = std::to_string(bpp);
    const double tone = Find(ns, "BM_RenderEffect/" + b + "/1/1/");
    const double full = Find(ns, "BM_RenderEffect/" + b + "/0/1/");
    const double ref = Find(ns, "BM_Reference/" + b + "/");
    const double copy = Find(ns, "BM_Memcpy/" + b + "/");
    if (tone <= 0 || full <= 0 || ref <= 0 || copy <= 0) continue;
    std::printf("%d bytes, one thread: tone part %.3f ns/pixel (goal <= 3, stretch 1.5), %.1fx "
                "faster than the reference, %.2fx a memcpy; full defaults %.3f ns/pixel\n",
                bpp, tone, ref / tone, tone / copy, full);
  }
  for (int bpp : {3, 4}) {
    const std::string b = std::to_string(bpp);
    const double one = Find(ns, "BM_RenderEffect/" + b + "/0/1/");
    const double all = Find(ns, "BM_RenderEffect/" + b + "/0/" + std::to_string(n) + "/");
    const double copy = Find(ns, "BM_Memcpy/" + b + "/");
    if (one <= 0 || all <= 0 || copy <= 0) continue;
    std::printf("threads %d bytes: 1 thread %.3f ns/pixel, %d threads %.3f ns/pixel, speed-up %.2f, "
                "%.2f x a memcpy\n",
                bpp, one, n, all, one / all, all / copy);
  }
  for (int width : {6000, 3840}) {
    for (int threads : {1, n}) {
      const std::string at = "BM_Scale/width:" + std::to_string(width);
      const std::string t = "/threads:" + std::to_string(threads) + "/";
      const double autoScale = Find(ns, at + "/scale:0" + t);
      const double one = Find(ns, at + "/scale:1" + t);
      const double pair = Find(pairs, "BM_ScaleRatio/width:" + std::to_string(width) + t);
      if (autoScale <= 0 || one <= 0) continue;
      std::printf("Scale, width %d, %d thread(s): Auto %.3f ns/pixel, Scale 1 %.3f, Auto / Scale 1 %.2f; "
                  "the median of renders in turn %.2f (goal <= 1.3)\n",
                  width, threads, autoScale, one, autoScale / one, pair);
    }
  }
  std::printf("\nTone kernels, whole effect at the defaults (the plain formulas: the tone part alone):\n");
  for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
    const std::string name = ToneKernelName(ToneKernel(k));
    for (int bpp : {3, 4}) {
      const std::string b = std::to_string(bpp);
      const double one = Find(ns, "BM_Kernel/" + name + "/" + b + "/1/");
      const double all = Find(ns, "BM_Kernel/" + name + "/" + b + "/" + std::to_string(n) + "/");
      const double copy = Find(ns, "BM_Memcpy/" + b + "/");
      const double ref = Find(ns, "BM_Reference/" + b + "/");
      if (one <= 0 || all <= 0 || copy <= 0 || ref <= 0) continue;
      std::printf("kernel %s %d bytes: 1 thread %.3f ns/pixel (%.2f x a memcpy), %d threads %.3f "
                  "ns/pixel (%.2f x a memcpy); the plain formulas %.1f ns/pixel, %.0fx slower than "
                  "one thread\n",
                  name.c_str(), bpp, one, one / copy, n, all, all / copy, ref, ref / one);
    }
  }
}

// The 16-bit rows beside the 8-bit ones: one thread and all, against a memcpy
// of the 16-bit frame; then each kernel's 16-bit rows (the tone part alone).
void PrintSummary16(const std::map<std::string, double>& ns) {
  const int32_t n = RenderThreadCount();
  for (int bpp : {3, 4}) {
    const std::string b = std::to_string(bpp);
    const double tone8 = Find(ns, "BM_RenderEffect/" + b + "/1/1/");
    const double tone = Find(ns, "BM_RenderEffect16/" + b + "/1/1/");
    const double full = Find(ns, "BM_RenderEffect16/" + b + "/0/1/");
    const double all = Find(ns, "BM_RenderEffect16/" + b + "/0/" + std::to_string(n) + "/");
    const double copy = Find(ns, "BM_Memcpy16/" + b + "/");
    if (tone <= 0 || full <= 0 || all <= 0 || copy <= 0) continue;
    std::printf("16 bits, %d samples: tone part %.3f ns/pixel on one thread (8 bits: %.3f), "
                "%.2fx a memcpy of 16-bit pixels; full defaults %.3f ns/pixel on one thread, "
                "%.3f on %d (%.2fx a memcpy)\n",
                bpp, tone, tone8, tone / copy, full, all, n, all / copy);
  }
  std::printf("\n16-bit tone kernels, tone part alone:\n");
  for (int bpp : {3, 4}) {
    const std::string b = std::to_string(bpp);
    const double copy = Find(ns, "BM_Memcpy16/" + b + "/");
    const double plain = Find(ns, "BM_Kernel16/plain/" + b + "/1/");
    for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
      const std::string name = ToneKernelName(ToneKernel(k));
      const double one = Find(ns, "BM_Kernel16/" + name + "/" + b + "/1/");
      const double all = Find(ns, "BM_Kernel16/" + name + "/" + b + "/" + std::to_string(n) + "/");
      if (one <= 0 || all <= 0 || copy <= 0 || plain <= 0) continue;
      std::printf("16-bit kernel %s %d samples: 1 thread %.3f ns/pixel (%.2f x a memcpy), %d threads "
                  "%.3f ns/pixel (%.2f x a memcpy); the plain rows %.3f ns/pixel, %.1fx slower than "
                  "one thread\n",
                  name.c_str(), bpp, one, one / copy, n, all, all / copy, plain, plain / one);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
    if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;  // another processor's
    for (int32_t bpp : {3, 4}) {
      std::vector<int32_t> threadCounts = {1};
      if (RenderThreadCount() > 1) threadCounts.push_back(RenderThreadCount());
      for (int32_t threads : threadCounts) {
        const std::string name = std::string("BM_Kernel/") + ToneKernelName(ToneKernel(k)) + "/" +
                                 std::to_string(bpp) + "/" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), BM_Kernel, ToneKernel(k), bpp, threads)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5)
            ->UseRealTime();
      }
    }
  }
  for (int32_t bpp : {3, 4}) {
    const std::string plain = "BM_Kernel16/plain/" + std::to_string(bpp) + "/1";
    benchmark::RegisterBenchmark(plain.c_str(), BM_Kernel16, ToneKernel::kScalar, true, bpp, 1)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.5)
        ->UseRealTime();
    for (int32_t k = int32_t(ToneKernel::kScalar); k <= int32_t(BestToneKernel()); ++k) {
      if (ToneRowsOf(ToneKernel(k)) == nullptr) continue;
      std::vector<int32_t> threadCounts = {1};
      if (RenderThreadCount() > 1) threadCounts.push_back(RenderThreadCount());
      for (int32_t threads : threadCounts) {
        const std::string name = std::string("BM_Kernel16/") + ToneKernelName(ToneKernel(k)) + "/" +
                                 std::to_string(bpp) + "/" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), BM_Kernel16, ToneKernel(k), false, bpp, threads)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5)
            ->UseRealTime();
      }
    }
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter.nsPerPixel, reporter.pairRatios);
  PrintSummary16(reporter.nsPerPixel);
  benchmark::Shutdown();
  return 0;
}
