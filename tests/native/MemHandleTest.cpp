// Memory handles and plain blocks. These run natively against the C-heap version
// and under Wine against the global-heap version, so they check only what both
// promise: the master block, the tag, zero filling, sizes and the error codes.
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

// Leaves a known error code behind, so a test can see whether a call touched it.
void LeaveNilHandleError() {
  DisposeMemHandle(nullptr);
  ASSERT_EQ(LastMemHandleError(), kNilHandleErr);
}

}  // namespace

TEST(MemHandle, MasterBlockHoldsDataAddressThenTagBytes) {
  LeaveNilHandleError();
  MemHandle h = NewMemHandle(216);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LastMemHandleError(), 0);  // cleared on entry
  // Raw bytes of the master block, as a host that inspects it sees them.
  uint8_t raw[sizeof(void*) + 4];
  std::memcpy(raw, h, sizeof(raw));
  void* data = nullptr;
  std::memcpy(&data, raw, sizeof(void*));
  EXPECT_NE(data, nullptr);
  EXPECT_EQ(data, HandleData(h));
  EXPECT_EQ(std::memcmp(raw + sizeof(void*), "OTOF", 4), 0);
  uint32_t tag = 0;
  std::memcpy(&tag, raw + sizeof(void*), 4);
  EXPECT_EQ(tag, 0x464F544Fu);  // 'FOTO' read little-endian
  EXPECT_EQ(kMasterBlockSize, int32_t(sizeof(void*)) + 4);
  DisposeMemHandle(h);
  EXPECT_EQ(LastMemHandleError(), 0);
}

TEST(MemHandle, NewHandlesAreZeroFilledAndAtLeastTheSizeAsked) {
  for (int32_t size : {1, 8, 216, 4097, 1 << 20}) {
    MemHandle h = NewMemHandle(size);
    ASSERT_NE(h, nullptr) << size;
    EXPECT_TRUE(AllZero(HandleData(h), size_t(size))) << size;
    EXPECT_GE(GetMemHandleSize(h), size);
    EXPECT_EQ(LastMemHandleError(), 0);
    DisposeMemHandle(h);
  }
}

TEST(MemHandle, HandlesAreIndependent) {
  MemHandle a = NewMemHandle(64);
  MemHandle b = NewMemHandle(64);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(HandleData(a), HandleData(b));
  std::memset(HandleData(a), 0xAB, 64);
  EXPECT_TRUE(AllZero(HandleData(b), 64));
  DisposeMemHandle(a);
  DisposeMemHandle(b);
}

TEST(MemHandle, GrowingKeepsTheContentsAndZeroFillsTheNewPart) {
  MemHandle h = NewMemHandle(100);
  ASSERT_NE(h, nullptr);
  uint8_t* data = static_cast<uint8_t*>(HandleData(h));
  for (int i = 0; i < 100; ++i) data[i] = uint8_t(i + 1);
  LeaveNilHandleError();
  SetMemHandleSize(h, 100000);
  EXPECT_EQ(LastMemHandleError(), 0);
  EXPECT_GE(GetMemHandleSize(h), 100000);
  data = static_cast<uint8_t*>(HandleData(h));  // the block may have moved
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(data[i], uint8_t(i + 1)) << i;
  EXPECT_TRUE(AllZero(data + 100, 100000 - 100));
  // The tag stays where it was.
  EXPECT_EQ(std::memcmp(h->tag, "OTOF", 4), 0);

  SetMemHandleSize(h, 10);
  EXPECT_EQ(LastMemHandleError(), 0);
  EXPECT_GE(GetMemHandleSize(h), 10);
  data = static_cast<uint8_t*>(HandleData(h));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(data[i], uint8_t(i + 1)) << i;
  DisposeMemHandle(h);
}

TEST(MemHandle, ErrorCodesForMissingHandlesAndBlocks) {
  DisposeMemHandle(nullptr);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);
  EXPECT_EQ(kNilHandleErr, -109);

  EXPECT_EQ(GetMemHandleSize(nullptr), 0);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);

  SetMemHandleSize(nullptr, 10);
  EXPECT_EQ(LastMemHandleError(), kResizeNoHandleErr);
  EXPECT_EQ(kResizeNoHandleErr, -111);

  // A master block whose data block is gone: no size, and resizing has nothing
  // to reallocate (the handle keeps none).
  MasterBlock orphan;
  orphan.data = nullptr;
  std::memcpy(orphan.tag, "OTOF", 4);
  EXPECT_EQ(GetMemHandleSize(&orphan), 0);
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);
  SetMemHandleSize(&orphan, 16);
  EXPECT_EQ(LastMemHandleError(), memFullErr);
  EXPECT_EQ(orphan.data, nullptr);
}

TEST(MemHandle, RefusedAllocationsReportMemFull) {
  // A negative size is a request no heap grants.
  LeaveNilHandleError();
  EXPECT_EQ(NewMemHandle(-1), nullptr);
  EXPECT_EQ(LastMemHandleError(), memFullErr);
  EXPECT_EQ(memFullErr, -108);

  MemHandle h = NewMemHandle(32);
  ASSERT_NE(h, nullptr);
  std::memset(HandleData(h), 7, 32);
  SetMemHandleSize(h, -1);
  EXPECT_EQ(LastMemHandleError(), memFullErr);
  // The handle keeps its old data block.
  ASSERT_NE(HandleData(h), nullptr);
  EXPECT_GE(GetMemHandleSize(h), 32);
  EXPECT_EQ(static_cast<uint8_t*>(HandleData(h))[31], 7);
  DisposeMemHandle(h);
  EXPECT_EQ(LastMemHandleError(), 0);
}

TEST(MemBlock, ZeroFilledAndLeavesTheHandleErrorAlone) {
  LeaveNilHandleError();
  void* block = NewMemBlock(5000);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 5000));
  std::memset(block, 0xFF, 5000);  // all of it is ours to write
  FreeMemBlock(block);
  FreeMemBlock(nullptr);  // allowed, does nothing
  EXPECT_EQ(LastMemHandleError(), kNilHandleErr);
}

TEST(MemBlock, TestHookFailsExactlyTheNextAllocations) {
  FailNextBlockAllocationsForTesting(2);
  EXPECT_EQ(NewMemBlock(16), nullptr);
  EXPECT_EQ(NewMemBlock(16), nullptr);
  void* third = NewMemBlock(16);
  EXPECT_NE(third, nullptr);
  FreeMemBlock(third);

  FailNextBlockAllocationsForTesting(5);
  FailNextBlockAllocationsForTesting(0);  // back to normal service
  void* block = NewMemBlock(16);
  EXPECT_NE(block, nullptr);
  FreeMemBlock(block);
}

TEST(SetHostRect, TakesLeftTopRightBottom) {
  Rect r = {-1, -1, -1, -1};
  SetHostRect(&r, 10, 20, 30, 40);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 30);
  EXPECT_EQ(r.bottom, 40);
  SetHostRect(&r, 0, 0, 0, 0);  // what continue uses to say "no more data"
  EXPECT_EQ(r.top | r.left | r.bottom | r.right, 0);
}
