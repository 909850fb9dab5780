// RenderEffect on any parameter record (a host may hand back one from an older
// or damaged file), any size from 1 to 64 pixels a side, both layouts, padded
// rows, and a frame number up to 10000 stamped over the record's as the
// module's frame counter does. Guard bytes surround both buffers.
//
// Input: the layout fields below, then the 216-byte record, then one byte for
// the job's Scale (zeros where the input ends): 0 is Scale 1, 1 Auto, 2 a NaN,
// 3 a negative Scale, any other b the factor b / 16 (up to about 16).
#include <cmath>
#include <cstring>
#include <vector>

#include "render/Numerics.h"
#include "render/ScratchCache.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScaleLayout.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzPicture.h"

namespace {

const int32_t kMaxFrame = 10000;

struct Layout {
  int32_t width;      // 1..64
  int32_t height;     // 1..64
  bool alpha;         // both buffers 4 bytes a pixel, else 3
  int32_t srcPad;     // bytes after each row's pixels, 0..15
  int32_t dstPad;
  int16_t left;       // where the rectangle lies in the host's image
  int16_t top;
  int32_t frame;      // 0..10000
  int32_t warmFrame;  // the frame the replay cache was left at, 0..10000
  int32_t interval;   // frames between the replay cache's checkpoints (0: its default)
  int32_t threads;    // threads of the renders that use the cache, 1..4
  uint32_t seed;      // the generator's seed (the clock's reading)
  uint32_t pixelSeed; // the pictures' content
  int32_t abortAfter; // the abort test answers true on this call; 0 never
};

Layout ReadLayout(FuzzReader& in) {
  Layout l;
  l.width = 1 + in.Next<uint8_t>() % 64;
  l.height = 1 + in.Next<uint8_t>() % 64;
  const uint8_t flags = in.Next<uint8_t>();
  l.alpha = (flags & 1) != 0;
  l.srcPad = in.Next<uint8_t>() % 16;
  l.dstPad = in.Next<uint8_t>() % 16;
  l.left = int16_t(in.Next<uint16_t>() % (32768 + 32767 - 64) - 32768);
  l.top = int16_t(in.Next<uint16_t>() % (32768 + 32767 - 64) - 32768);
  l.frame = in.Next<uint16_t>() % (kMaxFrame + 1);
  l.warmFrame = in.Next<uint16_t>() % (kMaxFrame + 1);
  // Short intervals give many checkpoints (20 bytes a scratch each) within the budget.
  const uint8_t interval = in.Next<uint8_t>();
  l.interval = interval == 0 ? 0 : 16 + interval;
  l.threads = 1 + in.Next<uint8_t>() % 4;
  l.seed = in.Next<uint32_t>();
  l.pixelSeed = in.Next<uint32_t>();
  l.abortAfter = in.Next<uint16_t>();
  return l;
}

// The host's callbacks: progress must only be reported for a unit of work that
// exists, and never after the abort test has answered true.
struct CallbackLog {
  int32_t calls;
  int32_t abortAfter;
  bool aborted;
  int32_t height;
} gLog;

void PATINEX_CDECL Progress(int32_t done, int32_t total) {
  FUZZ_CHECK(!gLog.aborted, "progress (%d, %d) after the render was stopped", done, total);
  FUZZ_CHECK(total >= 1 && done >= 1 && done <= total, "progress (%d, %d)", done, total);
  // The tone pass reports its rows first: (1, height) .. (height, height).
  if (gLog.calls < gLog.height) {
    FUZZ_CHECK(done == gLog.calls + 1 && total == gLog.height, "tone pass progress (%d, %d) at %d",
               done, total, gLog.calls);
  }
  ++gLog.calls;
}

uint8_t PATINEX_CDECL Abort() {
  FUZZ_CHECK(!gLog.aborted, "asked again after the render was stopped");
  if (gLog.abortAfter != 0 && gLog.calls == gLog.abortAfter) gLog.aborted = true;
  return gLog.aborted ? 1 : 0;
}

double ScaleOf(uint8_t b) {
  switch (b) {
    case 0: return 1.0;
    case 1: return kScaleAuto;
    case 2: return std::nan("");
    case 3: return -7.5;
    default: return double(b) / 16.0;
  }
}

int32_t Render(const Layout& l, const EffectParams& params, double scale, const Picture& src,
               Picture* dst, int32_t frame, ScratchCache* cache, int32_t threads) {
  EffectParams stamped = params;
  stamped.value[kFrameNumber] = double(frame);
  const Rect rect = {l.top, l.left, int16_t(l.top + l.height), int16_t(l.left + l.width)};
  RenderJob job;
  job.params = &stamped;
  job.srcRect = rect;
  job.dstRect = rect;
  job.srcData = src.Pixels();
  job.dstData = dst->Pixels();
  job.srcRowBytes = src.rowBytes;
  job.dstRowBytes = dst->rowBytes;
  job.srcHasAlpha = l.alpha ? 1 : 0;
  job.dstHasAlpha = job.srcHasAlpha;
  job.progressProc = Progress;
  job.abortProc = Abort;
  job.scale = scale;
  gLog = CallbackLog{0, l.abortAfter, false, l.height};
  Rng rng = {0};
  RenderContext context = {&rng, cache, threads};
  const int32_t result = RenderEffectSeeded(&job, l.seed, &context);
  FUZZ_CHECK(result == (gLog.aborted ? 0 : 1), "result %d, stopped: %d", int(result),
             int(gLog.aborted));
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in = {data, size};
  const Layout l = ReadLayout(in);
  EffectParams params;
  in.Take(&params, sizeof params);
  const double scale = ScaleOf(in.Next<uint8_t>());
  // A scaled render's walkers walk on its grid, up to 8 times the picture's side
  // here: a record with huge dust and hair counts and sizes walks in proportion
  // to the grid's area, as it does on a picture that large at Scale 1, which
  // this target keeps within 64 pixels a side. Those four stay below 1000 then.
  if (LayoutFor(scale, l.width, l.height).scaled) {
    for (int i : {kDustSize, kDustAmount, kHairSize, kHairAmount}) {
      if (params.value[i] > 1000.0) params.value[i] = 1000.0;
    }
  }
  const int32_t frame = WithinReplayBudget(l.frame, params);
  const int32_t warmFrame = WithinReplayBudget(l.warmFrame, params);

  const int32_t bpp = l.alpha ? 4 : 3;
  const Picture src = MakePicture(l.width * bpp + l.srcPad, l.height, l.pixelSeed);
  const Picture srcBefore = src;
  const Picture dstBefore = MakePicture(l.width * bpp + l.dstPad, l.height, ~l.pixelSeed);

  // The frame as a clip reaches it (the cache left at another frame) on several
  // threads, and the same frame replayed in full on one: the same bytes and the
  // same result.
  ScratchCache* cache = NewScratchCache(l.interval);
  Picture warm = dstBefore;
  Render(l, params, scale, src, &warm, warmFrame, cache, l.threads);
  Picture dst = dstBefore;
  const int32_t result = Render(l, params, scale, src, &dst, frame, cache, l.threads);
  DeleteScratchCache(cache);
  Picture full = dstBefore;
  const int32_t fullResult = Render(l, params, scale, src, &full, frame, nullptr, 1);
  FUZZ_CHECK(result == fullResult && dst.bytes == full.bytes,
             "frame %d after frame %d on %d threads differs from its full replay on one",
             int(frame), int(warmFrame), int(l.threads));

  FUZZ_CHECK(src.bytes == srcBefore.bytes, "the source changed");
  // Outside the pixels nothing changes: guards, row padding. Alpha is written only
  // by the background copy of Reveal Back Layer, from the source.
  const bool reveal = TruncToInt(params.value[kRevealBackLayer]) != 0;
  CheckOnlyPixelsChanged(dst, dstBefore, l.width, l.height, bpp, reveal ? src : dstBefore);
  return 0;
}
