// The temporary engine: records and index pages in memory up to a tenth of the free memory and
// in temporary files beyond, BLOB values appended to one stream per table, inserts only.
#include "dbengine/storage/orv_temp_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::TestCursor;
using testing::TestSession;

namespace fs = std::filesystem;

// A temporary folder of the test's own, set as $TMPDIR while the test runs.
class TempDir {
 public:
  TempDir() : dir_(fs::temp_directory_path() / ("quirvel_temp_engine_" + std::to_string(::getpid()))) {
    const char* old = std::getenv("TMPDIR");
    if (old) old_ = old;
    fs::create_directories(dir_);
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  ~TempDir() {
    if (old_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", old_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  bool Empty() const { return fs::is_empty(dir_); }
  // What /proc/self/fd shows of the open files in the folder.
  std::vector<std::string> OpenFiles() const {
    std::vector<std::string> links;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const fs::path target = fs::read_symlink(entry.path(), ec);
      if (!ec && target.string().rfind(dir_.string() + "/", 0) == 0) links.push_back(target.string());
    }
    return links;
  }

 private:
  fs::path dir_;
  std::string old_;
};

constexpr int64_t kLimit = 200000;  // a tenth of it: 20000 bytes of records, 4 memory pages

// A TEMP database over a memory manager with a limit, and a table T (ID, NAME VarChar(40))
// with an index over NAME, made by a temporary cursor.
struct TempFixture {
  explicit TempFixture(bool DisableTempFiles, int64_t Limit = kLimit, bool WithBlob = false)
      : memory(Limit), db(memory) {
    TORVFieldDefs f;
    AddField(f, "ID", aftInteger);
    AddField(f, "NAME", aftString, 40);
    if (WithBlob) {
      TORVFieldDef* blob = AddField(f, "DATA", aftBlob);
      blob->BLOBCompressionAlgorithm = acaZLIB;
      blob->BLOBCompressionMode = 1;
    }
    TORVIndexDefs i;
    AddIndexDef(i, "ByName", {"NAME"});
    {
      TestCursor creator(session, "T");
      creator.FTemporary = true;
      creator.FDisableTempFiles = DisableTempFiles;
      creator.CreateTable(f, i, TORVConstraintDefs());
    }
    cursor = std::make_unique<TestCursor>(session, "T");
    cursor->FTemporary = true;
    cursor->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  }
  TORVTemporaryTableData& T() const { return static_cast<TORVTemporaryTableData&>(*cursor->TableData()); }
  static std::string Name(int64_t id) { return "name " + std::to_string(id * 7919 % 100003) + std::string(20, 'x'); }
  void Insert(int64_t id) {
    cursor->BeginInsert();
    cursor->Set("ID", id);
    cursor->SetText("NAME", Name(id));
    cursor->InternalPost(true);
    ASSERT_EQ(cursor->FErrorCode, 0) << cursor->FErrorMessage;
  }

  TORVMemoryManager memory;
  TORVTemporaryDatabaseData db;
  TestSession session{db};
  std::unique_ptr<TestCursor> cursor;
};

TEST(TORVTemporaryTableData, RecordsBeyondTheCacheGoToADeletedFile) {
  TempDir tmp;
  {
    TempFixture fx(false);
    TORVTemporaryRecordManager& records = fx.T().Records();
    const int32_t limit = records.MaxCachedRecordCount();
    EXPECT_EQ(limit, kLimit / 10 / records.FRecordBufferSize);
    for (int64_t id = 0; id < limit; ++id) fx.Insert(id);
    EXPECT_EQ(records.TempPageFile(), nullptr) << "the cache holds them all";
    fx.Insert(limit);
    ASSERT_NE(records.TempPageFile(), nullptr);
    EXPECT_EQ(records.CachedRecordCount(), limit);

    // Record number `limit` is the first one in the file, at offset 0, and readable at once.
    TestCursor& c = *fx.cursor;
    c.SetRecNo(limit + 1);
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    EXPECT_EQ(c.GetInt("ID"), limit);
    std::vector<uint8_t> in_file(static_cast<size_t>(records.FRecordBufferSize));
    records.TempPageFile()->Seek(0, soBeginning);
    ASSERT_EQ(records.TempPageFile()->Read(in_file.data(), records.FRecordBufferSize), records.FRecordBufferSize);
    EXPECT_EQ(std::memcmp(in_file.data(), c.FCurrentRecordBuffer, in_file.size()), 0);

    for (int64_t id = limit + 1; id < 1000; ++id) fx.Insert(id);
    ASSERT_NE(fx.T().Pages()->TempPageFile(), nullptr) << "index pages beyond the memory pages";
    EXPECT_EQ(c.GetRecordCount(), 1000);
    int64_t expected = 0;
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) ASSERT_EQ(c.GetInt("ID"), expected++);
    EXPECT_EQ(expected, 1000);
    c.SetIndexName("ByName");
    std::vector<std::string> names;
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) names.push_back(*c.GetText("NAME"));
    ASSERT_EQ(names.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

    // Nothing in the folder; the open files only as deleted ones.
    EXPECT_TRUE(tmp.Empty());
    const std::vector<std::string> open = tmp.OpenFiles();
    EXPECT_EQ(open.size(), 2u) << "the record file and the page file";
    for (const std::string& link : open) EXPECT_TRUE(link.ends_with(" (deleted)")) << link;
  }
  EXPECT_TRUE(tmp.OpenFiles().empty());
  EXPECT_TRUE(tmp.Empty());
}

TEST(TORVTemporaryTableData, WithoutTemporaryFilesEverythingStaysInMemory) {
  TempDir tmp;
  TempFixture fx(true);
  for (int64_t id = 0; id < 1000; ++id) fx.Insert(id);
  EXPECT_GT(fx.T().Records().CachedRecordCount(), fx.T().Records().MaxCachedRecordCount());
  EXPECT_EQ(fx.T().Records().TempPageFile(), nullptr);
  EXPECT_EQ(fx.T().Pages()->TempPageFile(), nullptr);
  EXPECT_GT(fx.T().Pages()->MemoryPages().GetPageCount(), fx.T().Pages()->MaxMemoryPageCount());
  EXPECT_TRUE(tmp.OpenFiles().empty());
  EXPECT_EQ(fx.cursor->GetRecordCount(), 1000);
}

TEST(TORVTemporaryTableData, OnlyInsertsAreTakenAndChangesApplyAtOnce) {
  TempFixture fx(false);
  TestCursor& c = *fx.cursor;
  fx.session.StartTransaction();
  for (int64_t id = 0; id < 5; ++id) fx.Insert(id);
  const TORVSessionPageInfo* info = fx.T().Pages()->SessionInfo(fx.session.FSessionID);
  EXPECT_TRUE(!info || info->DirtyPages->Count() == 0) << "nothing waits for a commit";
  fx.session.Commit(false);
  c.SetRecNo(3);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  c.BeginEdit();
  c.Set("ID", 99);
  c.InternalPost(false);
  EXPECT_EQ(c.FErrorCode, -2);
  EXPECT_FALSE(fx.T().UpdateRecord(&c));
  EXPECT_FALSE(fx.T().DeleteRecord(&c));
  c.InternalDelete();
  EXPECT_EQ(c.FErrorCode, -10);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetInt("ID"), 2) << "unchanged";
  EXPECT_EQ(c.GetRecordCount(), 5);
  EXPECT_EQ(c.GetRecNo(), 3);
  for (int64_t recno : {0, 1, -4}) {
    fx.T().InternalSetRecNo(&c, recno);
    EXPECT_EQ(c.CurrentRecordID, (TORVPageItemID{0, 0})) << recno;
  }
  EXPECT_EQ(fx.db.FDatabaseName, "TEMP");
}

