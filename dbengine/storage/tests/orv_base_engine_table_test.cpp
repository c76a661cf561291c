#include "dbengine/storage/orv_base_engine_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/support/expression_double.h"
#include "dbengine/storage/tests/support/index_checks.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::CallLog;
using testing::TableFixture;
using testing::TestCursor;

// ID autoincrement, K with a unique index, S with a plain index.
struct KeyedFixture : TableFixture {
  KeyedFixture() {
    TORVFieldDefs f;
    AddField(f, "ID", aftAutoIncInteger);
    AddField(f, "K", aftInteger);
    AddField(f, "S", aftInteger);
    TORVIndexDefs i;
    AddIndexDef(i, "ByK", {"K"}, true);
    AddIndexDef(i, "ByS", {"S"});
    TORVConstraintDefs c;
    AddConstraintForIndex(*i.GetIndexDef(0), c);
    Create(f, i, c);
  }
  TestCursor& c() { return *cursor; }
  // Positions the cursor on the record with K = k (physical order).
  void GoTo(int64_t k) {
    c().InternalFirst();
    while (c().GetRecordBuffer(grmNext) == grrOK)
      if (c().GetInt("K") == k) return;
    FAIL() << "no record with K = " << k;
  }
  void Insert(int64_t k, int64_t s) { ASSERT_EQ(c().InsertRow({{"K", k}, {"S", s}}), 0) << c().FErrorMessage; }
  int32_t Session() const { return session.FSessionID; }
};

// ---- The order of a record change ------------------------------------------------------------------

TEST(RecordOperations, ManagersAreCalledInTheirOrder) {
  KeyedFixture fx;
  fx.Table().steps.BeforeStore = [&](TORVCursor&) { fx.log.push_back("kind.BeforeStore"); };
  fx.Table().steps.AfterStore = [&](TORVCursor&) { fx.log.push_back("kind.AfterStore"); };
  fx.Insert(2, 20);
  fx.Insert(1, 10);
  fx.log.clear();
  fx.Insert(3, 30);
  EXPECT_EQ(fx.log, (CallLog{"fields.ApplyAutoincsToRecordBuffer", "constraints.CheckConstraints", "kind.BeforeStore",
                             "records.AddRecord", "indexes.InsertRecord", "kind.AfterStore", "table.ApplyChanges"}));

  fx.GoTo(1);
  fx.c().BeginEdit();
  fx.c().Set("K", 7);
  fx.log.clear();
  fx.c().InternalPost(false);
  ASSERT_EQ(fx.c().FErrorCode, 0) << fx.c().FErrorMessage;
  EXPECT_EQ(fx.log, (CallLog{"constraints.CheckConstraints", "indexes.UpdateRecord(before)", "kind.BeforeStore",
                             "records.UpdateRecord", "indexes.UpdateRecord(after)", "kind.AfterStore",
                             "table.ApplyChanges"}));

  fx.GoTo(7);
  fx.log.clear();
  fx.c().InternalDelete();
  ASSERT_EQ(fx.c().FErrorCode, 0);
  EXPECT_EQ(fx.log, (CallLog{"table.ClearBLOBFieldsInRecordBuffer", "kind.BeforeStore", "indexes.DeleteRecord",
                             "records.DeleteRecord", "kind.AfterStore", "table.ApplyChanges"}));
  testing::ExpectIndexesMatchRecords(fx.Table(), fx.Session());
}

TEST(RecordOperations, AfterADeleteTheCursorStandsOnTheNeighbour) {
  KeyedFixture fx;
  for (int k = 1; k <= 3; ++k) fx.Insert(k, k);
  fx.GoTo(2);
  fx.c().InternalDelete();
  EXPECT_EQ(fx.c().CurrentRecordID.PageNo, 2) << "the next record";
  fx.GoTo(3);
  fx.c().InternalDelete();
  EXPECT_EQ(fx.c().CurrentRecordID.PageNo, 0) << "the last one goes: the prior record";
  fx.GoTo(1);
  fx.c().InternalDelete();
  EXPECT_TRUE(fx.c().FirstPosition) << "none left: before the first";
  EXPECT_EQ(fx.c().GetRecordCount(), 0);
}

