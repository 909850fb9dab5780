#include "render/RenderThreads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "render/Passes.h"

namespace {
std::atomic<int32_t> gMinBandRows(kMinBandRows);
std::atomic<int32_t> gLastToneBandCount(0);
std::atomic<int32_t> gWorkerStartLimit(-1);

bool WorkerStartRefusedForTesting(int32_t started) {
  const int32_t limit = gWorkerStartLimit.load(std::memory_order_relaxed);
  return limit >= 0 && started >= limit;
}

// What the threads of one run share: the pass, the bands not yet taken, each
// band's rows done, and the stop asked by the host.
struct Bands {
  const BandedRows* pass;
  const RenderJob* job;
  int32_t rows;
  int32_t count;
  std::atomic<int32_t> nextBand;
  std::atomic<int32_t> rowsDone[kMaxToneBands];
  std::atomic<bool> stop;
  std::mutex mutex;                  // guards finishedBands
  std::condition_variable finished;  // a band was finished
  int32_t finishedBands;
};

// The calling thread's place in the reports: rows reported so far, and the band
// they have reached.
struct Reports {
  int32_t rows;
  int32_t band;
};

int32_t FirstRowOfBand(const Bands& b, int32_t band) {
  return int32_t(int64_t(b.rows) * band / b.count);
}

// The calling thread only: reports every row done from the top down that it has
// not reported yet, each followed by the abort test. False when the host asked
// to stop; then every band stops at its next row.
bool ReportRowsDone(Bands& b, Reports* reports) {
  while (reports->rows < b.rows) {
    const int32_t band = reports->band;
    const int32_t done = FirstRowOfBand(b, band) + b.rowsDone[band].load(std::memory_order_acquire);
    while (reports->rows < done) {
      ++reports->rows;
      if (ReportAndCheckAbort(*b.job, reports->rows, b.rows)) {
        b.stop.store(true, std::memory_order_relaxed);
        return false;
      }
    }
    if (done < FirstRowOfBand(b, band + 1)) break;
    ++reports->band;
  }
  return true;
}

// Runs one band, row by row, unless a stop is asked. The calling thread passes
// its reports and reports after each of its rows; workers pass none.
void RunBand(Bands& b, int32_t band, int32_t slot, Reports* reports) {
  const int32_t first = FirstRowOfBand(b, band);
  const int32_t end = FirstRowOfBand(b, band + 1);
  Rng rng = b.pass->BandStart(first);
  for (int32_t y = first; y < end; ++y) {
    if (b.stop.load(std::memory_order_relaxed)) return;
    b.pass->Row(y, slot, rng);
    b.rowsDone[band].store(y + 1 - first, std::memory_order_release);
    if (reports != nullptr && !ReportRowsDone(b, reports)) return;
  }
}

// Takes bands from the top until none is left or a stop is asked.
void RunBands(Bands& b, int32_t slot, Reports* reports) {
  for (;;) {
    const int32_t band = b.nextBand.fetch_add(1);
    if (band >= b.count || b.stop.load(std::memory_order_relaxed)) return;
    RunBand(b, band, slot, reports);
    if (reports == nullptr) {
      std::lock_guard<std::mutex> lock(b.mutex);
      ++b.finishedBands;
      b.finished.notify_one();
    }
  }
}

void RunWorker(Bands* b, int32_t slot) { RunBands(*b, slot, nullptr); }

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

int32_t RunnerSlots(int32_t threads) {
  const int32_t limit = threads > 0 ? threads : RenderThreadCount();
  return limit > kMaxRenderThreads ? kMaxRenderThreads : limit;
}

bool RunRowBands(const BandedRows& pass, int32_t rows, int32_t threads, const RenderJob& job,
                 int32_t* rowsReported) {
  Bands b;
  b.pass = &pass;
  b.job = &job;
  b.rows = rows;
  const int32_t limit = RunnerSlots(threads);
  b.count = ToneBandCount(rows, limit);
  b.nextBand.store(0);
  for (int32_t i = 0; i < b.count; ++i) b.rowsDone[i].store(0);
  b.stop.store(false);
  b.finishedBands = 0;
  gLastToneBandCount.store(b.count, std::memory_order_relaxed);

  // Workers for the bands beyond the calling thread's first. One that cannot be
  // started leaves its bands to the others: the same bytes, later.
  const int32_t wanted = limit < b.count ? limit : b.count;
  std::thread workers[kMaxRenderThreads];
  int32_t started = 0;
  for (; started < wanted - 1; ++started) {
    try {
      if (WorkerStartRefusedForTesting(started)) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      workers[started] = std::thread(RunWorker, &b, started + 1);
    } catch (...) {
      break;
    }
  }

  // The calling thread runs bands too, and reports; once no band is left it
  // reports the others' rows as they finish them.
  Reports reports = {0, 0};
  RunBands(b, 0, &reports);
  int32_t seen = 0;
  while (!b.stop.load(std::memory_order_relaxed) && reports.rows < rows) {
    {
      std::unique_lock<std::mutex> lock(b.mutex);
      b.finished.wait_for(lock, std::chrono::milliseconds(1),
                          [&] { return b.finishedBands != seen; });
      seen = b.finishedBands;
    }
    ReportRowsDone(b, &reports);
  }
  for (int32_t i = 0; i < started; ++i) workers[i].join();

  *rowsReported = reports.rows;
  return !b.stop.load();
}

void SetMinBandRowsForTesting(int32_t rows) {
  gMinBandRows.store(rows > 0 ? rows : kMinBandRows, std::memory_order_relaxed);
}

int32_t LastToneBandCountForTesting() { return gLastToneBandCount.load(std::memory_order_relaxed); }

void SetWorkerStartLimitForTesting(int32_t workers) {
  gWorkerStartLimit.store(workers, std::memory_order_relaxed);
}
