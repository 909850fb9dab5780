// Pixel block operations: both layouts keep red, green, blue at bytes 0, 1, 2
// (the 4-byte layout adds alpha at 3); only the DIB copy writes blue first.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/PixelBlock.h"
#include "tests/native/RenderTestSupport.h"

using test::Image;
using test::MakeImage;
using test::MakePattern;

namespace {

Rect MakeRect(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  Rect r;
  r.top = top;
  r.left = left;
  r.bottom = bottom;
  r.right = right;
  return r;
}

void SetPixel(Image& im, int32_t x, int32_t y, std::vector<uint8_t> v) {
  std::memcpy(im.At(x, y), v.data(), v.size());
}

std::vector<uint8_t> PixelOf(const Image& im, int32_t x, int32_t y) {
  return std::vector<uint8_t>(im.At(x, y), im.At(x, y) + im.Bpp());
}

typedef std::vector<uint8_t> Bytes;

}  // namespace

TEST(CopyPixelBlock, ConvertsBetweenLayoutsKeepingChannelPositions) {
  Image rgb = MakeImage(1, 1, false);
  SetPixel(rgb, 0, 0, {10, 20, 30});
  Image rgba = MakeImage(1, 1, true, 77);
  CopyPixelBlock(rgb.At(0, 0), rgb.rowBytes, false, rgba.At(0, 0), rgba.rowBytes, true, 1, 1);
  EXPECT_EQ(PixelOf(rgba, 0, 0), Bytes({10, 20, 30, 0}));

  SetPixel(rgba, 0, 0, {10, 20, 30, 99});
  Image back = MakeImage(1, 1, false);
  CopyPixelBlock(rgba.At(0, 0), rgba.rowBytes, true, back.At(0, 0), back.rowBytes, false, 1, 1);
  EXPECT_EQ(PixelOf(back, 0, 0), Bytes({10, 20, 30}));

  Image same = MakeImage(1, 1, true);
  CopyPixelBlock(rgba.At(0, 0), rgba.rowBytes, true, same.At(0, 0), same.rowBytes, true, 1, 1);
  EXPECT_EQ(PixelOf(same, 0, 0), Bytes({10, 20, 30, 99}));
  EXPECT_TRUE(rgba.PaddingIntact() && back.PaddingIntact() && same.PaddingIntact());
}

TEST(CopyPixelBlock, CopiesEveryPixelAndNoPaddingWithDifferentStrides) {
  for (bool srcAlpha : {false, true}) {
    for (bool dstAlpha : {false, true}) {
      const Image src = MakePattern(7, 5, srcAlpha);
      Image dst = MakeImage(7, 5, dstAlpha, 1);
      CopyPixelBlock(src.bytes.data(), src.rowBytes, srcAlpha, dst.bytes.data(), dst.rowBytes,
                     dstAlpha, 7, 5);
      for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
          for (int c = 0; c < 3; ++c) ASSERT_EQ(dst.At(x, y)[c], src.At(x, y)[c]);
          if (dstAlpha) {
            ASSERT_EQ(dst.At(x, y)[3], srcAlpha ? src.At(x, y)[3] : 0);
          }
        }
      }
      EXPECT_TRUE(dst.PaddingIntact());
    }
  }
}

TEST(PixelBlocks, EmptyOrNegativeSizesWriteNothing) {
  const Image src = MakePattern(4, 4, true);
  for (int32_t w : {0, -1, 4}) {
    for (int32_t h : {0, -3, 4}) {
      if (w > 0 && h > 0) continue;
      Image dst = MakeImage(4, 4, true, 9);
      const std::vector<uint8_t> before = dst.bytes;
      CopyPixelBlock(src.bytes.data(), src.rowBytes, true, dst.bytes.data(), dst.rowBytes, true,
                     w, h);
      CopyPixelBlockToDib(src.bytes.data(), src.rowBytes, true, dst.bytes.data(), dst.rowBytes,
                          true, w, h);
      FillPixelBlock(dst.bytes.data(), dst.rowBytes, MakeRect(0, 0, int16_t(h), int16_t(w)), true,
                     1, 2, 3);
      ScalePixelBlock(src.bytes.data(), src.rowBytes, MakeRect(0, 0, 4, 4), true,
                      dst.bytes.data(), dst.rowBytes, MakeRect(0, 0, int16_t(h), int16_t(w)), true);
      EXPECT_EQ(dst.bytes, before) << w << "x" << h;
    }
  }
}

