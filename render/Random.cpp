#include "render/Random.h"

#include <ctime>

namespace {
Rng gModuleRng = {0};
ClockSource gClockSource = nullptr;
}  // namespace

Rng& ModuleRng() { return gModuleRng; }

long ReadRenderClock() {
  if (gClockSource != nullptr) return gClockSource();
  return static_cast<long>(clock());
}

void SetClockSourceForTesting(ClockSource source) { gClockSource = source; }
