// The passes of RenderEffect, called in a fixed order on the destination. Each
// returns false when the host's abort callback asked to stop.
#pragma once

#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScratchCache.h"
#include "render/WorkingValues.h"

// Reports one unit of work and asks whether to stop: progressProc(done, total),
// then abortProc(). True when the host wants the render stopped. Either callback
// may be missing (a caller that does not care), which counts as "go on".
inline bool ReportAndCheckAbort(const RenderJob& job, int32_t done, int32_t total) {
  if (job.progressProc != nullptr) job.progressProc(done, total);
  return job.abortProc != nullptr && job.abortProc() != 0;
}

struct ScaledGrain;

// Grain given rather than drawn (GrainSource::kRow in render/ToneKernels.h):
// destination row y's grain for pixel x is rows8[y * stride + x] (8 bits) or
// rows16[y * stride + x] (16 bits, widened), or, with `scaled`, made a piece of
// a row at a time from a scaled render's field (render/ScaledGrain.h); every
// value within low..high (widened at 16 bits). The tone pass then draws no
// number.
struct ToneGrainField {
  const int16_t* rows8;
  const int32_t* rows16;
  int32_t stride;
  int32_t low;
  int32_t high;
  const ScaledGrain* scaled = nullptr;
};

// The background and the tone pass, in bands of rows on up to `threads` threads
// (0: RenderThreadCount()) with the given kernel's rows; the same bytes, progress
// reports and generator state for any number and kernel. Rows after the last row
// reported when the host asked to stop keep their background. With `field` the
// grain is the field's instead of drawn.
bool RunTonePass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads = 1,
                 ToneKernel kernel = ToneKernel::kChosen, const ToneGrainField* field = nullptr);
// The tone pass at 16 bits per channel (render/TonePass16.cpp); RunTonePass
// hands 16-bit jobs to it. A kernel's rows where its tables could be made,
// else the plain rows: the same bytes.
bool RunTonePass16(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads,
                   ToneKernel kernel = ToneKernel::kChosen,
                   const ToneGrainField* field = nullptr);
// While set, the 16-bit pass finds no memory for its tables (for the test of
// the plain rows it then runs).
void FailTables16ForTesting(bool fail);
// Dust and hairs; a scaled render lays their marks on up to `threads` threads
// (see RunRowBands in render/RenderThreads.h), the same bytes on any number.
bool RunDustPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads);
bool RunHairPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, int32_t threads);

// The cache RenderEffect uses (render/ScratchCache.h); lives as long as the module.
ScratchCache* ModuleScratchCache();

// The scratches, replayed from seed 0 through `cache` (null: in full). The pass
// takes its arrays and frees them before it returns; without memory for them it
// draws nothing and returns true. It takes every scratch's draws first and then
// darkens the picture row by row; where there is no memory for what that keeps
// (at most 64 MB), it draws the scratches one after another: the same bytes.
// The rows are darkened in bands on up to `threads` threads (0: as many as
// RenderThreadCount() gives), the same bytes for any number.
bool RunScratchPass(const RenderJob& job, const WorkingValues& wv, Rng& rng, ScratchCache* cache,
                    int32_t threads = 1);
// Test-only: the most the row-by-row drawing may take (0: always scratch by
// scratch; -1 restores 64 MB).
void SetScratchPlanLimitForTesting(int64_t bytes);
