#include "dbengine/file/orv_disk_engine_internal_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>

#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/file/orv_disk_engine_system_files.h"
#include "dbengine/file/tests/disk_test_util.h"

namespace orv {
namespace {

using testing::CheckDbFiles;
using testing::CodeOf;
using testing::PythonLockHolder;
using testing::ReadAll;
using testing::WriteAll;

constexpr int32_t kSession = 1;

// The address sanitizer's allocation hook (present in the sanitized test build only): the
// largest single allocation while Body runs, or -1 without the sanitizer.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*)) __attribute__((weak));
std::atomic<size_t> g_largest{0};
template <class F>
int64_t LargestAllocationDuring(F&& Body) {
  static const bool installed =
      __sanitizer_install_malloc_and_free_hooks &&
      __sanitizer_install_malloc_and_free_hooks(
          [](const volatile void*, size_t size) {
            size_t seen = g_largest.load();
            while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
            }
          },
          [](const volatile void*) {}) != 0;
  g_largest = 0;
  Body();
  return installed ? static_cast<int64_t>(g_largest.load()) : -1;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::minstd_rand random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

class InternalFilesTest : public testing::DiskFileTest {
 protected:
  std::unique_ptr<TORVDiskPageManager> pm = testing::CreateDatabase(path);

  TORVInternalDBTransactedAccessFile NewTransacted() {
    TORVInternalDBTransactedAccessFile file(*pm, ptTableMetaDataFile);
    file.CreateFile(kSession);
    return file;
  }
  std::vector<uint8_t> Read(TORVInternalDBTransactedAccessFile& file, int32_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    file.ReadFile(kSession, bytes.data(), count, true);
    return bytes;
  }
  bool Used(int32_t page) { return pm->FreeSpaceManager()->GetPageUsageFromPFS(page); }
};

TEST_F(InternalFilesTest, ATransactedFileTakesThePagesItsContentNeeds) {
  struct Case {
    int32_t size, pages;
  };
  for (const Case c : {Case{0, 1}, Case{4046, 1}, Case{4047, 2}, Case{12000, 3}}) {
    SCOPED_TRACE(c.size);
    TORVInternalDBTransactedAccessFile file = NewTransacted();
    const std::vector<uint8_t> content = Pattern(static_cast<size_t>(c.size), c.size);
    file.WriteFile(kSession, content.data(), c.size, acaNone, 0);
    pm->ApplyChanges(kSession);
    EXPECT_EQ(file.GetSize(kSession), c.size);
    EXPECT_EQ(file.GetPageCountForDataSize(c.size), c.pages);
    EXPECT_NE(file.GoToPage(kSession, c.pages - 1), -1);
    EXPECT_EQ(CodeOf([&] { file.GoToPage(kSession, c.pages); }), 20300);
    EXPECT_EQ(Read(file, c.size), content);
    EXPECT_EQ(CodeOf([&] { Read(file, c.size + 1); }), 30387);
  }
  int32_t page = 0;
  uint16_t offset = 0;
  NewTransacted().GetPageNoAndOffsetForPosition(4046, page, offset);
  EXPECT_EQ(page, 1);
  EXPECT_EQ(offset, 0);
}

TEST_F(InternalFilesTest, TransactedFileMisuse) {
  TORVInternalDBTransactedAccessFile unbound(*pm, ptTableMetaDataFile);
  uint8_t b = 0;
  int32_t size = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  EXPECT_EQ(CodeOf([&] { unbound.SetFileSize(kSession, 1, 1, acaNone); }), 30389);
  EXPECT_EQ(CodeOf([&] { unbound.GetFileSize(kSession, size, decompressed, algorithm, changed, true); }), 30389);
  EXPECT_EQ(CodeOf([&] { unbound.ReadFile(kSession, &b, 1, true); }), 30389);
  EXPECT_EQ(CodeOf([&] { unbound.WriteFile(kSession, &b, 1, acaNone, 0); }), 30389);
  EXPECT_EQ(CodeOf([&] { unbound.LockFile(); }), 30389);
  EXPECT_EQ(CodeOf([&] { unbound.InitFileHeader(kSession); }), 20301);
  TORVInternalDBTransactedAccessFile file = NewTransacted();
  EXPECT_EQ(CodeOf([&] { file.CreateFile(kSession); }), 30383);
  // Compressing nothing fails.
  EXPECT_EQ(CodeOf([&] { file.WriteFile(kSession, &b, 0, acaZLIB, 6); }), 20187);
  EXPECT_EQ(CodeOf([&] { file.WriteFile(kSession, &b, -1, acaNone, 0); }), 30516);
  // A page of another type where the file should be (read from the file, not the cache).
  pm->ApplyChanges(kSession);
  pm->CloseDatabase();
  bool repair = false;
  pm = testing::OpenDatabase(path, repair);
  TORVInternalDBTransactedAccessFile wrong(*pm, ptTableList);
  wrong.OpenFile(file.GetStartPageNo());
  EXPECT_EQ(CodeOf([&] { wrong.GetSize(kSession); }), 20153);
}

TEST_F(InternalFilesTest, ACompressedFileHoldsZlibDataThatPythonReads) {
  // Half noise, half text: compressible, yet long enough to need several pages.
  std::vector<uint8_t> content = Pattern(24000, 7);
  const std::string text = "Dot area 12.5 %, ruling 60 L/cm, angle 45.0 deg; ";
  for (size_t i = 0; i < content.size(); i += 2) content[i] = static_cast<uint8_t>(text[i % text.size()]);
  TORVInternalDBTransactedAccessFile file = NewTransacted();
  file.WriteFile(kSession, content.data(), static_cast<int32_t>(content.size()), acaZLIB, 6);
  pm->ApplyChanges(kSession);
  int32_t stored = 0, decompressed = 0;
  TORVCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  file.GetFileSize(kSession, stored, decompressed, algorithm, changed, true);
  EXPECT_EQ(algorithm, acaZLIB);
  EXPECT_EQ(decompressed, 24000);
  EXPECT_GT(stored, 4046);
  EXPECT_LT(stored, 24000);
  EXPECT_EQ(Read(file, 24000), content);
  EXPECT_EQ(Read(file, 100), std::vector<uint8_t>(content.begin(), content.begin() + 100));
  const int32_t start = file.GetStartPageNo();
  pm->CloseDatabase();

  const std::string expected = dir.File("expected.bin");
  WriteAll(expected, content);
  const auto check = CheckDbFiles({"content", path, std::to_string(start), expected});
  EXPECT_EQ(check.exit_code, 0) << check.output;

  // The zlib header damaged: the content no longer decompresses.
  std::vector<uint8_t> bytes = ReadAll(path);
  bytes[380 + static_cast<size_t>(start) * 4096 + 40 + 10] ^= 0xFF;
  WriteAll(path, bytes);
  bool repair = false;
  pm = testing::OpenDatabase(path, repair);
  TORVInternalDBTransactedAccessFile reopened(*pm, ptTableMetaDataFile);
  reopened.OpenFile(start);
  EXPECT_EQ(CodeOf([&] { Read(reopened, 24000); }), 20189);
}

// Sizes in a file header are claims of the file: a damaged header that claims a gigabyte is
// refused as damage before anything is allocated for it, whether the content is stored plain
// or compressed, and so is the table list read through it when a database opens.
TEST_F(InternalFilesTest, AHeaderClaimingMoreThanTheFileHoldsAllocatesNothingForIt) {
  const std::vector<uint8_t> content = Pattern(3000, 5);
  struct Case {
    uint8_t page_type;
    TORVCompressionAlgorithm algorithm;
    int32_t decompressed;  // the claim; the stored size is left as written
    int32_t code;
  };
  for (const Case c : {Case{ptTableMetaDataFile, acaNone, 1'000'000'000, 30388},
                       Case{ptTableMetaDataFile, acaZLIB, 1'900'000'000, 20189},
                       Case{ptTableList, acaNone, 0x3E3E3E3E, 30388}}) {
    SCOPED_TRACE(c.decompressed);
    TORVInternalDBTransactedAccessFile file(*pm, c.page_type);
    file.CreateFile(kSession);
    file.WriteFile(kSession, content.data(), static_cast<int32_t>(content.size()), c.algorithm, 6);
    int32_t stored = 0, decompressed = 0;
    TORVCompressionAlgorithm algorithm = acaNone;
    bool changed = false;
    file.GetFileSize(kSession, stored, decompressed, algorithm, changed, true);
    file.SetFileSize(kSession, stored, c.decompressed, c.algorithm);
    pm->ApplyChanges(kSession);
    int32_t code = 0;
    const int64_t largest = LargestAllocationDuring([&] {
      if (c.page_type == ptTableList) {
        TORVTableListFile list(*pm);
        list.OpenFile(file.GetStartPageNo());
        code = CodeOf([&] { list.Load(); });
      } else {
        code = CodeOf([&] { file.ReadWholeFile(kSession, true); });
      }
    });
    EXPECT_EQ(code, c.code);
    // (A decompression starts with a buffer of a few of the engine's largest blocks.)
    if (largest >= 0) {
      EXPECT_LT(largest, 64 << 20);
    }
  }
  // An honest header reads back whole.
  TORVInternalDBTransactedAccessFile file = NewTransacted();
  file.WriteFile(kSession, content.data(), static_cast<int32_t>(content.size()), acaZLIB, 6);
  EXPECT_EQ(file.ReadWholeFile(kSession, true), content);
}

TEST_F(InternalFilesTest, ShrinkingGivesThePagesBehindTheNewLastPageBack) {
  TORVInternalDBTransactedAccessFile file = NewTransacted();
  const std::vector<uint8_t> big = Pattern(12000, 1), small = Pattern(100, 2);
  file.WriteFile(kSession, big.data(), 12000, acaNone, 0);
  pm->ApplyChanges(kSession);
  const int32_t second = file.GoToPage(kSession, 1), third = file.GoToPage(kSession, 2);
  file.WriteFile(kSession, small.data(), 100, acaNone, 0);
  // Given back with the commit, not before.
  EXPECT_TRUE(Used(second));
  pm->ApplyChanges(kSession);
  EXPECT_FALSE(Used(second));
  EXPECT_FALSE(Used(third));
  EXPECT_EQ(CodeOf([&] { file.GoToPage(kSession, 1); }), 20300);
  EXPECT_EQ(Read(file, 100), small);
  file.WriteFile(kSession, big.data(), 12000, acaNone, 0);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(Read(file, 12000), big);

  // A chain that still runs on behind its content is used before new pages are taken.
  const int32_t start = file.GetStartPageNo();
  const int32_t total = pm->GetDbHeader()->TotalPageCount;
  const int32_t linked = file.GoToPage(kSession, 1);
  pm->CloseDatabase();
  std::vector<uint8_t> bytes = ReadAll(path);
  bytes[380 + static_cast<size_t>(start) * 4096 + 40 + 1] = 100;  // FileSize 100, the chain kept
  for (int i = 2; i <= 4; ++i) bytes[380 + static_cast<size_t>(start) * 4096 + 40 + i] = 0;
  WriteAll(path, bytes);
  bool repair = false;
  pm = testing::OpenDatabase(path, repair);
  TORVInternalDBTransactedAccessFile reopened(*pm, ptTableMetaDataFile);
  reopened.OpenFile(start);
  reopened.SetFileSize(kSession, 5000, 5000, acaNone);
  EXPECT_EQ(reopened.GoToPage(kSession, 1), linked);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(pm->GetDbHeader()->TotalPageCount, total);
}

TEST_F(InternalFilesTest, DeletingAFileGivesAllItsPagesBackAtTheCommit) {
  TORVInternalDBTransactedAccessFile transacted = NewTransacted();
  const std::vector<uint8_t> content = Pattern(9000, 3);
  transacted.WriteFile(kSession, content.data(), 9000, acaNone, 0);
  TORVInternalDBDirectAccessFile direct(*pm, ptTableLocksFile);
  direct.CreateFile(6000);
  pm->ApplyChanges(kSession);
  pm->ApplyChanges(SYSTEM_SESSION_ID);
  std::vector<int32_t> pages = direct.FilePages();
  for (int i = 0; i < 3; ++i) pages.push_back(transacted.GoToPage(kSession, i));
  transacted.DeleteFile(kSession, -1);
  direct.DeleteFile(-1);
  EXPECT_EQ(transacted.GetStartPageNo(), -1);
  EXPECT_EQ(direct.GetStartPageNo(), -1);
  pm->ApplyChanges(kSession);
  pm->ApplyChanges(SYSTEM_SESSION_ID);
  for (int32_t p : pages) EXPECT_FALSE(Used(p)) << p;
}

class DirectFileTest : public InternalFilesTest {
 protected:
  // A direct-access file of Size bytes, committed and opened again from the file.
  TORVInternalDBDirectAccessFile Committed(int32_t size) {
    TORVInternalDBDirectAccessFile created(*pm, ptTableLocksFile);
    created.CreateFile(size);
    pm->ApplyChanges(SYSTEM_SESSION_ID);
    TORVInternalDBDirectAccessFile file(*pm, ptTableLocksFile);
    file.OpenFile(created.GetStartPageNo());
    return file;
  }
  int64_t FileOffset(TORVInternalDBDirectAccessFile& file, int32_t position) {
    int32_t page = 0;
    uint16_t offset = 0;
    file.InternalSeek(position, page, offset);
    return pm->GetPageOffset(page) + offset;
  }
};

TEST_F(DirectFileTest, ContentIsReadAndWrittenInPlaceAcrossPages) {
  TORVInternalDBDirectAccessFile file = Committed(6000);
  ASSERT_EQ(file.FilePages().size(), 2u);
  EXPECT_EQ(file.FileSize(), 6000);
  EXPECT_EQ(file.GetSize(), 6000);
  // Content byte 4046 is the first data byte of the second page.
  EXPECT_EQ(FileOffset(file, 4046), pm->GetPageOffset(file.FilePages()[1]) + 40);
  const std::vector<uint8_t> bytes = Pattern(12, 5);
  file.WriteBuffer(bytes.data(), 12, 4040);
  std::vector<uint8_t> back(12);
  file.ReadBuffer(back.data(), 12, 4040);
  EXPECT_EQ(back, bytes);
  const std::vector<uint8_t> raw = ReadAll(path);
  EXPECT_EQ(raw[static_cast<size_t>(FileOffset(file, 4046))], bytes[6]);
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer(bytes.data(), 6, 5998); }), 20158);
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer(bytes.data(), 6, 5994); }), 0);
  EXPECT_EQ(CodeOf([&] { file.ReadBuffer(back.data(), 6, 6001); }), 20159);
}

