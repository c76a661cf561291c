#include "dbengine/file/orv_disk_engine_page_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "dbengine/file/orv_disk_engine_encryption.h"
#include "dbengine/file/orv_disk_engine_free_space.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "dbengine/storage/orv_compression.h"
#include "platform/base/clock.h"
#include "platform/files/fault_file.h"

namespace orv {
namespace {

using testing::CodeOf;
using testing::InChild;
using testing::PythonLockHolder;
using testing::LE16;
using testing::LE32;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

constexpr int32_t kSession = 1;

class PageManagerTest : public testing::DiskFileTest {
 protected:
  std::unique_ptr<TORVDiskPageManager> Create(uint16_t page_size = 4096, uint16_t extent = 8,
                                              const TORVPassword& password = {}, platform::FileFactory factory = {}) {
    return testing::CreateDatabase(path, page_size, extent, password, std::move(factory));
  }
  std::unique_ptr<TORVDiskPageManager> Open(bool& repair, const TORVPassword& password = {}, bool multi_user = false,
                                            platform::FileFactory factory = {}, bool read_only = false) {
    return testing::OpenDatabase(path, repair, password, multi_user, std::move(factory), read_only);
  }
  std::unique_ptr<TORVDiskPageManager> Open(const TORVPassword& password = {}, bool multi_user = false) {
    bool repair = false;
    auto pm = Open(repair, password, multi_user);
    EXPECT_FALSE(repair);
    return pm;
  }

  // A new page of the session whose data is Fill, Fill + 1, ... (mod 251).
  static int32_t AddFilled(TORVDiskPageManager& pm, int32_t session, int fill) {
    TORVPage* page = pm.AddPage(session, ptTableRecord);
    Fill(*page, fill);
    const int32_t no = page->FPageNo;
    pm.PutPage(page);
    return no;
  }
  static void Fill(TORVPage& page, int fill) {
    for (int32_t i = 0; i < page.GetPageDataSize(); ++i) page.GetPageData()[i] = static_cast<uint8_t>((fill + i) % 251);
  }
  static void Change(TORVDiskPageManager& pm, int32_t session, int32_t page_no, int fill) {
    TORVPage* page = pm.GetPage(session, page_no, ptTableRecord, true);
    Fill(*page, fill);
    page->FIsDirty = true;
    pm.PutPage(page);
  }
  static bool HoldsFill(TORVDiskPageManager& pm, int32_t session, int32_t page_no, int fill) {
    TORVPage* page = pm.GetPage(session, page_no, ptTableRecord, true);
    bool same = true;
    for (int32_t i = 0; i < page->GetPageDataSize() && same; ++i)
      same = page->GetPageData()[i] == static_cast<uint8_t>((fill + i) % 251);
    pm.PutPage(page);
    return same;
  }

  // A closed database with one committed page filled from Fill; its number.
  int32_t CreateWithPage(int fill) {
    auto pm = Create();
    const int32_t no = AddFilled(*pm, kSession, fill);
    pm->ApplyChanges(kSession);
    return no;
  }

