// The tone pass's rows in bands, at either depth (render/TonePass.cpp,
// TonePass16.cpp): each destination row gets its background where the jitter
// leaves it no picture (or, with Reveal Back Layer, under the picture), and its
// picture from its source row; a band starts from the generator jumped ahead by
// the draws of the picture rows above it.
#pragma once

#include <cstdint>

#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/WorkingValues.h"

class ToneBandRows : public BandedRows {
 public:
  const RenderJob* job;
  const WorkingValues* wv;
  bool drawn;           // one draw per picture pixel
  uint32_t startState;  // the generator at the first row's first draw

  // The generator as the row-by-row pass leaves it before row y.
  Rng BandStart(int32_t y) const override;
  void Row(int32_t y, int32_t slot, Rng& rng) const override;
  // Destination row y's picture: `width` pixels from s to d, on the thread of
  // `slot` (see BandedRows).
  virtual void Picture(const uint8_t* s, uint8_t* d, int32_t y, int32_t slot, Rng& rng) const = 0;

 protected:
  ~ToneBandRows() = default;
};

// Runs every row in bands on up to `threads` threads and leaves rng where the
// row-by-row pass would; stopped, the rows not reported keep the background,
// also those a band had already rendered. False when the host asked to stop.
bool RunToneBands(ToneBandRows& rows, Rng& rng, int32_t threads);
