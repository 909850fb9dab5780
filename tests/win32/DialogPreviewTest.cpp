// The preview, captured from the screen, against the renderer's output on the
// proxy, pixel for pixel. Grain, dust, hairs and jitter are off, so every render
// of the same record is the same; scratches (seeded alike on every render) and
// flicker stay on.
#include <gtest/gtest.h>

#include <vector>

#include "render/RenderJob.h"
#include "render/Samples16.h"
#include "testing/DialogDriver.h"
#include "tests/win32/DialogRun.h"

namespace {

const int kFrameId = 201;

void MakeDeterministic(EffectParams* p) {
  p->value[kGrainAmount] = 0;
  p->value[kDustAmount] = 0;
  p->value[kHairAmount] = 0;
  p->value[kJitterProbability] = 0;
  p->value[kFrameNumber] = 3;  // scratches and flicker of frame 3
}

// The frame's inner size: control 201's rectangle less 2 pixels on every side.
struct Inner {
  int32_t width;
  int32_t height;
};

// The proxy of a source, reasoned out here rather than taken from the plug-in:
// the smaller of the two scales, each side truncated.
void ProxySize(Inner inner, int32_t srcW, int32_t srcH, int32_t* w, int32_t* h) {
  const double sw = double(inner.width) / srcW;
  const double sh = double(inner.height) / srcH;
  const double s = sh < sw ? sh : sw;
  *w = int32_t(srcW * s);
  *h = int32_t(srcH * s);
}

// Nearest source pixel, red, green, blue from samples 0, 1, 2 in both layouts;
// 16-bit samples reduced to round(v * 255 / 32768).
std::vector<uint8_t> ProxySource(const TestImage& img, int32_t srcW, int32_t srcH, bool sixteen,
                                 int32_t w, int32_t h, int32_t rowBytes) {
  std::vector<uint8_t> proxy(size_t(rowBytes) * h, 0);
  const int32_t n = (img.planes == 4 ? 4 : 3) * (sixteen ? 2 : 1);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t sy = srcH * y / h;
      const int32_t sx = srcW * x / w;
      const uint8_t* s = img.bytes.data() + size_t(sy) * img.rowBytes + size_t(sx) * n;
      uint8_t* d = proxy.data() + size_t(y) * rowBytes + size_t(x) * 3;
      for (int c = 0; c < 3; ++c) {
        d[c] = sixteen ? uint8_t((uint32_t(s[2 * c] | s[2 * c + 1] << 8) * 255 + 16384) >> 15)
                       : s[c];
      }
    }
  }
  return proxy;
}

