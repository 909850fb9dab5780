// The dust pass and the hair pass: short random walks of single pixels set
// outright to one colour, drawn after the tone pass on the destination. Both
// continue the render's clock-seeded sequence of draws, so specks and hairs fall
// differently on every render.
#include <cstddef>
#include <cstdint>

#include "render/Numerics.h"
#include "render/Passes.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/Samples16.h"
#include "render/SoftMarks.h"

namespace {

// The shortest hair, in steps. It may be 10 or 13; we take 10. Hairs shorter
// than 15 steps never turn (len div 15 is 0), so it also sets how many hairs
// are straight lines.
const int32_t minHairLength = 10;

// Everything a walker needs of the job and the working values, taken once.
struct WalkCanvas {
  uint8_t* dstData;
  ptrdiff_t dstRowBytes;
  int32_t bytesPerPixel;  // bytes from one pixel to the next
  bool sixteenBits;
  // The strict bounds, as doubles: 0 < x < width, and y above both lower
  // bounds (0 and -jitterOffset) and below both upper ones (height and
  // height - jitterOffset), so a walker never touches a row the jitter left
  // without picture.
  double xHigh;
  double yLow;
  double yHigh;
  uint8_t color[3];
  uint16_t color16[3];  // each byte of color widened to 0..32768
  // The walkers walk on the grid of the damage (render/ScaleLayout.h): its size
  // bounds them and their start draws. A scaled render keeps the spots they
  // plot in `marks` and lays them at the picture's size when the pass ends.
  int32_t gridWidth;
  int32_t gridHeight;
  SoftCanvas soft;
  MarkStamps* marks;
};

WalkCanvas MakeCanvas(const RenderJob& job, const WorkingValues& wv, const double* color,
                      MarkStamps* marks, int32_t threads) {
  WalkCanvas c;
  c.dstData = job.dstData;
  c.dstRowBytes = job.dstRowBytes;
  c.bytesPerPixel = wv.samplesPerPixel * wv.bytesPerSample;
  c.sixteenBits = wv.bytesPerSample == 2;
  c.gridWidth = wv.layout.width;
  c.gridHeight = wv.layout.height;
  const double height = double(c.gridHeight);
  const double jitter = double(GridJitter(wv));
  c.xHigh = double(c.gridWidth);
  c.yLow = -jitter > 0.0 ? -jitter : 0.0;
  c.yHigh = height - jitter < height ? height - jitter : height;
  // Each channel is trunc of its double, stored as its low 8 bits: no clamping.
  for (int k = 0; k < 3; ++k) c.color[k] = static_cast<uint8_t>(TruncToInt(color[k]) & 0xFF);
  // At 16 bits the colour is the byte the 8-bit pass stores, widened (300 stores
  // 44 at 8 bits, and 44 widens to 5654).
  for (int k = 0; k < 3; ++k) c.color16[k] = uint16_t(WidenLevel(c.color[k]));
  c.marks = wv.layout.scaled ? marks : nullptr;
  c.soft = SoftCanvas{job.dstData, job.dstRowBytes, c.bytesPerPixel, c.sixteenBits, wv.width,
                      wv.height, wv.jitterOffset, wv.layout,
                      {c.color[0], c.color[1], c.color[2]},
                      {c.color16[0], c.color16[1], c.color16[2]}, threads};
  return c;
}

// The end of a pass, finished or stopped: a scaled render's cells are laid.
bool EndPass(const WalkCanvas& c, bool finished) {
  if (c.marks != nullptr) LayMarkStamps(c.soft, c.marks);
  return finished;
}

inline bool Inside(const WalkCanvas& c, float x, float y) {
  return 0.0 < double(x) && double(x) < c.xHigh && c.yLow < double(y) && double(y) < c.yHigh;
}

// A walker outside that moves in a straight line never gets back in when it is
// beyond a bound and not moving towards it: adding a step of one sign to a float
// never turns back, whatever the rounding.
inline bool GoneForGood(const WalkCanvas& c, float x, float y, float dx, float dy) {
  return (double(x) <= 0.0 && dx <= 0.0f) || (double(x) >= c.xHigh && dx >= 0.0f) ||
         (double(y) <= c.yLow && dy <= 0.0f) || (double(y) >= c.yHigh && dy >= 0.0f);
}

// Only called for a position that is Inside, so both truncations are in range.
inline void Plot(const WalkCanvas& c, float x, float y) {
  if (c.marks != nullptr) {
    AddMarkStamp(c.soft, c.marks, x, y);
    return;
  }
  uint8_t* p = c.dstData + ptrdiff_t(int32_t(y)) * c.dstRowBytes +
               ptrdiff_t(int32_t(x)) * c.bytesPerPixel;
  if (c.sixteenBits) {
    for (int k = 0; k < 3; ++k) StoreSample(p + 2 * (kRed + k), c.color16[k]);
    return;
  }
  p[kRed] = c.color[0];
  p[kGreen] = c.color[1];
  p[kBlue] = c.color[2];
}

// A step: (rand() mod 200 - 100) / 90, divided in double, kept in single precision.
inline float DrawStep(Rng& rng) { return float(double(NextRand(rng) % 200 - 100) / 90.0); }

// trunc((rand() mod trunc(base)) + 2 * base + 1) as a 16-bit count; base > 1 here.
// A huge base from a record gives at most 32767 walkers.
inline int16_t DrawWalkerCount(Rng& rng, double countBase) {
  const int32_t r = ModOrZero(NextRand(rng), TruncToInt(countBase));
  return TruncToInt16(double(r) + 2.0 * countBase + 1.0);
}

// (rand() mod trunc(size + extra)) + shortest, as a 16-bit length. A size of
// 32767 or more would overflow the 16-bit length; it stops at 32767.
inline int16_t DrawWalkLength(Rng& rng, double size, double extra, int32_t shortest) {
  const int32_t r = ModOrZero(NextRand(rng), TruncToInt(size + extra));
  const int32_t len = r + shortest;  // r <= 32767: no overflow
  return len > INT16_MAX ? INT16_MAX : int16_t(len);
}

}  // namespace