TEST(RecordOperations, ARefusedUpdateLeavesTheIndexesOnTheStoredValues) {
  KeyedFixture fx;
  for (int k = 1; k <= 40; ++k) fx.Insert(k, 100 - k);
  fx.Table().Records().refuse_update = true;
  for (int k : {1, 17, 40}) {
    fx.GoTo(k);
    fx.c().BeginEdit();
    fx.c().Set("K", 1000 + k);
    fx.c().Set("S", k);
    fx.log.clear();
    fx.c().InternalPost(false);
    EXPECT_EQ(fx.c().FErrorCode, -2);
    EXPECT_EQ(fx.log, (CallLog{"constraints.CheckConstraints", "indexes.UpdateRecord(before)", "records.UpdateRecord",
                               "indexes.RestoreUpdatedRecord"}));
  }
  testing::ExpectIndexesMatchRecords(fx.Table(), fx.Session());
  // The old key is still taken, the refused one still free.
  EXPECT_EQ(fx.c().InsertRow({{"K", 17}}), -8);
  fx.Table().Records().refuse_update = false;
  EXPECT_EQ(fx.c().InsertRow({{"K", 1017}}), 0);
}

TEST(RecordOperations, ARefusedDeleteKeepsTheRecordIndexed) {
  KeyedFixture fx;
  for (int k = 1; k <= 5; ++k) fx.Insert(k, k);
  fx.Table().Records().refuse_delete = true;
  fx.GoTo(3);
  fx.c().InternalDelete();
  EXPECT_EQ(fx.c().FErrorCode, -3);
  testing::ExpectIndexesMatchRecords(fx.Table(), fx.Session());
  EXPECT_EQ(fx.c().GetRecordCount(), 5);
}

TEST(RecordOperations, PostResultCodes) {
  KeyedFixture fx;
  fx.Insert(1, 1);
  fx.Table().Records().refuse_add = true;
  EXPECT_EQ(fx.c().InsertRow({{"K", 2}}), -1);
  fx.Table().Records().refuse_add = false;
  // Edited from a stale copy: the stored record changed meanwhile.
  fx.GoTo(1);
  fx.c().BeginEdit();
  fx.c().Set("S", 5);
  fx.c().InternalPost(false);
  ASSERT_EQ(fx.c().FErrorCode, 0);
  fx.c().Set("S", 6);
  fx.c().InternalPost(false);
  EXPECT_EQ(fx.c().FErrorCode, -4) << "the edit started from S = 1, the record now holds 5";
  EXPECT_EQ(fx.c().GetInt("S"), 6) << "the buffer keeps the new values";
}

// ---- Fetching ----------------------------------------------------------------------------------------

TEST(TORVTableData, NavigationInPhysicalAndIndexOrder) {
  KeyedFixture fx;
  TestCursor& c = fx.c();
  for (auto mode : {grmNext, grmPrior, grmCurrent}) EXPECT_EQ(c.GetRecordBuffer(mode), grrEOF);
  EXPECT_TRUE(c.FirstPosition) << "an empty table leaves the cursor alone";
  for (int k : {3, 1, 2}) fx.Insert(k, 10 * k);
  EXPECT_EQ(c.Column("K"), (std::vector<std::optional<int64_t>>{3, 1, 2}));
  c.SetIndexName("ByK");
  EXPECT_EQ(c.Column("K"), (std::vector<std::optional<int64_t>>{1, 2, 3}));
  c.InternalLast();
  std::vector<int64_t> back;
  while (c.GetRecordBuffer(grmPrior) == grrOK) back.push_back(*c.GetInt("K"));
  EXPECT_EQ(back, (std::vector<int64_t>{3, 2, 1}));
  EXPECT_TRUE(c.FirstPosition);
}

TEST(TORVTableData, RecordNumbersWithoutARestrictedView) {
  KeyedFixture fx;
  TestCursor& c = fx.c();
  c.SetRecNo(3);
  EXPECT_TRUE(c.FirstPosition) << "an empty view: nothing happens";
  EXPECT_EQ(c.GetRecNo(), -1);
  for (int k : {30, 10, 20}) fx.Insert(k, k);
  for (const char* index : {"", "ByK"}) {
    SCOPED_TRACE(index);
    c.SetIndexName(index);
    c.InternalFirst();
    EXPECT_EQ(c.GetRecNo(), -1) << "before the first";
    c.SetRecNo(2);
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    EXPECT_EQ(c.GetInt("K"), *index ? 20 : 10);
    EXPECT_EQ(c.GetRecNo(), 2);
    c.SetRecNo(99);
    EXPECT_EQ(c.GetRecNo(), 3) << "beyond the count: the last";
  }
}

