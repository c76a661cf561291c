// The record copier, CopyTable and RestructureTable: what reaches the destination, what the log
// says, progress and cancellation, refusals, and the rollback of a failed restructure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/access/tests/table_test_support.h"
#include "platform/data/tests/vector_dataset.h"

namespace orv::testing {
namespace {

using namespace platform::data;

// Leaves a file under test-output/access for an outsider to check.
void KeepOutput(const std::string& File, const std::string& Name) {
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/access";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(File, folder + "/" + Name, std::filesystem::copy_options::overwrite_existing);
}

class TableCopyTest : public EngineTest {
 protected:
  // ID (primary key), NAME, N with Count rows: i, "name<i>", i * 10.
  std::unique_ptr<TORVTable> Numbers(const std::string& Database, const std::string& Name, int Count) {
    auto t = MakeTable(Database, Name, {{"ID", ftInteger}, {"NAME", ftString, 20}, {"N", ftInteger}},
                       {{"PK", "ID", {ixPrimary, ixUnique}}});
    t->Open();
    for (int i = 1; i <= Count; ++i) t->AppendRecord({i, "name" + std::to_string(i), i * 10});
    t->Close();
    return t;
  }
  // A new database file of the scratch folder, open under Name.
  std::unique_ptr<TORVDatabase> FileDatabase(const std::string& Name, const std::string& File) {
    CreateFile(File);
    auto db = NewDatabase(Name, File);
    db->Open();
    return db;
  }
  static std::vector<std::string> Rows(TDataSet& t) {
    std::vector<std::string> rows;
    const bool was = t.Active();
    if (!was) t.Open();
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (int i = 0; i < t.FieldCount(); ++i)
        row += (i ? "|" : "") + (t.Fields()[i]->IsNull() ? std::string("NULL") : t.Fields()[i]->AsString());
      rows.push_back(row);
    }
    if (!was) t.Close();
    return rows;
  }
};

TEST_F(TableCopyTest, ProgressIsReportedOverItsRangeAndAfterEveryRecordWhenTheRangeIsEmpty) {
  auto src = Numbers("MEMORY", "SRC", 95);
  struct Case {
    int min, max;
    std::vector<int> expected;
  };
  std::vector<int> all100;
  // 95 records over 0..100: step 95 div 100 + 1 = 1, a report after every record.
  for (int r = 1; r <= 95; ++r) all100.push_back(static_cast<int>(std::nearbyint(100.0 * r / 95)));
  const std::vector<Case> cases = {{0, 100, all100}, {40, 40, std::vector<int>(95, 40)}};
  for (const Case& c : cases) {
    auto dst = MakeTable("MEMORY", "DST", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"N", ftInteger}});
    dst->Open();
    src->Open();
    std::vector<int> seen;
    std::string log;
    bool cont = true;
    EXPECT_TRUE(src->InternalCopyRecords(
        *src, *dst, log, cont, false, false, [&](TDataSet& s, int p, bool&) { EXPECT_EQ(&s, src.get()); seen.push_back(p); },
        c.min, c.max));
    EXPECT_EQ(seen, c.expected) << c.min << ".." << c.max;
    EXPECT_EQ(dst->RecordCount(), 95);
    EXPECT_EQ(log, "");
    src->Close();
    dst->Close();
  }
}

TEST_F(TableCopyTest, ContinueFalseAtTheFirstReportStopsAfterOneRecord) {
  auto src = Numbers("MEMORY", "SRC", 10);
  auto dst = MakeTable("MEMORY", "DST", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"N", ftInteger}});
  src->Open();
  dst->Open();
  src->Last();
  std::string log;
  bool cont = true;
  EXPECT_FALSE(src->InternalCopyRecords(*src, *dst, log, cont, false, false,
                                        [](TDataSet&, int, bool& c) { c = false; }, 0, 100));
  EXPECT_EQ(dst->RecordCount(), 1);
  EXPECT_EQ(log, "Terminated by User.\r\n");
  EXPECT_EQ(src->FieldByName("ID")->AsInteger(), 10);  // back where it stood
}