TEST(TORVTemporaryRecordManager, ACacheLimitOfNoRecordsSendsEveryRecordToTheFile) {
  TempDir tmp;
  TORVMemoryManager memory(400000);
  TORVTemporaryRecordManager records(50000, 1, 1000, false, memory);  // larger than a tenth of the memory
  ASSERT_EQ(records.MaxCachedRecordCount(), 0);
  std::vector<uint8_t> record(50000);
  for (uint8_t n = 0; n < 3; ++n) {
    std::fill(record.begin(), record.end(), n);
    TORVPageItemID id;
    ASSERT_TRUE(records.AddRecord(0, record.data(), id));
    EXPECT_EQ(TORVTemporaryRecordManager::RecordNoOf(id), n);
  }
  ASSERT_NE(records.TempPageFile(), nullptr);
  EXPECT_EQ(records.CachedRecordCount(), 0);
  for (uint8_t n : {2, 0, 1}) {
    std::vector<uint8_t> read(50000, 0xEE);
    ASSERT_TRUE(records.ReadRecord(read.data(), n));
    EXPECT_EQ(read, std::vector<uint8_t>(50000, n));
  }
  EXPECT_EQ(records.TempPageFile()->GetSize(), 3 * 50000);
  EXPECT_EQ(TORVTemporaryRecordManager::RecordNoOf(TORVTemporaryRecordManager::RecordIDOf(0x123456789ABCLL)),
            0x123456789ABCLL);
  ExpectCode(10124, [] { TORVTemporaryRecordManager m(0, 10, 1000, true); });
}

