#include "dbengine/storage/orv_base_engine_indexes.h"

#include <gtest/gtest.h>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/index_checks.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::TableFixture;
using testing::TestCursor;
using testing::TestSession;

// K and S (Integer), V (text); a plain index on K.
struct IndexFixture : TableFixture {
  IndexFixture() {
    TORVFieldDefs f;
    AddField(f, "K", aftInteger);
    AddField(f, "S", aftInteger);
    AddField(f, "V", aftString, 12);
    TORVIndexDefs i;
    AddIndexDef(i, "ByK", {"K"});
    Create(f, i);
  }
  TestCursor& c() { return *cursor; }
  void Insert(std::optional<int64_t> k, std::optional<int64_t> s) {
    ASSERT_EQ(c().InsertRow({{"K", k}, {"S", s}}), 0) << c().FErrorMessage;
  }
  TORVBaseIndexManager& Indexes() { return *Table().FIndexManager; }
  TORVIndexDef& Def(const std::string& name) { return *Indexes().FIndexDefs.GetIndexDefByName(name); }
  // A record stored behind the indexes' back, as another process would.
  void StoreUnindexed(int64_t k) {
    std::vector<uint8_t> record(static_cast<size_t>(Table().GetRecordBufferSize()), 0);
    record[0] = 0b110;  // S and V NULL
    StoreLE32(record.data() + Table().FFieldManager->FFieldDefs.GetDef(0)->MemoryOffset, static_cast<uint32_t>(k));
    TORVPageItemID id;
    ASSERT_TRUE(Table().Records().AddRecord(session.FSessionID, record.data(), id));
  }
};

std::unique_ptr<TORVIndexDef> UniqueDef(const std::string& name, const std::string& field, bool primary = false) {
  auto d = std::make_unique<TORVIndexDef>();
  d->Name = name;
  d->Unique = !primary;
  d->Primary = primary;
  d->AssignByNames({field}, {"ASC"}, {"CASE"});
  return d;
}

TEST(TORVBaseIndexManager, AUniqueIndexOverDuplicateRowsIsRefusedAndLeavesNothing) {
  struct Case {
    bool primary;
    int32_t code;
    const char* message;
  } cases[] = {
      {false, 30320, "Constraint unique 'UK' violated. Duplicate found. - Native error: 30320"},
      {true, 30319, "Primary Key constraint 'UK' violated. Duplicate found. - Native error: 30319"},
  };
  for (const Case& k : cases) {
    IndexFixture fx;
    // Enough distinct keys for a tree of several pages before the duplicate comes.
    for (int i = 0; i < 1500; ++i) fx.Insert(i, i % 7);
    fx.Insert(750, 0);
    const int32_t pages = fx.Table().Pages().GetPageCount();
    const size_t allocated = fx.Table().Pages().AllocatedCount();
    auto def = UniqueDef("UK", "K", k.primary);
    ExpectCode(k.code, [&] { fx.c().AddIndex(*def); }, k.message);
    EXPECT_EQ(fx.Table().Pages().GetPageCount(), pages);
    EXPECT_EQ(fx.Table().Pages().AllocatedCount(), allocated);
    EXPECT_EQ(fx.c().GetIndexDefs()->GetCount(), 1) << "the refused index's definition is gone";
    EXPECT_EQ(fx.Table().FConstraintManager->FConstraintDefs.GetCount(), 0) << "and it carries no constraint";

    // Unique keys are accepted, and the tree holds every record once.
    auto ok = UniqueDef("US", "V", k.primary);
    ok->AssignByNames({"K", "S"}, {"ASC", "ASC"}, {"CASE", "CASE"});
    fx.c().AddIndex(*ok);
    EXPECT_EQ(fx.c().GetIndexDefs()->GetCount(), 2);
    EXPECT_EQ(fx.c().FConstraintDefs->GetCount(), 1);
    testing::ExpectIndexesMatchRecords(fx.Table(), fx.session.FSessionID);
  }
}

