#include "dbengine/storage/orv_base_engine_constraints.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "dbengine/storage/tests/expect_code.h"
#include "dbengine/storage/tests/sqlite_oracle.h"
#include "dbengine/storage/tests/support/index_checks.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::TableFixture;
using testing::TestCursor;
using Row = std::vector<std::pair<std::string, std::optional<int64_t>>>;

// ---- Checks one by one -----------------------------------------------------------------------------

// N NOT NULL, C with CHECK 1..10, P1 and P2 a two-column primary key.
struct CheckFixture : TableFixture {
  CheckFixture() {
    TORVFieldDefs f;
    AddField(f, "N", aftInteger);
    AddField(f, "C", aftInteger);
    AddField(f, "P1", aftInteger);
    AddField(f, "P2", aftInteger);
    TORVIndexDefs i;
    AddIndexDef(i, "PK", {"P1", "P2"}, false, true);
    TORVConstraintDefs c;
    c.AddNotNull()->ColumnName = "N";
    auto* check = c.AddCheck();
    check->ColumnName = "C";
    check->MinValue->SetDataAsSignedInt32(1);
    check->MaxValue->SetDataAsSignedInt32(10);
    AddConstraintForIndex(*i.GetIndexDef(0), c);
    Create(f, i, c);
  }
  TORVBaseConstraintManager& Constraints() { return *Table().FConstraintManager; }
  // Checks a new record with these values (unset fields NULL).
  bool Check(const Row& values, bool raise) {
    cursor->BeginInsert();
    for (const auto& [name, value] : values) cursor->Set(name, value);
    return Constraints().CheckConstraints(session.FSessionID, cursor->FCurrentRecordBuffer, nullptr, true, {}, raise,
                                          true);
  }
};

TEST(TORVBaseConstraintManager, NotNullCheckAndKeyViolations) {
  CheckFixture fx;
  const std::string nn = fx.Constraints().FConstraintDefs.GetDef(0)->Name;
  EXPECT_EQ(nn, "$C_NotNull$T$N") << "an unnamed constraint is named after its table and column";
  struct Case {
    Row row;
    int32_t code;  // 0: passes
    const char* message;
  } cases[] = {
      {{{"C", 5}, {"P1", 1}}, 30026,
       "Constraint '$C_NotNull$T$N' violated. Value in field 'N' cannot be null - Native error: 30026"},
      {{{"N", 1}, {"C", 1}, {"P1", 1}}, 0, nullptr},
      {{{"N", 1}, {"C", 10}, {"P1", 1}}, 0, nullptr},
      {{{"N", 1}, {"P1", 1}}, 0, nullptr},
      {{{"N", 1}, {"C", 0}, {"P1", 1}}, 30029,
       "Constraint '$C_Check$T$C' violated. Value in field 'C' cannot be lower than '1' - Native error: 30029"},
      {{{"N", 1}, {"C", 11}, {"P1", 1}}, 30030,
       "Constraint '$C_Check$T$C' violated. Value in field 'C' cannot be greater than '10' - Native error: 30030"},
      {{{"N", 1}}, 30330, "Constraint 'C_PK$P1$P2' violated. Value in field 'P1,P2' cannot be null - Native error: 30330"},
      {{{"N", 1}, {"P2", 4}}, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message ? c.message : "passes");
    if (c.code == 0) {
      EXPECT_TRUE(fx.Check(c.row, true));
    } else {
      ExpectCode(c.code, [&] { fx.Check(c.row, true); }, c.message);
      EXPECT_FALSE(fx.Check(c.row, false)) << "without raising: False";
    }
  }
}

TEST(TORVBaseConstraintManager, DuplicateKeysAreFoundByTheIndex) {
  CheckFixture fx;
  EXPECT_TRUE(fx.Check({{"N", 1}, {"P1", 1}, {"P2", 1}}, true)) << "an empty table never holds a duplicate";
  ASSERT_EQ(fx.cursor->InsertRow({{"N", 1}, {"P1", 1}, {"P2", 1}}), 0);
  ExpectCode(30319, [&] { fx.Check({{"N", 2}, {"P1", 1}, {"P2", 1}}, true); },
             "Primary Key constraint 'C_PK$P1$P2' violated. Duplicate found. - Native error: 30319");
  EXPECT_TRUE(fx.Check({{"N", 2}, {"P1", 1}, {"P2", 2}}, true));
  // The key checks can be switched off (a batch update without the unique check).
  fx.cursor->BeginInsert();
  fx.cursor->Set("N", 1), fx.cursor->Set("P1", 1), fx.cursor->Set("P2", 1);
  EXPECT_TRUE(fx.Constraints().CheckConstraints(fx.session.FSessionID, fx.cursor->FCurrentRecordBuffer, nullptr, true,
                                                {}, true, false));
  // The cursor's own check reports instead of raising.
  EXPECT_FALSE(fx.cursor->CheckConstraints(true));
}

