#include "dbengine/file/orv_disk_engine_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "dbengine/file/orv_disk_engine_check.h"
#include "dbengine/file/tests/disk_cursor.h"
#include "dbengine/file/tests/disk_rows.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "platform/files/fault_file.h"

namespace orv {
namespace {

using testing::CheckDbFiles;
using testing::CodeOf;
using testing::DiskTable;
using testing::DiskTestCursor;
using testing::InsertRowsRow;
using testing::IsRowsRow;
using testing::RowImage;
using testing::RowsIds;

class DiskTableTest : public testing::DiskFileTest {
 protected:
  static DatabaseCheckReport Check(TORVDiskDatabaseData& db) { return CheckDatabase(db); }
};

std::string ReadTableTool(const std::string& path, const std::string& table, const std::string& mode = "") {
  std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/read_table.py' '" + path + "' '" + table + "'";
  if (!mode.empty()) command += " " + mode;
  const auto r = quirvel::testing::RunTool(command);
  return std::to_string(r.exit_code) + "\n" + r.output;
}

// The table the tests leave for an outsider: rows 1-2000 inserted, the multiples of 10
// deleted, committed and closed; an independent reader finds every row as its ID says.
TEST_F(DiskTableTest, TheRowsTableReadsBackThroughTheEngineAndFromOutside) {
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/file";
  std::filesystem::create_directories(folder);
  const std::string rows = folder + "/rows.orv";
  std::vector<int32_t> kept;
  {
    DiskTable t(rows);
    DiskTestCursor& c = testing::CreateRows(t);
    for (int32_t id = 1; id <= 2000; ++id) ASSERT_EQ(InsertRowsRow(c, id), 0) << id;
    c.InternalFirst();
    TORVGetRecordResult read = c.GetRecordBuffer(grmNext);
    while (read == grrOK) {
      if (c.GetInt("ID").value() % 10 != 0) {
        read = c.GetRecordBuffer(grmNext);
        continue;
      }
      c.InternalDelete();
      ASSERT_EQ(c.FErrorCode, 0);
      // The cursor stands on the deleted record's neighbour now.
      read = c.FirstPosition ? grrEOF : c.GetRecordBuffer(grmCurrent);
    }
    for (int32_t id = 1; id <= 2000; ++id)
      if (id % 10 != 0) kept.push_back(id);
    EXPECT_EQ(c.GetRecordCount(), 1800);
    const DatabaseCheckReport report = CheckDatabase(*t.db);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.LeakedPages, 0) << report.Text();
    EXPECT_EQ(report.OrphanBlobs, 0) << report.Text();
  }
  {
    DiskTable t(rows, false, 4096, false);
    DiskTestCursor& c = t.Open("ROWS");
    std::vector<int32_t> ids = RowsIds(c);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, kept);
  }
  const std::string out = ReadTableTool(rows, "ROWS", "rows");
  EXPECT_EQ(out.substr(0, 2), "0\n") << out;
  EXPECT_NE(out.find("rows=1800 small=500 large=900"), std::string::npos) << out;
}

// The record IDs of the table in physical order, with the IDs of their rows.
std::vector<std::pair<TORVPageItemID, int64_t>> Scan(DiskTestCursor& c) {
  std::vector<std::pair<TORVPageItemID, int64_t>> out;
  c.InternalFirst();
  while (c.GetRecordBuffer(grmNext) == grrOK) out.emplace_back(c.Bookmark(), c.GetInt("ID").value_or(-1));
  return out;
}

