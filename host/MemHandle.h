// The plug-in's own memory: two-level handles that the host keeps for it, and
// zero-filled plain blocks (declared in render/MemBlock.h, for the renderer).
// The Win32 build takes both from the global heap (MemHandleWin32.cpp); the
// native build from the C heap (MemHandlePortable.cpp), with the same master
// block, zero filling and error codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/MemBlock.h"

// The interface's result codes of the handles; memFullErr is also what a
// selector returns without memory.
const int16_t memFullErr = -108;
const int16_t kNilHandleErr = -109;
const int16_t kResizeNoHandleErr = -111;

// A master block: the data block's address, then the four tag bytes "OTOF".
// Hosts that save plug-in handles recognise them by that size and tag: 8 bytes
// in the 32-bit module, 12 in the 64-bit one. Packed to 4 so that the type is
// exactly as big as the block (a naturally aligned x64 struct would be 16 bytes,
// 4 more than the block the heap hands out).
#pragma pack(push, 4)
struct MasterBlock {
  void* data;
  char tag[4];
};
#pragma pack(pop)
const int32_t kMasterBlockSize = int32_t(sizeof(void*)) + 4;
static_assert(offsetof(MasterBlock, tag) == sizeof(void*), "the tag follows the data address");
static_assert(sizeof(MasterBlock) == size_t(kMasterBlockSize), "the type is the block");
typedef MasterBlock* MemHandle;

// The data block of a handle, or null.
inline void* HandleData(MemHandle h) { return h != nullptr ? h->data : nullptr; }

MemHandle NewMemHandle(int32_t size);
void DisposeMemHandle(MemHandle handle);
int32_t GetMemHandleSize(MemHandle handle);
void SetMemHandleSize(MemHandle handle, int32_t size);
int16_t LastMemHandleError();