TEST(TORVBaseConstraintManager, AutomaticNamesStayUnique) {
  CheckFixture fx;
  TORVConstraintDefs defs;
  defs.AddNotNull()->ColumnName = "N";
  defs.AddNotNull()->ColumnName = "N";
  fx.Table().CreateConstraintManager(defs);
  const std::string first = fx.Constraints().FConstraintDefs.GetDef(0)->Name;
  const std::string second = fx.Constraints().FConstraintDefs.GetDef(1)->Name;
  EXPECT_EQ(first, "$C_NotNull$T$N");
  ASSERT_GT(second.size(), first.size());
  EXPECT_EQ(second.substr(0, first.size()), first);
  const int suffix = std::stoi(second.substr(first.size()));
  EXPECT_GE(suffix, 0);
  EXPECT_LE(suffix, 65534);
}

TEST(TORVBaseConstraintManager, Errors) {
  CheckFixture fx;
  TORVBaseConstraintManager& m = fx.Constraints();
  const struct {
    int32_t code;
    std::function<void(TORVConstraintDefs&)> add;
  } link_cases[] = {
      {30325, [](TORVConstraintDefs& d) { d.AddPK()->IndexName = "Nope"; }},
      {30326, [](TORVConstraintDefs& d) { d.AddUnique()->IndexName = "Nope"; }},
      {30331, [](TORVConstraintDefs& d) { auto* k = d.AddPK(); k->IndexName = "PK"; k->Columns.push_back({"X", -1}); }},
      {30332, [](TORVConstraintDefs& d) { auto* k = d.AddUnique(); k->IndexName = "PK"; k->Columns.push_back({"X", -1}); }},
      {30027, [](TORVConstraintDefs& d) { d.AddCheck()->ColumnName = "Nope"; }},
  };
  for (const auto& c : link_cases) {
    TORVConstraintDefs defs;
    c.add(defs);
    ExpectCode(c.code, [&] { m.LinkObjectId(*defs.GetDef(0)); });
  }
  // An unnamed key constraint is named when it is made from its index, never here.
  m.FConstraintDefs.AddUnique()->IndexName = "PK";
  ExpectCode(30038, [&] { m.FillConstraintAutoNames(); });
  m.FConstraintDefs.Delete(m.FConstraintDefs.GetCount() - 1);

  // A column id that no longer names a field, and a foreign key: raised even when asked not to.
  static_cast<TORVConstraintDefNotNull*>(m.FConstraintDefs.GetDef(0))->ColumnObjectID = 9999;
  ExpectCode(30024, [&] { fx.Check({}, false); }, "Field #9999 not found - Native error: 30024");
  m.FConstraintDefs.GetDef(0)->ConstraintType = ctFK;
  ExpectCode(30036, [&] { fx.Check({}, false); });
  ExpectCode(30037, [&] { m.LinkObjectId(*m.FConstraintDefs.GetDef(0)); });
}

TEST(TORVBaseConstraintManager, IndexesBringAndTakeTheirKeyConstraints) {
  TableFixture fx;
  TORVFieldDefs f;
  AddField(f, "ID", aftInteger);
  AddField(f, "Name", aftString, 10);
  TestCursor& c = fx.Create(f);
  TORVIndexDefs defs;
  TORVIndexDef* plain = AddIndexDef(defs, "Plain", {"Name"});
  TORVIndexDef* both = AddIndexDef(defs, "Both", {"ID", "Name"}, true, true);
  TORVIndexDef* unique = AddIndexDef(defs, "Uniq", {"Name"}, true);
  c.AddIndex(*plain);
  EXPECT_EQ(c.FConstraintDefs->GetCount(), 0) << "a plain index carries no constraint";
  c.AddIndex(*both);
  c.AddIndex(*unique);
  ASSERT_EQ(c.FConstraintDefs->GetCount(), 2);
  const auto* pk = static_cast<const TORVConstraintDefUnique*>(c.FConstraintDefs->GetDef(0));
  EXPECT_EQ(pk->ConstraintType, ctPK) << "primary wins over unique";
  EXPECT_EQ(pk->Name, "C_PK$ID$Name");
  EXPECT_EQ(pk->IndexObjectID, both->ObjectID);
  EXPECT_EQ(pk->Columns[1].ColumnObjectID, c.FFieldDefs->GetDef(1)->ObjectID);
  EXPECT_EQ(c.FConstraintDefs->GetDef(1)->Name, "C_Unique$Name");
  EXPECT_NE(c.FConstraintDefs->GetDef(1)->ObjectID, -1);

  c.DeleteIndex("Both");
  ASSERT_EQ(c.FConstraintDefs->GetCount(), 1);
  EXPECT_EQ(c.FConstraintDefs->GetDef(0)->Name, "C_Unique$Name");

  // A temporary table's cursor adds its indexes without constraints.
  c.FTemporary = true;
  TORVIndexDef* again = AddIndexDef(defs, "Again", {"ID"}, true);
  c.AddIndex(*again);
  EXPECT_EQ(c.FConstraintDefs->GetCount(), 1);

  TORVIndexDef long_names;
  long_names.Unique = true;
  long_names.AssignByNames({std::string(200, 'a'), std::string(200, 'b')}, {"ASC", "ASC"}, {"CASE", "CASE"});
  TORVConstraintDefs out;
  EXPECT_EQ(AddConstraintForIndex(long_names, out)->Name.size(), 255u);
}