TEST_F(TableCopyTest, AnUnconvertibleValueBecomesNullWithItsLineUnderIgnoreErrors) {
  auto src = MakeTable("MEMORY", "SRC", {{"ID", ftInteger}, {"N", ftString, 10}});
  src->Open();
  src->AppendRecord({1, "12"});
  src->AppendRecord({2, "twelve"});
  auto dst = MakeTable("MEMORY", "DST", {{"ID", ftInteger}, {"N", ftInteger}});
  dst->Open();
  std::string log;
  bool cont = true;
  EXPECT_FALSE(src->InternalCopyRecords(*src, *dst, log, cont, true, false, nullptr, 0, 100));
  EXPECT_EQ(Rows(*dst), (std::vector<std::string>{"1|12", "2|NULL"}));
  EXPECT_EQ(log.rfind("Error copying table \"SRC\". Record #2, field 'N' was copied with Null value due to error: ", 0),
            0u)
      << log;
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

  // Without IgnoreErrors the error ends the copy; what was posted before stays.
  dst->Close();
  dst->EmptyTable();
  dst->Open();
  log.clear();
  EXPECT_THROW(src->InternalCopyRecords(*src, *dst, log, cont, false, false, nullptr, 0, 100), std::exception);
  EXPECT_EQ(Rows(*dst), (std::vector<std::string>{"1|12"}));
}

// A source whose records with the given ids cannot be read: moving onto them and positioning
// on them by number fail.
class DamagedDataSet : public platform::data::testing::VectorDataSet {
 public:
  using platform::data::testing::VectorDataSet::VectorDataSet;
  int32_t bad_id = -1;
  int bad_recno = -1;
  void SetRecNo(int value) override {
    if (value == bad_recno) throw std::runtime_error("damaged record");
    platform::data::testing::VectorDataSet::SetRecNo(value);
  }
  int32_t IdOfCurrent() {
    TBookmark b = GetBookmark();
    int32_t id;
    std::memcpy(&id, b.data(), 4);
    return id;
  }

 protected:
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override {
    const TGetResult r = platform::data::testing::VectorDataSet::GetRecord(buffer, mode, do_check);
    if (r == grOK && mode == gmNext) {
      int32_t id;
      GetBookmarkData(buffer, reinterpret_cast<uint8_t*>(&id));
      if (id == bad_id) throw std::runtime_error("damaged record");
    }
    return r;
  }
};

TEST_F(TableCopyTest, AnUnreadableLastRecordEndsTheCopyWithItsLineAndNoDuplicate) {
  DamagedDataSet src({{"ID", ftInteger}, {"NAME", ftString, 20}});
  src.Open();
  for (int i = 1; i <= 4; ++i) src.AppendRecord({i, "r" + std::to_string(i)});
  src.Last();
  src.bad_id = src.IdOfCurrent();
  src.bad_recno = 4;
  src.First();
  auto dst = MakeTable("MEMORY", "DST", {{"ID", ftInteger}, {"NAME", ftString, 20}});
  dst->Open();
  std::string log;
  bool cont = true;
  dst->InternalCopyRecords(src, *dst, log, cont, true, false, nullptr, 0, 100);
  EXPECT_EQ(Rows(*dst), (std::vector<std::string>{"1|r1", "2|r2", "3|r3"}));
  EXPECT_EQ(log, "Record #4 corrupted and skipped.\r\n");
}

TEST_F(TableCopyTest, CopyOntoAnExistingNameOrOntoItselfIsRefused) {
  const std::string file = dir.File("copy.orv");
  auto db = FileDatabase("CopyDb", file);
  auto src = Numbers("CopyDb", "PLATE", 3);
  auto other = Numbers("CopyDb", "FILM", 1);

  std::string log;
  bool cont = true;
  EXPECT_EQ(CodeOf([&] { src->CopyTable("FILM", log, cont, "", "", false, false, true, 0, 100); }), 30448);
  EXPECT_FALSE(src->CopyTable("FILM", log, cont, "", "", true, false, true, 0, 100));
  EXPECT_EQ(log, "Table '" + file + ".FILM' already exists");
  EXPECT_EQ(Rows(*other).size(), 1u);

  // Onto itself: in its own database, through the file's name and through another path of it,
  // also when overwriting is allowed.
  const std::string alias = dir.File("sub/../copy.orv");
  for (const std::string& dest : {std::string(), file}) {
    EXPECT_EQ(CodeOf([&] { src->CopyTable("plate", log, cont, dest, "", true, true, true, 0, 100); }), 30447);
  }
  std::filesystem::create_directories(dir.File("sub"));
  EXPECT_EQ(CodeOf([&] { src->CopyTable("PLATE", log, cont, alias, "", true, true, true, 0, 100); }), 30447);
  EXPECT_EQ(Rows(*src).size(), 3u);

  // A destination that cannot be opened, with IgnoreErrors: logged, False.
  log.clear();
  EXPECT_FALSE(src->CopyTable("X", log, cont, dir.File("missing.orv"), "", true, false, true, 0, 100));
  EXPECT_NE(log.find("missing.orv"), std::string::npos);
  EXPECT_FALSE(src->Active());
}