// A filter S > 15 on K = 1..6, S = 10 K, with the cursor's bitmap filled by hand as the
// record search will fill it.
struct FilteredFixture : KeyedFixture {
  FilteredFixture() {
    for (int k = 1; k <= 6; ++k) Insert(k, 10 * k);
    c().ActivateFilters("S > 15 AND S <> 40", false, false);
  }
  void FillBitmap(bool by_index) {
    TORVRecordBitmap& bitmap = *c().FRecordBitmap;
    Table().InitRecordBitmap(bitmap, c().FIndexID);
    VectorRecordManager& records = Table().Records();
    for (int64_t slot = 0; slot < records.SlotCount(); ++slot) {
      c().CurrentRecordID = {static_cast<int32_t>(slot), 0};
      c().FirstPosition = c().LastPosition = false;
      if (c().GetRecordBuffer(grmCurrent) != grrOK) continue;
      if (!by_index) {
        bitmap.ShowRecord(c().CurrentRecordID);
        continue;
      }
      TORVKeyPath pos;
      ASSERT_TRUE(Table().GetIndexPositionByRecordID(Session(), c().FIndexID, c().CurrentRecordID, pos));
      bitmap.ShowRecord(c().FIndexID, pos);
    }
    bitmap.FActive = true;
  }
  using VectorRecordManager = testing::VectorRecordManager;
};

TEST(TORVTableData, ARecordTheFilterRejectsIsAnErrorAndTheCursorStays) {
  testing::ScopedExpressionFactory expressions;
  FilteredFixture fx;
  TestCursor& c = fx.c();
  c.CurrentRecordID = {1, 0};  // S = 20: visible
  c.FirstPosition = false;
  EXPECT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  c.CurrentRecordID = {0, 0};  // S = 10: filtered out
  EXPECT_EQ(c.GetRecordBuffer(grmCurrent), grrError);
  EXPECT_EQ(c.CurrentRecordID, (TORVPageItemID{0, 0}));
  EXPECT_FALSE(c.FirstPosition);
}

TEST(TORVTableData, CountsAndRecordNumbersOfARestrictedViewUseTheBitmap) {
  testing::ScopedExpressionFactory expressions;
  for (const char* index : {"", "ByS"}) {
    SCOPED_TRACE(index);
    FilteredFixture fx;
    TestCursor& c = fx.c();
    c.SetIndexName(index);
    fx.FillBitmap(*index != 0);
    EXPECT_EQ(c.GetRecordCount(), 4) << "S = 20, 30, 50, 60";
    c.SetRecNo(3);
    ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
    EXPECT_EQ(c.GetInt("S"), 50);
    EXPECT_EQ(c.GetRecNo(), 3);
    c.SetRecNo(40);
    EXPECT_EQ(c.GetRecNo(), 4);
  }
}

TEST(TORVTableData, AnActiveBitmapFollowsInsertsAndDeletes) {
  testing::ScopedExpressionFactory expressions;
  FilteredFixture fx;
  TestCursor& c = fx.c();
  TORVRecordBitmap& bitmap = *c.FRecordBitmap;
  fx.FillBitmap(false);
  ASSERT_EQ(c.GetRecordCount(), 4);
  fx.Insert(7, 5);   // the filter hides it
  fx.Insert(8, 70);  // the filter shows it
  EXPECT_FALSE(bitmap.IsRecordVisible(TORVPageItemID{6, 0}));
  EXPECT_TRUE(bitmap.IsRecordVisible(TORVPageItemID{7, 0}));
  EXPECT_EQ(bitmap.GetRecordCount(), 5);

  // A delete moves the table on with the bitmap: it stays current and is not rebuilt. (The
  // neighbour of a deleted record is found without the record search only in an open view.)
  c.DeactivateFilters();
  fx.FillBitmap(false);
  fx.GoTo(3);
  c.InternalDelete();
  ASSERT_EQ(c.FErrorCode, 0);
  EXPECT_FALSE(bitmap.GetOutdated());
  c.FilterRecord = [](const void*, void*) { return true; };
  EXPECT_EQ(c.GetRecordCount(), 7) << "counted from the bitmap, no search";
  EXPECT_FALSE(bitmap.IsRecordVisible(TORVPageItemID{2, 0}));
}

