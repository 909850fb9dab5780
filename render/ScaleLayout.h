// The grid the damage is laid out on, and how a cell of it is drawn at the
// picture's size.
//
// At Scale 1 every draw of the effect is in the picture's own pixels: a scratch
// is one pixel wide, dust and hairs walk in one-pixel steps, each pixel draws
// its own grain. That look belongs to a picture of a few hundred rows; on a 4K
// frame or a 24-megapixel photograph the same marks are a few specks lost in
// fine noise. With a factor f the renderer makes the very draws of a render of
// a picture f times smaller (the grid: its size, positions, walks, scratch
// columns, jitter and grain cells) and draws each cell of the grid back as an
// f x f patch with soft edges. Auto takes f from the height, so every picture
// is laid out on a grid of kScaleAutoRows rows (its width by the aspect): a 4K
// frame reduced to 960 x 540 then looks like a 960 x 540 render, and an
// editor's reduced preview shows the marks of the final render at the same
// places.
//
// Soft edges: a cell covers a rectangle of the picture ([x u, (x + 1) u) across,
// u picture pixels per cell), and a picture pixel takes the part of that
// rectangle its tent filter (one pixel each side of its centre) sees. The
// tents of neighbouring pixels add up to 1 everywhere, so a mark keeps its
// weight at any size, cells that tile an area cover it fully inside, and a
// cell edge that falls on a pixel edge still gets a step of intermediate levels
// (a mark at 4 times the size is not 4 x 4 copies of its pixels).
#pragma once

#include <cstdint>

struct ScaleLayout {
  // False when the grid is the picture itself: the marks are drawn in pixels, as
  // at Scale 1, byte for byte.
  bool scaled;
  int32_t width;   // the grid, in cells
  int32_t height;
  double unitX;    // picture pixels per cell: picture width / grid width
  double unitY;
};

// The factor for Scale's setting on a picture `height` rows high: Auto (0, or
// anything not above 0) gives height / kScaleAutoRows, a setting between 0 and 1
// gives 1, one above kScaleMax gives kScaleMax, NaN gives 1.
double ScaleFactorOf(double scale, int32_t height);

// The most cells a side of the grid has: its positions are draws of 0..32767.
const int32_t kMaxGridSide = 32767;

// The grid for Scale's setting on a picture of width x height pixels: each side
// round(side / factor), at least 1 and at most kMaxGridSide cells (and at most 8 cells
// to a pixel: a few pixels high picture at Auto keeps a grid it can draw).
ScaleLayout LayoutFor(double scale, int32_t width, int32_t height);

// The part of the cell span [a, b) (picture coordinates) that the tent filter
// of the pixel centred at c sees: 0 beyond a pixel of the span, 1 well inside.
double TentCover(double a, double b, double c);

// A cell's span across picture pixels: the first and the one after the last
// pixel whose tent sees any of [cell * unit, (cell + 1) * unit), within 0..size.
struct PixelSpan {
  int32_t first;
  int32_t end;
};
PixelSpan CellPixels(int32_t cell, double unit, int32_t size);
