// How many threads a render may use, how its rows are cut into bands, and the
// band runner that runs a pass's rows on them.
//
// The tone pass (with the background under it) runs in bands of rows on up to N
// threads: the calling thread and N - 1 workers started for the pass and joined
// before it returns. N is the machine's cores, at most 16; the environment
// variable PATINEX_THREADS can lower it (PATINEX_THREADS=1: one thread). Every
// byte is the same for any N.
#pragma once

#include <cstdint>

#include "render/Random.h"
#include "render/RenderJob.h"

const int32_t kMaxRenderThreads = 16;
// Bands per thread: threads that finish early take the bands left, so a thread
// the system holds back delays the render by a fraction of its share.
const int32_t kBandsPerThread = 4;
const int32_t kMaxToneBands = kMaxRenderThreads * kBandsPerThread;
// A band is never less than this many rows (a few tenths of a millisecond of
// work at 4K width):
// small images, and the preview's, stay on one thread.
const int32_t kMinBandRows = 64;

// N from the number of cores (0 when unknown) and the text of PATINEX_THREADS
// (null when unset): a whole number from 1 lowers N; anything else is ignored.
int32_t ThreadCountFrom(uint32_t cores, const char* setting);
// N for this machine and process (read once).
int32_t RenderThreadCount();

// The number of bands for `height` rows on `threads` threads: one thread, one
// band; otherwise up to kBandsPerThread per thread, each of at least the
// minimum band height. Band b is rows height * b / count .. height * (b + 1) / count - 1.
int32_t ToneBandCount(int32_t height, int32_t threads);

// A pass whose rows depend on nothing but their own inputs and the generator,
// drawing row after row from the top: the runner calls BandStart once per band,
// on the thread that takes the band, and Row for each of the band's rows in
// order with the generator BandStart gave. Both may run on several threads at
// once and must only read what they share, but for what belongs to the thread:
// Row's `slot` is the running thread's own number (0 the calling thread, 1 ..
// RunnerSlots(threads) - 1 its workers), so scratch kept per slot is only ever
// used by one thread at a time, row after row of its bands.
class BandedRows {
 public:
  // The generator as a top-to-bottom run of every row leaves it before row y.
  virtual Rng BandStart(int32_t y) const = 0;
  virtual void Row(int32_t y, int32_t slot, Rng& rng) const = 0;

 protected:
  ~BandedRows() = default;
};

// The threads a run on `threads` (0: RenderThreadCount()) may use, and so the
// slots its rows are given: 1 .. kMaxRenderThreads.
int32_t RunnerSlots(int32_t threads);

// Runs rows 0..rows - 1 of `pass` in ToneBandCount(rows, threads) bands on up
// to `threads` threads (0: RenderThreadCount()): the calling thread, and workers
// it starts and joins before returning. A worker the system cannot start leaves
// its bands to the others. Only the calling thread talks to the host: after each
// row done, from the top down, one by one as the bands finish them, it reports
// progressProc(row, rows) and asks abortProc.
// Returns true when every row ran; false when the host asked to stop: then every
// band stops at its next row, and *rowsReported (always set) tells the rows the
// host was told of. Rows below those may hold a band's work: the caller decides
// what they keep.
bool RunRowBands(const BandedRows& pass, int32_t rows, int32_t threads, const RenderJob& job,
                 int32_t* rowsReported);

// Test-only: the minimum band height (0 restores kMinBandRows), so that small
// test images really split, and the number of bands of the last banded run.
void SetMinBandRowsForTesting(int32_t rows);
int32_t LastToneBandCountForTesting();

// Test-only: from the given number of workers on, starting a worker fails as it
// does when the system has no thread to give (-1 restores: no such limit).
void SetWorkerStartLimitForTesting(int32_t workers);
