// The renderer's working memory: zero-filled plain blocks. Declared here and
// implemented beside the host's memory handles (host/MemHandleWin32.cpp,
// host/MemHandlePortable.cpp), from the allocator the handles use, so that a
// render takes its blocks where the rest of the module takes its memory.
#pragma once

#include <cstdint>

// A zero-filled block of `size` bytes; null when there is no memory for it.
void* NewMemBlock(int32_t size);
// Frees a block from NewMemBlock; null is fine.
void FreeMemBlock(void* block);

// Test-only: the next `count` NewMemBlock calls fail (0 restores normal service).
void FailNextBlockAllocationsForTesting(int32_t count);
