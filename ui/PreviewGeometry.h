// The preview's arithmetic: the proxy's size in the frame (IDC_PREVIEW_FRAME), its row
// stride and where it is drawn. Pure functions of rectangles, tested natively.
#pragma once

#include <cstdint>

#include "render/Rect.h"

// The inset between the frame control's rectangle and the proxy's largest extent,
// and again between the drawn image and the black frame line around it.
const int32_t kPreviewInset = 2;

// The proxy rectangle (top and left 0) for a frame rectangle and a source of
// srcWidth x srcHeight: the frame shrunk by kPreviewInset on every side, then the
// source scaled by the smaller of the two axis ratios, each side truncated, so the
// aspect ratio is kept and one axis touches the shrunk frame; a small source is
// enlarged. An empty source or a frame with no room inside gives an empty proxy.
Rect PreviewProxyRect(const Rect& frame, int32_t srcWidth, int32_t srcHeight);

// The stride of a proxy row: 3 bytes per pixel, raised to a multiple of 4 (a DIB's rows).
int32_t PreviewRowBytes(int32_t width);

// Where a width x height image sits centred in a frame (left, top, right, bottom
// in the dialog's client coordinates); the halving truncates toward zero.
struct PreviewPlacement {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
PreviewPlacement CentrePreview(int32_t frameLeft, int32_t frameTop, int32_t frameRight,
                               int32_t frameBottom, int32_t width, int32_t height);
