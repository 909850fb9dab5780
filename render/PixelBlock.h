// Moving pixels between 8-bit interleaved buffers with explicit row strides.
// Layouts: 3 bytes (red, green, blue) or, with the alpha flag, 4 bytes (red,
// green, blue, alpha): hosts hand 4-channel pixels in plane order. DIB order
// (blue, green, red) appears only in CopyPixelBlockToDib's output.
#pragma once

#include <cstdint>

#include "render/Rect.h"

const int kRed = 0;
const int kGreen = 1;
const int kBlue = 2;
const int kAlpha = 3;

inline int32_t BytesPerPixel(bool hasAlpha) { return hasAlpha ? 4 : 3; }

void InsetRectBy(Rect* rect, int32_t horizontal, int32_t vertical);

void CopyPixelBlock(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                    int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height);

void FillPixelBlock(uint8_t* dst, int32_t rowBytes, const Rect& rect, bool hasAlpha, uint8_t red,
                    uint8_t green, uint8_t blue);

void ScalePixelBlock(const uint8_t* src, int32_t srcRowBytes, const Rect& srcRect,
                     bool srcHasAlpha, uint8_t* dst, int32_t dstRowBytes, const Rect& dstRect,
                     bool dstHasAlpha);

void CopyPixelBlockToDib(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                         int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height);