// ---- Against SQLite --------------------------------------------------------------------------------

std::string Text(const std::optional<int64_t>& v) { return v ? std::to_string(*v) : "NULL"; }

std::ofstream Report(const std::string& name) {
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  return std::ofstream(std::string(QUIRVEL_TEST_OUTPUT) + "/" + name);
}

// ID the primary key, (A, B) unique, C NOT NULL with CHECK 0..5. Random inserts and updates,
// all without NULL in the key columns, go to both engines; each must accept or refuse alike
// and the tables must end equal.
TEST(ConstraintsAgainstSqlite, KeyNotNullAndCheckRefusalsAgree) {
  Sqlite sqlite;
  sqlite.Exec("CREATE TABLE T (ID INTEGER NOT NULL, A INTEGER, B INTEGER, C INTEGER NOT NULL CHECK (C BETWEEN 0 AND 5),"
              " PRIMARY KEY (ID), UNIQUE (A, B))");
  TableFixture fx;
  TORVFieldDefs f;
  for (const char* name : {"ID", "A", "B", "C"}) AddField(f, name, aftInteger);
  TORVIndexDefs i;
  AddIndexDef(i, "PKIdx", {"ID"}, false, true);
  AddIndexDef(i, "UAB", {"A", "B"}, true);
  TORVConstraintDefs c;
  c.AddNotNull()->ColumnName = "C";
  auto* check = c.AddCheck();
  check->ColumnName = "C";
  check->MinValue->SetDataAsSignedInt32(0);
  check->MaxValue->SetDataAsSignedInt32(5);
  AddConstraintForIndex(*i.GetIndexDef(0), c);
  AddConstraintForIndex(*i.GetIndexDef(1), c);
  TestCursor& ours = fx.Create(f, i, c);

  std::mt19937 rng(2024);
  const auto pick = [&](int lo, int hi) { return static_cast<int64_t>(lo + static_cast<int>(rng() % (hi - lo + 1))); };
  const auto maybe_null = [&](int64_t v) { return rng() % 12 == 0 ? std::nullopt : std::optional<int64_t>(v); };
  std::ofstream report = Report("constraints_vs_sqlite.txt");
  report << "op\tID\tA\tB\tC\tsqlite\tquirvel\n";
  int accepted = 0, refused = 0;
  for (int op = 0; op < 400; ++op) {
    const int64_t id = pick(0, 60);
    const std::vector<std::optional<int64_t>> v{id, pick(0, 6), pick(0, 6), maybe_null(pick(-1, 6))};
    const bool update = op > 20 && rng() % 3 == 0 && ours.GetRecordCount() > 0;
    bool theirs, mine;
    if (!update) {
      theirs = sqlite.Run("INSERT INTO T (ID, A, B, C) VALUES (?, ?, ?, ?)", v);
      mine = ours.InsertRow({{"ID", v[0]}, {"A", v[1]}, {"B", v[2]}, {"C", v[3]}}) == 0;
    } else {
      // The row to change: one that exists, found by its ID in physical order.
      const auto ids = ours.Column("ID");
      const int64_t target = *ids[rng() % ids.size()];
      std::vector<std::optional<int64_t>> params = v;
      params.push_back(target);
      theirs = sqlite.Run("UPDATE T SET ID = ?, A = ?, B = ?, C = ? WHERE ID = ?", params);
      ours.InternalFirst();
      while (ours.GetRecordBuffer(grmNext) == grrOK && ours.GetInt("ID") != target) {
      }
      ours.BeginEdit();
      ours.Set("ID", v[0]), ours.Set("A", v[1]), ours.Set("B", v[2]), ours.Set("C", v[3]);
      ours.InternalPost(false);
      mine = ours.FErrorCode == 0;
    }
    report << (update ? "update" : "insert") << '\t' << Text(v[0]) << '\t' << Text(v[1]) << '\t' << Text(v[2]) << '\t'
           << Text(v[3]) << '\t' << (theirs ? "accepted" : "refused") << '\t' << (mine ? "accepted" : "refused")
           << (mine ? "" : " (" + ours.FErrorMessage + ")") << '\n';
    ASSERT_EQ(mine, theirs) << "op " << op << ": " << ours.FErrorMessage;
    (mine ? accepted : refused)++;
  }
  EXPECT_GT(accepted, 30);
  EXPECT_GT(refused, 100);

  std::vector<std::vector<std::optional<int64_t>>> mine_rows;
  ours.SetIndexName("PKIdx");
  ours.InternalFirst();
  while (ours.GetRecordBuffer(grmNext) == grrOK)
    mine_rows.push_back({ours.GetInt("ID"), ours.GetInt("A"), ours.GetInt("B"), ours.GetInt("C")});
  EXPECT_EQ(mine_rows, sqlite.Rows("SELECT ID, A, B, C FROM T ORDER BY ID"));
  testing::ExpectIndexesMatchRecords(fx.Table(), fx.session.FSessionID);
  report << "\nrows accepted: " << accepted << ", refused: " << refused << ", final rows equal: "
         << (mine_rows == sqlite.Rows("SELECT ID, A, B, C FROM T ORDER BY ID") ? "yes" : "no") << '\n';
}