  std::vector<uint8_t> Bytes() const { return ReadAll(path); }
  void PatchHeader(size_t offset, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> b = Bytes();
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
    WriteAll(path, b);
  }

};

TEST_F(PageManagerTest, ANewFileHasThePreambleAndGrowsWithItsFirstPages) {
  {
    auto pm = Create();
    pm->CloseDatabase();
  }
  std::vector<uint8_t> b = Bytes();
  ASSERT_EQ(b.size(), 380u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 16), "ORVETA00DATABASE");
  EXPECT_EQ(LE16(b, 16), 76);
  const std::vector<uint8_t> version = {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x1F, 0x40};
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 18, b.begin() + 26), version);
  EXPECT_EQ(LE16(b, 26), 4096);
  EXPECT_EQ(LE16(b, 28), 8);
  EXPECT_EQ(LE32(b, 30), 0u);
  EXPECT_EQ(LE32(b, 34), 0xFFFFFFFFu);
  EXPECT_EQ(b[42], 2);
  EXPECT_EQ(b[43], 0);
  EXPECT_EQ(LE16(b, 76), 280);
  EXPECT_EQ(LE16(b, 356), 20);
  EXPECT_EQ(LE32(b, 376), 0u);

  // The system directory, sessions file and table list of a new database, committed at once.
  auto pm = Open();
  EXPECT_EQ(pm->GetPageCount(), 0);
  EXPECT_EQ(AddFilled(*pm, SYSTEM_SESSION_ID, 1), 2);
  EXPECT_EQ(AddFilled(*pm, SYSTEM_SESSION_ID, 2), 3);
  EXPECT_EQ(AddFilled(*pm, SYSTEM_SESSION_ID, 3), 4);
  pm->ApplyChanges(SYSTEM_SESSION_ID);
  EXPECT_EQ(pm->GetPageCount(), 6);
  pm->CloseDatabase();
  b = Bytes();
  ASSERT_EQ(b.size(), 380u + 6 * 4096);
  EXPECT_EQ(LE32(b, 30), 6u);  // TotalPageCount
  EXPECT_EQ(LE32(b, 34), 4u);  // LastUsedPageNo
  EXPECT_EQ(LE32(b, 38), 1u);  // State
  EXPECT_EQ(b[42], 2);
  EXPECT_EQ(LE16(b, 380 + 8), ptPFS);
  EXPECT_EQ(b[380 + 40], 0x1F);
  EXPECT_EQ(LE16(b, 380 + 4096 + 8), ptEAM);
  EXPECT_EQ(b[380 + 4096 + 40], 0x01);
  EXPECT_EQ(std::string(b.begin() + 380 + 2 * 4096, b.begin() + 380 + 2 * 4096 + 4), "ORVP");
  EXPECT_EQ(LE16(b, 380 + 2 * 4096 + 8), ptTableRecord);
  EXPECT_EQ(b[380 + 2 * 4096 + 40], 1);
  EXPECT_FALSE(platform::FileExists(pm->JournalFileName()));  // an empty journal is removed
}

