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

#include "render/RenderThreads.h"
#include "render/ToneKernels.h"
#include "render/WorkingValues.h"

// The field's rows are the grid rows resampled across the picture: each grid
// row's draws, less the mean, times the spread's factor, in 16ths. They are
// made as the picture's rows need them (ScaledGrainRows), on the thread that
// renders the row, into that thread's slot (see BandedRows in
// render/RenderThreads.h).
struct ScaledGrain {
  int32_t width;      // the picture's
  int32_t gridWidth;  // the grid's
  // For each picture row: the two grid rows it blends and the second's weight
  // in 256ths.
  int32_t* blend;  // 3 x height
  int32_t mean4096;  // the draws' mean grain in 4096ths
  int32_t low;       // every 8-bit grain lies in low..high
  int32_t high;
  uint32_t endState;  // the generator after the grid's draws
  // What makes a field row: the generator before the first grid row's draws,
  // each draw's value as a cell, the columns' weights ((256 - w) | w << 16),
  // each grid cell's span of columns (its end), each column's cell, the
  // kernel's ways.
  uint32_t startState;
  int32_t firstGridRow;
  int16_t* cellValues;
  int32_t period;  // cellValues[d] = cellValues[d % period]
  int32_t* weights;
  int32_t* spanEnds;
  int32_t* cellOf;
  FieldRowMaker fieldRow;  // the kernel's, or null: the plain loop
  // Each thread slot's two field rows and the grid row each holds (-1: none),
  // its picture row's grain, and the kernel's scratch for its grid row's cells.
  int16_t* slotRows;   // slots x 2 x width
  int32_t* slotHeld;   // slots x 2
  int32_t* slotGrain;  // slots x width (int16_t or int32_t values)
  int32_t* slotScratch;  // with the kernel's field rows: slots x 2 x (grid width + 32)
};

// Fills `grain` for the render (grain on, layout scaled) from the generator
// state before the first draw, for the tone rows of a run on `threads`
// (RunnerSlots(threads) slots, see render/RenderThreads.h), with the kernel's field rows
// (render/ToneKernels.h; null: the plain loop, the same values). False when
// there is no memory for it (nothing is left to free). A field with no grid
// rows to draw (the jitter moved them all out, so no picture row is left
// either) has no blend table and nothing else; the rows below need one.
bool BuildScaledGrain(const WorkingValues& wv, uint32_t startState, int32_t threads,
                      FieldRowMaker fieldRow, ScaledGrain* grain);
void FreeScaledGrain(ScaledGrain* grain);

// The generator after the grid's draws, without making the field.
uint32_t ScaledGrainEndState(const WorkingValues& wv, uint32_t startState);

// The two field rows picture row y blends, made on the thread of `slot` into
// that slot's where it does not hold them, and the second's weight in 256ths:
// the row's 8-bit grain is (first[x] (256 - weight) + second[x] weight +
// mean4096 + 2048) >> 12.
struct FieldRowPair {
  const int16_t* first;
  const int16_t* second;
  int32_t weight;
};
FieldRowPair ScaledGrainRows(const ScaledGrain& grain, int32_t slot, int32_t y);

// Picture row y's grain, made on the thread of `slot` into that slot's row:
// 8-bit grain, or each widened to its level of 0..32768 (WidenLevel) for
// 16-bit samples.
const int16_t* ScaledGrainRow8(const ScaledGrain& grain, int32_t slot, int32_t y);
const int32_t* ScaledGrainRow16(const ScaledGrain& grain, int32_t slot, int32_t y);
