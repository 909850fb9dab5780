#include "host/PluginGlobals.h"

#include <cstring>

#include "render/MemBlock.h"

void InitPluginGlobals(PluginGlobals* globals) {
  std::memset(globals, 0, sizeof *globals);
  for (int i = 0; i < kCustomColorCount; ++i) globals->customColors[i] = uint32_t(i) * 0x010101u;
}

void ReleasePreviewBuffers(PluginGlobals* globals) {
  FreeMemBlock(globals->previewSource);
  globals->previewSource = nullptr;
  FreeMemBlock(globals->previewOutput);
  globals->previewOutput = nullptr;
}