// Where NULL takes part the two differ on purpose: the engine's key comparison counts NULL
// as equal to NULL (one NULL key per unique index), and a primary key may not be wholly
// NULL; SQLite lets NULL keys repeat and, in a table with a row id, even a NULL primary key.
TEST(ConstraintsAgainstSqlite, IntendedNullDifferences) {
  Sqlite sqlite;
  sqlite.Exec("CREATE TABLE U (P1 INTEGER, P2 INTEGER, A INTEGER, B INTEGER, PRIMARY KEY (P1, P2), UNIQUE (A, B))");
  TableFixture fx;
  TORVFieldDefs f;
  for (const char* name : {"P1", "P2", "A", "B"}) AddField(f, name, aftInteger);
  TORVIndexDefs i;
  AddIndexDef(i, "PK", {"P1", "P2"}, false, true);
  AddIndexDef(i, "UAB", {"A", "B"}, true);
  TORVConstraintDefs c;
  AddConstraintForIndex(*i.GetIndexDef(0), c);
  AddConstraintForIndex(*i.GetIndexDef(1), c);
  TestCursor& ours = fx.Create(f, i, c);

  const std::optional<int64_t> null;
  struct Case {
    const char* what;
    std::vector<std::optional<int64_t>> row;  // P1, P2, A, B
    bool sqlite_accepts;
    int32_t our_code;  // 0: accepted, else the native code in the message
  } cases[] = {
      {"first row, A NULL", {1, 1, null, 7}, true, 0},
      {"second row with the same NULL A and B", {2, 2, null, 7}, true, 30320},
      {"a wholly NULL primary key", {null, null, 3, 3}, true, 30330},
      {"a primary key with P1 NULL", {null, 5, 4, 4}, true, 0},
      {"the same key with P1 NULL again", {null, 5, 5, 5}, true, 30319},
      {"no NULL: a duplicate primary key", {1, 1, 6, 6}, false, 30319},
  };
  std::ofstream report = Report("constraints_null_differences.txt");
  report << "case\tsqlite\tquirvel\n";
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(sqlite.Run("INSERT INTO U (P1, P2, A, B) VALUES (?, ?, ?, ?)", k.row), k.sqlite_accepts);
    const int32_t result = ours.InsertRow({{"P1", k.row[0]}, {"P2", k.row[1]}, {"A", k.row[2]}, {"B", k.row[3]}});
    if (k.our_code == 0) {
      EXPECT_EQ(result, 0) << ours.FErrorMessage;
    } else {
      EXPECT_EQ(result, -8);
      EXPECT_NE(ours.FErrorMessage.find(std::to_string(k.our_code)), std::string::npos) << ours.FErrorMessage;
    }
    report << k.what << '\t' << (k.sqlite_accepts ? "accepted" : "refused") << '\t'
           << (result == 0 ? "accepted" : ours.FErrorMessage) << '\n';
  }
}

}  // namespace
}  // namespace orv
