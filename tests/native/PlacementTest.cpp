// The dialog placement rule: centred over the reference's client area, pulled
// left by part of a caption button, a third of the free height down, pushed back
// only at the right and bottom screen edges.
#include <gtest/gtest.h>

#include "ui/Placement.h"

namespace {

PlacementInput Input(PlacementRect reference, int32_t w, int32_t h, bool sysMenu,
                     int32_t button = 18, int32_t screenW = 1920, int32_t screenH = 1080) {
  PlacementInput in;
  in.reference = reference;
  in.dialog = PlacementRect{700, 700, 700 + w, 700 + h};  // only the size counts
  in.dialogHasSysMenu = sysMenu;
  in.captionButtonWidth = button;
  in.screenWidth = screenW;
  in.screenHeight = screenH;
  return in;
}

TEST(Placement, CentredLeftShiftedAndAThirdDown) {
  // 800 x 600 client at (100, 50), 400 x 300 box: free 400 x 300.
  // Without a system menu an 18-pixel caption button shifts by 18 - 6 = 12.
  PlacementPoint p = PlaceDialog(Input({100, 50, 900, 650}, 400, 300, false));
  EXPECT_EQ(p.x, 100 + 200 - 12);
  EXPECT_EQ(p.y, 50 + 100);
  // With a system menu the shift is the whole button.
  p = PlaceDialog(Input({100, 50, 900, 650}, 400, 300, true));
  EXPECT_EQ(p.x, 100 + 200 - 18);
  EXPECT_EQ(p.y, 150);
}

TEST(Placement, DivisionsTruncate) {
  // Button 20: 20 - 20 / 3 = 14. Free width 101 -> 50, free height 100 -> 33.
  PlacementPoint p = PlaceDialog(Input({0, 0, 301, 300}, 200, 200, false, 20));
  EXPECT_EQ(p.x, 50 - 14);
  EXPECT_EQ(p.y, 33);
}

TEST(Placement, OwnerSmallerThanTheBoxGivesLeftMinusShiftAndTop) {
  PlacementPoint p = PlaceDialog(Input({10, 20, 110, 120}, 300, 200, false));
  EXPECT_EQ(p.x, -2);  // a negative x from the centring stays
  EXPECT_EQ(p.y, 20);
  p = PlaceDialog(Input({-500, -40, -300, 60}, 300, 200, false));
  EXPECT_EQ(p.x, -512);
  EXPECT_EQ(p.y, -40);
}

TEST(Placement, PushedBackAtTheRightAndBottomEdgesOnly) {
  // 1488 + 600 would pass 1920: the right edge meets the screen's.
  PlacementPoint p = PlaceDialog(Input({1500, 0, 1900, 400}, 600, 100, false));
  EXPECT_EQ(p.x, 1920 - 600);
  // Bottom: 900 + 300 passes 1080.
  p = PlaceDialog(Input({0, 900, 400, 1060}, 100, 300, false));
  EXPECT_EQ(p.y, 1080 - 300);
  // A box wider or taller than the screen goes to 0, never negative, by that step.
  p = PlaceDialog(Input({0, 0, 400, 300}, 2500, 1500, false));
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  // Exactly touching the edge is not past it.
  p = PlaceDialog(Input({1618, 0, 1938, 100}, 320, 100, true));
  EXPECT_EQ(p.x, 1600);
}

TEST(Placement, ExtremeRectanglesDoNotOverflow) {
  PlacementPoint p = PlaceDialog(Input({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 10, 10, false));
  // Free width 2^32 - 11: x = INT32_MIN + (2^32 - 11) / 2 - 12, well inside the range.
  EXPECT_EQ(int64_t(p.x), int64_t(INT32_MIN) + (4294967295LL - 10) / 2 - 12);
}

}  // namespace
