#include <gtest/gtest.h>

#include <vector>

#include "ui/PreviewGeometry.h"
#include "ui/PreviewReduction.h"

namespace {
Rect MakeRect(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  return Rect{top, left, bottom, right};
}
}  // namespace

// A frame of 124 x 94 pixels leaves 120 x 90 inside the 2-pixel inset.
TEST(PreviewGeometry, WideSourceFillsTheWidth) {
  const Rect proxy = PreviewProxyRect(MakeRect(10, 20, 104, 144), 640, 240);
  EXPECT_EQ(proxy.top, 0);
  EXPECT_EQ(proxy.left, 0);
  EXPECT_EQ(proxy.right, 120);  // 640 * 120/640
  EXPECT_EQ(proxy.bottom, 45);  // 240 * 120/640
}

TEST(PreviewGeometry, TallSourceFillsTheHeight) {
  const Rect proxy = PreviewProxyRect(MakeRect(10, 20, 104, 144), 300, 900);
  EXPECT_EQ(proxy.bottom, 90);
  EXPECT_EQ(proxy.right, 30);
}

TEST(PreviewGeometry, SmallSourceIsEnlarged) {
  const Rect proxy = PreviewProxyRect(MakeRect(0, 0, 94, 124), 12, 10);
  EXPECT_EQ(proxy.right, 108);  // scale 9 (90/10), the smaller of 10 and 9
  EXPECT_EQ(proxy.bottom, 90);
}

TEST(PreviewGeometry, EqualRatiosTouchBothSides) {
  const Rect proxy = PreviewProxyRect(MakeRect(0, 0, 94, 124), 1200, 900);
  EXPECT_EQ(proxy.right, 120);
  EXPECT_EQ(proxy.bottom, 90);
}

TEST(PreviewGeometry, EmptySourceOrCrampedFrameGivesAnEmptyProxy) {
  const Rect none = MakeRect(0, 0, 0, 0);
  const Rect a = PreviewProxyRect(MakeRect(0, 0, 94, 124), 0, 100);
  const Rect b = PreviewProxyRect(MakeRect(0, 0, 94, 124), 100, -5);
  const Rect c = PreviewProxyRect(MakeRect(0, 0, 4, 124), 100, 100);  // no room inside
  for (const Rect& r : {a, b, c}) {
    EXPECT_EQ(r.right, none.right);
    EXPECT_EQ(r.bottom, none.bottom);
  }
}

TEST(PreviewGeometry, RowsArePaddedToFourBytes) {
  EXPECT_EQ(PreviewRowBytes(101), 304);  // 303 bytes of pixels
  EXPECT_EQ(PreviewRowBytes(100), 300);
  EXPECT_EQ(PreviewRowBytes(1), 4);
  EXPECT_EQ(PreviewRowBytes(102), 308);  // 306 -> 308
  EXPECT_EQ(PreviewRowBytes(0), 0);
}

TEST(PreviewGeometry, CentredWithTruncatingHalves) {
  // A 124-pixel-wide frame at 20 and a 101-pixel image: (20 + 144 - 101) / 2 = 31.
  const PreviewPlacement at = CentrePreview(20, 10, 144, 104, 101, 45);
  EXPECT_EQ(at.left, 31);
  EXPECT_EQ(at.right, 132);
  EXPECT_EQ(at.top, 34);  // (10 + 104 - 45) / 2 = 34.5 -> 34
  EXPECT_EQ(at.bottom, 79);
}

// Each preview pixel covers its own run of picture pixels: the runs of all preview
// pixels meet end to end and cover the picture once; a preview larger than the
// picture takes the nearest pixel, as the reduced copy does (size x i / preview).
TEST(PreviewReduction, CoveredSpansTileThePicture) {
  for (int32_t source : {1, 2, 7, 100, 6000}) {
    for (int32_t preview : {1, 3, 101, 180}) {
      int32_t next = 0;
      for (int32_t i = 0; i < preview; ++i) {
        int32_t first = 0, end = 0;
        CoveredSpan(i, preview, source, &first, &end);
        if (preview > source) {
          EXPECT_EQ(first, source * i / preview);
          EXPECT_EQ(end, first + 1);
          continue;
        }
        EXPECT_EQ(first, next) << source << " " << preview << " " << i;
        EXPECT_GT(end, first);
        next = end;
      }
      if (preview <= source) {
        EXPECT_EQ(next, source) << source << " " << preview;
      }
    }
  }
}

