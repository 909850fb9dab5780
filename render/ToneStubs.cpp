// TEMPORARY placeholder so the skeleton links; TonePass.cpp and PixelBlock.cpp replace it.
#include "render/Passes.h"
#include "render/PixelBlock.h"
bool RunTonePass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
void InsetRectBy(Rect*, int32_t, int32_t) {}
void CopyPixelBlock(const uint8_t*, int32_t, bool, uint8_t*, int32_t, bool, int32_t, int32_t) {}
void FillPixelBlock(uint8_t*, int32_t, const Rect&, bool, uint8_t, uint8_t, uint8_t) {}
