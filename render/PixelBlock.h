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

// The same at 16 bits per channel (render/Samples16.h): samples of two bytes in
// the same layouts; widths count pixels, row bytes count bytes.
void CopyPixelBlock16(const uint8_t* src, int32_t srcRowBytes, bool srcHasAlpha, uint8_t* dst,
                      int32_t dstRowBytes, bool dstHasAlpha, int32_t width, int32_t height);
void FillPixelBlock16(uint8_t* dst, int32_t rowBytes, const Rect& rect, bool hasAlpha,
                      uint16_t red, uint16_t green, uint16_t blue);
// ScalePixelBlock from a 16-bit source into an 8-bit destination: each sample
// reduced to the byte round(v * 255 / 32768) (the preview of a 16-bit document);
// alpha, 0..32768 too, is reduced the same way.
void ScalePixelBlockReduced(const uint8_t* src, int32_t srcRowBytes, const Rect& srcRect,
                            bool srcHasAlpha, uint8_t* dst, int32_t dstRowBytes,
                            const Rect& dstRect, bool dstHasAlpha);
