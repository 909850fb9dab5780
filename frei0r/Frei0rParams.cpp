#include "frei0r/Frei0rParams.h"

#include <cmath>
#include <cstring>

#include "render/Numerics.h"

const char kFilterDescription[] =
    "Old, worn film: tone curve, tinted gray, flicker, jitter, grain, dust, hairs and "
    "scratches that drift from frame to frame";

namespace {

int CountFrei0rParams() {
  int count = 0;
  for (int i = 0; i < kParamRowCount; ++i) count += kParamRows[i].inFrei0r ? 1 : 0;
  return count;
}

// 0..1, with NaN and everything outside taken to the nearest end.
double ClampUnit(double v) {
  if (!(v > 0.0)) return 0.0;
  return v > 1.0 ? 1.0 : v;
}

// A frei0r value onto the row's range, and back.
double FromUnit(const ParamRow& row, double v) {
  const double value = row.low + ClampUnit(v) * (row.high - row.low);
  return row.wholeNumbers ? double(TruncToInt(value + 0.5)) : value;
}

double ToUnit(const ParamRow& row, double value) {
  return (value - row.low) / (row.high - row.low);
}

bool IsRow(const ParamRow* row, int position) { return row == &kParamRows[position]; }

}  // namespace

const int kFrei0rParamCount = CountFrei0rParams();

const ParamRow* Frei0rParam(int index) {
  if (index < 0) return nullptr;
  for (int i = 0; i < kParamRowCount; ++i) {
    if (kParamRows[i].inFrei0r && index-- == 0) return &kParamRows[i];
  }
  return nullptr;
}

void SetDefaultFrei0rSettings(Frei0rSettings* settings) {
  SetDefaultParams(&settings->record);
  settings->record.value[kShowDialog] = 0.0;
  settings->filmFrameRate = kParamRows[kFilmFrameRateRow].defaults[0];
  settings->seedNumber = uint32_t(kParamRows[kSeedRow].defaults[0]);
  settings->scale = kParamRows[kScaleRow].defaults[0];
}

void SetFrei0rParam(Frei0rSettings* settings, int index, const double* values) {
  const ParamRow* row = Frei0rParam(index);
  if (row == nullptr) return;
  double* record = settings->record.value;
  if (IsRow(row, kScaleRow)) {
    settings->scale = FromUnit(*row, values[0]);
  } else if (row->kind == kSwitchParam) {
    record[row->recordIndex] = values[0] >= 0.5 ? 1.0 : 0.0;
  } else if (row->recordIndex >= 0) {
    for (int c = 0; c < ParamEntryCount(*row); ++c) {
      record[row->recordIndex + c] = FromUnit(*row, values[c]);
    }
  } else if (IsRow(row, kFilmFrameRateRow)) {
    settings->filmFrameRate = FromUnit(*row, values[0]);
  } else if (IsRow(row, kSeedRow)) {
    settings->seedNumber = uint32_t(FromUnit(*row, values[0]));
  }
}

void GetFrei0rParam(const Frei0rSettings& settings, int index, double* values) {
  values[0] = 0.0;
  const ParamRow* row = Frei0rParam(index);
  if (row == nullptr) return;
  const double* record = settings.record.value;
  if (IsRow(row, kScaleRow)) {
    values[0] = ToUnit(*row, settings.scale);
  } else if (row->kind == kSwitchParam) {
    values[0] = TruncToInt(record[row->recordIndex]) != 0 ? 1.0 : 0.0;
  } else if (row->recordIndex >= 0) {
    for (int c = 0; c < ParamEntryCount(*row); ++c) {
      values[c] = ToUnit(*row, record[row->recordIndex + c]);
    }
  } else if (IsRow(row, kFilmFrameRateRow)) {
    values[0] = ToUnit(*row, settings.filmFrameRate);
  } else if (IsRow(row, kSeedRow)) {
    values[0] = ToUnit(*row, double(settings.seedNumber));
  }
}

int32_t FrameNumberAt(double timeSeconds, double filmFrameRate) {
  const int32_t frame = TruncToInt(timeSeconds * filmFrameRate + 0.5);
  return frame < 0 ? 0 : frame % kFilmFrameCycle;
}

bool IsClipTime(double timeSeconds) {
  return std::isfinite(timeSeconds) && timeSeconds >= -1e9;
}

int32_t FrameNumberOfCount(uint64_t framesGiven) {
  return int32_t(framesGiven % uint64_t(kFilmFrameCycle));
}

bool IsLibavfilterPath(const char* callerPath) {
  if (callerPath == nullptr) return false;
  const char* slash = std::strrchr(callerPath, '/');
  const char* name = slash != nullptr ? slash + 1 : callerPath;
  return std::strncmp(name, "libavfilter.", 12) == 0;
}

double HostTimeInSeconds(double time, const char* callerPath) {
  return IsLibavfilterPath(callerPath) ? time / 1000.0 : time;
}

int FfmpegLineAlignment(unsigned avfilterVersion) {
  return avfilterVersion >> 16 == 8 ? 16 : 1;
}

size_t FfmpegRowBytes(unsigned width, int lineAlignment) {
  const size_t align = lineAlignment > 1 ? size_t(lineAlignment) : 1;
  return (size_t(width) + align - 1) / align * align * 4;
}