// Records per page follow from the record size: the slot bitmap and the slots share the page
// data; one record too large for a page refuses the table.
TEST_F(DiskTableTest, RecordsPerPageFollowTheRecordSize) {
  const int32_t d = 4096 - 40;
  struct Case {
    int32_t disk_size;
    int32_t per_page;  // 0: refused
    int32_t bitmap;
  } cases[] = {{d - 1, 0, 0}, {d - 2, 1, 1}, {450, 9, 2}, {506, 8, 1}, {100, 40, 5}};
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.disk_size);
    DiskTable t(dir.File("r" + std::to_string(n++) + ".orv"));
    TORVFieldDefs f;
    testing::AddField(f, "ID", aftInteger);
    testing::AddField(f, "PAD", aftBytes, 10);
    f.RecalcFieldOffsets();
    const int32_t pad = 10 + k.disk_size - f.GetDiskRecordBufferSize();
    f.GetDef(1)->SetFieldDefDataType(aftBytes, pad);
    f.RecalcFieldOffsets();
    ASSERT_EQ(f.GetDiskRecordBufferSize(), k.disk_size);
    if (k.per_page == 0) {
      EXPECT_EQ(CodeOf([&] { t.Create("R", f); }), 20174);
      EXPECT_FALSE(t.db->TableExists("R"));
      const DatabaseCheckReport report = Check(*t.db);
      EXPECT_TRUE(report.Ok()) << report.Text();
      EXPECT_EQ(report.LeakedPages, 0);
      continue;
    }
    DiskTestCursor& c = t.Create("R", f);
    EXPECT_EQ(c.Disk()->Records().MaxRecordsOnPage(), k.per_page);
    const int32_t rows = 2 * k.per_page;
    for (int32_t id = 1; id <= rows; ++id) ASSERT_EQ(c.InsertRow({{"ID", id}}), 0);
    auto ids = Scan(c);
    ASSERT_EQ(static_cast<int32_t>(ids.size()), rows);
    // Two full pages, the slots in order; slot 0's image (null flags, then ID) right behind the
    // bitmap.
    for (int32_t i = 0; i < rows; ++i) {
      EXPECT_EQ(ids[static_cast<size_t>(i)].first.PageItemNo, i % k.per_page);
      EXPECT_EQ(ids[static_cast<size_t>(i)].second, i + 1);
    }
    {
      TORVDiskPageManager& pm = c.Disk()->DiskPages();
      TORVHeldPage page(pm, pm.GetPage(c.GetSessionID(), ids[0].first.PageNo, 10, true));
      EXPECT_EQ(static_cast<int32_t>(LoadLE32(page->GetPageHeader() + page_header::ObjectID)), c.Disk()->FTableID);
      EXPECT_EQ(page.Data()[0], k.per_page >= 8 ? 0xFF : 0x01);
      EXPECT_EQ(LoadLE32(page.Data() + k.bitmap + 1), 1u);
    }
    // A freed slot is taken again by the next insert, which then comes first in physical order;
    // a page left empty goes.
    c.InternalFirst();
    ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
    c.InternalDelete();
    ASSERT_EQ(c.FErrorCode, 0);
    ASSERT_EQ(c.InsertRow({{"ID", 1000}}), 0);
    ids = Scan(c);
    ASSERT_EQ(static_cast<int32_t>(ids.size()), rows);
    if (k.per_page > 1) {
      EXPECT_EQ(ids.front().second, 1000);
      EXPECT_EQ(ids.front().first.PageItemNo, 0);
    } else {
      // One record per page: the emptied page went and the new record has a page of its own.
      for (const auto& r : ids) EXPECT_EQ(r.first.PageItemNo, 0);
      EXPECT_NE(ids[0].first.PageNo, ids[1].first.PageNo);
      EXPECT_EQ(CodeOf([&] { c.Disk()->Records().ValidateRecordPageIndex(c.GetSessionID()); }), 0);
    }
    const DatabaseCheckReport report = Check(*t.db);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.LeakedPages, 0) << report.Text();
  }
}

