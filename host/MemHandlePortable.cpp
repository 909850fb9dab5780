// The native build's memory handles and plain blocks, from the C heap. Same
// contract as the global-heap version: a master block with the data block's
// address and the tag "OTOF", zero-filled data (also the part a resize adds),
// and the module-level handle error code.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host/MemHandle.h"

namespace {

int16_t gMemHandleError = 0;
int32_t gFailingBlockAllocations = 0;

// The heap does not tell a block's size, so every data block carries it in a
// header just before the address handed out (kept at the strictest alignment,
// so the data itself is as aligned as malloc's).
struct alignas(alignof(std::max_align_t)) DataHeader {
  size_t size;
};

DataHeader* HeaderOf(void* data) { return static_cast<DataHeader*>(data) - 1; }

void* NewDataBlock(int32_t size) {
  if (size < 0) return nullptr;
  void* raw = std::calloc(1, sizeof(DataHeader) + size_t(size));
  if (raw == nullptr) return nullptr;
  DataHeader* header = static_cast<DataHeader*>(raw);
  header->size = size_t(size);
  return header + 1;
}

void FreeDataBlock(void* data) {
  if (data != nullptr) std::free(HeaderOf(data));
}

}  // namespace

MemHandle NewMemHandle(int32_t size) {
  gMemHandleError = 0;
  MemHandle handle = static_cast<MemHandle>(std::calloc(1, sizeof(MasterBlock)));
  void* data = handle != nullptr ? NewDataBlock(size) : nullptr;
  if (data == nullptr) {
    std::free(handle);
    gMemHandleError = memFullErr;
    return nullptr;
  }
  handle->data = data;
  std::memcpy(handle->tag, "OTOF", 4);
  return handle;
}

void DisposeMemHandle(MemHandle handle) {
  gMemHandleError = 0;
  if (handle == nullptr) {
    gMemHandleError = kNilHandleErr;
    return;
  }
  FreeDataBlock(handle->data);
  std::free(handle);
}

int32_t GetMemHandleSize(MemHandle handle) {
  gMemHandleError = 0;
  if (handle == nullptr || handle->data == nullptr) {
    gMemHandleError = kNilHandleErr;
    return 0;
  }
  return int32_t(HeaderOf(handle->data)->size);
}

void SetMemHandleSize(MemHandle handle, int32_t size) {
  gMemHandleError = 0;
  if (handle == nullptr) {
    gMemHandleError = kResizeNoHandleErr;
    return;
  }
  if (handle->data == nullptr || size < 0) {
    gMemHandleError = memFullErr;
    return;
  }
  const size_t oldSize = HeaderOf(handle->data)->size;
  void* raw = std::realloc(HeaderOf(handle->data), sizeof(DataHeader) + size_t(size));
  if (raw == nullptr) {
    // realloc left the old block in place: the handle keeps it.
    gMemHandleError = memFullErr;
    return;
  }
  DataHeader* header = static_cast<DataHeader*>(raw);
  header->size = size_t(size);
  if (size_t(size) > oldSize) {
    std::memset(reinterpret_cast<uint8_t*>(header + 1) + oldSize, 0, size_t(size) - oldSize);
  }
  handle->data = header + 1;
}

int16_t LastMemHandleError() { return gMemHandleError; }

void* NewMemBlock(int32_t size) {
  if (gFailingBlockAllocations > 0) {
    --gFailingBlockAllocations;
    return nullptr;
  }
  return NewDataBlock(size);
}

void FreeMemBlock(void* block) { FreeDataBlock(block); }

void FailNextBlockAllocationsForTesting(int32_t count) {
  gFailingBlockAllocations = count > 0 ? count : 0;
}
