// The preview, captured from the screen, against the render OK writes into the
// host's output: once settled it is that render reduced to the preview's size by
// averaging (within a level), with every effect on, so the preview and OK share
// the seed and the frame. A click shows the render's own pixels at 100 %, and a
// slider dragged through 20 values starts only a few full renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "render/RenderJob.h"
#include "render/Samples16.h"
#include "testing/DialogDriver.h"
#include "tests/win32/DialogRun.h"
#include "ui/ValueControls.h"

namespace {

const int kFrameId = 201;

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

// What the preview shows, as the dialog tells its tests (ui/Preview.h).
intptr_t PreviewShows(HWND d) {
  return reinterpret_cast<intptr_t>(GetPropA(d, "Patinex.PreviewShows"));
}
intptr_t FullRendersStarted(HWND d) {
  return reinterpret_cast<intptr_t>(GetPropA(d, "Patinex.FullRenders"));
}

// Repaints until the preview shows the reduced full render (2); false after ~20 s.
bool WaitForExactPreview(HWND d) {
  for (int i = 0; i < 1000; ++i) {
    RepaintNow(d);
    if (PreviewShows(d) == 2) return true;
    Sleep(20);
  }
  return false;
}

// Red, green, blue (bytes 0, 1, 2 in both layouts) of a pixel of the host's
// output; 16-bit samples as levels of 255 (v * 255 / 32768).
void OutputRgb(const TestImage& img, bool sixteen, int32_t x, int32_t y, double rgb[3]) {
  const int32_t n = (img.planes == 4 ? 4 : 3) * (sixteen ? 2 : 1);
  const uint8_t* p = img.bytes.data() + size_t(y) * img.rowBytes + size_t(x) * n;
  for (int c = 0; c < 3; ++c) {
    rgb[c] = sixteen ? double(p[2 * c] | p[2 * c + 1] << 8) * 255.0 / 32768.0 : double(p[c]);
  }
}

// The output reduced to w x h: each preview pixel the mean of the output's pixels
// it covers (columns srcW * x / w up to srcW * (x + 1) / w, at least one; rows
// alike), rounded to the nearest level; 0x00RRGGBB.
std::vector<uint32_t> ReducedOutput(const TestImage& out, bool sixteen, int32_t srcW,
                                    int32_t srcH, int32_t w, int32_t h) {
  std::vector<uint32_t> reduced(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const int32_t y0 = srcH * y / h;
    const int32_t y1 = std::max(srcH * (y + 1) / h, y0 + 1);
    for (int32_t x = 0; x < w; ++x) {
      const int32_t x0 = srcW * x / w;
      const int32_t x1 = std::max(srcW * (x + 1) / w, x0 + 1);
      double sum[3] = {0, 0, 0};
      for (int32_t sy = y0; sy < y1; ++sy) {
        for (int32_t sx = x0; sx < x1; ++sx) {
          double rgb[3];
          OutputRgb(out, sixteen, sx, sy, rgb);
          for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
        }
      }
      uint32_t px = 0;
      for (int c = 0; c < 3; ++c) {
        px = px << 8 | uint32_t(std::floor(sum[c] / double((x1 - x0) * (y1 - y0)) + 0.5));
      }
      reduced[size_t(y) * w + x] = px;
    }
  }
  return reduced;
}

// The shot's w x h pixels at (left, top) against `want`, each channel within
// `tolerance`; reports the first few that are not.
void ExpectShotMatches(const WindowCapture& shot, int32_t left, int32_t top, int32_t w, int32_t h,
                       const std::vector<uint32_t>& want, int tolerance) {
  int mismatches = 0;
  for (int32_t y = 0; y < h && mismatches < 5; ++y) {
    for (int32_t x = 0; x < w && mismatches < 5; ++x) {
      const uint32_t got = shot.At(left + x, top + y);
      const uint32_t expected = want[size_t(y) * w + x];
      for (int shift = 0; shift <= 16; shift += 8) {
        if (std::abs(int((got >> shift) & 255) - int((expected >> shift) & 255)) > tolerance) {
          ++mismatches;
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") of " << w << " x " << h << ": got "
                        << std::hex << got << ", want " << expected;
          break;
        }
      }
    }
  }
}

// The frame's inner size, measured on a first dialog.
Inner MeasureFrame() {
  DialogHost probe(8, 8, 3);
  EXPECT_EQ(0, probe.Call(filterSelectorParameters));
  Inner inner = {0, 0};
  RunContinueWithDialog(probe, [&](HWND d) {
    RECT r = ControlRectInWindow(d, kFrameId);
    inner.width = r.right - r.left - 4;
    inner.height = r.bottom - r.top - 4;
    Click(d, IDCANCEL);
  });
  return inner;
}

// The host's document: srcW x srcH of a pattern that differs from pixel to pixel,
// 8 or 16 bits.
void PrepareHost(DialogHost& host, int32_t srcW, int32_t srcH, int32_t planes, bool sixteen) {
  if (sixteen) {
    // An RGB 48 document: rows of twice the bytes, samples of 0..32768.
    host.in = TestImage(2 * srcW, srcH, planes, 0);
    host.out = TestImage(2 * srcW, srcH, planes, 0);
    host.SetImages(host.in, host.out);
    host.record->filterRect = Rect{0, 0, int16_t(srcH), int16_t(srcW)};
    host.record->imageMode = plugInModeRGB48;
    host.record->depth = 16;
  }
  const int32_t n = planes == 4 ? 4 : 3;
  for (int32_t y = 0; y < srcH; ++y) {
    for (int32_t x = 0; x < srcW; ++x) {
      if (sixteen) {
        uint8_t* p = host.in.Data() + size_t(y) * host.in.rowBytes + size_t(x) * n * 2;
        const uint16_t v[4] = {uint16_t((x * 613 + y * 7) % 32769), uint16_t((y * 97 + 5000) % 32769),
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
}

// The preview's place in the window: w x h centred in control 201, halves truncated.
RECT Centred(const RECT& frame, int32_t w, int32_t h) {
  RECT at;
  at.left = (frame.left + frame.right - w) / 2;
  at.top = (frame.top + frame.bottom - h) / 2;
  at.right = at.left + w;
  at.bottom = at.top + h;
  return at;
}

void CheckPreview(int32_t planes, int32_t srcW, int32_t srcH, int32_t wantWidth,
                  bool sixteen = false) {
  // The frame size is needed to choose the source, and the source before the
  // dialog opens: measure the frame on a first dialog, then run the real one.
  const Inner inner = MeasureFrame();
  ASSERT_GT(inner.width, 101);
  ASSERT_GT(inner.height, 4);
  if (srcW == 0) srcW = 2 * wantWidth;
  if (srcH == 0) srcH = 2 * inner.height;

  DialogHost host(srcW, srcH, planes);
  PrepareHost(host, srcW, srcH, planes, sixteen);
  ASSERT_EQ(0, host.Call(filterSelectorParameters));  // every effect at its default
  int32_t w = 0, h = 0;
  ProxySize(inner, srcW, srcH, &w, &h);
  if (wantWidth != 0) {
    ASSERT_EQ(w, wantWidth);
  }

  WindowCapture shot;
  RECT frame = {0, 0, 0, 0};
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    ASSERT_TRUE(WaitForExactPreview(d));
    shot = CaptureWindow(d);
    frame = ControlRectInWindow(d, kFrameId);
    Click(d, IDOK);
  });
  ASSERT_EQ(result, 0);
  ASSERT_FALSE(shot.pixels.empty());

  // OK's render, reduced, where the preview sits.
  const RECT at = Centred(frame, w, h);
  ExpectShotMatches(shot, at.left, at.top, w, h,
                    ReducedOutput(host.out, sixteen, srcW, srcH, w, h), 1);
  // The frame line runs 2 pixels outside the image, with a 1-pixel gap.
  for (int32_t x = at.left - 2; x < at.right + 2; ++x) {
    EXPECT_EQ(shot.At(x, at.top - 2), 0u) << x;
    EXPECT_EQ(shot.At(x, at.bottom + 1), 0u) << x;
  }
  for (int32_t y = at.top - 2; y < at.bottom + 2; ++y) {
    EXPECT_EQ(shot.At(at.left - 2, y), 0u) << y;
    EXPECT_EQ(shot.At(at.right + 1, y), 0u) << y;
  }
  const uint32_t background = shot.At(at.left - 1, at.top - 1);
  EXPECT_NE(background, 0u);
  EXPECT_EQ(shot.At(at.right, at.bottom), background);
}

// A click at a point of the dialog's client area, as the mouse gives it.
void ClickAt(HWND dialog, int32_t x, int32_t y) {
  SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

}  // namespace

TEST(DialogPreview, ThreeChannelProxyWithPaddedRowsMatchesTheRenderer) {
  CheckPreview(3, 0, 0, 101);  // 303 bytes of pixels in 304-byte rows
}

TEST(DialogPreview, FourChannelSourceGivesUpItsAlpha) {
  CheckPreview(4, 0, 0, 101);
}

// A picture smaller than the frame is enlarged by repeating the render's pixels.
TEST(DialogPreview, SmallSourceShowsTheRenderEnlarged) {
  CheckPreview(3, 37, 23, 0);
  CheckPreview(4, 37, 23, 0);
}

TEST(DialogPreview, WideSourceIsReducedToTheFrameWidth) {
  CheckPreview(3, 997, 211, 0);
}

// A 16-bit document: the preview is the 16-bit render reduced to bytes.
TEST(DialogPreview, SixteenBitDocumentIsReducedToBytes) {
  CheckPreview(3, 0, 0, 101, true);
  CheckPreview(4, 997, 211, 0, true);
}

// A click shows the part clicked at 100 %: the render's own pixels, centred on the
// picture pixel under the click; a second click goes back to the whole picture.
TEST(DialogPreview, ClickShowsTheRenderAtOneHundredPercent) {
  const Inner inner = MeasureFrame();
  const int32_t srcW = 3 * inner.width, srcH = 3 * inner.height;
  DialogHost host(srcW, srcH, 4);
  PrepareHost(host, srcW, srcH, 4, false);
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  int32_t w = 0, h = 0;
  ProxySize(inner, srcW, srcH, &w, &h);
  const int32_t clickX = w / 4, clickY = h / 3;  // in the proxy

  WindowCapture full, whole;
  RECT frame = {0, 0, 0, 0};
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    ASSERT_TRUE(WaitForExactPreview(d));
    const RECT proxy = Centred(ControlClientRectInDialog(d, kFrameId), w, h);
    ClickAt(d, proxy.left + clickX, proxy.top + clickY);
    ASSERT_TRUE(WaitForExactPreview(d));
    full = CaptureWindow(d);
    frame = ControlRectInWindow(d, kFrameId);
    ClickAt(d, proxy.left + clickX, proxy.top + clickY);
    ASSERT_TRUE(WaitForExactPreview(d));
    whole = CaptureWindow(d);
    Click(d, IDOK);
  });
  ASSERT_EQ(result, 0);
  ASSERT_FALSE(full.pixels.empty());
  ASSERT_FALSE(whole.pixels.empty());

  // The part: the frame's inside, centred on the click, kept inside the picture.
  const int32_t vw = inner.width, vh = inner.height;
  const int32_t x0 = std::min(std::max(clickX * srcW / w - vw / 2, 0), srcW - vw);
  const int32_t y0 = std::min(std::max(clickY * srcH / h - vh / 2, 0), srcH - vh);
  std::vector<uint32_t> part(size_t(vw) * vh);
  for (int32_t y = 0; y < vh; ++y) {
    for (int32_t x = 0; x < vw; ++x) {
      double rgb[3];
      OutputRgb(host.out, false, x0 + x, y0 + y, rgb);
      part[size_t(y) * vw + x] = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | uint32_t(rgb[2]);
    }
  }
  const RECT at = Centred(frame, vw, vh);
  ExpectShotMatches(full, at.left, at.top, vw, vh, part, 0);
  const RECT back = Centred(frame, w, h);
  ExpectShotMatches(whole, back.left, back.top, w, h,
                    ReducedOutput(host.out, false, srcW, srcH, w, h), 1);
}

// A slider dragged through 20 values: the newest value wins, the renders of the
// older ones are abandoned or never begun, and the settled preview is OK's render
// of the last value.
TEST(DialogPreview, DraggedSliderStartsAFewFullRendersAndEndsOnTheLastValue) {
  const int32_t srcW = 1600, srcH = 1200;
  const Inner inner = MeasureFrame();
  DialogHost host(srcW, srcH, 3);
  PrepareHost(host, srcW, srcH, 3, false);
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  int32_t w = 0, h = 0;
  ProxySize(inner, srcW, srcH, &w, &h);

  intptr_t before = 0, after = 0;
  WindowCapture shot;
  RECT frame = {0, 0, 0, 0};
  const int kGrainSlider = 501;
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    ASSERT_TRUE(WaitForExactPreview(d));
    before = FullRendersStarted(d);
    HWND slider = GetDlgItem(d, kGrainSlider);
    for (int i = 1; i <= 20; ++i) {
      SendMessageA(slider, TBM_SETPOS, TRUE, 5 * i);
      SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 5 * i),
                   reinterpret_cast<LPARAM>(slider));
    }
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    ASSERT_TRUE(WaitForExactPreview(d));
    after = FullRendersStarted(d);
    shot = CaptureWindow(d);
    frame = ControlRectInWindow(d, kFrameId);
    Click(d, IDOK);
  });
  ASSERT_EQ(result, 0);
  EXPECT_EQ(host.Params()->value[kGrainAmount], 100.0);
  EXPECT_GE(after - before, 1);
  EXPECT_LE(after - before, 3);
  const RECT at = Centred(frame, w, h);
  ExpectShotMatches(shot, at.left, at.top, w, h,
                    ReducedOutput(host.out, false, srcW, srcH, w, h), 1);
}
