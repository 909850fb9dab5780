#include "frei0r/Frei0rParams.h"

#include "render/Numerics.h"

// In the dialog's order, then the two values that only the frei0r plug-in has.
const Frei0rParamInfo kFrei0rParams[kFrei0rParamCount] = {
    {"Film Response", "Tone curve of the film: 0.24 leaves tones alone, less darkens, more lightens",
     kAmountParam, kFilmResponse},
    {"Grain Amount", "Strength of the grain", kAmountParam, kGrainAmount},
    {"Dust Size", "Length of the dust specks", kAmountParam, kDustSize},
    {"Dust Amount", "How many dust specks", kAmountParam, kDustAmount},
    {"Dust Color", "Colour of the dust specks", kColorParam, kDustColorRed},
    {"Hair Size", "Length of the hairs", kAmountParam, kHairSize},
    {"Hair Amount", "How many hairs", kAmountParam, kHairAmount},
    {"Hair Color", "Colour of the hairs", kColorParam, kHairColorRed},
    {"Scratch Amount", "How many scratches (1 = 100)", kAmountParam, kScratchAmount},
    {"Scratch Velocity", "How fast the scratches drift sideways", kAmountParam, kScratchVelocity},
    {"Scratch Lifespan", "How many frames a scratch lives (1 = 100)", kAmountParam,
     kScratchLifespan},
    {"Scratch Opacity", "How dark the scratches grow", kAmountParam, kScratchOpacity},
    {"Jitter Max Offset", "Range of the frame's vertical jumps (1 = its whole height)",
     kAmountParam, kJitterMaxOffset},
    {"Jitter Probability", "Chance of a jump in each frame (1 = every frame)", kAmountParam,
     kJitterProbability},
    {"Convert to Gray", "Turn the picture into tinted gray", kSwitchParam, kConvertToGray},
    {"Gray Tint Value", "Tint of the gray picture", kColorParam, kGrayTintRed},
    {"Flicker Speed", "How fast the brightness flickers", kAmountParam, kFlickerSpeed},
    {"Flicker Amount", "How much the brightness flickers", kAmountParam, kFlickerAmount},
    {"Reveal Back Layer", "Rows uncovered by a jump show the original frame instead of black",
     kSwitchParam, kRevealBackLayer},
    {"Film Frame Rate", "Frames per second of the film (0.24 = 24 fps): how fast scratches "
     "and flicker move with the clip's time", kFilmFrameRateParam, -1},
    {"Seed", "Another value gives other grain, dust, hairs and jitter (steps of 0.001)",
     kSeedParam, -1},
};

namespace {

const double kDefaultFilmFrameRate = 24.0;
const double kMaxFilmFrameRate = 100.0;
const double kMaxSeedNumber = 1000.0;

// 0..1, with NaN and everything outside taken to the nearest end.
double ClampUnit(double v) {
  if (!(v > 0.0)) return 0.0;
  return v > 1.0 ? 1.0 : v;
}

}  // namespace

void SetDefaultFrei0rSettings(Frei0rSettings* settings) {
  SetDefaultParams(&settings->record);
  settings->record.value[kShowDialog] = 0.0;
  settings->filmFrameRate = kDefaultFilmFrameRate;
  settings->seedNumber = 0;
}

void SetFrei0rParam(Frei0rSettings* settings, int index, const double* values) {
  if (index < 0 || index >= kFrei0rParamCount) return;
  const Frei0rParamInfo& info = kFrei0rParams[index];
  double* record = settings->record.value;
  switch (info.kind) {
    case kAmountParam:
      record[info.recordIndex] = ClampUnit(values[0]) * 100.0;
      break;
    case kSwitchParam:
      record[info.recordIndex] = values[0] >= 0.5 ? 1.0 : 0.0;
      break;
    case kColorParam:
      for (int c = 0; c < 3; ++c) {
        record[info.recordIndex + c] = double(TruncToInt(ClampUnit(values[c]) * 255.0 + 0.5));
      }
      break;
    case kFilmFrameRateParam:
      settings->filmFrameRate = ClampUnit(values[0]) * kMaxFilmFrameRate;
      break;
    case kSeedParam:
      settings->seedNumber = uint32_t(TruncToInt(ClampUnit(values[0]) * kMaxSeedNumber + 0.5));
      break;
  }
}

void GetFrei0rParam(const Frei0rSettings& settings, int index, double* values) {
  values[0] = 0.0;
  if (index < 0 || index >= kFrei0rParamCount) return;
  const Frei0rParamInfo& info = kFrei0rParams[index];
  const double* record = settings.record.value;
  switch (info.kind) {
    case kAmountParam:
      values[0] = record[info.recordIndex] / 100.0;
      break;
    case kSwitchParam:
      values[0] = TruncToInt(record[info.recordIndex]) != 0 ? 1.0 : 0.0;
      break;
    case kColorParam:
      for (int c = 0; c < 3; ++c) values[c] = record[info.recordIndex + c] / 255.0;
      break;
    case kFilmFrameRateParam:
      values[0] = settings.filmFrameRate / kMaxFilmFrameRate;
      break;
    case kSeedParam:
      values[0] = double(settings.seedNumber) / kMaxSeedNumber;
      break;
  }
}

int32_t FrameNumberAt(double timeSeconds, double filmFrameRate) {
  const int32_t frame = TruncToInt(timeSeconds * filmFrameRate + 0.5);
  return frame < 0 ? 0 : frame;
}

uint32_t FrameSeed(int32_t frameNumber, uint32_t seedNumber) {
  // The finaliser of splitmix64 over (seed number, frame number). The generator
  // only ever sees the low 31 bits of its seed in what it draws, so the mix
  // matters: a plain frame + seed would make seed 1 replay frame n + 1.
  uint64_t z = (uint64_t(seedNumber) << 32) | uint32_t(frameNumber);
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return uint32_t(z >> 32);
}
