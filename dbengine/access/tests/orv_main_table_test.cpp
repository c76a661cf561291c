// The table component over MEMORY tables: the current index by name or by columns, key search,
// ranges, master/detail, BLOB defaults, Exists, and the maintenance of the stored table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/tests/table_test_support.h"
#include "platform/data/blob_field.h"
#include "platform/data/data_source.h"

namespace orv::testing {
namespace {

using namespace platform::data;

class TableTest : public EngineTest {
 protected:
  // ID, NAME, CITY; indexes PK (ID) and BYNAME (NAME, ID).
  std::unique_ptr<TORVTable> Customers() {
    auto t = MakeTable("MEMORY", "CUST", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"CITY", ftString, 20}},
                       {{"PK", "ID", {ixPrimary, ixUnique}}, {"BYNAME", "NAME;ID", {}}});
    t->Open();
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Mayer", "Ulm"}, {"Adams", "Bonn"}, {"Mayer", "Bonn"}, {"Zorn", "Ulm"}, {"Berg", "Kiel"}};
    int id = 1;
    for (const auto& [name, city] : rows) t->AppendRecord({id++, name, city});
    t->First();
    return t;
  }
  static std::vector<int> Ids(TORVTable& t) {
    std::vector<int> ids;
    for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.FieldByName("ID")->AsInteger());
    return ids;
  }
};

TEST_F(TableTest, IndexFieldNamesChoosesAnIndexWhoseLeadingColumnsMatch) {
  auto t = Customers();
  t->SetIndexFieldNames("NAME");
  EXPECT_EQ(t->IndexName(), "");
  EXPECT_EQ(t->IndexFieldNames(), "NAME");
  EXPECT_EQ(t->IndexFieldCount(), 2);
  EXPECT_EQ(t->GetIndexField(0)->FieldName(), "NAME");
  EXPECT_EQ(Ids(*t), (std::vector<int>{2, 5, 1, 3, 4}));
  t->SetIndexName("PK");
  EXPECT_EQ(t->IndexFieldNames(), "");
  EXPECT_EQ(Ids(*t), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(DatabaseErrorOf([&] { t->GetIndexField(1); }), "CUSTTable: Field index out of range");
  ASSERT_EQ(t->IndexDefs().Count(), 2);
  EXPECT_EQ(t->IndexDefs().Find("BYNAME")->Fields(), "NAME;ID");
}

TEST_F(TableTest, FindKeyMatchesTheLeadingColumnsItIsGiven) {
  auto t = Customers();
  t->SetIndexName("BYNAME");
  ASSERT_TRUE(t->FindKey({"Mayer"}));
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 1);
  ASSERT_TRUE(t->FindKey({"Mayer", 3}));
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);
  t->First();
  EXPECT_FALSE(t->FindKey({"Nobody"}));
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 2);  // stays where it was
  t->FindNearest({"N"});
  EXPECT_EQ(t->FieldByName("NAME")->AsString(), "Zorn");
  t->FindNearest({"Zz"});
  EXPECT_EQ(t->FieldByName("NAME")->AsString(), "Zorn");  // past the end: the last record

  t->SetKey();
  t->FieldByName("NAME")->SetAsString("Berg");
  EXPECT_EQ(CodeOf([&] { t->FieldByName("CITY")->SetAsString("x"); }), 20019);
  t->SetKeyFieldCount(1);
  EXPECT_EQ(t->KeyFieldCount(), 1);
  t->Post();
  EXPECT_EQ(DatabaseErrorOf([&] { t->KeyFieldCount(); }), "CUSTTable: Dataset not in edit or insert mode");
  ASSERT_TRUE(t->GotoKey());
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 5);

  t->SetIndexName("");
  EXPECT_EQ(DatabaseErrorOf([&] { t->FindKey({1}); }), "CUSTTable: No index currently active");
}

TEST_F(TableTest, ARangeIsAppliedOnceAndCancelled) {
  auto t = Customers();
  t->SetIndexName("BYNAME");
  t->SetRange({"B"}, {"N"});
  EXPECT_EQ(Ids(*t), (std::vector<int>{5, 1, 3}));
  EXPECT_EQ(t->RecordCount(), 3);
  t->First();
  t->Next();
  t->SetRange({"B"}, {"N"});  // the same bounds: nothing moves
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 1);
  t->CancelRange();
  EXPECT_EQ(t->RecordCount(), 5);
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 1);
}

