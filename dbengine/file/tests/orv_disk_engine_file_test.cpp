#include "dbengine/file/orv_disk_engine_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "dbengine/file/tests/disk_test_util.h"
#include "platform/base/clock.h"
#include "platform/files/fault_file.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::InChild;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

// A valid file header (signature and HeaderSize 76) followed by a little more.
std::vector<uint8_t> HeaderBytes() {
  std::vector<uint8_t> h(92, 0);
  std::memcpy(h.data(), "ORVETA00DATABASE", 16);
  h[16] = 76;
  return h;
}

using DatabaseFileTest = testing::DiskFileTest;

TEST_F(DatabaseFileTest, OpenCreateAndCloseReportTheirCodes) {
  TORVDatabaseFile f;
  EXPECT_EQ(CodeOf([&] { f.CreateAndOpenFile(""); }), 30374);
  EXPECT_EQ(CodeOf([&] { f.OpenFile(path, amReadWrite, smShareDenyNone); }), 30364);  // missing
  EXPECT_EQ(CodeOf([&] { f.GetSize(); }), 30376);
  EXPECT_EQ(CodeOf([&] { f.CloseFile(); }), 30376);
  EXPECT_EQ(CodeOf([&] { f.OpenFile(path, static_cast<TORVAccessMode>(2), smExclusive); }), 30366);
  EXPECT_EQ(CodeOf([&] { f.OpenFile(path, amReadOnly, static_cast<TORVShareMode>(3)); }), 30367);

  f.CreateAndOpenFile(path);
  EXPECT_EQ(CodeOf([&] { f.CreateAndOpenFile(path); }), 30377);
  EXPECT_EQ(CodeOf([&] { f.DeleteFile(path); }), 30377);
  f.WriteBuffer("abcdef", 6, 0, 111);
  EXPECT_EQ(f.GetSize(), 6);
  EXPECT_EQ(f.GetPosition(), 6);
  f.CloseFile();

  // Another user of the file keeps it from being created anew: its bytes stay.
  TORVDatabaseFile reader, creator;
  reader.OpenFile(path, amReadOnly, smShareDenyNone);
  EXPECT_EQ(CodeOf([&] { creator.CreateAndOpenFile(path); }), 30361);
  EXPECT_EQ(reader.GetSize(), 6);
  EXPECT_EQ(CodeOf([&] { creator.DeleteFile(path); }), 30362);
  EXPECT_EQ(CodeOf([&] { creator.RenameFile(path, dir.File("x")); }), 30378);
  reader.CloseFile();

  // A read-only file is replaced.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  creator.CreateAndOpenFile(path);
  EXPECT_EQ(creator.GetSize(), 0);
  creator.CloseFile();
  creator.RenameFile(path, dir.File("moved.orv"));
  creator.DeleteFile(dir.File("moved.orv"));
  EXPECT_FALSE(platform::FileExists(dir.File("moved.orv")));
}

