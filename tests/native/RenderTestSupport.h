// Helpers for the renderer's tests: images with padded rows (the padding must
// survive every render), jobs, a render with a known seed, and callbacks that
// record progress and can ask to stop.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "host/ParamTable.h"
#include "render/CallConv.h"
#include "render/Random.h"
#include "render/RenderJob.h"

namespace test {

const uint8_t kPadByte = 0xA5;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  bool alpha = false;
  int32_t rowBytes = 0;
  std::vector<uint8_t> bytes;

  int32_t Bpp() const { return alpha ? 4 : 3; }
  uint8_t* At(int32_t x, int32_t y) { return bytes.data() + y * rowBytes + x * Bpp(); }
  const uint8_t* At(int32_t x, int32_t y) const {
    return bytes.data() + y * rowBytes + x * Bpp();
  }
  // Every byte between a row's last pixel and the next row still holds kPadByte.
  bool PaddingIntact() const {
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t i = width * Bpp(); i < rowBytes; ++i) {
        if (bytes[size_t(y) * rowBytes + i] != kPadByte) return false;
      }
    }
    return true;
  }
};

// An image whose pixels are all `fill` (alpha byte included), with 5 bytes of
// padding after every row.
inline Image MakeImage(int32_t width, int32_t height, bool alpha, uint8_t fill = 0) {
  Image im;
  im.width = width;
  im.height = height;
  im.alpha = alpha;
  im.rowBytes = width * im.Bpp() + 5;
  im.bytes.assign(size_t(im.rowBytes) * size_t(height > 0 ? height : 0), kPadByte);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t i = 0; i < width * im.Bpp(); ++i) im.bytes[size_t(y) * im.rowBytes + i] = fill;
  }
  return im;
}

// A repeatable pattern with every channel value somewhere, alpha included.
inline Image MakePattern(int32_t width, int32_t height, bool alpha, uint32_t salt = 1) {
  Image im = MakeImage(width, height, alpha);
  uint32_t s = salt * 2654435761u + 12345u;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < im.Bpp(); ++c) {
        s = s * 1664525u + 1013904223u;
        im.At(x, y)[c] = uint8_t(s >> 24);
      }
    }
  }
  return im;
}

// Parameters under which every pass but the tone pass draws nothing and the
// tone pass changes nothing: Film Response 24 (exponent exactly 1), no grain,
// no gray, no flicker, no jitter, no dust, hairs or scratches.
inline EffectParams QuietParams() {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kFilmResponse] = 24;
  p.value[kGrainAmount] = 0;
  p.value[kConvertToGray] = 0;
  p.value[kFlickerSpeed] = 0;
  p.value[kJitterProbability] = 0;
  p.value[kDustAmount] = 0;
  p.value[kHairAmount] = 0;
  p.value[kScratchAmount] = 0;
  return p;
}

// The defaults (grain, gray, jitter, flicker on) without dust, hairs and
// scratches: everything the tone part of the renderer does, and nothing else.
inline EffectParams ToneDefaults() {
  EffectParams p;
  SetDefaultParams(&p);
  p.value[kShowDialog] = 0;
  p.value[kDustAmount] = 0;
  p.value[kHairAmount] = 0;
  p.value[kScratchAmount] = 0;
  return p;
}

// A job over the whole of dst from src, as the renderer's callers build one;
// src and dst may differ in layout (8-bit Image or the 16-bit tests' image).
template <typename Picture>
RenderJob MakeJob(const EffectParams& params, const Picture& src, Picture& dst) {
  Rect rect = {};
  rect.bottom = int16_t(dst.height);
  rect.right = int16_t(dst.width);
  RenderJob job = MakeRenderJob(&params, rect, src.alpha, src.bytes.data(), src.rowBytes,
                                dst.bytes.data(), dst.rowBytes, nullptr, nullptr);
  job.dstHasAlpha = dst.alpha ? 1 : 0;
  return job;
}

inline long& ClockValue() {
  static long value = 0;
  return value;
}
inline long PATINEX_CDECL FixedClock() { return ClockValue(); }

// RenderEffect as the host calls it, with the clock reading `seed`.
inline int32_t RenderWithSeed(const RenderJob& job, uint32_t seed) {
  ClockValue() = long(seed);
  SetClockSourceForTesting(FixedClock);
  const int32_t result = RenderEffect(&job);
  SetClockSourceForTesting(nullptr);
  return result;
}

// Host callbacks that record every progress report and answer "stop" at the
// abort test that follows report number `stopAfter` (0: never). They count the
// calls that come from any thread but the one that set them up (the host's).
struct CallbackLog {
  std::vector<std::pair<int32_t, int32_t>> progress;
  int32_t abortCalls = 0;
  int32_t stopAfter = 0;
  std::thread::id hostThread;
  int32_t callsFromOtherThreads = 0;
};
inline CallbackLog& Log() {
  static CallbackLog log;
  return log;
}
inline void CountIfOffThread() {
  if (std::this_thread::get_id() != Log().hostThread) ++Log().callsFromOtherThreads;
}
inline void PATINEX_CDECL RecordProgress(int32_t done, int32_t total) {
  CountIfOffThread();
  Log().progress.push_back(std::make_pair(done, total));
}
inline uint8_t PATINEX_CDECL AnswerAbort() {
  CountIfOffThread();
  ++Log().abortCalls;
  return (Log().stopAfter > 0 && Log().abortCalls >= Log().stopAfter) ? 1 : 0;
}
inline void WatchCallbacks(RenderJob* job, int32_t stopAfter) {
  Log() = CallbackLog();
  Log().stopAfter = stopAfter;
  Log().hostThread = std::this_thread::get_id();
  job->progressProc = RecordProgress;
  job->abortProc = AnswerAbort;
}

}  // namespace test