TEST(FillPixelBlock, WritesColourAtChannelPositionsAndKeepsAlpha) {
  Image rgba = MakeImage(3, 2, true, 200);
  FillPixelBlock(rgba.bytes.data(), rgba.rowBytes, MakeRect(5, 5, 7, 8), true, 255, 0, 0);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(PixelOf(rgba, x, y), Bytes({255, 0, 0, 200}));
  }
  EXPECT_TRUE(rgba.PaddingIntact());

  Image rgb = MakeImage(3, 2, false, 200);
  FillPixelBlock(rgb.bytes.data(), rgb.rowBytes, MakeRect(0, 0, 2, 3), false, 1, 2, 3);
  EXPECT_EQ(PixelOf(rgb, 2, 1), Bytes({1, 2, 3}));
  FillPixelBlock(rgb.bytes.data(), rgb.rowBytes, MakeRect(0, 0, 2, 3), false, 0, 0, 0);
  EXPECT_EQ(PixelOf(rgb, 1, 1), Bytes({0, 0, 0}));
  EXPECT_TRUE(rgb.PaddingIntact());
}

TEST(ScalePixelBlock, NearestNeighbourTakesTheFloorOfTheExactPosition) {
  // 400 x 300 to 100 x 75: destination (x, y) is source (4x, 4y). The pattern
  // encodes each source pixel's position.
  Image src = MakeImage(400, 300, false);
  for (int32_t y = 0; y < 300; ++y) {
    for (int32_t x = 0; x < 400; ++x) SetPixel(src, x, y, {uint8_t(x), uint8_t(x >> 8), uint8_t(y)});
  }
  Image dst = MakeImage(100, 75, true, 50);
  ScalePixelBlock(src.bytes.data(), src.rowBytes, MakeRect(0, 0, 300, 400), false,
                  dst.bytes.data(), dst.rowBytes, MakeRect(10, 20, 85, 120), true);
  for (int32_t y = 0; y < 75; ++y) {
    for (int32_t x = 0; x < 100; ++x) {
      const int32_t sx = 4 * x;
      ASSERT_EQ(PixelOf(dst, x, y), Bytes({uint8_t(sx), uint8_t(sx >> 8), uint8_t(4 * y), 0}));
    }
  }
  EXPECT_TRUE(dst.PaddingIntact());

  // Enlarging a 2-pixel row to 5 pixels: columns 0, 0, 0, 1, 1.
  Image two = MakeImage(2, 1, true);
  SetPixel(two, 0, 0, {1, 2, 3, 4});
  SetPixel(two, 1, 0, {5, 6, 7, 8});
  Image five = MakeImage(5, 1, false);
  ScalePixelBlock(two.bytes.data(), two.rowBytes, MakeRect(0, 0, 1, 2), true, five.bytes.data(),
                  five.rowBytes, MakeRect(0, 0, 1, 5), false);
  const uint8_t expected[5] = {1, 1, 1, 5, 5};
  for (int32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(PixelOf(five, x, 0), Bytes({expected[x], uint8_t(expected[x] + 1),
                                          uint8_t(expected[x] + 2)}));
  }
}

TEST(ScalePixelBlock, FullSixteenBitExtentsDoNotOverflow) {
  // 65535 rows each way: (Hs * y) reaches 4.29e9, beyond 32 bits.
  Image src = MakeImage(1, 65535, false);
  for (int32_t y = 0; y < 65535; ++y) SetPixel(src, 0, y, {uint8_t(y), uint8_t(y >> 8), 0});
  Image dst = MakeImage(1, 65535, false, 1);
  const Rect full = MakeRect(-32768, 0, 32767, 1);
  ScalePixelBlock(src.bytes.data(), src.rowBytes, full, false, dst.bytes.data(), dst.rowBytes,
                  full, false);
  for (int32_t y : {0, 1, 40000, 65533, 65534}) {
    EXPECT_EQ(PixelOf(dst, 0, y), Bytes({uint8_t(y), uint8_t(y >> 8), 0})) << y;
  }
}