TEST_F(PageManagerTest, EncryptedPagesArePlainInTheCacheAndCarryTheirPlainCRC) {
  TORVPassword password{"s3cret", craTwofish_128};
  int32_t no = 0, direct = 0;
  {
    auto pm = Create(4096, 8, password);
    no = AddFilled(*pm, kSession, 7);
    // A page whose bytes are reached in place (a sessions or locks file) stays plain.
    TORVPage* page = pm->AddPage(kSession, ptTableLocksFile);
    page->FEncryptionEnabled = false;
    Fill(*page, 3);
    direct = page->FPageNo;
    pm->PutPage(page);
    pm->ApplyChanges(kSession);
    TORVPage* cached = pm->GetPage(kSession, no, ptTableRecord, false);
    EXPECT_EQ(cached->GetPageData()[0], 7);
    EXPECT_EQ(cached->GetPageData()[100], 107);
    pm->PutPage(cached);
  }
  std::vector<uint8_t> b = Bytes();
  EXPECT_EQ(b[43], 0xFF);
  EXPECT_EQ(b[76 + 2], craTwofish_128);
  // The control block deciphers to its stored CRC with the password.
  std::vector<uint8_t> block(b.begin() + 76 + 4, b.begin() + 76 + 4 + 256);
  ASSERT_TRUE(ORVInternalDecryptBuffer(craTwofish_128, block.data(), 256, "s3cret"));
  EXPECT_EQ(CRC32(0, block.data(), 256), LE32(b, 76 + 260));

  const size_t page = 380 + static_cast<size_t>(no) * 4096;
  std::vector<uint8_t> plain(4056);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>((7 + i) % 251);
  std::vector<uint8_t> stored(b.begin() + static_cast<std::ptrdiff_t>(page) + 40,
                              b.begin() + static_cast<std::ptrdiff_t>(page) + 4096);
  EXPECT_NE(stored, plain);
  EXPECT_EQ(LE32(b, page + 14), CRC32(0, plain.data(), 4056));
  EXPECT_EQ(b[page + 20], craTwofish_128);
  ASSERT_TRUE(ORVInternalDecryptBuffer(craTwofish_128, stored.data(), 4056, "s3cret"));
  EXPECT_EQ(stored, plain);
  const size_t plain_page = 380 + static_cast<size_t>(direct) * 4096;
  EXPECT_EQ(b[plain_page + 40], 3);
  EXPECT_EQ(b[plain_page + 40 + 4055], static_cast<uint8_t>((3 + 4055) % 251));
  EXPECT_EQ(LE32(b, plain_page + 14), 0u);
  // The maps stay plain.
  EXPECT_EQ(b[380 + 40], 0x0F);
  EXPECT_EQ(b[380 + 4096 + 40], 0x01);

  // The algorithm stored in the file wins; a wrong password is refused before anything else.
  bool repair = false;
  EXPECT_EQ(CodeOf([&] { Open(repair, TORVPassword{"wrong", craTwofish_128}); }), 30445);
  auto pm = Open(TORVPassword{"s3cret", craRijndael_128});
  EXPECT_EQ(pm->GetPassword()->CryptoAlgorithm, craTwofish_128);
  EXPECT_TRUE(HoldsFill(*pm, kSession, no, 7));
  // A damaged enciphered page fails its CRC.
  pm->CloseDatabase();
  b[page + 500] ^= 1;
  WriteAll(path, b);
  pm = Open(TORVPassword{"s3cret", craTwofish_128});
  EXPECT_EQ(CodeOf([&] { pm->GetPage(kSession, no, ptTableRecord, false); }), 30446);
}

TEST_F(PageManagerTest, AFailedEncipheredWriteLeavesTheCachedPagePlain) {
  auto plan = std::make_shared<platform::FaultPlan>();
  auto pm = Create(4096, 8, TORVPassword{"pw", craRijndael_128}, platform::FaultInjectingFactory(plan));
  const int32_t no = AddFilled(*pm, kSession, 9);
  // The writes of this commit: journal, header (state 1), the page, header (state 2).
  // Each failing write is tried once more on the same handle: both attempts fail.
  plan->fail_write = plan->writes + 3;
  plan->fail_count = 2;
  EXPECT_EQ(CodeOf([&] { pm->ApplyChanges(kSession); }), 10469);
  const TORVSessionPageInfo* info = pm->SessionInfo(kSession);
  ASSERT_EQ(info->DirtyPages->Count(), 1);
  EXPECT_EQ(info->DirtyPages->PageAt(0)->GetPageData()[10], 19);
  pm->ApplyChanges(kSession);  // the disk works again
  pm->CloseDatabase();
  auto reopened = Open(TORVPassword{"pw", craRijndael_128});
  EXPECT_TRUE(HoldsFill(*reopened, kSession, no, 9));
}