TEST(TORVBaseIndexManager, NullKeysCountAsEqualInAUniqueIndex) {
  IndexFixture fx;
  fx.Insert(std::nullopt, 1);
  fx.Insert(std::nullopt, 2);
  auto def = UniqueDef("UK", "K");
  ExpectCode(30320, [&] { fx.c().AddIndex(*def); });
}

TEST(TORVBaseIndexManager, OneTemporaryIndexPerSession) {
  IndexFixture fx;
  for (int i = 0; i < 5; ++i) fx.Insert(i, 5 - i);
  bool created = false;
  const std::string first = fx.c().FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created);
  EXPECT_TRUE(created);
  EXPECT_EQ(first.rfind("TEMPORARY_INDEX_{", 0), 0u) << first;
  EXPECT_EQ(first.size(), 16u + 38u);
  EXPECT_EQ(fx.c().FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created), first);
  EXPECT_FALSE(created);
  EXPECT_EQ(fx.c().FindOrCreateIndex({"K"}, {"ASC"}, {"CASE"}, created), "ByK") << "a stored index serves";
  EXPECT_FALSE(created);

  TestSession other(fx.db);
  auto o = fx.Open(other);
  const std::string second = o->FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created);
  EXPECT_TRUE(created) << "another session's temporary index is not shared";
  EXPECT_NE(second, first);
  EXPECT_EQ(fx.Indexes().FIndexDefs.GetCount(), 3);
  o->SetIndexName(second);
  EXPECT_EQ(o->Column("S"), (std::vector<std::optional<int64_t>>{1, 2, 3, 4, 5}));

  // Temporary indexes are never stored with the table's definitions.
  platform::TMemoryStream stream;
  fx.Indexes().SaveMetadata(stream);
  TORVIndexDefs loaded;
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.GetCount(), 1);
  fx.Indexes().DropTemporaryIndexes(SYSTEM_SESSION_ID);
  EXPECT_EQ(fx.Indexes().FIndexDefs.GetCount(), 1);
}

TEST(TORVBaseIndexManager, AStaleTemporaryIndexIsRebuiltOnce) {
  IndexFixture fx;
  for (int i = 0; i < 50; ++i) fx.Insert(i, 100 - i);
  bool created = false;
  const std::string name = fx.c().FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created);
  TORVIndexDef& temp = fx.Def(name);
  const int32_t stored_state = fx.Def("ByK").TableState;

  // Changes through the table keep it current.
  fx.Insert(60, 1);
  EXPECT_EQ(temp.TableState, fx.Table().FRecordManager->FTableState);
  bool changed = true;
  fx.Indexes().SynchronizeTemporaryIndexes(fx.cursor.get(), changed);
  EXPECT_FALSE(changed);

  // A record the indexes never saw makes it stale. A rebuild reads the table, and a read may
  // ask for a synchronisation again: that one must do nothing.
  fx.StoreUnindexed(70);
  int reads = 0, nested_changes = 0;
  fx.Table().Records().on_read = [&] {
    ++reads;
    bool nested = false;
    fx.Indexes().SynchronizeTemporaryIndexes(fx.cursor.get(), nested);
    nested_changes += nested;
  };
  fx.Indexes().SynchronizeTemporaryIndexes(fx.cursor.get(), changed);
  EXPECT_TRUE(changed);
  EXPECT_GT(reads, 50);
  EXPECT_EQ(nested_changes, 0);
  EXPECT_EQ(temp.TableState, fx.Table().FRecordManager->FTableState);
  EXPECT_EQ(fx.Def("ByK").TableState, stored_state + 1) << "stored indexes are never rebuilt";
  reads = 0;
  fx.Indexes().SynchronizeTemporaryIndexes(fx.cursor.get(), changed);
  EXPECT_FALSE(changed);
  EXPECT_EQ(reads, 0);
  fx.Table().Records().on_read = nullptr;
  fx.Table().Pages().ApplyChanges(fx.session.FSessionID);

  fx.c().SetIndexName(name);
  EXPECT_EQ(fx.c().Column("S").size(), 52u) << "the rebuilt index holds the unindexed record";
}