TEST(ScalePixelBlock, EmptySourceWritesNothing) {
  // There is no source pixel to sample; reading one would be outside the buffer.
  const Image src = MakePattern(1, 1, false);
  Image dst = MakeImage(3, 3, false, 4);
  const std::vector<uint8_t> before = dst.bytes;
  ScalePixelBlock(src.bytes.data(), src.rowBytes, MakeRect(0, 0, 0, 1), false, dst.bytes.data(),
                  dst.rowBytes, MakeRect(0, 0, 3, 3), false);
  ScalePixelBlock(src.bytes.data(), src.rowBytes, MakeRect(5, 5, 1, 1), false, dst.bytes.data(),
                  dst.rowBytes, MakeRect(0, 0, 3, 3), false);
  EXPECT_EQ(dst.bytes, before);
}

TEST(CopyPixelBlockToDib, WritesBlueGreenRedFromEitherLayout) {
  Image rgb = MakeImage(1, 1, false);
  SetPixel(rgb, 0, 0, {10, 20, 30});
  Image dib = MakeImage(1, 1, false);
  CopyPixelBlockToDib(rgb.At(0, 0), rgb.rowBytes, false, dib.At(0, 0), dib.rowBytes, false, 1, 1);
  EXPECT_EQ(PixelOf(dib, 0, 0), Bytes({30, 20, 10}));

  Image rgba = MakeImage(1, 1, true);
  SetPixel(rgba, 0, 0, {10, 20, 30, 99});
  CopyPixelBlockToDib(rgba.At(0, 0), rgba.rowBytes, true, dib.At(0, 0), dib.rowBytes, false, 1, 1);
  EXPECT_EQ(PixelOf(dib, 0, 0), Bytes({30, 20, 10}));

  Image dib4 = MakeImage(1, 1, true, 7);
  CopyPixelBlockToDib(rgba.At(0, 0), rgba.rowBytes, true, dib4.At(0, 0), dib4.rowBytes, true, 1, 1);
  EXPECT_EQ(PixelOf(dib4, 0, 0), Bytes({30, 20, 10, 99}));
  CopyPixelBlockToDib(rgb.At(0, 0), rgb.rowBytes, false, dib4.At(0, 0), dib4.rowBytes, true, 1, 1);
  EXPECT_EQ(PixelOf(dib4, 0, 0), Bytes({30, 20, 10, 0}));
}

TEST(CopyPixelBlockToDib, KeepsRowOrderAndStrides) {
  const Image src = MakePattern(5, 3, false);
  Image dib = MakeImage(5, 3, false);
  CopyPixelBlockToDib(src.bytes.data(), src.rowBytes, false, dib.bytes.data(), dib.rowBytes,
                      false, 5, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 5; ++x) {
      EXPECT_EQ(dib.At(x, y)[0], src.At(x, y)[2]);
      EXPECT_EQ(dib.At(x, y)[1], src.At(x, y)[1]);
      EXPECT_EQ(dib.At(x, y)[2], src.At(x, y)[0]);
    }
  }
  EXPECT_TRUE(dib.PaddingIntact());
}

TEST(InsetRectBy, MovesEachEdgeInwardOrOutward) {
  Rect r = MakeRect(0, 0, 100, 200);
  InsetRectBy(&r, 2, 2);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.bottom, 98);
  EXPECT_EQ(r.right, 198);
  InsetRectBy(&r, -5, 3);
  EXPECT_EQ(r.left, -3);
  EXPECT_EQ(r.right, 203);
  EXPECT_EQ(r.top, 5);
  EXPECT_EQ(r.bottom, 95);
  // Amounts beyond 16 bits stop at the 16-bit range instead of wrapping.
  InsetRectBy(&r, INT32_MAX, INT32_MIN);
  EXPECT_EQ(r.left, INT16_MAX);
  EXPECT_EQ(r.right, INT16_MIN);
  EXPECT_EQ(r.top, INT16_MIN);
  EXPECT_EQ(r.bottom, INT16_MAX);
}