TEST_F(TableCopyTest, CopiesIntoMemoryAndAnotherEncryptedFileWithoutTemporaryIndexes) {
  const std::string file = dir.File("src.orv");
  auto db = FileDatabase("SrcDb", file);
  auto src = Numbers("SrcDb", "PLATE", 5);
  src->AddIndex("BYNAME", "NAME", {});
  src->AddIndex("TEMPORARY_N", "N", {});
  const std::string enc = dir.File("enc.orv");
  CreateFile(enc, "secret");

  src->SetIndexName("PK");
  src->Open();
  src->FindKey({3});
  src->CopyTable("FILM", "MEMORY");
  EXPECT_TRUE(src->Active());
  EXPECT_EQ(src->FieldByName("ID")->AsInteger(), 3);  // open at the same record
  src->Close();
  src->CopyTable("FILM", enc, "secret");
  EXPECT_FALSE(src->Active());

  auto encDb = NewDatabase("EncDb", enc);
  encDb->SetPassword("secret");
  encDb->Open();
  for (const std::string& database : {std::string("MEMORY"), std::string("EncDb")}) {
    auto copy = OpenTable(database, "FILM");
    EXPECT_EQ(Rows(*copy), Rows(*src)) << database;
    copy->IndexDefs().Update();
    std::vector<std::string> indexes;
    for (int i = 0; i < copy->IndexDefs().Count(); ++i) indexes.push_back(copy->IndexDefs()[i]->Name());
    EXPECT_EQ(indexes, (std::vector<std::string>{"PK", "BYNAME"})) << database;
  }
  encDb->Close();
  KeepOutput(enc, "copy_into_encrypted.orv");
}

TEST_F(TableCopyTest, TheDefaultProgressFormUnlessSilentOrTemporary) {
  const std::string file = dir.File("form.orv");
  auto db = FileDatabase("FormDb", file);
  auto src = Numbers("FormDb", "PLATE", 50);
  src->CopyTable("FILM");
  ASSERT_EQ(ui.Progress().size(), 1u);
  EXPECT_EQ(ui.Progress()[0].texts, (std::vector<std::string>{"Copy Table..."}));
  EXPECT_EQ(ui.Progress()[0].positions.front(), 0);
  EXPECT_EQ(ui.Progress()[0].positions.back(), 100);
  EXPECT_TRUE(ui.Progress()[0].closed);

  // Abort pressed: the copy stops with the copier's line.
  ui.AbortProgressAt(0);
  std::string log;
  bool cont = true;
  EXPECT_TRUE(src->CopyTable("FILM2", log, cont, "", "", false, false, true, 0, 100));
  EXPECT_FALSE(cont);
  EXPECT_EQ(log, "Terminated by User.\r\n");
  ui.AbortProgressAt(std::nullopt);

  db->SetSilentMode(true);
  src->CopyTable("FILM3");
  EXPECT_EQ(ui.Progress().size(), 2u);
  EXPECT_EQ(CodeOf([&] { src->CopyTable("FILM3"); }), 30448);
  auto memory = Numbers("MEMORY", "M", 2);
  EXPECT_EQ(CodeOf([&] { memory->CopyTable("M"); }), 30447);
  memory->CopyTable("M2");
  EXPECT_EQ(CodeOf([&] { memory->CopyTable("M2"); }), 10515);
}

TEST_F(TableCopyTest, RestructureCarriesDataByObjectIdAndRollsBackOnFailure) {
  const std::string file = dir.File("re.orv");
  auto db = FileDatabase("ReDb", file);
  auto t = Numbers("ReDb", "T", 40);

  // N renamed to AMOUNT, NAME dropped, NOTE added.
  auto plan = [&] {
    t->Open();
    t->Close();
    TORVAdvFieldDefs& r = t->RestructureFieldDefs();
    r.Find("N")->Name = "AMOUNT";
    r.DeleteFieldDef("NAME");
    r.Add("NOTE", aftString, 10, false);
  };

  // A failure during the copy: the old table with its name and data.
  plan();
  t->OnRestructureProgress = [](TDataSet&, int, bool&) { throw std::runtime_error("injected"); };
  EXPECT_THROW(t->RestructureTable(), std::runtime_error);
  EXPECT_EQ(t->TableName(), "T");
  std::vector<std::string> tables;
  db->GetTablesList(tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"T"}));
  auto before = OpenTable("ReDb", "T");
  EXPECT_EQ(Rows(*before).size(), 40u);
  EXPECT_EQ(Rows(*before)[6], "7|name7|70");
  before->Close();

  // Inside a transaction: 20181 from the first rename, nothing changed.
  db->StartTransaction();
  plan();
  EXPECT_EQ(CodeOf([&] { t->RestructureTable(); }), 20181);
  db->Rollback();
  EXPECT_EQ(Rows(*before)[6], "7|name7|70");

  plan();
  t->OnRestructureProgress = nullptr;
  std::string log;
  EXPECT_TRUE(t->RestructureTable(log)) << log;
  tables.clear();
  db->GetTablesList(tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"T"}));
  auto after = OpenTable("ReDb", "T");
  std::vector<std::string> names;
  for (int i = 0; i < after->FieldCount(); ++i) names.push_back(after->Fields()[i]->FieldName());
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "AMOUNT", "NOTE"}));
  EXPECT_EQ(Rows(*after).size(), 40u);
  EXPECT_EQ(Rows(*after)[6], "7|70|NULL");
}

}  // namespace
}  // namespace orv::testing

