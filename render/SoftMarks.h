// Dust and hairs of a scaled render: where a pass's walkers plot on the grid
// (render/ScaleLayout.h), gathered while they walk, then laid over the picture
// in the pass's colour. Each plot is a stamp one cell square centred on the
// walker's position, so a walk is a continuous stroke one cell thick (not a
// chain of grid squares), and each picture pixel is blended by the most that
// any stamp covers of it, as its tent filter sees the stamp: a spot plotted
// twice darkens once, as a pixel set twice at Scale 1 does.
#pragma once

#include <cstdint>

#include "render/ScaleLayout.h"

struct SoftCanvas {
  uint8_t* dstData;
  int32_t dstRowBytes;
  int32_t pixelBytes;  // bytes from one pixel to the next
  bool sixteenBits;
  int32_t width;       // the picture's
  int32_t height;
  int32_t jitterOffset;  // rows without picture are left alone
  ScaleLayout layout;
  uint8_t color[3];
  uint16_t color16[3];
  // The render's threads (see RunRowBands in render/RenderThreads.h): the
  // stamps are laid in bands of the rows they reach.
  int32_t threads = 1;
};

struct MarkStamp {
  float x;  // the walker's position on the grid
  float y;
};

struct MarkStamps {
  MarkStamp* stamps;
  int32_t count;
  int32_t capacity;
  int32_t laid;  // laid already, when memory ran short
};

// Keeps a stamp at (x, y), a position inside the grid, unless the pass has kept
// as many as it lays (see SoftMarks.cpp). Without memory to keep it,
// the stamps kept so far and this one are laid at once (a speck crossing one
// laid earlier may then blend twice where they meet).
void AddMarkStamp(const SoftCanvas& canvas, MarkStamps* marks, float x, float y);

// Lays the kept stamps over the picture and frees them.
void LayMarkStamps(const SoftCanvas& canvas, MarkStamps* marks);

// Test-only: the most memory the stamps' columns may take, made once per stamp
// (1: never, each row makes them; 0 restores the limit).
void SetStampColumnBytesForTesting(int32_t bytes);
