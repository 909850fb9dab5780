#include <gtest/gtest.h>

#include "ui/PreviewGeometry.h"

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