TEST_F(TableTest, ADetailFollowsItsMaster) {
  auto orders = MakeTable("MEMORY", "ORD", {{"NO", ftInteger}, {"CUST", ftInteger}, {"NOTE", ftMemo}},
                          {{"BYCUST", "CUST;NO", {}}});
  orders->Open();
  for (auto [no, cust] : std::vector<std::pair<int, int>>{{10, 1}, {11, 1}, {12, 3}}) orders->AppendRecord({no, cust});
  orders->Close();
  auto customers = Customers();
  TDataSource source;
  source.SetDataSet(customers.get());
  orders->SetIndexName("BYCUST");
  orders->SetMasterSource(&source);
  orders->SetMasterFields("ID");
  orders->Open();
  EXPECT_EQ(orders->RecordCount(), 2);
  customers->Next();  // customer 2 has no orders
  EXPECT_TRUE(orders->IsEmpty());
  EXPECT_EQ(orders->RecordCount(), 0);
  orders->Append();
  EXPECT_EQ(orders->FieldByName("CUST")->AsInteger(), 2);
  orders->FieldByName("NO")->SetAsInteger(20);
  orders->Post();
  EXPECT_EQ(orders->RecordCount(), 1);
  customers->Next();
  EXPECT_EQ(orders->RecordCount(), 1);
  EXPECT_EQ(orders->FieldByName("NO")->AsInteger(), 12);
  EXPECT_EQ(DatabaseErrorOf([&] {
              TDataSource own;
              own.SetDataSet(orders.get());
              orders->SetMasterSource(&own);
            }),
            "ORDTable: Circular datalinks are not allowed");
  source.SetDataSet(nullptr);  // the link goes: the range goes
  EXPECT_EQ(orders->RecordCount(), 4);
}

TEST_F(TableTest, NewRecordsGetTheDefaultTextOfBlobColumns) {
  TORVTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName("NOTES");
  t.AdvFieldDefs().Add("ID", aftInteger, 0, false);
  TORVAdvFieldDef* memo = t.AdvFieldDefs().Add("TEXT", aftMemo, 0, false);
  memo->DefaultValue->SetDataAsAnsiString("(none)");
  t.CreateTable();
  t.Open();
  t.Append();
  EXPECT_EQ(t.FieldByName("TEXT")->AsString(), "(none)");
  t.FieldByName("ID")->SetAsInteger(1);
  t.Post();
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("TEXT")->AsString(), "(none)");
  t.Close();

  // Field objects in another order than the table's columns: the default still finds its
  // column by name.
  TORVTable reordered;
  reordered.SetDatabaseName("MEMORY");
  reordered.SetTableName("NOTES");
  reordered.AddField(TFieldDef(nullptr, "TEXT", ftMemo, 0, false).CreateFieldObject());
  reordered.AddField(TFieldDef(nullptr, "ID", ftInteger, 0, false).CreateFieldObject());
  reordered.Open();
  reordered.Append();
  EXPECT_EQ(reordered.FieldByName("TEXT")->AsString(), "(none)");
  EXPECT_TRUE(reordered.FieldByName("ID")->IsNull());
  reordered.Cancel();
}

TEST_F(TableTest, ExistsNeverRaises) {
  Customers().reset();
  TORVTable t;
  t.SetTableName("CUST");
  EXPECT_FALSE(t.Exists());  // no database name
  t.SetDatabaseName("MEMORY");
  EXPECT_TRUE(t.Exists());
  t.SetTableName("NOPE");
  EXPECT_FALSE(t.Exists());
  auto db = NewDatabase("Broken", dir.Path() + "/missing.orv");
  db->SetSilentMode(true);
  t.SetDatabaseName("Broken");
  EXPECT_FALSE(t.Exists());  // the file cannot be opened
}

TEST_F(TableTest, LastAutoincValueIsTheSessionsLast) {
  auto t = MakeTable("MEMORY", "AUTO", {{"ID", ftAutoInc}, {"NAME", ftString, 10}});
  t->Open();
  for (const char* n : {"a", "b", "c"}) t->AppendRecord({Variant(), n});
  EXPECT_EQ(t->LastAutoincValue("ID"), 3);
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 3);
}

