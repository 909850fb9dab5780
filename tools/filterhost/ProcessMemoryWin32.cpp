#include "tools/filterhost/ProcessMemoryWin32.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

uint64_t AvailableMemory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  uint64_t available = UINT64_MAX;
  if (GlobalMemoryStatusEx(&status)) {
    available = status.ullAvailVirtual < status.ullAvailPhys ? status.ullAvailVirtual
                                                             : status.ullAvailPhys;
  }
  if (const char* limit = std::getenv("FILTERHOST_MEMORY_LIMIT")) {
    const unsigned long long bytes = std::strtoull(limit, nullptr, 10);
    if (bytes > 0 && bytes < available) available = bytes;
  }
  return available;
}

void ReportPeakMemory() {
  const char* to = std::getenv("FILTERHOST_PEAK_MEMORY");
  PROCESS_MEMORY_COUNTERS counters;
  if (to == nullptr || *to == '\0' ||
      !GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return;
  }
  if (FILE* file = std::fopen(to, "w")) {
    std::fprintf(file, "%llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    std::fclose(file);
  }
}
