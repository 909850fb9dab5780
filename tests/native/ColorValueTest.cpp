#include <gtest/gtest.h>

#include <cmath>

#include "ui/ColorValue.h"

TEST(ColorValue, DefaultsPaintAsTheirWholeNumbers) {
  EXPECT_EQ(ColorRefFromComponents(50, 50, 50), 0x323232u);
  EXPECT_EQ(ColorRefFromComponents(30, 30, 30), 0x1E1E1Eu);
  EXPECT_EQ(ColorRefFromComponents(200, 100, 0), 0x0064C8u);  // red in the low byte
}

TEST(ColorValue, ComponentsRoundHalfUp) {
  EXPECT_EQ(ColorComponentByte(127.5), 128);
  EXPECT_EQ(ColorComponentByte(127.49), 127);
  EXPECT_EQ(ColorComponentByte(255.0), 255);
  EXPECT_EQ(ColorComponentByte(254.6), 255);
  EXPECT_EQ(ColorComponentByte(0.0), 0);
}

// A record from elsewhere: components outside 0..255 are shown and offered clamped,
// never wrapped into a neighbouring byte.
TEST(ColorValue, OutOfRangeComponentsAreClamped) {
  EXPECT_EQ(ColorComponentByte(255.7), 255);
  EXPECT_EQ(ColorComponentByte(300.0), 255);
  EXPECT_EQ(ColorComponentByte(1e300), 255);
  EXPECT_EQ(ColorComponentByte(INFINITY), 255);
  EXPECT_EQ(ColorComponentByte(-1.0), 0);
  EXPECT_EQ(ColorComponentByte(-INFINITY), 0);
  EXPECT_EQ(ColorComponentByte(NAN), 0);
  EXPECT_EQ(ColorRefFromComponents(256, -3, 1000), 0xFF00FFu);  // red 255, green 0, blue 255
}

TEST(ColorValue, BackToWholeComponents) {
  double r = -1, g = -1, b = -1;
  ComponentsFromColorRef(0x00FFFFFFu, &r, &g, &b);
  EXPECT_EQ(r, 255.0);
  EXPECT_EQ(g, 255.0);
  EXPECT_EQ(b, 255.0);
  ComponentsFromColorRef(0x000064C8u, &r, &g, &b);
  EXPECT_EQ(r, 200.0);
  EXPECT_EQ(g, 100.0);
  EXPECT_EQ(b, 0.0);
}