// Create, empty, rename and delete leave no page behind, and a second cursor cannot have the
// table exclusively while another has it.
TEST_F(DiskTableTest, TableOperationsKeepTheFileClean) {
  DiskTable t(path);
  const int32_t used_empty_file = Check(*t.db).UsedPages;
  DiskTestCursor& c = testing::CreateRows(t);
  const int32_t used_empty_table = Check(*t.db).UsedPages;
  for (int32_t id = 1; id <= 40; ++id) ASSERT_EQ(InsertRowsRow(c, id), 0);
  {
    auto other = std::make_unique<DiskTestCursor>(*t.session, "ROWS");
    other->FExclusive = true;
    EXPECT_EQ(CodeOf([&] { other->OpenTableByFieldDefs(nullptr, nullptr, nullptr); }), 20242);
  }
  EXPECT_GT(Check(*t.db).UsedPages, used_empty_table + 10);
  c.CloseTable();
  c.EmptyTable();
  {
    const DatabaseCheckReport report = Check(*t.db);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.UsedPages, used_empty_table) << report.Text();
  }
  c.OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  EXPECT_EQ(c.GetRecordCount(), 0);
  EXPECT_EQ(c.Disk()->Records().FTableState, 0);
  for (int32_t id = 1; id <= 5; ++id) ASSERT_EQ(InsertRowsRow(c, id), 0);
  c.CloseTable();
  c.RenameTable("ROWS2");
  EXPECT_FALSE(t.db->TableExists("ROWS"));
  EXPECT_TRUE(t.db->TableExists("ROWS2"));
  {
    DiskTestCursor& renamed = t.Open("ROWS2");
    EXPECT_EQ(RowsIds(renamed), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    renamed.CloseTable();
    renamed.DeleteTable();
  }
  EXPECT_FALSE(t.db->TableExists("ROWS2"));
  const DatabaseCheckReport report = Check(*t.db);
  EXPECT_TRUE(report.Ok()) << report.Text();
  EXPECT_EQ(report.UsedPages, used_empty_file) << report.Text();
}

// A table another user has open is not deleted: the exclusive open fails with 20208 and the
// table stays in the list, whole, for both.
TEST_F(DiskTableTest, DeletingATableAnotherUserHasOpenLeavesItListed) {
  {
    DiskTable t(path, true);
    DiskTestCursor& c = testing::CreateRows(t);
    for (int32_t id = 1; id <= 3; ++id) ASSERT_EQ(InsertRowsRow(c, id), 0);
  }
  testing::Peer other([&](testing::Peer& p) {
    DiskTable t(path, true, 4096, false);
    DiskTestCursor& c = t.Open("ROWS");
    p.Send(static_cast<int32_t>(c.GetRecordCount()));
    p.Receive();  // until the other side has tried
    const int ok = RowsIds(c) == std::vector<int32_t>{1, 2, 3} ? 0 : 1;
    return ok;
  });
  ASSERT_EQ(other.Receive(), 3);
  {
    DiskTable t(path, true, 4096, false);
    DiskTestCursor killer(*t.session, "ROWS");
    EXPECT_EQ(CodeOf([&] { killer.DeleteTable(); }), 20208);
    EXPECT_TRUE(t.db->TableExists("ROWS"));
    other.Send(1);
    EXPECT_EQ(other.Wait(), 0);
    killer.DeleteTable();
    EXPECT_FALSE(t.db->TableExists("ROWS"));
    const DatabaseCheckReport report = Check(*t.db);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.LeakedPages, 0) << report.Text();
  }
}

// An update of a record another cursor deleted meanwhile is refused before anything is
// touched: no index entry comes back, the new BLOB is not stored, nothing is leaked.
TEST_F(DiskTableTest, AnUpdateOfAVanishedRecordChangesNothing) {
  DiskTable t(path);
  DiskTestCursor& a = testing::CreateRows(t);
  for (int32_t id = 1; id <= 6; ++id) ASSERT_EQ(InsertRowsRow(a, id), 0);
  DiskTestCursor& b = t.Open("ROWS");
  a.InternalFirst();
  ASSERT_EQ(a.GetRecordBuffer(grmNext), grrOK);
  a.BeginEdit();
  a.SetText("NAME", std::string("changed"));
  a.SetBlob("IMG", RowImage(3, 5000));
  a.CurrentRecordID = a.Bookmark();
  b.InternalFirst();
  ASSERT_EQ(b.GetRecordBuffer(grmNext), grrOK);
  b.InternalDelete();
  ASSERT_EQ(b.FErrorCode, 0);
  const int32_t used = Check(*t.db).UsedPages;
  a.ClearBLOBStreams(true);
  EXPECT_FALSE(a.Disk()->UpdateRecord(&a));
  a.InternalCancel(false);
  EXPECT_EQ(RowsIds(b), (std::vector<int32_t>{2, 3, 4, 5, 6}));
  const DatabaseCheckReport report = Check(*t.db);
  EXPECT_TRUE(report.Ok()) << report.Text();
  EXPECT_EQ(report.UsedPages, used) << report.Text();
  EXPECT_EQ(report.LeakedPages, 0) << report.Text();
  EXPECT_EQ(report.OrphanBlobs, 0) << report.Text();
}

