// The worst single f0r_update calls: a 3840 x 2160 frame with every amount at
// its largest (100 scratches living 100 frames, 100 dust specks and hairs of
// the largest size), Film Frame Rate 100 fps. The scratches of film frame n cost
// n frame steps the first time an instance comes near n; the film repeats after
// kFilmFrameCycle frames, and the instance keeps checkpoints, so that
//   first seek   a new instance asked for the last frame of the cycle,
//   seek back    then for the frame just before a checkpoint (the longest
//                replay from one),
//   next frame   then for the frame after that one,
// each stay bounded. Each iteration times one call; the Time column is its cost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/Frei0rParams.h"

namespace {

const unsigned kWidth = 3840;
const unsigned kHeight = 2160;
const double kRate = 100.0;  // Film Frame Rate 1.0

std::vector<uint32_t>& Frame() {
  static std::vector<uint32_t> frame = [] {
    std::vector<uint32_t> f(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint32_t(i * 2654435761u) | 0xFF000000u;
    return f;
  }();
  return frame;
}

f0r_instance_t LargestSettingsInstance() {
  f0r_instance_t instance = f0r_construct(kWidth, kHeight);
  for (int i = 0; i < kFrei0rParamCount; ++i) {
    f0r_param_info_t info;
    f0r_get_param_info(&info, i);
    if (info.type == F0R_PARAM_COLOR) continue;
    // Every number and switch at 1 (Seed included), except Film Response,
    // whose 1 only changes the tone table.
    double one = 1.0;
    f0r_set_param_value(instance, &one, i);
  }
  return instance;
}

double TimeOfFrame(int32_t frame) { return double(frame) / kRate; }

// Arg: 0 first seek, 1 seek back, 2 next frame after the seek back.
void BM_WorstUpdate(benchmark::State& state) {
  const int32_t last = kFilmFrameCycle - 1;
  const int32_t beforeCheckpoint = kFilmFrameCycle / 2 - 1;
  std::vector<uint32_t> out(Frame().size());
  for (auto _ : state) {
    state.PauseTiming();
    f0r_instance_t instance = LargestSettingsInstance();
    double time = TimeOfFrame(last);
    if (state.range(0) >= 1) {
      f0r_update(instance, time, Frame().data(), out.data());
      time = TimeOfFrame(beforeCheckpoint);
    }
    if (state.range(0) >= 2) {
      f0r_update(instance, time, Frame().data(), out.data());
      time = TimeOfFrame(beforeCheckpoint + 1);
    }
    state.ResumeTiming();
    f0r_update(instance, time, Frame().data(), out.data());
    benchmark::ClobberMemory();
    state.PauseTiming();
    f0r_destruct(instance);
    state.ResumeTiming();
  }
  static const char* const kNames[] = {"first seek to the cycle's last frame",
                                       "seek back to just before a checkpoint",
                                       "next frame after a seek"};
  state.SetLabel(kNames[state.range(0)]);
}
BENCHMARK(BM_WorstUpdate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