namespace {

struct ReductionCase {
  const char* what;
  bool alpha;
  bool sixteenBits;
  int32_t width, height;                // the picture
  std::vector<uint32_t> rgb;            // its pixels' red, green, blue, row by row
  int32_t toWidth, toHeight;            // the preview
  std::vector<uint8_t> want;            // the preview's red, green, blue, row by row
};

}  // namespace

// Means worked out by hand, halves rounded up; 16-bit means become levels of 255.
TEST(PreviewReduction, EachPixelIsTheRoundedMeanOfThePixelsItCovers) {
  const ReductionCase cases[] = {
      {"2 x 2 blocks", false, false, 4, 2,
       {10, 0, 255, 11, 1, 255, 20, 5, 0, 21, 5, 0,  //
        12, 2, 254, 12, 2, 255, 22, 5, 1, 23, 6, 0},
       2, 1, {11, 1, 255, 22, 5, 0}},  // 45/4 = 11.25, 5/4 = 1.25, 86/4 = 21.5 -> 22
      {"3 columns into 2: one, then two", false, false, 3, 1, {9, 9, 9, 1, 2, 3, 2, 2, 2}, 2, 1,
       {9, 9, 9, 2, 2, 3}},  // (1+2)/2 = 1.5 -> 2, (3+2)/2 = 2.5 -> 3
      {"the 4-byte layout skips alpha", true, false, 2, 1, {100, 50, 0, 101, 50, 2}, 1, 1,
       {101, 50, 1}},
      {"16 bits: white, half, and a mean just below half a level", false, true, 3, 1,
       {32768, 16384, 0, 32768, 16384, 128, 32768, 16384, 0}, 1, 1, {255, 128, 0}},
      {"enlarged: the nearest pixel repeated", false, false, 2, 1, {1, 2, 3, 7, 8, 9}, 5, 1,
       {1, 2, 3, 1, 2, 3, 1, 2, 3, 7, 8, 9, 7, 8, 9}},
      {"own size: every pixel its own", true, true, 2, 1, {32768, 0, 257, 128, 64, 32767}, 2, 1,
       {255, 0, 2, 1, 0, 255}},
  };
  for (const ReductionCase& c : cases) {
    const int32_t samples = c.alpha ? 4 : 3;
    const int32_t sampleBytes = c.sixteenBits ? 2 : 1;
    const int32_t rowBytes = c.width * samples * sampleBytes + 5;  // rows with padding
    std::vector<uint8_t> picture(size_t(rowBytes) * c.height, 0xEE);
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        uint8_t* p = picture.data() + size_t(y) * rowBytes + size_t(x) * samples * sampleBytes;
        for (int ch = 0; ch < 3; ++ch) {
          const uint32_t v = c.rgb[size_t(y * c.width + x) * 3 + ch];
          const int at = ch * sampleBytes;  // alpha (byte 3) keeps the 0xEE filler
          p[at] = uint8_t(v);
          if (c.sixteenBits) p[at + 1] = uint8_t(v >> 8);
        }
      }
    }
    const int32_t dstRowBytes = PreviewRowBytes(c.toWidth);
    std::vector<uint8_t> preview(size_t(dstRowBytes) * c.toHeight, 0);
    const PictureView view = {picture.data(), rowBytes, c.width, c.height, c.alpha, c.sixteenBits};
    ASSERT_TRUE(ReducePicture(view, preview.data(), dstRowBytes, c.toWidth, c.toHeight));
    for (int32_t y = 0; y < c.toHeight; ++y) {
      for (int32_t i = 0; i < c.toWidth * 3; ++i) {
        EXPECT_EQ(int(preview[size_t(y) * dstRowBytes + i]), int(c.want[size_t(y * c.toWidth * 3 + i)]))
            << c.what << ", byte " << i << " of row " << y;
      }
    }
  }
}

// The 100 % view's part: centred on the point clicked, kept inside the picture.
TEST(PreviewReduction, FullSizeViewIsCentredOnTheClickAndStaysInside) {
  EXPECT_EQ(FullSizeViewStart(90, 180, 6000, 176), 2912);  // 3000 - 88
  EXPECT_EQ(FullSizeViewStart(0, 180, 6000, 176), 0);
  EXPECT_EQ(FullSizeViewStart(179, 180, 6000, 176), 6000 - 176);
  EXPECT_EQ(FullSizeViewStart(50, 180, 150, 176), 0);  // the picture fits whole
}
