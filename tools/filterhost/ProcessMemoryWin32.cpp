#include "tools/filterhost/ProcessMemoryWin32.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

namespace {

uint64_t g_estimate = 0;

uint64_t Limited(uint64_t available) {
  if (const char* limit = std::getenv("FILTERHOST_MEMORY_LIMIT")) {
    const unsigned long long bytes = std::strtoull(limit, nullptr, 10);
    if (bytes > 0 && bytes < available) available = bytes;
  }
  return available;
}

}  // namespace

uint64_t AvailableMemory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  uint64_t available = UINT64_MAX;
  if (GlobalMemoryStatusEx(&status)) {
    available = status.ullAvailVirtual < status.ullAvailPhys ? status.ullAvailVirtual
                                                             : status.ullAvailPhys;
  }
  return Limited(available);
}

uint64_t AvailableMemoryTo64BitHost() {
  if (sizeof(void*) == 8) return 0;
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? Limited(status.ullAvailPhys) : 0;
}

void NoteRunEstimate(uint64_t bytes) {
  if (bytes > g_estimate) g_estimate = bytes;
}

void ReportPeakMemory() {
  const char* to = std::getenv("FILTERHOST_PEAK_MEMORY");
  PROCESS_MEMORY_COUNTERS counters;
  if (to == nullptr || *to == '\0' ||
      !GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return;
  }
  if (FILE* file = std::fopen(to, "w")) {
    std::fprintf(file, "%llu %llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                 static_cast<unsigned long long>(g_estimate));
    std::fclose(file);
  }
}