void CheckPreview(int32_t planes, int32_t srcW, int32_t srcH, int32_t wantWidth,
                  bool sixteen = false) {
  // The frame size is needed to choose the source, and the source before the
  // dialog opens: measure the frame on a first dialog, then run the real one.
  DialogHost probe(8, 8, 3);
  ASSERT_EQ(0, probe.Call(filterSelectorParameters));
  Inner inner = {0, 0};
  RunContinueWithDialog(probe, [&](HWND d) {
    RECT r = ControlRectInWindow(d, kFrameId);
    inner.width = r.right - r.left - 4;
    inner.height = r.bottom - r.top - 4;
    Click(d, IDCANCEL);
  });
  ASSERT_GT(inner.width, 101);
  ASSERT_GT(inner.height, 4);
  if (srcW == 0) srcW = 2 * wantWidth;
  if (srcH == 0) srcH = 2 * inner.height;

  DialogHost host(srcW, srcH, planes);
  if (sixteen) {
    // An RGB 48 document: rows of twice the bytes, samples of 0..32768.
    host.in = TestImage(2 * srcW, srcH, planes, 0);
    host.out = TestImage(2 * srcW, srcH, planes, 0);
    host.SetImages(host.in, host.out);
    host.record->filterRect = Rect{0, 0, int16_t(srcH), int16_t(srcW)};
    host.record->imageMode = plugInModeRGB48;
    host.record->depth = 16;
  }
  for (int32_t y = 0; y < srcH; ++y) {
    for (int32_t x = 0; x < srcW; ++x) {
      const int32_t n = planes == 4 ? 4 : 3;
      if (sixteen) {
        uint8_t* p = host.in.Data() + size_t(y) * host.in.rowBytes + size_t(x) * n * 2;
        const uint16_t v[4] = {uint16_t((x * 613 + y * 7) % 32769), uint16_t(y * 97 + 5000),
                               uint16_t(((x ^ y) * 131) % 32769), 30000};
        for (int c = 0; c < n; ++c) StoreSample(p + 2 * c, v[c]);
        continue;
      }
      uint8_t* p = host.in.Data() + size_t(y) * host.in.rowBytes + size_t(x) * n;
      p[0] = uint8_t(x * 5 + y);
      p[1] = uint8_t(y * 3 + 40);
      p[2] = uint8_t((x ^ y) * 2);
      if (planes == 4) p[3] = 77;
    }
  }
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  MakeDeterministic(host.Params());
  int32_t w = 0, h = 0;
  ProxySize(inner, srcW, srcH, &w, &h);
  if (wantWidth != 0) {
    ASSERT_EQ(w, wantWidth);
  }
  const int32_t rowBytes = (w * 3 + 3) & ~3;

  RunContinueWithDialog(host, [&](HWND d) {
    // The plug-in's proxy agrees with the reasoning above.
    RepaintNow(d);
    const WindowCapture shot = CaptureWindow(d);
    ASSERT_FALSE(shot.pixels.empty());

    // What the renderer makes of the proxy with the record as it stands.
    std::vector<uint8_t> source = ProxySource(host.in, srcW, srcH, sixteen, w, h, rowBytes);
    std::vector<uint8_t> output(source.size(), 0);
    RenderJob job = {};
    job.params = host.Params();
    job.srcRect = job.dstRect = Rect{0, 0, int16_t(h), int16_t(w)};
    job.srcData = source.data();
    job.dstData = output.data();
    job.srcRowBytes = job.dstRowBytes = rowBytes;
    job.progressProc = DialogHost::Progress;
    job.abortProc = DialogHost::NoAbort;
    // The preview renders at the record's Scale (the 64-bit module's 28th value).
    job.scale = kRecordValues > kScaleValue ? host.Values()[kScaleValue] : 1.0;
    ASSERT_EQ(RenderEffect(&job), 1);

    // Centred in control 201's rectangle, halves truncated.
    const RECT frame = ControlRectInWindow(d, kFrameId);
    const int32_t left = (frame.left + frame.right - w) / 2;
    const int32_t top = (frame.top + frame.bottom - h) / 2;
    int mismatches = 0;
    for (int32_t y = 0; y < h && mismatches < 5; ++y) {
      for (int32_t x = 0; x < w && mismatches < 5; ++x) {
        const uint8_t* e = output.data() + size_t(y) * rowBytes + size_t(x) * 3;
        const uint32_t want = (uint32_t(e[0]) << 16) | (uint32_t(e[1]) << 8) | e[2];
        const uint32_t got = shot.At(left + x, top + y);
        if (got != want) {
          ++mismatches;
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") of " << w << " x " << h << ": got "
                        << std::hex << got << ", rendered " << want;
        }
      }
    }
    // The frame line runs 2 pixels outside the image, with a 1-pixel gap.
    for (int32_t x = left - 2; x < left + w + 2; ++x) {
      EXPECT_EQ(shot.At(x, top - 2), 0u) << x;
      EXPECT_EQ(shot.At(x, top + h + 1), 0u) << x;
    }
    for (int32_t y = top - 2; y < top + h + 2; ++y) {
      EXPECT_EQ(shot.At(left - 2, y), 0u) << y;
      EXPECT_EQ(shot.At(left + w + 1, y), 0u) << y;
    }
    const uint32_t background = shot.At(left - 1, top - 1);
    EXPECT_NE(background, 0u);
    EXPECT_EQ(shot.At(left + w, top + h), background);
    Click(d, IDCANCEL);
  });
}

}  // namespace

TEST(DialogPreview, ThreeChannelProxyWithPaddedRowsMatchesTheRenderer) {
  CheckPreview(3, 0, 0, 101);  // 303 bytes of pixels in 304-byte rows
}

TEST(DialogPreview, FourChannelSourceGivesUpItsAlpha) {
  CheckPreview(4, 0, 0, 101);
}

TEST(DialogPreview, WideSourceIsReducedToTheFrameWidth) {
  CheckPreview(3, 997, 211, 0);
}

// A 16-bit document: the preview is the 8-bit render of its samples reduced to
// bytes.
TEST(DialogPreview, SixteenBitDocumentIsReducedToBytes) {
  CheckPreview(3, 0, 0, 101, true);
  CheckPreview(4, 997, 211, 0, true);
}