TEST_F(TableTest, TheSqlLayersIndexAndDistinctEntryPoints) {
  auto t = Customers();
  EXPECT_FALSE(t->IndexExists({"CITY"}, {"ASC"}, {"CASE"}));
  bool created = false;
  const std::string name = t->FindOrCreateIndex({"CITY"}, {"ASC"}, {"CASE"}, created);
  EXPECT_TRUE(created);
  EXPECT_FALSE(name.empty());
  EXPECT_TRUE(t->IndexExists({"CITY"}, {"ASC"}, {"CASE"}));
  t->ApplyDistinct({"CITY"}, {"ASC"}, {"CASE"});
  std::vector<std::string> cities;
  for (t->First(); !t->Eof(); t->Next()) cities.push_back(t->FieldByName("CITY")->AsString());
  EXPECT_EQ(cities, (std::vector<std::string>{"Bonn", "Kiel", "Ulm"}));
  t->Close();
  EXPECT_EQ(CodeOf([&] { t->IndexExists({"CITY"}, {"ASC"}, {"CASE"}); }), 10514);
  EXPECT_EQ(CodeOf([&] { t->ApplyDistinct({"CITY"}, {"ASC"}, {"CASE"}); }), 10319);
  t->ValidateAndRepairMostUpdatedAndRecordPageIndex();
  t->Open();
  EXPECT_EQ(t->RecordCount(), 5);
}

// ---- maintenance

struct CreateCase {
  const char* what;
  TORVAdvancedFieldType type;
  int32_t size;
  TCompressionAlgorithm algorithm;
  uint8_t mode;
  int32_t code;  // 0: created
};

TEST_F(TableTest, CreateTableChecksItsColumns) {
  const CreateCase cases[] = {
      {"guid without size", aftGuid, 0, caNone, 0, 0},
      {"string of size 0", aftString, 0, caNone, 0, 30453},
      {"bytes of size 0", aftBytes, 0, caNone, 0, 30453},
      {"zlib blob, mode 0", aftBlob, 0, caZLIB, 0, 20257},
      {"zlib blob, mode 10", aftBlob, 0, caZLIB, 10, 20257},
      {"zlib blob, mode 9", aftBlob, 0, caZLIB, 9, 0},
      {"uncompressed blob, mode 0", aftBlob, 0, caNone, 0, 0},
  };
  for (const CreateCase& c : cases) {
    SCOPED_TRACE(c.what);
    TORVTable t;
    t.SetDatabaseName("MEMORY");
    t.SetTableName("CHECKED");
    t.AdvFieldDefs().Add("ID", aftInteger, 0, false);
    t.AdvFieldDefs().Add("COL", c.type, c.size, false, c.algorithm, c.mode);
    EXPECT_EQ(CodeOf([&] { t.CreateTable(); }), c.code);
    if (c.code == 0 && c.type == aftGuid) EXPECT_EQ(t.FieldDefs().Find("COL")->Size(), 38);
  }
  TORVTable nameless;
  nameless.SetDatabaseName("MEMORY");
  nameless.SetTableName("X");
  nameless.AdvFieldDefs().Add("", aftInteger, 0, false);
  EXPECT_EQ(CodeOf([&] { nameless.CreateTable(); }), 30499);

  // platform definitions only: a GUID column gets its size, a string column needs one
  TORVTable plain;
  plain.SetDatabaseName("MEMORY");
  plain.SetTableName("PLAIN");
  plain.FieldDefs().Add("G", ftGuid, 0);
  plain.CreateTable();
  EXPECT_EQ(plain.FieldDefs().Find("G")->Size(), 38);
  plain.FieldDefs().Add("S", ftString, 0);
  plain.AdvFieldDefs().Clear();
  EXPECT_EQ(CodeOf([&] { plain.CreateTable(); }), 30453);
}

