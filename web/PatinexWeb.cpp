// The renderer as the browser page's worker calls it: the same render/ code,
// set up and seeded as the frei0r filter does (frei0r/Patinex0r.cpp), so that a
// frame rendered here has patinex.so's bytes for the same settings, frame and
// seed. Pixels are the canvas's RGBA, the renderer's 4-byte layout; the
// renderer never writes alpha, so it passes through.
//
// The worker calls, through the exports below (all plain C):
//   patinex_new()                         a setting and its scratch replay cache
//   patinex_set(s, index, r, g, b)        frei0r parameter `index` (values 0..1;
//                                         a colour's three, else r alone)
//   patinex_render(s, src, dst, w, h, frame)
//   patinex_reduce(src, w, h, dst, dw, dh)  the preview's reduction by averaging
//   patinex_kernel()                      the tone rows' kernel, by name
// One thread: the page runs in a worker without shared memory (see web/README
// lines in the project README), and the render's band runner starts no workers
// when it is given one thread.
#include <emscripten.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "frei0r/Frei0rParams.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScratchCache.h"
#include "render/ToneKernels.h"

namespace {

struct WebSetting {
  Frei0rSettings settings;
  ScratchCache* scratchCache;
};

// Progress to the page: the share of the tone pass's rows done, at most once
// per percent (the worker posts it to the page at once).
EM_JS(void, PostRenderProgress, (int32_t done, int32_t total), {
  postMessage({kind : "progress", done : done, total : total});
});

int32_t gLastPercent = -1;

void PATINEX_CDECL ReportProgress(int32_t done, int32_t total) {
  if (total <= 0) return;
  const int32_t percent = int32_t(int64_t(done) * 100 / total);
  if (percent == gLastPercent) return;
  gLastPercent = percent;
  PostRenderProgress(done, total);
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void* patinex_new() {
  WebSetting* s = new (std::nothrow) WebSetting;
  if (s == nullptr) return nullptr;
  SetDefaultFrei0rSettings(&s->settings);
  s->scratchCache = NewScratchCache();
  return s;
}

EMSCRIPTEN_KEEPALIVE void patinex_delete(void* setting) {
  WebSetting* s = static_cast<WebSetting*>(setting);
  if (s == nullptr) return;
  DeleteScratchCache(s->scratchCache);
  delete s;
}

EMSCRIPTEN_KEEPALIVE void patinex_set(void* setting, int index, double r, double g, double b) {
  WebSetting* s = static_cast<WebSetting*>(setting);
  if (s == nullptr) return;
  const double values[3] = {r, g, b};
  SetFrei0rParam(&s->settings, index, values);
}

// Renders frame `frame` of the film from src into dst (both w x h RGBA, rows
// whole): dst starts as a copy of src, as in the frei0r filter. 1 when rendered;
// 0 for a size the renderer does not take (a side of 0 or over 32767), src and
// dst the same buffer, or no setting.
EMSCRIPTEN_KEEPALIVE int patinex_render(void* setting, const uint8_t* src, uint8_t* dst,
                                        int32_t width, int32_t height, int32_t frame,
                                        int32_t reportProgress) {
  WebSetting* s = static_cast<WebSetting*>(setting);
  if (s == nullptr || src == nullptr || dst == nullptr || src == dst) return 0;
  if (width < 1 || height < 1 || width > 32767 || height > 32767) return 0;
  const int32_t rowBytes = width * 4;
  std::memcpy(dst, src, size_t(rowBytes) * size_t(height));

  Frei0rSettings settings = s->settings;
  const int32_t frameNumber = frame < 0 ? 0 : frame % kFilmFrameCycle;
  settings.record.value[kFrameNumber] = double(frameNumber);
  const Rect rect = {0, 0, int16_t(height), int16_t(width)};
  gLastPercent = -1;
  RenderJob job = MakeRenderJob(&settings.record, rect, true, src, rowBytes, dst, rowBytes,
                                reportProgress != 0 ? ReportProgress : nullptr, nullptr);
  job.scale = settings.scale;
  Rng rng = {0};
  RenderContext context = {&rng, s->scratchCache, 1};
  return RenderEffectSeeded(&job, FrameSeed(frameNumber, settings.seedNumber), &context) == 1;
}

// The picture reduced to dw x dh by averaging: each destination pixel is the
// rounded mean of the source pixels whose centres fall in its share of the
// picture (x * w / dw up to (x + 1) * w / dw, the same down), alpha included.
// 0 for sizes that do not reduce (a side of 0, or larger than the source's).
EMSCRIPTEN_KEEPALIVE int patinex_reduce(const uint8_t* src, int32_t width, int32_t height,
                                        uint8_t* dst, int32_t dw, int32_t dh) {
  if (src == nullptr || dst == nullptr || width < 1 || height < 1 || dw < 1 || dh < 1 ||
      dw > width || dh > height) {
    return 0;
  }
  uint64_t* sums = new (std::nothrow) uint64_t[size_t(dw) * 4];
  if (sums == nullptr) return 0;
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t top = int32_t(int64_t(y) * height / dh);
    const int32_t bottom = int32_t(int64_t(y + 1) * height / dh);
    std::memset(sums, 0, size_t(dw) * 4 * sizeof(uint64_t));
    for (int32_t sy = top; sy < bottom; ++sy) {
      const uint8_t* row = src + size_t(sy) * size_t(width) * 4;
      for (int32_t x = 0; x < dw; ++x) {
        const int32_t left = int32_t(int64_t(x) * width / dw);
        const int32_t right = int32_t(int64_t(x + 1) * width / dw);
        uint64_t* sum = sums + 4 * x;
        for (int32_t sx = left; sx < right; ++sx) {
          const uint8_t* p = row + 4 * sx;
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
          sum[3] += p[3];
        }
      }
    }
    uint8_t* out = dst + size_t(y) * size_t(dw) * 4;
    for (int32_t x = 0; x < dw; ++x) {
      const int32_t left = int32_t(int64_t(x) * width / dw);
      const int32_t right = int32_t(int64_t(x + 1) * width / dw);
      const uint64_t count = uint64_t(right - left) * uint64_t(bottom - top);
      for (int c = 0; c < 4; ++c) out[4 * x + c] = uint8_t((sums[4 * x + c] + count / 2) / count);
    }
  }
  delete[] sums;
  return 1;
}

EMSCRIPTEN_KEEPALIVE const char* patinex_kernel() {
  return ToneKernelName(RenderToneKernel());
}

}  // extern "C"
