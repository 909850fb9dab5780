// TEMPORARY placeholder so the skeleton links; the dust, hair and scratch passes replace it.
#include "render/Passes.h"
bool RunDustPass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
bool RunHairPass(const RenderJob&, const WorkingValues&, Rng&) { return true; }
struct ScratchCache {};
ScratchCache* NewScratchCache() { return nullptr; }
void DeleteScratchCache(ScratchCache*) {}
ScratchCache* ModuleScratchCache() { return nullptr; }
bool RunScratchPass(const RenderJob&, const WorkingValues&, Rng&, ScratchArrays*, ScratchCache*) { return true; }
void FreeScratchArrays(ScratchArrays*) {}
