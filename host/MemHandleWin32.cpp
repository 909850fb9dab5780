// The plug-in's memory from the Win32 global heap. Every block is movable and
// zero-filled (GMEM_MOVEABLE | GMEM_ZEROINIT), locked at once and kept locked for
// its whole life, so its locked address stays valid and is what we hand out; the
// heap handle is found again from that address when the block is freed.
#include <windows.h>

#include <cstring>

#include "host/MemHandle.h"

namespace {

const UINT kBlockFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;  // 0x42
const char kHandleTag[4] = {'O', 'T', 'O', 'F'};

// The error code of the last handle operation (plain blocks leave it alone).
int16_t gHandleError = 0;
// Test-only: how many of the next NewMemBlock calls are refused.
int32_t gFailBlockAllocations = 0;

// A movable block of 0 bytes is born discarded and cannot be locked, so a request
// for nothing gets one byte: a real, lockable block (the heap may always hand out
// more than was asked).
void* AllocLocked(SIZE_T size) {
  HGLOBAL block = GlobalAlloc(kBlockFlags, size > 0 ? size : 1);
  if (block == nullptr) return nullptr;
  void* address = GlobalLock(block);
  if (address == nullptr) GlobalFree(block);
  return address;
}

void FreeLocked(void* address) {
  HGLOBAL block = GlobalHandle(address);
  if (block == nullptr) return;
  GlobalUnlock(block);
  GlobalFree(block);
}

}  // namespace

MemHandle NewMemHandle(int32_t size) {
  gHandleError = 0;
  // A negative size would become a huge unsigned request; refuse it as the heap would.
  MemHandle handle = size >= 0 ? static_cast<MemHandle>(AllocLocked(kMasterBlockSize)) : nullptr;
  if (handle != nullptr) {
    handle->data = AllocLocked(SIZE_T(size));
    if (handle->data == nullptr) {
      FreeLocked(handle);
      handle = nullptr;
    }
  }
  if (handle == nullptr) {
    gHandleError = memFullErr;
    return nullptr;
  }
  std::memcpy(handle->tag, kHandleTag, sizeof kHandleTag);
  return handle;
}

void DisposeMemHandle(MemHandle handle) {
  gHandleError = 0;
  if (handle == nullptr) {
    gHandleError = kNilHandleErr;
    return;
  }
  if (handle->data != nullptr) FreeLocked(handle->data);
  FreeLocked(handle);
}

int32_t GetMemHandleSize(MemHandle handle) {
  gHandleError = 0;
  HGLOBAL block = handle != nullptr && handle->data != nullptr ? GlobalHandle(handle->data) : nullptr;
  if (block == nullptr) {
    gHandleError = kNilHandleErr;
    return 0;
  }
  return int32_t(GlobalSize(block));
}

void SetMemHandleSize(MemHandle handle, int32_t size) {
  gHandleError = 0;
  if (handle == nullptr) {
    gHandleError = kResizeNoHandleErr;
    return;
  }
  HGLOBAL block = handle->data != nullptr ? GlobalHandle(handle->data) : nullptr;
  if (block == nullptr || size < 0) {
    gHandleError = memFullErr;
    return;
  }
  GlobalUnlock(block);
  HGLOBAL resized = GlobalReAlloc(block, size > 0 ? SIZE_T(size) : 1, kBlockFlags);
  // On failure the old block is still there: lock it again and keep it.
  void* address = GlobalLock(resized != nullptr ? resized : block);
  if (resized == nullptr || address == nullptr) gHandleError = memFullErr;
  handle->data = address;
}

int16_t LastMemHandleError() { return gHandleError; }

void* NewMemBlock(int32_t size) {
  if (gFailBlockAllocations > 0) {
    --gFailBlockAllocations;
    return nullptr;
  }
  if (size < 0) return nullptr;
  return AllocLocked(SIZE_T(size));
}

void FreeMemBlock(void* block) {
  if (block != nullptr) FreeLocked(block);
}

void FailNextBlockAllocationsForTesting(int32_t count) { gFailBlockAllocations = count; }
