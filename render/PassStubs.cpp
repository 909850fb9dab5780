// TEMPORARY: placeholders so the skeleton links; each pass's real file replaces its stub.
#include "render/Passes.h"
bool RunTonePass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
bool RunDustPass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
bool RunHairPass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
struct ScratchCache {};
ScratchCache* NewScratchCache() { return nullptr; }
void DeleteScratchCache(ScratchCache*) {}
ScratchCache* ModuleScratchCache() { return nullptr; }
bool RunScratchPass(const RenderJob&, const WorkingValues&, Rng&, ScratchArrays*, ScratchCache*) { return true; }
void FreeScratchArrays(ScratchArrays*) {}
void InsetRectBy(Rect*, int32_t, int32_t) {}
void CopyPixelBlock(const uint8_t*, int32_t, bool, uint8_t*, int32_t, bool, int32_t, int32_t) {}
void FillPixelBlock(uint8_t*, int32_t, const Rect&, bool, uint8_t, uint8_t, uint8_t) {}