TEST_F(DirectFileTest, ARegionAcrossAPageBoundaryIsCheckedOnBothPages) {
  TORVInternalDBDirectAccessFile file = Committed(6000);
  struct Case {
    int32_t locked;
    bool seen;
  };
  for (const Case c : {Case{3999, false}, Case{4000, true}, Case{4045, true}, Case{4046, true}, Case{4099, true},
                       Case{4100, false}}) {
    SCOPED_TRACE(c.locked);
    ASSERT_TRUE(file.LockByte(c.locked));
    EXPECT_EQ(file.IsRegionLocked(4000, 100), c.seen);
    ASSERT_TRUE(file.UnlockByte(c.locked));
  }
  // A lock of another process counts the same.
  PythonLockHolder holder(path, FileOffset(file, 4099));
  ASSERT_TRUE(holder.Ready());
  EXPECT_TRUE(file.IsRegionLocked(4000, 100));
  EXPECT_TRUE(file.IsByteLocked(4099));
  EXPECT_FALSE(file.LockByte(4099));
  EXPECT_FALSE(file.IsRegionLocked(4000, 99));
  EXPECT_FALSE(file.IsRegionLocked(4000, 0));
}

TEST_F(DirectFileTest, AOnePageFileOffersTheWholePage) {
  TORVInternalDBDirectAccessFile file = Committed(500);
  EXPECT_EQ(file.GetSize(), 500);
  EXPECT_EQ(file.FileSize(), 4046);
  EXPECT_TRUE(file.LockByte(4045));
  EXPECT_TRUE(file.UnlockByte(4045));
  // Just past the page: no page there to seek to.
  EXPECT_EQ(CodeOf([&] { file.LockByte(4046); }), 20159);
  const uint8_t b = 1;
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer(&b, 1, 499); }), 0);
  EXPECT_EQ(CodeOf([&] { file.WriteBuffer(&b, 1, 500); }), 20158);
}