bool RunDustPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads) {
  if (!(wv.dustCountBase > 1.0)) return true;
  MarkStamps marks = {nullptr, 0, 0, 0};
  const WalkCanvas canvas = MakeCanvas(job, wv, wv.dustColor, &marks, threads);
  const int16_t dustCount = DrawWalkerCount(rng, wv.dustCountBase);
  for (int32_t i = 0; i < dustCount; ++i) {
    // x, y, dx, dy, len
    float x = float(ModOrZero(NextRand(rng), canvas.gridWidth));
    float y = float(ModOrZero(NextRand(rng), canvas.gridHeight));
    float dx = DrawStep(rng);
    float dy = DrawStep(rng);
    const int16_t len = DrawWalkLength(rng, wv.dustSize, 2.0, 2);
    // Move, test, plot, perhaps turn: the first pixel is one step from the start,
    // and a speck outside keeps moving in a straight line without a draw. Once it
    // can no longer come back, its remaining steps would do nothing: it ends there
    // (with a length of 32767 and as many specks, that is a billion idle steps).
    for (int32_t step = 0; step < len; ++step) {
      x += dx;
      y += dy;
      if (!Inside(canvas, x, y)) {
        if (GoneForGood(canvas, x, y, dx, dy)) break;
        continue;
      }
      Plot(canvas, x, y);
      if (NextRand(rng) % len < len / 2) {
        dx = DrawStep(rng);
        dy = DrawStep(rng);
      }
    }
    if (ReportAndCheckAbort(job, i + 1, dustCount)) return EndPass(canvas, false);
  }
  return EndPass(canvas, true);
}

bool RunHairPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads) {
  if (!(wv.hairCountBase > 1.0)) return true;
  MarkStamps marks = {nullptr, 0, 0, 0};
  const WalkCanvas canvas = MakeCanvas(job, wv, wv.hairColor, &marks, threads);
  const int16_t hairCount = DrawWalkerCount(rng, wv.hairCountBase);
  for (int32_t i = 0; i < hairCount; ++i) {
    // x, y, dx, dy, len
    float x = float(ModOrZero(NextRand(rng), canvas.gridWidth));
    float y = float(ModOrZero(NextRand(rng), canvas.gridHeight));
    float dx = DrawStep(rng);
    float dy = DrawStep(rng);
    const int16_t len = DrawWalkLength(rng, wv.hairSize, 1.0, minHairLength);
    // Test, plot, perhaps turn, move: the start itself is the first pixel. A hair
    // that finds itself outside never moves again, so its remaining steps would
    // plot and draw nothing: it ends there.
    for (int32_t step = 0; step < len; ++step) {
      if (!Inside(canvas, x, y)) break;
      Plot(canvas, x, y);
      if (NextRand(rng) % len < len / 15) {
        dx = DrawStep(rng);
        dy = DrawStep(rng);
      }
      x += dx;
      y += dy;
    }
    if (ReportAndCheckAbort(job, i + 1, hairCount)) return EndPass(canvas, false);
  }
  return EndPass(canvas, true);
}