// A scan reads the rest of a record page from a copy it took at the page's first record: an
// update, a delete and an insert by another cursor on that page, and a transaction rolled back,
// must each show at the scan's next step.
TEST_F(DiskTableTest, AScanSeesChangesMadeOnThePageItStandsOn) {
  DiskTable t(path);
  DiskTestCursor& a = testing::CreateRows(t);
  for (int32_t id = 1; id <= 8; ++id) ASSERT_EQ(InsertRowsRow(a, id), 0);
  DiskTestCursor& b = t.Open("ROWS");
  const auto step = [](DiskTestCursor& c, int32_t times) {
    for (int32_t i = 0; i < times; ++i)
      if (c.GetRecordBuffer(grmNext) != grrOK) return std::optional<int64_t>();
    return c.GetInt("ID");
  };
  a.InternalFirst();
  ASSERT_EQ(step(a, 2), 2);
  // Another cursor changes row 3 and deletes row 4 behind the scan's back.
  b.InternalFirst();
  ASSERT_EQ(step(b, 3), 3);
  b.BeginEdit();
  b.SetText("NAME", std::string("changed"));
  b.InternalPost(false);
  ASSERT_EQ(b.FErrorCode, 0);
  ASSERT_EQ(step(b, 1), 4);
  b.InternalDelete();
  ASSERT_EQ(b.FErrorCode, 0);
  ASSERT_EQ(step(a, 1), 3);
  EXPECT_EQ(a.GetText("NAME"), std::string("changed"));
  EXPECT_EQ(step(a, 1), 5);
  // An insert takes the freed slot of row 4, behind the scan.
  ASSERT_EQ(InsertRowsRow(b, 40), 0);
  // A change made in a transaction and rolled back leaves the scan with the stored row.
  t.session->StartTransaction();
  b.InternalFirst();
  ASSERT_EQ(step(b, 6), 6);
  b.BeginEdit();
  b.SetText("NAME", std::string("dropped"));
  b.InternalPost(false);
  ASSERT_EQ(b.FErrorCode, 0);
  ASSERT_EQ(step(a, 1), 6);
  EXPECT_EQ(a.GetText("NAME"), std::string("dropped"));
  t.session->Rollback();
  ASSERT_EQ(a.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_TRUE(IsRowsRow(a, 6));
  EXPECT_EQ(step(a, 1), 7);
  EXPECT_EQ(step(a, 1), 8);
  EXPECT_EQ(a.GetRecordBuffer(grmNext), grrEOF);
  // Row 3 keeps its changed name (not the image of a rows row: -1).
  EXPECT_EQ(RowsIds(a), (std::vector<int32_t>{1, 2, -1, 40, 5, 6, 7, 8}));
}

// A forward scan reads the next record pages from the file in one read, past the cache: a page
// the session has changed and not committed must still be read as changed, and the pages
// between them (BLOB pages) must not be taken for records.
TEST_F(DiskTableTest, AScanReadingAheadKeepsTheSessionsUncommittedPages) {
  DiskTable t(path);
  DiskTestCursor& a = testing::CreateRows(t);
  std::vector<int32_t> ids;
  t.session->StartTransaction();
  for (int32_t id = 1; id <= 300; ++id) {
    ASSERT_EQ(InsertRowsRow(a, id, id % 7 == 0 ? 3000 : 0), 0);
    ids.push_back(id);
  }
  t.session->Commit(true);
  t.session->StartTransaction();
  a.InternalFirst();
  int32_t seen = 0;
  while (a.GetRecordBuffer(grmNext) == grrOK && ++seen < 250) {
  }
  ASSERT_EQ(a.GetInt("ID"), 250);
  a.BeginEdit();
  a.SetText("NAME", std::string("late"));
  a.InternalPost(false);
  ASSERT_EQ(a.FErrorCode, 0);
  a.InternalFirst();
  std::vector<int32_t> read;
  while (a.GetRecordBuffer(grmNext) == grrOK) {
    read.push_back(static_cast<int32_t>(a.GetInt("ID").value_or(-1)));
    if (read.back() == 250) EXPECT_EQ(a.GetText("NAME"), std::string("late"));
  }
  EXPECT_EQ(read, ids);
  t.session->Rollback();
}

// The pages a scan reads past the cache are deciphered like any other: every row of a table
// spread over many record pages, BLOB pages between them, reads back whole from an encrypted
// file, before and after the file is opened afresh.
TEST_F(DiskTableTest, AScanOfAnEncryptedFileReadsEveryRowWhole) {
  const TORVPassword password{"Rakel", craTwofish_256};
  std::vector<int32_t> ids(300);
  std::iota(ids.begin(), ids.end(), 1);
  {
    DiskTable t(path, false, 4096, true, {}, password);
    DiskTestCursor& a = testing::CreateRows(t);
    t.session->StartTransaction();
    for (int32_t id : ids) ASSERT_EQ(InsertRowsRow(a, id, id % 7 == 0 ? 3000 : 0), 0);
    t.session->Commit(true);
    ASSERT_TRUE(t.db->GetEncrypted());
    EXPECT_EQ(RowsIds(a, 0).size(), ids.size());
  }
  DiskTable t(path, false, 4096, false, {}, password);
  DiskTestCursor& a = t.Open("ROWS");
  std::vector<int32_t> read;
  a.InternalFirst();
  while (a.GetRecordBuffer(grmNext) == grrOK) {
    const auto id = static_cast<int32_t>(a.GetInt("ID").value_or(-1));
    read.push_back(IsRowsRow(a, id, id % 7 == 0 ? 3000 : 0) ? id : -1);
  }
  EXPECT_EQ(read, ids);
}

// In multi-user mode another process commits updates and deletes on record pages the scan has
// already read ahead (every row from 201 on renamed, rows 250 and 350 deleted): the scan's next
// steps show them all (the read under the table lock finds the table changed and reads those
// pages again).
TEST_F(DiskTableTest, AMultiUserScanSeesWhatAnotherProcessCommitsAhead) {
  {
    DiskTable t(path, true);
    DiskTestCursor& a = testing::CreateRows(t);
    t.session->StartTransaction();
    for (int32_t id = 1; id <= 400; ++id) ASSERT_EQ(InsertRowsRow(a, id, 0), 0);
    t.session->Commit(true);
  }
  testing::Peer other([&](testing::Peer& p) {
    p.Receive();  // the other side has the table open
    DiskTable t(path, true, 4096, false);
    DiskTestCursor& c = t.Open("ROWS");
    t.session->StartTransaction();
    c.InternalFirst();
    while (c.GetRecordBuffer(grmNext) == grrOK) {
      if (c.GetInt("ID") <= 200) continue;
      c.BeginEdit();
      c.SetText("NAME", std::string("other"));
      c.InternalPost(false);
      if (c.FErrorCode != 0) return 1;
    }
    for (int32_t gone : {250, 350}) {
      c.InternalFirst();
      while (c.GetRecordBuffer(grmNext) == grrOK && c.GetInt("ID") != gone) {
      }
      c.InternalDelete();
      if (c.FErrorCode != 0) return 2;
    }
    t.session->Commit(true);
    p.Send(1);
    return 0;
  });
  DiskTable t(path, true, 4096, false);
  DiskTestCursor& a = t.Open("ROWS");
  std::vector<int32_t> read;
  a.InternalFirst();
  // (The two opens one after the other: opening at once may time out on the table list lock.)
  for (int32_t i = 0; i < 10 && a.GetRecordBuffer(grmNext) == grrOK; ++i)
    read.push_back(static_cast<int32_t>(a.GetInt("ID").value_or(-1)));
  other.Send(1);
  ASSERT_EQ(other.Receive(), 1);
  ASSERT_EQ(other.Wait(), 0);
  while (a.GetRecordBuffer(grmNext) == grrOK) {
    const auto id = static_cast<int32_t>(a.GetInt("ID").value_or(-1));
    const bool as_expected = id > 200 ? a.GetText("NAME") == std::string("other") : IsRowsRow(a, id, 0);
    read.push_back(as_expected ? id : -id);
  }
  std::vector<int32_t> ids;
  for (int32_t id = 1; id <= 400; ++id)
    if (id != 250 && id != 350) ids.push_back(id);
  EXPECT_EQ(read, ids);
}

// The k-th write (then the k-th space allocation) of an insert with BLOBs fails, for every k until one passes
// untouched: each insert is whole or absent, the process goes on inserting, and the file opened afresh holds the
// committed rows and passes the check with nothing leaked. The first record page is full, so an insert also takes a
// page for its record after those of its BLOB (a refused insert must give back both).
TEST_F(DiskTableTest, AFailingWriteInAnInsertLeavesNothingBehind) {
  constexpr int32_t kUnit = 2100;  // 2100 bytes: small; 4200 and 6300: large
  std::vector<int32_t> base_ids;
  {
    DiskTable t(path);
    DiskTestCursor& c = testing::CreateRows(t);
    const int32_t per_page = c.Disk()->Records().MaxRecordsOnPage();
    for (int32_t id = 1; id <= per_page; ++id) {
      ASSERT_EQ(InsertRowsRow(c, id, kUnit), 0);
      base_ids.push_back(id);
    }
  }
  const std::vector<uint8_t> base = testing::ReadAll(path);
  for (bool allocations : {false, true}) {
    int32_t faults = 0;
    for (int64_t k = 1; k < 500; ++k) {
      SCOPED_TRACE(std::string(allocations ? "allocation " : "write ") + std::to_string(k));
      testing::WriteAll(path, base);
      auto plan = std::make_shared<platform::FaultPlan>();
      std::vector<int32_t> ok = base_ids;
      bool tripped = false;
      {
        DiskTable t(path, false, 4096, false, platform::FaultInjectingFactory(plan));
        DiskTestCursor& c = t.Open("ROWS");
        plan->ResetCounters();
        (allocations ? plan->fail_allocate : plan->fail_write) = k;
        for (int32_t id : {9001, 9002, 9003}) {
          int32_t code = -100;
          try {
            code = InsertRowsRow(c, id, kUnit);
          } catch (const EORVException&) {
          }
          if (code == 0)
            ok.push_back(id);
          else
            c.InternalCancel(true);
        }
        tripped = plan->tripped;
        faults += tripped;
        // The same process goes on after the fault.
        ASSERT_EQ(InsertRowsRow(c, 9005, kUnit), 0);
        ok.push_back(9005);
      }
      DiskTable t(path, false, 4096, false);
      DiskTestCursor& c = t.Open("ROWS");
      std::vector<int32_t> ids = RowsIds(c, kUnit);
      std::sort(ids.begin(), ids.end());
      ASSERT_EQ(ids, ok);
      const DatabaseCheckReport report = Check(*t.db);
      ASSERT_TRUE(report.Ok()) << report.Text();
      EXPECT_EQ(report.LeakedPages, 0) << report.Text();
      EXPECT_EQ(report.OrphanBlobs, 0) << report.Text();
      if (!tripped) break;
    }
    EXPECT_GT(faults, allocations ? 0 : 10);
  }
}

}  // namespace
}  // namespace orv
