// PluginGlobals: the plug-in's own state between selector calls. It lives in the
// data block of a MemHandle whose handle the host keeps in its `data` value; each
// call works on a copy of it and copies it back at the end (Entry.cpp).
#pragma once

#include <cstdint>

#include "render/Rect.h"

const int kCustomColorCount = 16;

struct PluginGlobals {
  int16_t result;            // result of the current call, written to the host at the end
  int32_t frameCounter;      // continue calls that went on to render since the block was made
  Rect previewRect;          // the preview proxy's rectangle, top and left 0
  uint8_t* previewSource;    // plain block: reduced copy of the source, or null
  uint8_t* previewOutput;    // plain block: the rendered preview, or null
  int32_t previewRowBytes;   // row stride of both preview buffers
  uint32_t customColors[kCustomColorCount];  // colour picker's custom colours, 0x00BBGGRR
  void* hostRecord;          // the FilterRecord of this call, or the about record
};

// A fresh block: zero-filled, with custom colour i set to the gray i * 0x010101.
void InitPluginGlobals(PluginGlobals* globals);