TEST_F(DatabaseFileTest, ShortTransfersRaiseTheCallersCode) {
  TORVDatabaseFile f;
  f.CreateAndOpenFile(path);
  f.WriteBuffer("0123456789", 10, 0, 1);
  char buffer[16] = {};
  EXPECT_TRUE(f.ReadBuffer(buffer, 10, 0));
  EXPECT_FALSE(f.ReadBuffer(buffer, 16, 0));  // the end of the file is no success
  try {
    f.ReadBuffer(buffer, 16, 0, 12345);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 12345);
    EXPECT_NE(std::string(e.what()).find("Cannot Read from file: '" + path + "' Position = 0, Count = 16"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(f.ReadAvailable(buffer, 16, 4), 6);
  EXPECT_EQ(CodeOf([&] { f.Seek(-1, 0); }), 30372);
  EXPECT_EQ(CodeOf([&] { f.Seek(-1, 777); }), 777);
  f.CloseFile();

  auto plan = std::make_shared<platform::FaultPlan>();
  // Half of the bytes stored, and nothing more on the retry.
  plan->fail_write = 1;
  plan->short_write = true;
  plan->sticky = true;
  TORVDatabaseFile faulty(platform::FaultInjectingFactory(plan));
  faulty.OpenFile(path, amReadWrite, smExclusive);
  try {
    faulty.WriteBuffer("abcdefgh", 8, 0, 4242);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 4242);
    EXPECT_NE(std::string(e.what()).find("Cannot Write to file"), std::string::npos);
  }
}

TEST_F(DatabaseFileTest, LockRulesOfTwoHandles) {
  TORVDatabaseFile a, b;
  WriteAll(path, std::vector<uint8_t>(400, 0));
  a.OpenFile(path, amReadWrite, smShareDenyNone);
  b.OpenFile(path, amReadWrite, smShareDenyNone);
  EXPECT_TRUE(a.LockByte(360, 1));
  EXPECT_FALSE(a.LockByte(360, 1));  // the same handle again
  EXPECT_FALSE(b.LockByte(360, 1));
  EXPECT_FALSE(b.UnlockByte(360, 1));  // not held by b
  EXPECT_TRUE(a.IsByteLocked(360));
  EXPECT_TRUE(a.IsByteLocked(360));  // asking kept it
  EXPECT_FALSE(b.LockByte(360, 1));
  EXPECT_TRUE(b.IsRegionLocked(350, 20));
  EXPECT_FALSE(b.IsRegionLocked(361, 20));
  EXPECT_TRUE(a.UnlockByte(360, 1));
  EXPECT_FALSE(a.UnlockByte(360, 1));
  EXPECT_TRUE(b.LockByte(360, 1));
  // A lock is refused, never granted, whatever the failure.
  EXPECT_FALSE(a.WasCriticalError());
}

TEST_F(DatabaseFileTest, ACriticalLockFailureIsNoGrant) {
  WriteAll(path, std::vector<uint8_t>(400, 0));
  TORVDatabaseFile a;
  a.OpenFile(path, amReadWrite, smShareDenyNone);
  // The handle dies and its file is gone: the reopen fails (after its pauses, on the test
  // clock) and the lock is reported as not taken.
  ::close(a.Handle()->Descriptor());
  ::unlink(path.c_str());
  const uint32_t before = clock.TickCount();
  EXPECT_FALSE(a.LockByte(360, 1));
  EXPECT_TRUE(a.WasCriticalError());
  EXPECT_EQ(clock.TickCount() - before, 2000u);  // three attempts, two pauses
  EXPECT_FALSE(a.LockByte(361, 1));
}

TEST_F(DatabaseFileTest, AReopenedHandleKeepsItsLocks) {
  WriteAll(path, std::vector<uint8_t>(400, 0));
  auto plan = std::make_shared<platform::FaultPlan>();
  TORVDatabaseFile a(platform::FaultInjectingFactory(plan));
  a.OpenFile(path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(a.LockByte(360, 1));
  ASSERT_TRUE(a.LockByte(376, 1));
  // A write fails on a handle that reports itself lost: it is reopened and the write retried.
  plan->fail_write = 1;
  plan->disconnects = 1;
  a.WriteBuffer("x", 1, 0, 1);
  EXPECT_EQ(ReadAll(path)[0], 'x');
  EXPECT_EQ(InChild([&] {
              TORVDatabaseFile other;
              other.OpenFile(path, amReadWrite, smShareDenyNone);
              return (other.LockByte(360, 1) ? 1 : 0) + (other.LockByte(376, 1) ? 2 : 0);
            }),
            0);
}

TEST_F(DatabaseFileTest, LocksAcrossProcesses) {
  WriteAll(path, std::vector<uint8_t>(400, 0));
  TORVDatabaseFile a;
  a.OpenFile(path, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(a.LockByte(360, 1));
  EXPECT_EQ(InChild([&] {
              TORVDatabaseFile own;
              own.OpenFile(path, amReadWrite, smShareDenyNone);
              if (own.LockByte(360, 1)) return 1;
              if (!own.IsByteLocked(360)) return 2;
              if (!own.LockByte(361, 1)) return 3;
              // A second handle in the child, opened and closed, leaves the first one's locks.
              {
                TORVDatabaseFile extra;
                extra.OpenFile(path, amReadOnly, smShareDenyNone);
                extra.CloseFile();
              }
              return own.IsByteLocked(361) && !own.UnlockByte(360, 1) ? 0 : 4;
            }),
            0);
  EXPECT_TRUE(a.LockByte(361, 1));
}

TEST_F(DatabaseFileTest, DesignTimeOpensNest) {
  WriteAll(path, std::vector<uint8_t>(10, 0));
  TORVDatabaseFile f;
  f.OpenFile(path, amReadOnly, smShareDenyNone);
  f.CloseFile();
  f.CloseFileForDesignTime();  // without a matching open: nothing
  EXPECT_FALSE(f.IsOpened());
  f.OpenFileForDesignTime();
  f.OpenFileForDesignTime();
  EXPECT_TRUE(f.IsOpened());
  f.CloseFileForDesignTime();
  EXPECT_TRUE(f.IsOpened());
  f.CloseFileForDesignTime();
  EXPECT_FALSE(f.IsOpened());
}

struct SignatureCase {
  int64_t prefix;   // where the header is placed; -1: no header at all
  int64_t tail;     // bytes after the header
  bool found;
};

TEST_F(DatabaseFileTest, FindSignatureScansInOverlappingBlocks) {
  const SignatureCase cases[] = {
      {0, 400, true},
      {20, 400, true},
      {20000, 400, true},
      {9990, 400, true},   // the signature runs across the end of the first block
      {9983, 400, true},   // the signature ends in the block, its size field beyond it
      {9984, 400, true},   // the size field exactly at the end of the block
      {19968 - 10, 100, true},
      {30000, 0, true},    // a header that ends the file
      {-1, 0, false},
  };
  for (const SignatureCase& c : cases) {
    std::vector<uint8_t> bytes(static_cast<size_t>(c.prefix < 0 ? 25000 : c.prefix), 'O');
    if (c.prefix >= 0) {
      std::vector<uint8_t> h = HeaderBytes();
      h.resize(76);
      bytes.insert(bytes.end(), h.begin(), h.end());
      bytes.insert(bytes.end(), static_cast<size_t>(c.tail), 0);
    }
    WriteAll(path, bytes);
    TORVDatabaseFile f;
    f.OpenFile(path, amReadOnly, smShareDenyNone);
    f.SetPosition(77);
    int64_t offset = -5;
    EXPECT_EQ(f.FindSignature(offset), c.found) << c.prefix;
    EXPECT_EQ(offset, c.found ? c.prefix : -5) << c.prefix;
    EXPECT_EQ(f.GetPosition(), 77);
  }
  // A signature whose HeaderSize is not 76 is passed over.
  std::vector<uint8_t> bytes(100, 0);
  std::vector<uint8_t> wrong = HeaderBytes();
  wrong[16] = 75;
  std::copy(wrong.begin(), wrong.begin() + 76, bytes.begin() + 10);
  std::vector<uint8_t> right = HeaderBytes();
  bytes.insert(bytes.end(), right.begin(), right.begin() + 76);
  bytes.resize(bytes.size() + 50, 0);
  WriteAll(path, bytes);
  TORVDatabaseFile f;
  f.OpenFile(path, amReadOnly, smShareDenyNone);
  int64_t offset = 0;
  ASSERT_TRUE(f.FindSignature(offset));
  EXPECT_EQ(offset, 100);
  // A header cut off by the end of the file is no header.
  bytes.assign(500, 0);
  std::copy(right.begin(), right.begin() + 60, bytes.begin() + 440);
  WriteAll(path, bytes);
  TORVDatabaseFile g;
  g.OpenFile(path, amReadOnly, smShareDenyNone);
  EXPECT_FALSE(g.FindSignature(offset));
}

TEST(TryUsingTimeOut, CountsCallsAndPausesOnTheEngineClock) {
  platform::ManualClock clock;
  platform::ScopedClock scoped(clock);
  int calls = 0;
  EXPECT_FALSE(TryUsingTimeOut([&] { return ++calls, false; }, 0, 20));
  EXPECT_FALSE(TryUsingTimeOut([&] { return ++calls, false; }, -3, 20));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(TryUsingTimeOut([&] { return ++calls, false; }, 3, 20));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(clock.TickCount(), 60u);
  calls = 0;
  EXPECT_TRUE(TryUsingTimeOut([&] { return ++calls == 2; }, 4500, 20));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(clock.TickCount(), 80u);
}

TEST(CheckPageType, NamesBothTypes) {
  EXPECT_EQ(CodeOf([] { CheckPageType(200, 200, 1); }), 0);
  EXPECT_EQ(CodeOf([] { CheckPageType(13, 3, 1); }), 30382);
  EXPECT_EQ(CodeOf([] { PageTypeToStr(13); }), 30382);
  EXPECT_EQ(PageTypeToStr(12), "TableIndex Page");
  try {
    CheckPageType(2, 3, 30423);
    FAIL();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 30423);
    EXPECT_NE(std::string(e.what()).find("Wrong page type. Found 'EAM Page', but expecting: 'PFS Page'"),
              std::string::npos);
  }
  EXPECT_TRUE(IsOSCriticalError(EIO));
  EXPECT_FALSE(IsOSCriticalError(EAGAIN));
  EXPECT_FALSE(IsOSCriticalError(EACCES));
}

}  // namespace
}  // namespace orv