TEST_F(PageManagerTest, OpenChecksTheHeader) {
  CreateWithPage(1);
  const std::vector<uint8_t> good = Bytes();
  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;  // 0: opens
    bool repair;
  };
  const Case cases[] = {
      {"commit cut off", 42, {1}, 0, true},
      {"old version 2.5", 18, {0, 0, 0, 0, 0, 0, 4, 0x40}, 0, true},
      {"signature", 3, {'X'}, 10470, false},
      {"page size 40", 26, {40, 0}, 20237, false},
      {"page size 0", 26, {0, 0}, 20237, false},
      {"page size 511", 26, {0xFF, 0x01}, 20237, false},
      {"no pages per extent", 28, {0, 0}, 20237, false},
      {"maps beyond 2^31 pages", 26, {0xFF, 0xFF, 0xFF, 0xFF}, 20237, false},
      {"negative page count", 30, {0xFF, 0xFF, 0xFF, 0xFF}, 20237, false},
      {"crypto header size", 76, {0x17, 0x01}, 20237, false},
      {"locked-byte area size", 356, {0, 0}, 20237, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    std::copy(c.bytes.begin(), c.bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(c.offset));
    WriteAll(path, b);
    bool repair = false;
    std::unique_ptr<TORVDiskPageManager> pm;
    EXPECT_EQ(CodeOf([&] { pm = Open(repair); }), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(repair, c.repair) << c.what;
    }
  }
  // A file that ends before its last page needs the repair.
  std::vector<uint8_t> shortened(good.begin(), good.end() - 4096);
  WriteAll(path, shortened);
  bool repair = false;
  Open(repair);
  EXPECT_TRUE(repair);

  // Bytes before the database move every offset.
  std::vector<uint8_t> prefixed(20, 0xAB);
  prefixed.insert(prefixed.end(), good.begin(), good.end());
  WriteAll(path, prefixed);
  auto pm = Open();
  EXPECT_EQ(pm->OffsetToDBHeader(), 20);
  EXPECT_EQ(pm->OffsetToLockedBytes(), 376);
  EXPECT_EQ(pm->OffsetToFirstPage(), 400);
  EXPECT_TRUE(HoldsFill(*pm, kSession, 2, 1));
  EXPECT_EQ(pm->GetNextObjectID(5, 100), 1);
  pm->CloseDatabase();
  EXPECT_EQ(LE32(ReadAll(path), 396), 1u);
}

TEST_F(PageManagerTest, CommitsMoveTheStateOnlyWhenTheyWrite) {
  auto pm = Create();
  pm->ApplyChanges(kSession);  // a session that never touched the manager
  const int32_t no = AddFilled(*pm, kSession, 1);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(pm->GetDbHeader()->State, 1);
  const std::vector<uint8_t> before = Bytes();
  pm->ApplyChanges(kSession);  // nothing changed
  EXPECT_EQ(Bytes(), before);

  // A page stamp at the end of its range starts again at 0.
  TORVPage* page = pm->GetPage(kSession, no, ptTableRecord, false);
  page->SetHeaderState(LAST_VALID_PAGE_STATE - 1);
  page->FIsDirty = true;
  pm->PutPage(page);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(LE32(Bytes(), 380 + static_cast<size_t>(no) * 4096 + 4), 0u);
  EXPECT_EQ(pm->GetDbHeader()->State, 2);

  // Pages still held keep a commit from starting.
  AddFilled(*pm, kSession, 5);
  page = pm->GetPage(kSession, no, ptTableRecord, false);
  page->FIsDirty = true;
  const std::vector<uint8_t> held = Bytes();
  EXPECT_EQ(CodeOf([&] { pm->ApplyChanges(kSession); }), 20152);
  EXPECT_EQ(Bytes(), held);
  pm->PutPage(page);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(CodeOf([&] { pm->GetPage(kSession, 1, ptEAM, false); }), 30434);
  EXPECT_EQ(CodeOf([&] { pm->RemovePage(kSession, 0); }), 30434);
}

TEST_F(PageManagerTest, ObjectNumbers) {
  {
    auto pm = Create();
    EXPECT_EQ(pm->GetNextObjectID(5, 100), 1);
    EXPECT_EQ(pm->GetNextObjectID(5, 100), 2);
  }
  bool repair = false;
  auto pm = Open(repair, {}, false, {}, true);
  EXPECT_TRUE(pm->ReadOnly());
  for (int i = 0; i < 20; ++i) EXPECT_GE(pm->GetNextObjectID(5, 100), 3);
  pm->CloseDatabase();
  EXPECT_EQ(LE32(Bytes(), 376), 2u);
  EXPECT_EQ(CodeOf([&] { pm->GetNextObjectID(5, 100); }), 30399);
}