TEST_F(DirectFileTest, Misuse) {
  TORVInternalDBDirectAccessFile file = Committed(500);
  EXPECT_EQ(CodeOf([&] { file.CreateFile(10); }), 20157);
  TORVInternalDBDirectAccessFile unbound(*pm, ptTableLocksFile);
  uint8_t b = 0;
  for (auto op : std::vector<std::function<void()>>{
           [&] { unbound.GetSize(); }, [&] { unbound.ReadBuffer(&b, 1, 0); }, [&] { unbound.WriteBuffer(&b, 1, 0); },
           [&] { unbound.LockFile(); }, [&] { unbound.UnlockFile(); }, [&] { unbound.LockByte(0); },
           [&] { unbound.UnlockByte(0); }, [&] { unbound.IsByteLocked(0); }, [&] { unbound.IsRegionLocked(0, 1); }})
    EXPECT_EQ(CodeOf(op), 20156);
  TORVInternalDBTransactedAccessFile transacted = NewTransacted();
  pm->ApplyChanges(kSession);
  EXPECT_EQ(CodeOf([&] { unbound.OpenFile(transacted.GetStartPageNo()); }), 20155);
  // The mutex is byte 0 of the first page.
  EXPECT_TRUE(file.LockFile());
  EXPECT_TRUE(pm->IsPageByteLocked(file.GetStartPageNo(), 0));
  EXPECT_FALSE(file.LockFile());
  EXPECT_TRUE(file.UnlockFile());
}

}  // namespace
}  // namespace orv
