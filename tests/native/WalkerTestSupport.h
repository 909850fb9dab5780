// Shared by the dust, hair and scratch tests: images with a row stride wider
// than their pixels, jobs over them, and host callbacks that record progress
// and answer the abort test on demand.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "host/ParamTable.h"
#include "render/Passes.h"
#include "render/RenderJob.h"
#include "render/WorkingValues.h"
#include "tests/native/WalkerModel.h"

// A patterned image; the 3 bytes after each row's pixels are padding that no
// pass may touch (they hold 0xEE).
inline ModelImage PatternImage(int32_t width, int32_t height, int32_t bytesPerPixel) {
  ModelImage img{width, height, bytesPerPixel, width * bytesPerPixel + 3, {}};
  img.bytes.assign(size_t(img.rowBytes) * size_t(height > 0 ? height : 0) + 1, 0xEE);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < bytesPerPixel; ++c) img.At(x, y)[c] = uint8_t(x * 37 + y * 11 + c * 71 + 5);
  return img;
}

inline ModelImage UniformImage(int32_t width, int32_t height, int32_t bytesPerPixel, uint8_t v) {
  ModelImage img = PatternImage(width, height, bytesPerPixel);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t c = 0; c < 3; ++c) img.At(x, y)[c] = v;
  return img;
}

// Defaults, but with a tone pass that leaves every channel as it is (Film
// Response 24 gives the exponent 1; no grain, gray, flicker or jitter), so a
// whole render is the source plus dust, hairs and scratches.
inline EffectParams PlainParams() {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kFilmResponse] = 24;
  p.value[kGrainAmount] = 0;
  p.value[kConvertToGray] = 0;
  p.value[kFlickerSpeed] = 0;
  p.value[kJitterProbability] = 0;
  p.value[kShowDialog] = 0;
  return p;
}

struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;
  int32_t abortAfterTotal = -1;  // answer true after the first report with this total
  int32_t abortCalls = 0;
};
inline ProgressLog gProgressLog;

inline void PATINEX_CDECL RecordProgress(int32_t done, int32_t total) {
  gProgressLog.calls.emplace_back(done, total);
}
inline uint8_t PATINEX_CDECL AnswerAbort() {
  ++gProgressLog.abortCalls;
  const auto& c = gProgressLog.calls;
  return !c.empty() && c.back().second == gProgressLog.abortAfterTotal;
}

// The reports with a given total, in order.
inline std::vector<int32_t> ReportsWithTotal(int32_t total) {
  std::vector<int32_t> done;
  for (const auto& call : gProgressLog.calls)
    if (call.second == total) done.push_back(call.first);
  return done;
}

inline void ResetProgressLog(int32_t abortAfterTotal = -1) {
  gProgressLog = ProgressLog();
  gProgressLog.abortAfterTotal = abortAfterTotal;
}

// A job over dst (and src, when given): the rectangle sits away from the origin,
// so sizes must come from its differences.
inline RenderJob JobOver(const EffectParams& p, ModelImage& dst, const ModelImage* src = nullptr) {
  RenderJob job{};
  job.params = &p;
  job.dstRect = Rect{int16_t(20), int16_t(30), int16_t(20 + dst.height), int16_t(30 + dst.width)};
  job.srcRect = job.dstRect;
  job.dstData = dst.bytes.data();
  job.dstRowBytes = dst.rowBytes;
  job.dstHasAlpha = dst.bytesPerPixel == 4;
  job.srcData = src != nullptr ? src->bytes.data() : dst.bytes.data();
  job.srcRowBytes = src != nullptr ? src->rowBytes : dst.rowBytes;
  job.srcHasAlpha = job.dstHasAlpha;
  job.progressProc = RecordProgress;
  job.abortProc = AnswerAbort;
  return job;
}

inline WorkingValues PassValues(const RenderJob& job, int32_t jitterOffset) {
  WorkingValues wv = ComputeWorkingValues(*job.params, job);
  wv.jitterOffset = jitterOffset;
  return wv;
}
