// PluginGlobals: the plug-in's own state between selector calls. It lives in the
// data block of a MemHandle whose handle the host keeps in its `data` value; each
// call works on a copy of it and copies it back at the end (Entry.cpp).
#pragma once

#include <cstddef>
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

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit layout of the block, as hosts have kept it.
static_assert(offsetof(PluginGlobals, frameCounter) == 4, "frameCounter");
static_assert(offsetof(PluginGlobals, previewRect) == 8, "previewRect");
static_assert(offsetof(PluginGlobals, previewSource) == 16, "previewSource");
static_assert(offsetof(PluginGlobals, previewOutput) == 20, "previewOutput");
static_assert(offsetof(PluginGlobals, previewRowBytes) == 24, "previewRowBytes");
static_assert(offsetof(PluginGlobals, customColors) == 28, "customColors");
static_assert(offsetof(PluginGlobals, hostRecord) == 92, "hostRecord");
static_assert(sizeof(PluginGlobals) == 96, "PluginGlobals");
#endif

// A fresh block: zero-filled, with custom colour i set to the gray i * 0x010101.
void InitPluginGlobals(PluginGlobals* globals);

// Frees both preview buffers and clears their fields; safe when they are
// already gone (the dialog releases them when it closes, the finish selector
// again).
void ReleasePreviewBuffers(PluginGlobals* globals);