TEST_F(PageManagerTest, ObjectNumbersAreUniqueAcrossProcesses) {
  // Real pauses: the two processes really wait for each other.
  platform::ScopedClock real(platform::SystemClock());
  Create()->CloseDatabase();
  constexpr int kCalls = 1000;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    if (children[c] == 0) {
      int code = 0;
      try {
        auto pm = Open(TORVPassword{}, true);
        std::vector<uint8_t> ids;
        for (int i = 0; i < kCalls; ++i) {
          const int32_t id = pm->GetNextObjectID(5, 100);
          for (int k = 0; k < 4; ++k) ids.push_back(static_cast<uint8_t>(id >> (8 * k)));
        }
        WriteAll(dir.File("ids" + std::to_string(c)), ids);
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<uint32_t> all;
  for (int c = 0; c < 2; ++c) {
    const std::vector<uint8_t> ids = ReadAll(dir.File("ids" + std::to_string(c)));
    ASSERT_EQ(ids.size(), 4u * kCalls);
    for (size_t i = 0; i < ids.size(); i += 4) all.insert(LE32(ids, i));
  }
  EXPECT_EQ(all.size(), 2u * kCalls);
  EXPECT_EQ(*all.begin(), 1u);
  EXPECT_EQ(*all.rbegin(), 2u * kCalls);
  EXPECT_EQ(LE32(Bytes(), 376), 2u * kCalls);
}

TEST_F(PageManagerTest, AHeaderLockHeldElsewhereStopsACommit) {
  auto pm = Create();
  pm->CloseDatabase();
  pm = Open(TORVPassword{}, true);
  AddFilled(*pm, kSession, 3);
  PythonLockHolder holder(path, 360);
  ASSERT_TRUE(holder.Ready());
  const uint32_t before = clock.TickCount();
  EXPECT_EQ(CodeOf([&] { pm->ApplyChanges(kSession); }), 20213);
  EXPECT_EQ(clock.TickCount() - before, 4500u * 20u);  // the standard wait, on the test clock
  EXPECT_EQ(CodeOf([&] { pm->GetPageCount(); }), 20236);
  EXPECT_TRUE(pm->DatabaseFile().IsByteLocked(360));
  holder.Release();
  pm->ApplyChanges(kSession);
  EXPECT_EQ(pm->GetDbHeader()->State, 1);
}

// A database with five committed pages; the commit under test changes two, adds two and
// releases one.
class CommitFaultTest : public PageManagerTest {
 protected:
  void SetUp() override {
    auto pm = Create();
    for (int i = 0; i < 5; ++i) pages.push_back(AddFilled(*pm, kSession, 10 + i));
    pm->ApplyChanges(kSession);
    pm->CloseDatabase();
    baseline = Bytes();
  }

  // Opens the baseline, prepares the commit and returns the bytes of the file just before it.
  std::vector<uint8_t> Prepare(std::unique_ptr<TORVDiskPageManager>& pm, platform::FileFactory factory) {
    WriteAll(path, baseline);
    ::unlink((path + "-journal").c_str());
    bool repair = false;
    pm = Open(repair, {}, false, std::move(factory));
    Change(*pm, kSession, pages[0], 50);
    Change(*pm, kSession, pages[3], 53);
    AddFilled(*pm, kSession, 60);
    AddFilled(*pm, kSession, 61);
    pm->RemovePage(kSession, pages[4]);
    return Bytes();
  }

  std::vector<int32_t> pages;
  std::vector<uint8_t> baseline;
};

TEST_F(CommitFaultTest, EveryFailingWriteOrSyncLeavesTheFileAsBefore) {
  // How many writes and syncs a commit makes when nothing fails.
  auto plan = std::make_shared<platform::FaultPlan>();
  std::unique_ptr<TORVDiskPageManager> pm;
  Prepare(pm, platform::FaultInjectingFactory(plan));
  const int64_t writes0 = plan->writes, syncs0 = plan->syncs;
  pm->ApplyChanges(kSession);
  const int64_t writes = plan->writes - writes0, syncs = plan->syncs - syncs0;
  EXPECT_GE(writes, 8);  // journal, header, 4 pages, the release's state and maps, header
  EXPECT_EQ(syncs, 3);   // journal, pages, header
  pm.reset();

  for (const bool sync_fault : {false, true}) {
    for (int64_t k = 1; k <= (sync_fault ? syncs : writes); ++k) {
      for (const bool sticky : {true, false}) {
        SCOPED_TRACE(::testing::Message() << (sync_fault ? "sync " : "write ") << k << (sticky ? " dying" : ""));
        plan = std::make_shared<platform::FaultPlan>();
        const std::vector<uint8_t> before = Prepare(pm, platform::FaultInjectingFactory(plan));
        plan->sticky = sticky;
        plan->fail_count = 2;  // the failing call and its retry
        (sync_fault ? plan->fail_sync : plan->fail_write) = (sync_fault ? plan->syncs : plan->writes) + k;
        EXPECT_NE(CodeOf([&] { pm->ApplyChanges(kSession); }), 0);
        if (!sticky) {
          // Put back at once by the failing process itself; its session can roll back.
          EXPECT_EQ(Bytes(), before);
          pm->CancelChanges(kSession);
          pm.reset();
          continue;
        }
        pm.reset();  // the process ends here: nothing more reaches the file
        const std::vector<uint8_t> left = Bytes();
        const bool journal = platform::FileLength(path + "-journal") > 0;
        // Only the last sync fails after the commit is complete on the file: the caller hears
        // of the failure, and the file holds the whole commit.
        const bool complete = sync_fault && k == syncs;
        const bool touched = left != before && !complete;
        if (touched) {
          EXPECT_TRUE(journal);
        }

        // Without the journal, a file left mid-commit is reported as needing repair.
        const std::vector<uint8_t> journal_bytes = ReadAll(path + "-journal");
        ::unlink((path + "-journal").c_str());
        bool repair = false;
        Open(repair)->CloseDatabase();
        EXPECT_EQ(repair, touched);

        // With it, the next opener puts the file back as it was before the commit.
        WriteAll(path, left);
        if (journal) WriteAll(path + "-journal", journal_bytes);
        auto reopened = Open(repair);
        EXPECT_FALSE(repair);
        if (complete) {
          EXPECT_TRUE(HoldsFill(*reopened, kSession, pages[0], 50));
          EXPECT_TRUE(HoldsFill(*reopened, kSession, pages[3], 53));
          EXPECT_FALSE(reopened->FreeSpaceManager()->GetPageUsageFromPFS(pages[4]));
          continue;
        }
        EXPECT_EQ(Bytes(), before);
        EXPECT_TRUE(HoldsFill(*reopened, kSession, pages[0], 10));
        EXPECT_TRUE(HoldsFill(*reopened, kSession, pages[4], 14));
        EXPECT_TRUE(reopened->FreeSpaceManager()->GetPageUsageFromPFS(pages[4]));
      }
    }
  }
}

TEST_F(CommitFaultTest, TheNextHeaderLockRestoresACommitOfADeadProcess) {
  auto plan = std::make_shared<platform::FaultPlan>();
  std::unique_ptr<TORVDiskPageManager> dying;
  const std::vector<uint8_t> before = Prepare(dying, platform::FaultInjectingFactory(plan));
  bool repair = false;
  auto other = Open(repair, {}, true);  // a second handle, open all along
  plan->sticky = true;
  plan->fail_write = plan->writes + 5;
  EXPECT_NE(CodeOf([&] { dying->ApplyChanges(kSession); }), 0);
  EXPECT_NE(Bytes(), before);
  EXPECT_EQ(ReadAll(path)[42], WriteChangesStarted);
  // An allocation takes the header lock and finds the journal first.
  const int32_t fresh = AddFilled(*other, 2, 70);
  EXPECT_EQ(ReadAll(path)[42], WriteChangesFinished);
  EXPECT_TRUE(HoldsFill(*other, 2, pages[0], 10));
  EXPECT_TRUE(HoldsFill(*other, 2, pages[3], 13));
  EXPECT_TRUE(HoldsFill(*other, 2, pages[4], 14));
  other->ApplyChanges(2);
  EXPECT_TRUE(HoldsFill(*other, 2, fresh, 70));
}

TEST_F(CommitFaultTest, AReaderOfAnUnfinishedCommitIsToldToRepair) {
  auto plan = std::make_shared<platform::FaultPlan>();
  std::unique_ptr<TORVDiskPageManager> dying;
  Prepare(dying, platform::FaultInjectingFactory(plan));
  plan->sticky = true;
  plan->fail_write = plan->writes + 4;
  EXPECT_NE(CodeOf([&] { dying->ApplyChanges(kSession); }), 0);
  dying.reset();
  bool repair = false;
  Open(repair, {}, false, {}, true)->CloseDatabase();
  EXPECT_TRUE(repair);
  EXPECT_GT(platform::FileLength(path + "-journal"), 0);  // left for a writer
}

TEST_F(PageManagerTest, ACommitOnAFileLeftMidCommitKeepsTheRepairMark) {
  CreateWithPage(1);
  PatchHeader(42, {WriteChangesStarted});
  bool repair = false;
  auto pm = Open(repair);
  EXPECT_TRUE(repair);
  AddFilled(*pm, kSession, 2);
  pm->ApplyChanges(kSession);
  EXPECT_EQ(Bytes()[42], WriteChangesStarted);
  EXPECT_EQ(pm->GetDbHeader()->State, 2);
}

TEST_F(PageManagerTest, AFullDiskFailsTheAllocationNotTheCommit) {
  auto plan = std::make_shared<platform::FaultPlan>();
  auto pm = Create(4096, 8, {}, platform::FaultInjectingFactory(plan));
  AddFilled(*pm, kSession, 1);  // grows the file to 6 pages
  for (int i = 0; i < 3; ++i) AddFilled(*pm, kSession, 2 + i);
  pm->ApplyChanges(kSession);
  const std::vector<uint8_t> before = Bytes();
  plan->fail_allocate = plan->allocates + 1;
  plan->fail_count = 2;
  EXPECT_EQ(CodeOf([&] { pm->AddPage(kSession, ptTableRecord); }), 30510);
  EXPECT_EQ(Bytes(), before);
  EXPECT_EQ(pm->GetPageCount(), 6);
  AddFilled(*pm, kSession, 9);  // the disk has room again
  pm->ApplyChanges(kSession);
  EXPECT_EQ(pm->GetPageCount(), 14);
}

TEST_F(PageManagerTest, OtherProcessesCommitsAreSeenThroughThePageStates) {
  const int32_t no = CreateWithPage(1);
  auto reader = Open(TORVPassword{}, true);
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 1));
  EXPECT_EQ(InChild([&] {
              auto writer = Open(TORVPassword{}, true);
              Change(*writer, kSession, no, 2);
              writer->ApplyChanges(kSession);
              return 0;
            }),
            0);
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 2));
}

