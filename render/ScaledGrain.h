// The grain of a scaled render: a smooth field, not a draw per pixel.
//
// The draws are those of the grid (render/ScaleLayout.h): one per cell of the
// grid's picture rows, row by row, left to right, each giving its grain n as a
// draw per pixel does at Scale 1, so the passes after the tone pass continue the
// sequence where a render of the grid's size leaves it. A picture pixel takes
// the field at its centre: where a cell is larger than a pixel, the bilinear
// blend of the four nearest cells (a smooth field, no blocks); where it is
// smaller, the cell under the centre. The field keeps the draws' mean and its
// spread about the mean is scaled so that each pixel's grain varies as much as
// one draw (a blend of independent draws varies less than each), or, where
// cells are smaller than pixels, as much as the mean of the cells a pixel
// covers. A pixel's grain is that value rounded (halves up); at 16 bits that
// whole grain widened, as a drawn grain is.
#pragma once

#include <cstdint>

#include "render/ToneKernels.h"
#include "render/WorkingValues.h"

// Pixels per piece of a row: a row's grain is made a piece at a time into a
// buffer of this many values.
const int32_t kScaledGrainPiece = 1024;

struct ScaledGrain {
  int32_t width;       // the picture's
  int32_t rowCount;    // the grid rows the picture samples
  // rowCount rows of `width` values: each sampled grid row resampled across
  // the picture, less the mean, times the spread's factor, in 16ths.
  int16_t* rows;
  // For each picture row: the two rows of `rows` it blends and the second's
  // weight in 256ths.
  int32_t* blend;      // 3 x height
  int32_t mean4096;    // the draws' mean grain in 4096ths
  int32_t low;         // every 8-bit grain lies in low..high
  int32_t high;
  uint32_t endState;   // the generator after the grid's draws
  FieldBlender blender;  // the kernel's blend of two field rows, or null
};

// Fills `grain` for the render (grain on, layout scaled) from the generator
// state before the first draw; the rows are made on up to `threads` threads,
// by the kernel's field rows (render/ToneKernels.h) or, where it has none,
// cell by cell: the same values. The kernel's blend, where it has one, makes
// the pieces (ScaledGrainPiece). False when there is no memory for it
// (nothing is left to free).
bool BuildScaledGrain(const WorkingValues& wv, uint32_t startState, int32_t threads,
                      const FieldKernels& kernels, ScaledGrain* grain);
void FreeScaledGrain(ScaledGrain* grain);

// The generator after the grid's draws, without making the field.
uint32_t ScaledGrainEndState(const WorkingValues& wv, uint32_t startState);

// The 8-bit grain of picture row y (a picture row), pixels x0 .. x0 + count - 1.
void ScaledGrainPiece(const ScaledGrain& grain, int32_t y, int32_t x0, int32_t count,
                      int16_t* out);
// The same, each widened to its level of 0..32768 (WidenLevel), for 16-bit samples.
void ScaledGrainPiece(const ScaledGrain& grain, int32_t y, int32_t x0, int32_t count,
                      int32_t* out);

// Picture row y of `width` pixels a piece at a time: each piece's grain is made
// (T: int16_t for bytes, int32_t for 16-bit samples), then run(x0, count, grain).
template <typename T, typename Run>
void ForEachGrainPiece(const ScaledGrain& grain, int32_t y, int32_t width, Run run) {
  T piece[kScaledGrainPiece];
  for (int32_t x0 = 0; x0 < width; x0 += kScaledGrainPiece) {
    const int32_t count = width - x0 < kScaledGrainPiece ? width - x0 : kScaledGrainPiece;
    ScaledGrainPiece(grain, y, x0, count, piece);
    run(x0, count, piece);
  }
}
