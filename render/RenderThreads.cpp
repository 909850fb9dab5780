#include "render/RenderThreads.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {
std::atomic<int32_t> gMinBandRows(kMinBandRows);
std::atomic<int32_t> gLastToneBandCount(0);
std::atomic<int32_t> gWorkerStartLimit(-1);
}  // namespace

int32_t ThreadCountFrom(uint32_t cores, const char* setting) {
  int32_t n = cores == 0 ? 1 : (cores > uint32_t(kMaxRenderThreads) ? kMaxRenderThreads
                                                                     : int32_t(cores));
  if (setting == nullptr) return n;
  // Digits only (blanks around them allowed); "0", signs, fractions and words are ignored.
  const char* p = setting;
  while (*p == ' ') ++p;
  int32_t value = 0;
  const char* digits = p;
  while (*p >= '0' && *p <= '9') {
    if (value < 1000) value = value * 10 + (*p - '0');
    ++p;
  }
  while (*p == ' ') ++p;
  if (p == digits || *p != '\0' || value < 1) return n;
  return value < n ? value : n;
}

int32_t RenderThreadCount() {
  static const int32_t count =
      ThreadCountFrom(std::thread::hardware_concurrency(), std::getenv("PATINEX_THREADS"));
  return count;
}

int32_t ToneBandCount(int32_t height, int32_t threads) {
  if (threads <= 1 || height <= 0) return 1;
  if (threads > kMaxRenderThreads) threads = kMaxRenderThreads;
  const int32_t byHeight = height / gMinBandRows.load(std::memory_order_relaxed);
  const int32_t most = threads * kBandsPerThread;
  const int32_t count = byHeight < most ? byHeight : most;
  return count < 1 ? 1 : count;
}

void SetMinBandRowsForTesting(int32_t rows) {
  gMinBandRows.store(rows > 0 ? rows : kMinBandRows, std::memory_order_relaxed);
}

int32_t LastToneBandCountForTesting() { return gLastToneBandCount.load(std::memory_order_relaxed); }

void NoteToneBandCount(int32_t count) { gLastToneBandCount.store(count, std::memory_order_relaxed); }

void SetWorkerStartLimitForTesting(int32_t workers) {
  gWorkerStartLimit.store(workers, std::memory_order_relaxed);
}

bool WorkerStartRefusedForTesting(int32_t started) {
  const int32_t limit = gWorkerStartLimit.load(std::memory_order_relaxed);
  return limit >= 0 && started >= limit;
}