namespace orv::testing {
namespace {

using namespace platform::data;

class ExchangeTest : public TableCopyTest {};

TEST_F(ExchangeTest, ImportFromAndExportToAnotherKindOfDataset) {
  platform::data::testing::VectorDataSet source({{"ID", ftInteger}, {"NAME", ftString, 20}, {"PRICE", ftFloat}});
  source.Open();
  source.AppendRecord({1, "bolt", 0.25});
  source.AppendRecord({2, "nut's", 0.5});
  source.AppendRecord({3, Variant(), 1.5});
  TIndexDefs indexes(nullptr);
  indexes.Add("", "ID", {ixPrimary, ixUnique});
  indexes.Add("NOFIELDS", "", {});

  TORVTable table;
  table.SetDatabaseName("MEMORY");
  table.SetTableName("PARTS");
  std::string log;
  EXPECT_FALSE(table.ImportTable(source, log, &indexes));
  EXPECT_EQ(log, "Cannot import index 'NOFIELDS'. Index type is not supported, index skipped");
  table.IndexDefs().SetUpdated(false);
  table.IndexDefs().Update();
  ASSERT_EQ(table.IndexDefs().Count(), 1);
  EXPECT_EQ(table.IndexDefs()[0]->Name(), "idxPrimaryKey");
  EXPECT_EQ(Rows(table), (std::vector<std::string>{"1|bolt|0.25", "2|nut's|0.5", "3|NULL|1.5"}));

  platform::data::testing::VectorDataSet target({{"ID", ftInteger}, {"NAME", ftString, 20}, {"PRICE", ftFloat}});
  int created = 0;
  EXPECT_TRUE(table.ExportTable(target, [&] { ++created; }));
  EXPECT_EQ(created, 1);
  EXPECT_TRUE(target.Active());
  EXPECT_EQ(Rows(target), Rows(table));
  EXPECT_FALSE(table.Active());

  // A creation that fails is logged.
  log.clear();
  EXPECT_FALSE(table.ExportTable(target, [] { throw std::runtime_error("no room"); }, log));
  EXPECT_EQ(log, "Error exporting table. Cannot create table due to error: no room\r\n");
}

TEST_F(ExchangeTest, BatchMoveInItsSixModes) {
  struct Case {
    TORVBatchMoveType type;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {bmtAppend, {"1|src1", "2|old2", "3|old3", "4|old4"}},
      {bmtAppendUpdate, {"1|src1", "2|src2", "3|src3", "4|old4"}},
      {bmtCopy, {"1|src1", "2|src2", "3|src3"}},
      {bmtDelete, {"4|old4"}},
      {bmtUpdate, {"2|src2", "3|src3", "4|old4"}},
      {bmtSynchronize, {"1|src1", "2|src2", "3|src3"}},
  };
  for (const Case& c : cases) {
    auto src = MakeTable("MEMORY", "BSRC", {{"ID", ftInteger}, {"V", ftString, 10}}, {{"PK", "ID", {ixPrimary}}});
    src->Open();
    for (int i = 1; i <= 3; ++i) src->AppendRecord({i, "src" + std::to_string(i)});
    auto dst = MakeTable("MEMORY", "BDST", {{"ID", ftInteger}, {"V", ftString, 10}}, {{"PK", "ID", {ixPrimary}}});
    dst->Open();
    for (int i = 2; i <= 4; ++i) dst->AppendRecord({i, "old" + std::to_string(i)});
    dst->BatchMove(*src, c.type);
    dst->SetIndexName("PK");
    EXPECT_EQ(Rows(*dst), c.expected) << static_cast<int>(c.type);
    src->Close();
    dst->Close();
  }
}

}  // namespace
}  // namespace orv::testing