TEST_F(TableTest, AnIndexOnAnIntegerColumnIndexesItWhole) {
  TORVTable t;
  t.SetDatabaseName("MEMORY");
  t.SetTableName("SIZES");
  t.AdvFieldDefs().Add("ID", aftInteger, 0, false);
  t.AdvFieldDefs().Add("NAME", aftString, 40, false);
  t.AdvIndexDefs().Add("BOTH", "ID;NAME", {}, false, {}, {}, "5;8");
  t.CreateTable();
  EXPECT_EQ(t.AdvIndexDefs().Find("BOTH")->MaxIndexedSizes, "20;8");
  t.Open();
  t.IndexDefs().Update();
  EXPECT_EQ(t.AdvIndexDefs().Find("BOTH")->MaxIndexedSizes, "20;8");
}

TEST_F(TableTest, CreateReplacesEmptyDeleteAndRenameWorkOnTheStoredTable) {
  auto t = Customers();
  EXPECT_EQ(DatabaseErrorOf([&] { t->EmptyTable(); }), "CUSTTable: Cannot perform this operation on an open dataset");
  t->Close();
  t->EmptyTable();
  t->Open();
  EXPECT_EQ(t->RecordCount(), 0);
  t->AppendRecord({1, "x", "y"});
  t->Close();

  auto replaced = MakeTable("MEMORY", "CUST", {{"ONLY", ftInteger}});
  replaced->Open();
  EXPECT_EQ(replaced->FieldCount(), 1);
  EXPECT_EQ(replaced->RecordCount(), 0);
  replaced->Close();

  replaced->RenameTable("CLIENTS");
  EXPECT_EQ(replaced->TableName(), "CLIENTS");
  EXPECT_TRUE(replaced->Exists());
  replaced->SetTableName("CUST");
  EXPECT_FALSE(replaced->Exists());
  replaced->SetTableName("CLIENTS");
  replaced->Open();
  replaced->DeleteTable();  // closes first
  EXPECT_FALSE(replaced->Active());
  EXPECT_FALSE(replaced->Exists());
}

TEST_F(TableTest, IndexesAndColumnsAreMaintained) {
  auto t = Customers();
  EXPECT_EQ(CodeOf([&] { t->AddIndex("", "CITY", {}); }), 20046);
  EXPECT_EQ(CodeOf([&] { t->AddIndex("BYCITY", "", {}); }), 20047);
  t->AddIndex("BYCITY", "CITY", {}, "CITY");
  t->SetIndexName("BYCITY");
  EXPECT_EQ(t->FieldByName("CITY")->AsString(), "Ulm");  // descending
  t->Close();
  t->DeleteIndex("BYCITY");
  t->IndexDefs().Update();
  EXPECT_EQ(t->IndexDefs().IndexOf("BYCITY"), -1);
  t->SetIndexName("");
  t->DeleteAllIndexes();
  t->IndexDefs().Update();
  EXPECT_EQ(t->IndexDefs().Count(), 0);
  t->RenameField("CITY", "TOWN");
  t->Open();
  EXPECT_NE(t->FindField("TOWN"), nullptr);
  EXPECT_EQ(t->FindField("CITY"), nullptr);
  EXPECT_FALSE(t->Exclusive());
}

TEST_F(TableTest, TableOperationsRefuseToRunInATransaction) {
  auto t = Customers();
  t->Close();
  TORVDatabase* memory = ORVDefaultSession()->OpenDatabase("MEMORY");
  memory->StartTransaction();
  EXPECT_EQ(CodeOf([&] { t->AddIndex("", "CITY", {}); }), 20046);  // checked before the transaction
  EXPECT_EQ(CodeOf([&] { t->AddIndex("BYCITY", "CITY", {}); }), 20175);
  EXPECT_EQ(CodeOf([&] { t->CreateTable(); }), 20182);
  EXPECT_EQ(CodeOf([&] { t->DeleteTable(); }), 20183);
  EXPECT_EQ(CodeOf([&] { t->RenameTable("Y"); }), 20181);
  EXPECT_EQ(CodeOf([&] { t->DeleteIndex("BYNAME"); }), 20177);
  EXPECT_EQ(CodeOf([&] { t->DeleteAllIndexes(); }), 20178);
  EXPECT_EQ(CodeOf([&] { t->RenameField("CITY", "TOWN"); }), 20179);
  memory->Rollback();
  ORVDefaultSession()->CloseDatabase(memory);
}

}  // namespace
}  // namespace orv::testing