TEST_F(PageManagerTest, HowASecondOpenerGetsTheFile) {
  Create()->CloseDatabase();
  struct Mode {
    bool exclusive, multi_user;
  };
  auto open = [&](Mode m, bool& read_only) {
    auto pm = std::make_unique<TORVDiskPageManager>();
    bool repair = false, mu = m.multi_user;
    read_only = false;
    pm->OpenDatabase(path, {}, read_only, repair, m.exclusive, mu);
    return pm;
  };
  bool ro1 = false, ro2 = false;
  {
    // Single-user: a second opener may only read.
    auto first = open({false, false}, ro1);
    auto second = open({false, false}, ro2);
    EXPECT_FALSE(ro1);
    EXPECT_TRUE(ro2);
    EXPECT_TRUE(second->ReadOnly());
  }
  {
    auto first = open({false, true}, ro1);
    auto second = open({false, true}, ro2);
    EXPECT_FALSE(ro1);
    EXPECT_FALSE(ro2);
    // Two handles of one process exclude each other like two processes.
    EXPECT_TRUE(first->LockPageByte(0, 100));
    EXPECT_FALSE(second->LockPageByte(0, 100));
    EXPECT_TRUE(second->IsPageByteLocked(0, 100));
    EXPECT_TRUE(second->IsPageRegionLocked(0, 90, 20));
    EXPECT_FALSE(second->IsPageRegionLocked(0, 101, 20));
    EXPECT_TRUE(first->UnlockPageByte(0, 100));
    EXPECT_TRUE(second->LockTables());
    EXPECT_FALSE(first->LockTables());
    EXPECT_TRUE(second->UnlockTables());
  }
  {
    auto first = open({true, false}, ro1);
    EXPECT_TRUE(first->Exclusive());
    EXPECT_EQ(CodeOf([&] { open({false, true}, ro2); }), 30364);
  }
  // A file without write permission opens for reading, single-user.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  auto pm = std::make_unique<TORVDiskPageManager>();
  bool read_only = false, repair = false, mu = true;
  pm->OpenDatabase(path, {}, read_only, repair, false, mu);
  EXPECT_TRUE(read_only);
  EXPECT_FALSE(mu);
}

