// A deliberately plain second implementation of the renderer up to the end of
// the tone pass: background, jitter, flicker, gray and tint, the film-response
// curve and grain, written per pixel straight from the rules (pow per channel,
// a remainder per draw, its own generator). The tests compare RenderEffect with
// it byte for byte, and the benchmark measures how much the tables save.
#pragma once

#include <cstdint>

#include "render/RenderJob.h"

// Renders job as RenderEffect does when dust, hair and scratches draw nothing,
// with the generator seeded by `seed`. Returns the generator's state after the
// tone pass's last draw (where the dust pass would carry on). With `grain`,
// destination pixel (x, y) takes grain[y * grainStride + x] instead of a drawn
// grain, and no grain is drawn.
uint32_t ReferenceToneRender(const RenderJob& job, uint32_t seed, const int16_t* grain = nullptr,
                             int32_t grainStride = 0);
