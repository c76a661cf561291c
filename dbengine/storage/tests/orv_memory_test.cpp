#include "dbengine/storage/orv_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

namespace orv {
namespace {

int32_t CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EORVException& e) {
    return e.NativeError();
  }
  return 0;
}

TEST(TORVMemoryManager, OneByteBlockIsAccountedAndAligned) {
  TORVMemoryManager mm;
  void* p = mm.GetMem(1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 1);
  EXPECT_EQ(mm.TotalMemAllocated(), 1);
  static_cast<uint8_t*>(p)[0] = 0xFF;
  mm.FreeAndNillMem(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
  EXPECT_EQ(mm.GetMemoryBufferSize(nullptr), 0);
}

TEST(TORVMemoryManager, OverrunIsReportedAfterTheBlockIsFreed) {
  TORVMemoryManager mm;
  auto* p = static_cast<uint8_t*>(mm.GetMem(10));
  p[10] = 0;  // one byte past the end, inside the guard
  try {
    mm.FreeAndNillMem(p);
    FAIL() << "overrun not detected";
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30137);
    EXPECT_STREQ(e.what(), "Memory overrun detected - Native error: 30137");
  }
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(TORVMemoryManager, ForeignPointersAreRefusedAndKeptByTheCaller) {
  TORVMemoryManager mm;
  alignas(16) uint8_t arena[64] = {};
  uint8_t* foreign = arena + 32;
  uint8_t* keep = foreign;
  EXPECT_EQ(CodeOf([&] { mm.FreeAndNillMem(foreign); }), 30001);
  EXPECT_EQ(foreign, keep);
  EXPECT_EQ(CodeOf([&] { mm.FreeMem(foreign); }), 30001);
  EXPECT_EQ(CodeOf([&] { (void)mm.GetMemoryBufferSize(foreign); }), 30005);
  try {
    mm.ReallocMem(foreign, 8);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30014);
    EXPECT_STREQ(e.what(), "ReallocMem error: Invalid pointer - Native error: 30002 - Native error: 30014");
  }
  // A pointer that was freed once is no block any more.
  void* p = mm.GetMem(8);
  void* copy = p;
  mm.FreeMem(p);
  EXPECT_EQ(p, copy);
  void* nil = nullptr;
  EXPECT_NO_THROW(mm.FreeAndNillMem(nil));
  EXPECT_NO_THROW(mm.FreeMem(nullptr));
}

TEST(TORVMemoryManager, SizeErrors) {
  TORVMemoryManager mm;
  EXPECT_EQ(CodeOf([&] { mm.GetMem(0); }), 30286);
  // The header keeps a 32-bit size; larger requests must be refused, not truncated.
  for (int64_t size : {int64_t{1} << 31, (int64_t{1} << 32) + 5, int64_t{-1}, int64_t{INT64_MAX}}) {
    try {
      mm.GetMem(size);
      FAIL() << size;
    } catch (const EORVException& e) {
      EXPECT_EQ(e.NativeError(), 30015);
      EXPECT_STREQ(e.what(), "GetMem error: Out of memory - Native error: 30015");
    }
  }
  void* p = mm.GetMem(4);
  EXPECT_EQ(CodeOf([&] { mm.ReallocMem(p, 0); }), 30014);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 4);
  mm.FreeAndNillMem(p);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(TORVMemoryManager, LimitMayBeReachedButNotPassed) {
  TORVMemoryManager mm(100);
  void* a = mm.GetMem(60);
  try {
    mm.GetMem(50);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30004);
    EXPECT_STREQ(e.what(), "Memory limit exceeded (Limit = 100 bytes) - Native error: 30004");
  }
  EXPECT_EQ(mm.TotalMemAllocated(), 60);
  void* b = mm.GetMem(40);
  EXPECT_EQ(mm.TotalMemAllocated(), 100);
  EXPECT_LE(mm.GetFreeMemorySize(), 100);
  EXPECT_EQ(CodeOf([&] { mm.GetMem(INT64_MAX); }), 30004);  // no overflow in the limit test
  mm.FreeMem(a);
  mm.FreeMem(b);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(TORVMemoryManager, ReallocKeepsContentAndClearsOnlyTheTail) {
  TORVMemoryManager mm;
  auto* p = static_cast<uint8_t*>(mm.GetMem(8));
  std::iota(p, p + 8, uint8_t{1});
  // Make the fresh block likely to contain garbage so that a missing clear shows.
  void* junk = mm.GetMem(32);
  std::memset(junk, 0xEE, 32);
  mm.FreeMem(junk);
  mm.ReallocMemAndClearTail(p, 32);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 32);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p[i], i + 1);
  for (int i = 8; i < 32; ++i) EXPECT_EQ(p[i], 0) << i;
  mm.ReallocMem(p, 3);
  EXPECT_EQ(mm.GetMemoryBufferSize(p), 3);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[2], 3);
  EXPECT_EQ(mm.TotalMemAllocated(), 3);
  mm.FreeAndNillMem(p);
  uint8_t* q = nullptr;
  mm.ReallocMem(q, 5, true);
  EXPECT_EQ(q[4], 0);
  mm.FreeAndNillMem(q);
}

TEST(TORVMemoryManager, EveryAllocationMethodWorks) {
  TORVMemoryManager mm;
  EXPECT_EQ(mm.GetMemTypes().size(), 1u);
  for (TGetMemType method : {gmtGetMem, gmtVirtualAlloc, gmtGlobalAlloc}) {
    mm.SetGetMemTypes({{2147483647, method}});
    auto* p = static_cast<uint8_t*>(mm.AllocMem(5000));
    EXPECT_EQ(p[4999], 0);
    p[4999] = 7;
    mm.FreeAndNillMem(p);
  }
  mm.SetGetMemTypes({{2147483647, static_cast<TGetMemType>(9)}});
  try {
    mm.GetMem(4);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30015);
    EXPECT_STREQ(e.what(), "GetMem error: Unknown GetMem method type: 9 - Native error: 30340 - Native error: 30015");
  }
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(TORVMemoryManager, ConcurrentUseKeepsTheTotal) {
  TORVMemoryManager mm;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 1; i <= 2000; ++i) {
        void* p = mm.GetMem(i % 97 + 1);
        mm.FreeAndNillMem(p);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(ORVMove, MatchesMemmoveForEveryShift) {
  for (int shift = -6; shift <= 6; ++shift) {
    uint8_t a[32], b[32];
    std::iota(a, a + 32, uint8_t{0});
    std::memcpy(b, a, 32);
    ORVMove(a + 10, a + 10 + shift, 5);
    std::memmove(b + 10 + shift, b + 10, 5);
    EXPECT_EQ(std::memcmp(a, b, 32), 0) << shift;
  }
  EXPECT_EQ(&MemoryManager(), &MemoryManager());
}

}  // namespace
}  // namespace orv