// What the disk tables will tell: a table locked against changes with state 7.
class FixedWorkTableState : public TORVWorkTableStateSource {
 public:
  bool GetWorkTableState(int32_t, int32_t& TableState, int32_t& TableID) override {
    TableState = 7;
    TableID = table;
    return locked;
  }
  bool locked = true;
  int32_t table = 3;
};

TEST_F(PageManagerTest, PagesSeenUnderALockedTableStateNeedNoCheck) {
  const int32_t no = CreateWithPage(1);
  auto reader = Open(TORVPassword{}, true);
  auto source = std::make_unique<FixedWorkTableState>();
  FixedWorkTableState* state = source.get();
  reader->SetTablePagesCacheManager(std::move(source));
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 1));
  auto writer = Open(TORVPassword{}, true);
  Change(*writer, kSession, no, 2);
  writer->ApplyChanges(kSession);
  // Same table state: the cached copy is taken as it is.
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 1));
  // The same state of another table says nothing about the page (a page one table freed may
  // serve another whose counter happens to stand at the same value).
  state->table = 4;
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 2));
  Change(*writer, kSession, no, 3);
  writer->ApplyChanges(kSession);
  state->table = 3;
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 3));
  state->locked = false;
  Change(*writer, kSession, no, 4);
  writer->ApplyChanges(kSession);
  EXPECT_TRUE(HoldsFill(*reader, kSession, no, 4));
}

TEST_F(PageManagerTest, DesignModeRefusesAHeaderThatAnotherProgramChanged) {
  Create()->CloseDatabase();
  struct DesignMode {
    DesignMode() { SetDesignMode(true); }
    ~DesignMode() { SetDesignMode(false); }
  } design;
  auto pm = Open();
  EXPECT_FALSE(pm->GetIsOpened());  // open only during each access
  pm->SaveDBHeader(true);
  PatchHeader(38, {5, 0, 0, 0, WriteChangesStarted});
  EXPECT_EQ(CodeOf([&] { pm->SaveDBHeader(true); }), 20196);
  EXPECT_EQ(CodeOf([&] { pm->SaveDBHeader(false); }), 0);
}

}  // namespace
}  // namespace orv
