// The global-heap memory handles and plain blocks of the Win32 build.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "host/FilterRecord.h"
#include "host/MemHandle.h"

namespace {

bool AllZero(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

// A block made by the plug-in: a movable global block, locked once, for life.
void ExpectLockedMovableBlock(const void* address) {
  HGLOBAL block = GlobalHandle(address);
  ASSERT_NE(block, nullptr);
  EXPECT_NE(block, reinterpret_cast<HGLOBAL>(const_cast<void*>(address)));  // movable
  EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 1u);
}

// The master block as hosts that save plug-in handles recognise it: the data
// address, then "OTOF"; 8 bytes in the 32-bit module, 12 in the 64-bit one.
#if defined(_WIN64)
const size_t kExpectedMasterSize = 12;
const size_t kExpectedTagOffset = 8;
#else
const size_t kExpectedMasterSize = 8;
const size_t kExpectedTagOffset = 4;
#endif

TEST(MemHandleWin32, NewHandleHasTagZeroFilledDataAndLockedBlocks) {
  for (int32_t size : {1, 216, 100000}) {
    MemHandle h = NewMemHandle(size);
    ASSERT_NE(h, nullptr) << size;
    EXPECT_EQ(LastMemHandleError(), 0);
    const uint8_t* master = reinterpret_cast<const uint8_t*>(h);
    EXPECT_EQ(0, std::memcmp(master + kExpectedTagOffset, "OTOF", 4));
    // Read as a little-endian 32-bit value the tag is 'FOTO'.
    uint32_t tag;
    std::memcpy(&tag, master + kExpectedTagOffset, 4);
    EXPECT_EQ(tag, 0x464F544Fu);
    // The master block is exactly the address and the tag, nothing more.
    EXPECT_EQ(GlobalSize(GlobalHandle(h)), kExpectedMasterSize);
    // The first word is the data block's address, all pointer-sized bytes of it.
    void* address = nullptr;
    std::memcpy(&address, master, sizeof address);
    EXPECT_EQ(address, h->data);
    ExpectLockedMovableBlock(h);
    ExpectLockedMovableBlock(h->data);
    EXPECT_TRUE(AllZero(h->data, size_t(size)));
    EXPECT_GE(GetMemHandleSize(h), size);
    EXPECT_EQ(LastMemHandleError(), 0);
    DisposeMemHandle(h);
    EXPECT_EQ(LastMemHandleError(), 0);
  }
}

TEST(MemHandleWin32, ResizeKeepsContentsAndZeroFillsTheNewPart) {
  MemHandle h = NewMemHandle(16);
  ASSERT_NE(h, nullptr);
  std::memset(h->data, 0x5C, 16);
  SetMemHandleSize(h, 40000);
  ASSERT_EQ(LastMemHandleError(), 0);
  ASSERT_NE(h->data, nullptr);
  ExpectLockedMovableBlock(h->data);
  EXPECT_GE(GetMemHandleSize(h), 40000);
  const uint8_t* b = static_cast<const uint8_t*>(h->data);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(b[i], 0x5C) << i;
  EXPECT_TRUE(AllZero(b + 16, 40000 - 16));
  SetMemHandleSize(h, 8);
  EXPECT_EQ(LastMemHandleError(), 0);
  EXPECT_EQ(static_cast<const uint8_t*>(h->data)[7], 0x5C);
  DisposeMemHandle(h);
}

// A movable global block of 0 bytes cannot be locked; the handles still work.
TEST(MemHandleWin32, EmptyHandlesAndShrinkingToNothingKeepALockedBlock) {
  MemHandle h = NewMemHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LastMemHandleError(), 0);
  ASSERT_NE(h->data, nullptr);
  ExpectLockedMovableBlock(h->data);
  SetMemHandleSize(h, 100);
  EXPECT_EQ(LastMemHandleError(), 0);
  EXPECT_TRUE(AllZero(h->data, 100));
  SetMemHandleSize(h, 0);
  EXPECT_EQ(LastMemHandleError(), 0);
  ASSERT_NE(h->data, nullptr);
  ExpectLockedMovableBlock(h->data);
  DisposeMemHandle(h);
  EXPECT_EQ(LastMemHandleError(), 0);
  void* block = NewMemBlock(0);
  ASSERT_NE(block, nullptr);
  FreeMemBlock(block);
}