TEST(TORVTemporaryPageManager, FilePagesFollowTheMemoryPagesInTheirFile) {
  TempDir tmp;
  TORVMemoryManager memory(2 * 4096 * 10);
  TORVTemporaryPageManager pages(false, memory);
  ASSERT_EQ(pages.MaxMemoryPageCount(), 2);
  TORVPage* p0 = pages.AddPage(0, 0);
  TORVPage* p1 = pages.AddPage(0, 0);
  TORVPage* p2 = pages.AddPage(0, 0);
  EXPECT_EQ(p0->FPageNo, 0);
  EXPECT_EQ(p1->FPageNo, 1);
  EXPECT_EQ(p2->FPageNo, 2);
  ASSERT_NE(pages.TempPageFile(), nullptr);
  EXPECT_GE(pages.TempPageFile()->GetSize(), 3 * 4096 * 3 / 2);
  std::memset(p2->FPageBuffer, 0xA5, 4096);
  for (TORVPage* p : {p0, p1, p2}) pages.PutPage(p);
  pages.ApplyChanges(0);
  uint8_t stored[4096];
  pages.TempPageFile()->Seek(2 * 4096, soBeginning);
  ASSERT_EQ(pages.TempPageFile()->Read(stored, 4096), 4096);
  EXPECT_EQ(stored[0], 0xA5);
  EXPECT_EQ(stored[4095], 0xA5);
  TORVPage* again = pages.GetPage(0, 2, 0, false);
  EXPECT_EQ(again->FPageBuffer[100], 0xA5);
  pages.PutPage(again);
  pages.RemovePage(0, 2);
  pages.ApplyChanges(0);
  ExpectCode(10396, [&] {
    TORVPage page(&pages);
    page.FPageNo = 2;
    pages.InternalReadPage(page);
  });
  EXPECT_EQ(pages.GetPageCount(), 2);
}

TEST(TORVTemporaryTableData, BLOBValuesAreAppended) {
  TempFixture fx(false, 0, true);
  TestCursor& c = *fx.cursor;
  std::vector<uint8_t> first(50000), second(70000);
  std::mt19937 rng(3);
  for (auto& b : first) b = static_cast<uint8_t>(rng() % 16);
  for (auto& b : second) b = static_cast<uint8_t>(rng() % 32);
  c.BeginInsert();
  c.Set("ID", 1);
  c.SetText("NAME", "one");
  c.SetBlob("DATA", first);
  const int64_t after_first = fx.T().BLOBFile()->GetSize();
  c.SetBlob("DATA", second);
  c.InternalPost(true);
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_GT(fx.T().BLOBFile()->GetSize(), after_first) << "a value written again is a new entry";
  c.BeginInsert();
  c.Set("ID", 2);
  c.SetText("NAME", "two");
  c.InternalPost(true);
  c.SetRecNo(1);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetBlob("DATA"), second);
  std::unique_ptr<TORVStream> for_insert(fx.T().InternalCreateBlobStream(&c, true, 2, bomRead));
  EXPECT_EQ(for_insert->GetSize(), 0) << "a stream for an insert starts empty";
  c.SetRecNo(2);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_TRUE(c.GetBlob("DATA").empty()) << "a NULL field";

  // The stored form moves between records.
  c.SetRecNo(1);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  TORVPartialTemporaryBLOBDescriptor descriptor;
  void* stored = nullptr;
  fx.T().GetDirectBlobData(&c, 2, c.FCurrentRecordBuffer, descriptor, stored);
  EXPECT_EQ(descriptor.UncompressedSize, 70000);
  c.BeginInsert();
  c.Set("ID", 3);
  fx.T().SetDirectBlobData(&c, 2, c.FCurrentRecordBuffer, descriptor, stored);
  fx.T().FreeDirectBlobData(&c, 2, nullptr, descriptor, stored);
  c.InternalPost(true);
  c.SetRecNo(3);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetBlob("DATA"), second);

  // An emptied table takes BLOB values again.
  c.EmptyTable();
  EXPECT_EQ(c.GetRecordCount(), 0);
  c.BeginInsert();
  c.Set("ID", 4);
  c.SetBlob("DATA", first);
  c.InternalPost(true);
  c.SetRecNo(1);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(c.GetBlob("DATA"), first);
}

}  // namespace
}  // namespace orv
