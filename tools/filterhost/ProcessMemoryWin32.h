// The memory of filterhost's process: what it can still have, checked before
// an image is decoded, and what it took, reported for the tests.
#pragma once

#include <cstdint>

// The smaller of the free address space (what limits the 32-bit host) and the
// memory the system has available. FILTERHOST_MEMORY_LIMIT (bytes) lowers it,
// so that tests can meet the limit on any machine.
uint64_t AvailableMemory();

// In the 32-bit host, what the 64-bit one could have on this machine: the
// memory the system has available (FILTERHOST_MEMORY_LIMIT lowers it too);
// 0 in the 64-bit host.
uint64_t AvailableMemoryTo64BitHost();

// Keeps the largest memory a run was estimated to need (RunMemoryBytes), for
// ReportPeakMemory.
void NoteRunEstimate(uint64_t bytes);

// With FILTERHOST_PEAK_MEMORY set to a file name, writes the process's peak
// working set in bytes (PeakWorkingSetSize) into that file, then the largest
// estimate noted; else nothing.
void ReportPeakMemory();