TEST(MemHandleWin32, ErrorCodes) {
  DisposeMemHandle(nullptr);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);

  EXPECT_EQ(GetMemHandleSize(nullptr), 0);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);

  SetMemHandleSize(nullptr, 10);
  EXPECT_EQ(LastMemHandleError(), kResizeNoHandleErr);

  // A handle whose data block is gone.
  MasterBlock empty = {nullptr, {'O', 'T', 'O', 'F'}};
  EXPECT_EQ(GetMemHandleSize(&empty), 0);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);
  SetMemHandleSize(&empty, 10);
  EXPECT_EQ(LastMemHandleError(), memFullErr);
  EXPECT_EQ(empty.data, nullptr);

#if !defined(_WIN64)
  // More than a 32-bit process can have.
  EXPECT_EQ(NewMemHandle(0x7FFFFFF0), nullptr);
  EXPECT_EQ(LastMemHandleError(), memFullErr);
#endif
  EXPECT_EQ(NewMemHandle(-1), nullptr);
  EXPECT_EQ(LastMemHandleError(), memFullErr);

  // A refused resize keeps the old block and its contents.
  MemHandle h = NewMemHandle(32);
  ASSERT_NE(h, nullptr);
  std::memset(h->data, 7, 32);
  const int32_t refusedSizes[] = {
    -5,
#if !defined(_WIN64)
    0x7FFFFFF0,  // the heap cannot grow a block that far in a 32-bit process
#endif
  };
  for (int32_t size : refusedSizes) {
    SetMemHandleSize(h, size);
    EXPECT_EQ(LastMemHandleError(), memFullErr) << size;
    ASSERT_NE(h->data, nullptr);
    EXPECT_EQ(static_cast<const uint8_t*>(h->data)[31], 7);
    ExpectLockedMovableBlock(h->data);
  }
  DisposeMemHandle(h);

  // Each operation clears the code on entry.
  h = NewMemHandle(4);
  EXPECT_EQ(LastMemHandleError(), 0);
  DisposeMemHandle(h);
}

TEST(MemHandleWin32, PlainBlocksAreZeroFilledAndLeaveTheHandleErrorAlone) {
  DisposeMemHandle(nullptr);  // leaves nilHandleErr
  void* block = NewMemBlock(50000);
  ASSERT_NE(block, nullptr);
  ExpectLockedMovableBlock(block);
  EXPECT_TRUE(AllZero(block, 50000));
  EXPECT_EQ(NewMemBlock(-1), nullptr);
  FreeMemBlock(block);
  FreeMemBlock(nullptr);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);
}

TEST(MemHandleWin32, FailNextBlockAllocations) {
  FailNextBlockAllocationsForTesting(2);
  EXPECT_EQ(NewMemBlock(16), nullptr);
  EXPECT_EQ(NewMemBlock(16), nullptr);
  void* third = NewMemBlock(16);
  EXPECT_NE(third, nullptr);
  FreeMemBlock(third);
  FailNextBlockAllocationsForTesting(5);
  FailNextBlockAllocationsForTesting(0);
  void* restored = NewMemBlock(16);
  EXPECT_NE(restored, nullptr);
  FreeMemBlock(restored);
}

TEST(MemHandleWin32, SetHostRectTakesLeftTopRightBottom) {
  Rect r;
  SetHostRect(&r, 1, 2, 3, 4);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 3);
  EXPECT_EQ(r.bottom, 4);
}

}  // namespace
