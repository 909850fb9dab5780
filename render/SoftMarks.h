// Dust and hairs of a scaled render: the cells of the grid (render/ScaleLayout.h)
// that a pass's walkers plot, gathered while they walk, then laid over the
// picture in the pass's colour, each picture pixel blended by how much of the
// plotted cells its tent filter sees. A cell plotted twice counts once, as a
// pixel set twice at Scale 1 does.
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
};

struct MarkCells {
  uint32_t* cells;  // (row << 16) | column
  int32_t count;
  int32_t capacity;
};

// Keeps cell (x, y) of the grid. Without memory to keep it, the cells kept so far
// and this one are laid at once (a speck crossing a speck laid earlier may then
// blend twice where their edges meet).
void AddMarkCell(const SoftCanvas& canvas, MarkCells* marks, int32_t x, int32_t y);

// Lays the kept cells over the picture and frees them.
void LayMarkCells(const SoftCanvas& canvas, MarkCells* marks);
