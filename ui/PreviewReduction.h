// The preview's picture from a full render: the render reduced to the preview's
// size by averaging the pixels each preview pixel covers, or a part of it at its
// own pixels (the 100 % view). Pure functions of buffers, tested natively.
#pragma once

#include <cstdint>

// The source columns (or rows) that preview column i of `previewSize` covers when
// `sourceSize` of them are shown: [*first, *end). Neighbours share no pixel and
// together cover every one; a preview larger than the source repeats pixels.
void CoveredSpan(int32_t i, int32_t previewSize, int32_t sourceSize, int32_t* first,
                 int32_t* end);

// A picture as a render leaves it: width x height pixels, rows rowBytes apart,
// red, green, blue and, with `alpha`, alpha, in samples of a byte or, with
// `sixteenBits`, of 16 bits (0..32768, the machine's byte order).
struct PictureView {
  const uint8_t* data;
  int32_t rowBytes;
  int32_t width;
  int32_t height;
  bool alpha;
  bool sixteenBits;
};

// Writes `picture` into dst (red, green, blue, one byte each, rows dstRowBytes
// apart) at dstWidth x dstHeight: each pixel the mean of the picture's pixels it
// covers (CoveredSpan on both axes), rounded to the nearest level, halves up; a
// 16-bit mean becomes round(mean x 255 / 32768). At the picture's own size every
// pixel is its own byte. False, with nothing written, when there is no memory for
// the row sums.
bool ReducePicture(const PictureView& picture, uint8_t* dst, int32_t dstRowBytes,
                   int32_t dstWidth, int32_t dstHeight);

// The part of a picture shown at 100 %: `view` pixels on one axis of a picture of
// `size`, centred where preview position `at` (of `previewSize`) lies and kept
// inside the picture. Returns the first picture pixel of the part.
int32_t FullSizeViewStart(int32_t at, int32_t previewSize, int32_t size, int32_t view);