TEST(TORVTableData, FilteredNavigationLocateAndDistinctGoThroughTheRecordSearch) {
  testing::ScopedExpressionFactory expressions;
  FilteredFixture fx;
  TestCursor& c = fx.c();
  EXPECT_EQ(c.Column("S"), (std::vector<std::optional<int64_t>>{20, 30, 50, 60}));
  EXPECT_EQ(c.GetRecordCount(), 4);
  ExpectCode(10272, [&] { fx.Table().Locate(&c, nullptr); });
  c.InternalFirst();
  auto k3 = testing::FieldOpConstantFactory().ParseForFilter(c, "K = 3", false, false);
  ASSERT_TRUE(fx.Table().Locate(&c, k3.get()));
  EXPECT_EQ(c.GetInt("S"), 30);
  auto k1 = testing::FieldOpConstantFactory().ParseForFilter(c, "K = 1", false, false);
  EXPECT_FALSE(fx.Table().Locate(&c, k1.get())) << "K = 1 is filtered out";
  EXPECT_EQ(c.GetInt("S"), 30) << "a failed search leaves the cursor where it was";
  c.DeactivateFilters();
  fx.Insert(7, 30);
  c.ApplyDistinct({"S"}, {"ASC"}, {"CASE"});
  c.InternalFirst();
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetInt("S"), 30);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(c.GetInt("S"), 40) << "the second S = 30 is stepped over";
  EXPECT_EQ(c.FDistinctRecordBuffer, nullptr) << "the DISTINCT buffer is released on the way out";
  EXPECT_EQ(c.GetRecordCount(), 6);
}

// ---- Table-level operations -------------------------------------------------------------------------

TEST(TORVTableData, OpenCursorsBlockDeletingAndRenaming) {
  KeyedFixture fx;
  TestCursor other(fx.session, "T");
  ExpectCode(20017, [&] { other.DeleteTable(); }, "Cannot delete table 'T'. Table is open by another dataset - Native error: 20017");
  ExpectCode(10150, [&] { other.RenameTable("U"); });
  fx.Table().DeleteTable(fx.cursor.get(), true);  // design mode: no check
  fx.cursor.reset();
  other.RenameTable("U");
  EXPECT_TRUE(fx.db.TableExists("u"));
  other.FTableName = "U";
  other.DeleteTable();
  EXPECT_EQ(fx.db.TableDataCount(), 0);
}

TEST(TORVTableData, RenamingAFieldRenamesItsIndexColumns) {
  KeyedFixture fx;
  fx.Insert(1, 1);
  ExpectCode(30344, [&] { fx.Table().RenameField("K", "s"); });
  EXPECT_EQ(fx.c().FFieldDefs->GetDef(1)->Name, "K") << "nothing changed";
  ExpectCode(30343, [&] { fx.Table().RenameField("Nope", "X"); });
  // Index columns spelled in another case follow too.
  fx.Table().FIndexManager->FIndexDefs.GetIndexDef(0)->Columns(0).FieldName = "k";
  fx.c().RenameField("K", "Key");
  EXPECT_EQ(fx.c().GetIndexDefs()->GetIndexDef(0)->Columns(0).FieldName, "Key");
  EXPECT_EQ(fx.c().GetIndexDefs()->GetIndexDef(1)->Columns(0).FieldName, "S");
  ASSERT_EQ(fx.c().InsertRow({{"Key", 2}}), 0);
  EXPECT_EQ(fx.c().InsertRow({{"Key", 2}}), -8) << "the unique index still works under the new name";
  testing::ExpectIndexesMatchRecords(fx.Table(), fx.Session());
}

TEST(TORVTableData, AForeignKeyIsRefusedBeforeAnythingIsCopied) {
  KeyedFixture fx;
  TORVConstraintDefs defs;
  defs.AddNotNull()->ColumnName = "K";
  defs.AddUnique()->IndexName = "ByK";
  defs.GetDef(1)->ConstraintType = ctFK;
  const int32_t before = fx.Table().FConstraintManager->FConstraintDefs.GetCount();
  ExpectCode(30058, [&] { fx.Table().CreateConstraintManager(defs); });
  EXPECT_EQ(fx.Table().FConstraintManager->FConstraintDefs.GetCount(), before);
  EXPECT_EQ(defs.GetDef(0)->ObjectID, -1);
}

TEST(TORVTableData, AFailedIndexRequestCancelsItsPages) {
  KeyedFixture fx;
  for (int k = 1; k <= 20; ++k) fx.Insert(k, k);
  const int32_t pages = fx.Table().Pages().GetPageCount();
  bool created = false;
  ExpectCode(20043, [&] { fx.c().FindOrCreateIndex({"Nope"}, {"ASC"}, {"CASE"}, created); });
  EXPECT_EQ(fx.Table().Pages().GetPageCount(), pages);
  EXPECT_EQ(fx.c().GetIndexDefs()->GetCount(), 2);
}

}  // namespace
}  // namespace orv