TEST(TORVBaseIndexManager, RollbackRebuildsTheStaleTemporaryIndexesOfEveryOpenTable) {
  IndexFixture fx;
  fx.Insert(1, 1);
  TORVFieldDefs f;
  AddField(f, "X", aftInteger);
  TestCursor creator(fx.session, "U");
  creator.CreateTable(f, TORVIndexDefs(), TORVConstraintDefs());
  auto u = fx.Open(fx.session, "U");
  ASSERT_EQ(u->InsertRow({{"X", 1}}), 0);
  bool created = false;
  const std::string t_index = fx.c().FindOrCreateIndex({"S"}, {"ASC"}, {"CASE"}, created);
  const std::string u_index = u->FindOrCreateIndex({"X"}, {"DESC"}, {"CASE"}, created);
  fx.StoreUnindexed(2);
  auto& u_table = static_cast<testing::VectorTableData&>(*u->TableData());
  ++u_table.FRecordManager->FTableState;

  fx.session.Rollback();
  EXPECT_EQ(fx.Def(t_index).TableState, fx.Table().FRecordManager->FTableState);
  EXPECT_EQ(u_table.FIndexManager->FIndexDefs.GetIndexDefByName(u_index)->TableState,
            u_table.FRecordManager->FTableState);
}

TEST(TORVBaseIndexManager, AnUnchangedKeyLeavesTheTreeAloneButCountsTheChange) {
  IndexFixture fx;
  for (int i = 0; i < 10; ++i) fx.Insert(i, i);
  fx.c().InternalFirst();
  ASSERT_EQ(fx.c().GetRecordBuffer(grmNext), grrOK);
  fx.c().BeginEdit();
  fx.c().SetText("V", "changed");
  const size_t writes = fx.Table().Pages().writes.size();
  const int32_t state = fx.Def("ByK").TableState;
  fx.c().InternalPost(false);
  ASSERT_EQ(fx.c().FErrorCode, 0);
  EXPECT_EQ(fx.Table().Pages().writes.size(), writes) << "no index page was touched";
  EXPECT_EQ(fx.Def("ByK").TableState, state + 1);
}

TEST(TORVBaseIndexManager, IndexNavigationContinuesFromAVanishedRecord) {
  IndexFixture fx;
  for (int k : {30, 10, 20}) fx.Insert(k, k);
  TestCursor& c = fx.c();
  c.SetIndexName("ByK");
  c.InternalFirst();
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  ASSERT_EQ(c.GetInt("K"), 20);
  // Another process deletes it; its entry is still in this index.
  TORVPageItemID gone = c.CurrentRecordID;
  ASSERT_TRUE(fx.Table().Records().DeleteRecord(fx.session.FSessionID, gone));
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetInt("K"), 30);
}

TEST(TORVBaseIndexManager, OpeningAndEmptying) {
  IndexFixture fx;
  for (int i = 0; i < 300; ++i) fx.Insert(i, i);
  ExpectCode(20018, [&] { fx.Indexes().OpenIndex(12345); }, "Index not found - Native error: 20018");
  TORVIndex* open = fx.Indexes().OpenIndex(fx.Def("ByK").ObjectID);
  EXPECT_EQ(fx.Indexes().OpenIndex(fx.Def("ByK").ObjectID), open) << "kept open between calls";
  EXPECT_EQ(fx.Indexes().GetPageManager(*open), &fx.Table().Pages());
  fx.Indexes().EmptyAllIndexes(fx.session.FSessionID);
  fx.Table().Pages().ApplyChanges(fx.session.FSessionID);
  TORVKeyPath path;
  auto* index = static_cast<TORVBTreeRecordIndex*>(fx.Indexes().OpenIndex(fx.Def("ByK").ObjectID));
  EXPECT_FALSE(index->GetFirstPosition(fx.session.FSessionID, path));
  EXPECT_EQ(fx.Table().Pages().GetPageCount(), 1) << "an empty index keeps its root";
}

}  // namespace
}  // namespace orv
