// The memory of filterhost's process: what it can still have, checked before
// an image is decoded, and what it took, reported for the tests.
#pragma once

#include <cstdint>

// The smaller of the free address space (what limits the 32-bit host) and the
// memory the system has available. FILTERHOST_MEMORY_LIMIT (bytes) lowers it,
// so that tests can meet the limit on any machine.
uint64_t AvailableMemory();

// With FILTERHOST_PEAK_MEMORY set to a file name, writes the process's peak
// working set in bytes (PeakWorkingSetSize) into that file; else nothing.
void ReportPeakMemory();
