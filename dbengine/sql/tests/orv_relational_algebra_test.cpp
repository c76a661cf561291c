// Operator trees built by hand over MEMORY tables, their results compared with SQLite on the
// same rows.
#include "dbengine/sql/orv_relational_algebra.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/sql/orv_sql_lexer.h"
#include "dbengine/sql/tests/expr_sexpr.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {



using Row = std::vector<std::optional<std::string>>;  // nullopt: NULL; a number as its text

class AOTest : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    memory = Connect("MEMORY");
    temp = Connect("TEMP");
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(db);
    memory.reset();
    temp.reset();
    EngineTest::TearDown();
  }
  std::unique_ptr<TORVLocalSession> Connect(const std::string& Name) {
    return ConnectBuiltinDatabase(engine.DBDataList(), Name);
  }

  // A table of integer columns (a column name ending in $ holds text, one ending in # a BLOB,
  // always NULL here) with the same rows in the engine and in SQLite.
  void MakeTable(const std::string& Name, const std::vector<std::string>& Columns, const std::vector<Row>& Rows) {
    TORVFieldDefs fields;
    std::string ddl = "CREATE TABLE " + Name + " (";
    for (size_t i = 0; i < Columns.size(); ++i) {
      const bool text = Columns[i].back() == '$';
      const bool blob = Columns[i].back() == '#';
      const std::string col = text || blob ? Columns[i].substr(0, Columns[i].size() - 1) : Columns[i];
      TORVFieldDef* f = fields.AddCreated();
      f->Name = col;
      f->SetFieldDefDataType(text ? aftString : blob ? aftBlob : aftInteger, text ? 20 : 0);
      ddl += (i ? ", " : "") + col + (text ? " TEXT" : blob ? " BLOB" : " INTEGER");
    }
    Exec(ddl + ")");
    {
      TORVLocalCursor creator;
      creator.FSession = memory.get();
      creator.FTableName = Name;
      creator.CreateTable(fields, TORVIndexDefs(), TORVConstraintDefs());
    }
    TORVAODataset ds(memory.get(), temp.get());
    ds.Open(Name);
    for (const Row& r : Rows) {
      ds.Append();
      std::string values;
      for (size_t i = 0; i < r.size(); ++i) {
        TORVVariant v;
        const bool text = Columns[i].back() == '$';
        if (r[i]) {
          if (text)
            v.SetDataAsAnsiString(*r[i]);
          else
            v.SetDataAsSignedInt64(std::stoll(*r[i]));
        }
        ds.SetFieldValue(v, static_cast<int32_t>(i));
        values += (i ? ", " : "") + (r[i] ? (text ? "'" + *r[i] + "'" : *r[i]) : std::string("NULL"));
      }
      ASSERT_TRUE(ds.Post(false));
      Exec("INSERT INTO " + Name + " VALUES (" + values + ")");
    }
  }
  void Exec(const std::string& Sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, Sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << Sql;
  }
  std::vector<Row> Sqlite(const std::string& Sql, bool Sorted = true) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, Sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::vector<Row> rows;
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      Row r;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (sqlite3_column_type(st, i) == SQLITE_NULL)
          r.emplace_back();
        else
          r.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
      }
      rows.push_back(r);
    }
    sqlite3_finalize(st);
    if (Sorted) std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::unique_ptr<TORVAO> Table(const std::string& Name, const std::string& Alias = "") {
    auto ds = std::make_unique<TORVAODataset>(memory.get(), temp.get());
    return std::make_unique<TORVAOTable>(Name, std::move(ds), Alias);
  }
  static TORVSelectListItem Col(const std::string& Table, const std::string& Field, const std::string& Alias = "") {
    TORVSelectListItem item;
    item.TableName = Table;
    item.FieldName = Field;
    item.Pseudonym = Alias;
    item.AllFields = Field == "*";
    return item;
  }
  // An expression of SQL text (its lexer kept alive with the fixture).
  std::unique_ptr<TORVExpression> Expr(const std::string& Text, bool Condition) {
    lexers.push_back(std::make_unique<TORVLexer>(Text, nullptr, true));
    lexers.back()->GetNextCommand();
    auto e = std::make_unique<TORVExpression>();
    if (Condition)
      e->ParseForBooleanExpression(nullptr, lexers.back().get());
    else
      e->ParseForValueExpression(nullptr, lexers.back().get());
    return e;
  }
  TORVSelectListItem ExprItem(const std::string& Text, const std::string& Alias) {
    TORVSelectListItem item;
    item.IsExpression = true;
    item.ValueExpr = Expr(Text, false).release();
    item.Pseudonym = Alias;
    return item;
  }
  // Sets the select list, executes the tree as the root and reads its result's visible columns.
  std::vector<Row> Run(TORVAO& Root, std::vector<TORVSelectListItem> Items, bool Sorted = true,
                       bool Distinct = false) {
    Root.SetResultFields(Items, Distinct);
    for (TORVSelectListItem& item : Items) delete item.ValueExpr;
    Root.Execute(true, nullptr, nullptr);
    return Read(Root, Sorted);
  }
  static std::vector<Row> Read(TORVAO& Root, bool Sorted) {
    TORVAODataset& ds = *Root.ResultDataset();
    std::vector<Row> rows;
    TORVVariant v;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      Row r;
      for (int32_t i = 0; i < ds.FieldCount(false); ++i) {
        ds.GetFieldValue(v, i, false);
        if (v.IsNull())
          r.emplace_back();
        else if (v.IsStringDataType())
          r.emplace_back(v.GetDataAsAnsiString());
        else if (v.DataType() == bftDouble)
          r.emplace_back(Number(v.GetDataAsDouble()));
        else
          r.emplace_back(std::to_string(v.GetDataAsSignedInt64()));
      }
      rows.push_back(r);
    }
    if (Sorted) std::sort(rows.begin(), rows.end());
    return rows;
  }
  static std::string Number(double d) {
    char b[64];
    std::snprintf(b, sizeof b, "%.15g", d);
    std::string s = b;
    if (s.find('.') == std::string::npos && s.find('e') == std::string::npos) s += ".0";
    return s;
  }
  std::vector<std::string> Columns(TORVAO& Root) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < Root.ResultDataset()->FieldCount(false); ++i)
      names.push_back(Root.ResultDataset()->FieldDef(i, false)->Name);
    return names;
  }
  int TempTables() {
    std::vector<std::string> list;
    temp->GetTablesList(list);
    return static_cast<int>(std::count_if(list.begin(), list.end(), [](const std::string& n) {
      return n.rfind("TEMPORARY_TABLE_", 0) == 0;
    }));
  }
  static TORVFields Fields(std::vector<TORVSelectListItem> Items) {
    TORVFields f;
    for (auto& i : Items) f.Append(i);
    return f;
  }

  std::unique_ptr<TORVLocalSession> memory;
  std::unique_ptr<TORVLocalSession> temp;
  std::vector<std::unique_ptr<TORVLexer>> lexers;
  sqlite3* db = nullptr;
};

Row R(std::initializer_list<const char*> cells) {
  Row r;
  for (const char* c : cells) r.push_back(c ? std::optional<std::string>(c) : std::nullopt);
  return r;
}

// Duplicate keys on both sides, NULL keys, keys on one side only.
class JoinTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    MakeTable("A", {"ID", "X", "N$"},
              {R({"1", "1", "a1"}), R({"2", "1", "a2"}), R({"3", "1", "a3"}), R({"4", "2", "a4"}),
               R({"5", nullptr, "a5"}), R({"6", "7", "a6"})});
    MakeTable("B", {"ID", "Y", "M$"},
              {R({"10", "1", "b1"}), R({"11", "1", "b2"}), R({"12", nullptr, "b3"}), R({"13", "3", "b4"}),
               R({"14", "7", "b5"})});
    MakeTable("E", {"ID", "Y"}, {});
  }
  std::vector<Row> Join(TORVJoinType Type, const std::string& Left = "A", const std::string& Right = "B",
                        const std::string& LeftKey = "X", const std::string& RightKey = "Y") {
    TORVFields f1 = Fields({Col(Left, LeftKey)}), f2 = Fields({Col(Right, RightKey)});
    TORVAOJoin join(Table(Left), Table(Right), Type, false, &f1, &f2, nullptr);
    return Run(join, {Col(Left, "ID"), Col(Right, "ID")});
  }
};

TEST_F(JoinTest, InnerLeftRightAndFullJoinsAgreeWithSqlite) {
  // 3 x 2 rows of key 1 give 6; NULL keys never match.
  const auto inner = Join(ajtInner);
  EXPECT_EQ(inner.size(), 7u);
  EXPECT_EQ(inner, Sqlite("SELECT A.ID, B.ID FROM A JOIN B ON A.X = B.Y"));
  EXPECT_EQ(Join(ajtLeftOuter), Sqlite("SELECT A.ID, B.ID FROM A LEFT JOIN B ON A.X = B.Y"));
  EXPECT_EQ(Join(ajtRightOuter), Sqlite("SELECT A.ID, B.ID FROM B LEFT JOIN A ON A.X = B.Y"));
  EXPECT_EQ(Join(ajtFullOuter), Sqlite("SELECT A.ID, B.ID FROM A FULL JOIN B ON A.X = B.Y"));
  EXPECT_EQ(TempTables(), 0);
}

// A full join whose ON holds more than the key pair: every pair the whole condition accepts,
// then each row of either side that found none, alone. The condition may reject the first,
// the last or every member of a run of equal keys, on either side. Integer keys are merged
// from sorted key lists, text keys in the order of the inputs' indexes: both are asked.
TEST_F(JoinTest, FullJoinWithARemainingConditionLosesNoPairAndNoRow) {
  MakeTable("P", {"ID", "X", "T$"},
            {R({"1", "1", "k1"}), R({"2", "1", "k1"}), R({"3", "1", "k1"}), R({"4", "2", "k2"}),
             R({"5", nullptr, nullptr}), R({"6", "7", "k7"})});
  MakeTable("Q", {"ID", "Y", "T$"},
            {R({"10", "1", "k1"}), R({"11", "1", "k1"}), R({"12", nullptr, nullptr}), R({"13", "3", "k3"}),
             R({"14", "7", "k7"}), R({"20", "1", "k1"}), R({"21", nullptr, nullptr}), R({"22", "2", "k2"}),
             R({"23", "1", "k1"}), R({"24", "9", "k9"})});
  MakeTable("Z", {"ID", "Y", "T$"}, {});
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Q", "Q.ID <> 20"},  {"Q", "P.ID < 3"},           {"Q", "P.ID + Q.ID = 13"},
      {"Q", "P.ID > 100"},  {"Q", "P.ID * 10 + 17 < Q.ID"}, {"Q", "P.ID = 2 OR Q.ID = 23"},
      {"Z", "Z.ID > 0"},
  };
  for (const auto& [right, condition] : cases)
    for (const auto& [lkey, rkey] : {std::pair<std::string, std::string>{"X", "Y"}, {"T", "T"}}) {
      SCOPED_TRACE(right + "." + rkey + ": " + condition);
      const std::string on = "P." + lkey + " = " + right + "." + rkey + " AND (" + condition + ")";
      TORVFields f1 = Fields({Col("P", lkey)}), f2 = Fields({Col(right, rkey)});
      TORVAOJoin full(Table("P"), Table(right), ajtFullOuter, false, &f1, &f2, Expr(condition, true));
      EXPECT_EQ(Run(full, {Col("P", "ID"), Col(right, "ID")}),
                Sqlite("SELECT P.ID, " + right + ".ID FROM P FULL JOIN " + right + " ON " + on));
      // The other input as the left one.
      TORVFields g1 = Fields({Col(right, rkey)}), g2 = Fields({Col("P", lkey)});
      TORVAOJoin swapped(Table(right), Table("P"), ajtFullOuter, false, &g1, &g2, Expr(condition, true));
      EXPECT_EQ(Run(swapped, {Col(right, "ID"), Col("P", "ID")}),
                Sqlite("SELECT " + right + ".ID, P.ID FROM " + right + " FULL JOIN P ON " + on));
      // Inner, left and right joins with the same remaining condition.
      for (const TORVJoinType type : {ajtInner, ajtLeftOuter, ajtRightOuter}) {
        TORVFields h1 = Fields({Col("P", lkey)}), h2 = Fields({Col(right, rkey)});
        TORVAOJoin join(Table("P"), Table(right), type, false, &h1, &h2, Expr(condition, true));
        const std::string from = type == ajtInner       ? "P JOIN " + right
                                 : type == ajtLeftOuter ? "P LEFT JOIN " + right
                                                        : right + " LEFT JOIN P";
        EXPECT_EQ(Run(join, {Col("P", "ID"), Col(right, "ID")}),
                  Sqlite("SELECT P.ID, " + right + ".ID FROM " + from + " ON " + on));
      }
    }
  EXPECT_EQ(TempTables(), 0);
}

// Joins on two integer columns and on an integer and a text column (merged from sorted keys
// and from the inputs' indexes), inner and outer, against SQLite.
TEST_F(JoinTest, MultiColumnKeys) {
  MakeTable("P", {"ID", "X", "W", "T$"},
            {R({"1", "1", "1", "a"}), R({"2", "1", "2", "a"}), R({"3", "1", "1", "b"}), R({"4", "2", nullptr, "a"}),
             R({"5", nullptr, "1", "a"}), R({"6", "2", "2", "b"}), R({"7", "1", "1", "a"})});
  MakeTable("Q", {"ID", "Y", "W", "T$"},
            {R({"10", "1", "1", "a"}), R({"11", "1", "2", "b"}), R({"12", "2", "2", "b"}), R({"13", "1", "1", "a"}),
             R({"14", "2", nullptr, "a"}), R({"15", "3", "3", "c"})});
  const std::vector<std::pair<std::string, std::string>> keys = {{"W", "W"}, {"T", "T"}};
  for (const auto& [l2, r2] : keys)
    for (const TORVJoinType type : {ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter}) {
      SCOPED_TRACE(l2 + " " + std::to_string(type));
      TORVFields f1 = Fields({Col("P", "X"), Col("P", l2)}), f2 = Fields({Col("Q", "Y"), Col("Q", r2)});
      TORVAOJoin join(Table("P"), Table("Q"), type, false, &f1, &f2, nullptr);
      const std::string on = " ON P.X = Q.Y AND P." + l2 + " = Q." + r2;
      const std::string kind = type == ajtInner        ? " JOIN "
                               : type == ajtLeftOuter  ? " LEFT JOIN "
                               : type == ajtRightOuter ? " RIGHT JOIN "
                                                       : " FULL JOIN ";
      EXPECT_EQ(Run(join, {Col("P", "ID"), Col("Q", "ID")}), Sqlite("SELECT P.ID, Q.ID FROM P" + kind + "Q" + on));
    }
}

TEST_F(JoinTest, EmptyInputs) {
  EXPECT_TRUE(Join(ajtInner, "A", "E", "X", "Y").empty());
  EXPECT_TRUE(Join(ajtInner, "E", "A", "Y", "X").empty());
  EXPECT_EQ(Join(ajtLeftOuter, "A", "E", "X", "Y"), Sqlite("SELECT A.ID, E.ID FROM A LEFT JOIN E ON A.X = E.Y"));
  EXPECT_EQ(Join(ajtFullOuter, "E", "B", "Y", "Y"), Sqlite("SELECT NULL, B.ID FROM B"));
  TORVFields none;
  TORVAOJoin cross(Table("A"), Table("E"), ajtInner, false, &none, &none, nullptr);
  EXPECT_TRUE(Run(cross, {Col("A", "ID")}).empty());
}

TEST_F(JoinTest, CrossAndConditionOnlyJoins) {
  TORVFields none;
  TORVAOJoin cross(Table("A"), Table("B"), ajtInner, false, &none, &none, nullptr);
  EXPECT_EQ(Run(cross, {Col("A", "ID"), Col("B", "ID")}), Sqlite("SELECT A.ID, B.ID FROM A, B"));

  // A left join whose ON holds no column pair keeps the pairs the condition accepts.
  TORVAOJoin cond(Table("A"), Table("B"), ajtLeftOuter, false, &none, &none, Expr("A.ID + 9 >= B.ID", true));
  EXPECT_EQ(Run(cond, {Col("A", "ID"), Col("B", "ID")}),
            Sqlite("SELECT A.ID, B.ID FROM A LEFT JOIN B ON A.ID + 9 >= B.ID"));
}

TEST_F(JoinTest, EqualNamesAreMadeUniqueAndSameSideIsRefused) {
  MakeTable("C", {"ID"}, {R({"1"})});
  TORVFields none;
  auto ab = std::make_unique<TORVAOJoin>(Table("A"), Table("B"), ajtInner, false, &none, &none, nullptr);
  TORVAOJoin abc(std::move(ab), Table("C"), ajtInner, false, &none, &none, nullptr);
  Run(abc, {});
  const auto names = Columns(abc);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ID"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ID_1"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ID_12"), 1);

  TORVFields f1 = Fields({Col("A", "ID")}), f2 = Fields({Col("A", "X")});
  ExpectCode(10334, [&] { TORVAOJoin bad(Table("A"), Table("B"), ajtInner, false, &f1, &f2, nullptr); });
}

TEST_F(JoinTest, NaturalJoinComparesTheCommonColumns) {
  MakeTable("P", {"K", "V$"}, {R({"1", "p1"}), R({"2", "p2"}), R({"2", "p3"}), R({nullptr, "p4"})});
  MakeTable("Q", {"K", "W$"}, {R({"2", "q1"}), R({"3", "q2"}), R({nullptr, "q3"})});
  TORVAOJoin natural(Table("P"), Table("Q"), ajtInner, true, nullptr, nullptr, nullptr);
  EXPECT_EQ(Run(natural, {Col("P", "V"), Col("Q", "W")}), Sqlite("SELECT V, W FROM P NATURAL JOIN Q"));
}

// ---- Where the parts of a condition go -------------------------------------------------------

std::string FilterOf(const TORVAO& AO) {
  return AO.FilterExpr() && AO.FilterExpr()->Root() ? testing::SExpr(AO.FilterExpr()->Root()) : "none";
}

TEST_F(JoinTest, TheColumnPairJoinsAndAOneTablePartFiltersThatTable) {
  auto where = Expr("A.X = B.Y AND A.ID > 2", true);
  auto a = Table("A");
  auto b = Table("B");
  TORVFields f1, f2;
  EXPECT_EQ(where->ExtractJoinConditions(a.get(), b.get(), f1, f2), 1);
  ASSERT_EQ(f1.ItemCount(), 1);
  EXPECT_EQ(f1.Items[0].TableName + "." + f1.Items[0].FieldName, "A.X");
  EXPECT_EQ(f2.Items[0].TableName + "." + f2.Items[0].FieldName, "B.Y");
  where->ApplyFilterParts(a.get(), nullptr, nullptr, true, false);
  where->ApplyFilterParts(b.get(), nullptr, nullptr, true, false);
  EXPECT_EQ(where->Root(), nullptr) << "nothing is left to test on the joined rows";
  EXPECT_EQ(FilterOf(*a), "(> A.ID 2)");
  EXPECT_EQ(FilterOf(*b), "none");
  TORVAOJoin join(std::move(a), std::move(b), ajtInner, false, &f1, &f2, nullptr);
  EXPECT_EQ(Run(join, {Col("A", "ID"), Col("B", "ID")}),
            Sqlite("SELECT A.ID, B.ID FROM A JOIN B ON A.X = B.Y WHERE A.ID > 2"));

  // The pair's operands may stand either way round; the join settles the sides.
  auto reversed = Expr("B.Y = A.X", true);
  auto a2 = Table("A");
  auto b2 = Table("B");
  TORVFields g1, g2;
  EXPECT_EQ(reversed->ExtractJoinConditions(a2.get(), b2.get(), g1, g2), 1);
  EXPECT_EQ(reversed->Root(), nullptr);
  TORVAOJoin join2(std::move(a2), std::move(b2), ajtInner, false, &g1, &g2, nullptr);
  EXPECT_EQ(Run(join2, {Col("A", "ID"), Col("B", "ID")}), Sqlite("SELECT A.ID, B.ID FROM A JOIN B ON A.X = B.Y"));
}

TEST_F(JoinTest, PartsGoToTheDeepestOperatorThatCanTestThem) {
  TORVFields f1 = Fields({Col("A", "X")}), f2 = Fields({Col("B", "Y")});
  TORVAOJoin join(Table("A"), Table("B"), ajtInner, false, &f1, &f2, nullptr);
  auto where = Expr("A.ID > 1 AND (B.M = 'b1' OR B.M = 'b5') AND A.ID + B.ID > 13 AND C.Z = 1", true);
  where->ApplyFilterParts(&join, nullptr, nullptr, true, false);
  EXPECT_EQ(FilterOf(*join.LeftAO()), "(> A.ID 1)");
  EXPECT_EQ(FilterOf(*join.RightAO()), "(OR (=[2v] B.M 'b1') (=[2v] B.M 'b5'))");
  EXPECT_EQ(FilterOf(join), "(> (+ A.ID B.ID) 13)");
  EXPECT_EQ(testing::SExpr(where->Root()), "(AND (= C.Z 1))") << "a column of no operator stays";
  where.reset();
  EXPECT_EQ(Run(join, {Col("A", "ID"), Col("B", "ID")}),
            Sqlite("SELECT A.ID, B.ID FROM A JOIN B ON A.X = B.Y WHERE A.ID > 1 AND (B.M = 'b1' OR B.M = 'b5') "
                   "AND A.ID + B.ID > 13"));
}

TEST_F(JoinTest, NothingGoesBelowAnOuterJoin) {
  // Below the join, B.M IS NULL would remove B's rows before the join pads A's unmatched rows.
  TORVFields f1 = Fields({Col("A", "X")}), f2 = Fields({Col("B", "Y")});
  TORVAOJoin join(Table("A"), Table("B"), ajtLeftOuter, false, &f1, &f2, nullptr);
  auto where = Expr("B.M IS NULL AND A.ID > 1", true);
  where->ApplyFilterParts(&join, nullptr, nullptr, true, false);
  EXPECT_EQ(FilterOf(*join.LeftAO()), "none");
  EXPECT_EQ(FilterOf(*join.RightAO()), "none");
  EXPECT_EQ(FilterOf(join), "(AND (IS-NULL B.M) (> A.ID 1))");
  EXPECT_EQ(where->Root(), nullptr);
  EXPECT_EQ(Run(join, {Col("A", "ID"), Col("B", "ID")}),
            Sqlite("SELECT A.ID, B.ID FROM A LEFT JOIN B ON A.X = B.Y WHERE B.M IS NULL AND A.ID > 1"));
}

TEST_F(JoinTest, JoinPairsNeedOneColumnOnEachSide) {
  auto a = Table("A");
  auto b = Table("B");
  TORVFields f1, f2;
  auto same_side = Expr("A.X = A.ID AND A.X > B.Y AND UPPER(A.N) = B.M", true);
  EXPECT_EQ(same_side->ExtractJoinConditions(a.get(), b.get(), f1, f2), 0);
  EXPECT_EQ(same_side->Root()->ChildCount(), 3);
  ExpectCode(10404, [&] { Expr("ID = B.Y", true)->ExtractJoinConditions(a.get(), b.get(), f1, f2); },
             "Ambiguous field reference to 'ID' - Native error: 10404");
  ExpectCode(10405, [&] { Expr("A.X = ID", true)->ExtractJoinConditions(a.get(), b.get(), f1, f2); });
  EXPECT_EQ(f1.ItemCount(), 0);
}

class SetTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    MakeTable("L", {"V", "T$"}, {R({"1", "x"}), R({"1", "x"}), R({"2", "y"}), R({nullptr, "n"}), R({"3", "z"})});
    MakeTable("M", {"V", "T$"}, {R({"1", "x"}), R({"3", "z"}), R({nullptr, "n"}), R({"4", "w"})});
  }
  std::vector<Row> Set(TORVUnionType Type, bool Distinct) {
    TORVAOUnion u(Table("L"), Table("M"), Type, nullptr, nullptr, false, Distinct, nullptr);
    return Run(u, {});
  }
};

TEST_F(SetTest, UnionIntersectExceptAgreeWithSqlite) {
  // The inputs show every column without a select list of their own.
  EXPECT_EQ(Set(autUnion, false), Sqlite("SELECT V, T FROM L UNION ALL SELECT V, T FROM M"));
  EXPECT_EQ(Set(autUnion, true), Sqlite("SELECT V, T FROM L UNION SELECT V, T FROM M"));
  EXPECT_EQ(Set(autIntersect, true), Sqlite("SELECT V, T FROM L INTERSECT SELECT V, T FROM M"));
  EXPECT_EQ(Set(autExcept, true), Sqlite("SELECT V, T FROM L EXCEPT SELECT V, T FROM M"));
  EXPECT_EQ(TempTables(), 0);
}

TEST_F(SetTest, BlobColumnsAreLeftOutWhereRowsAreCompared) {
  MakeTable("U1", {"V", "B#"}, {R({"1", nullptr}), R({"2", nullptr})});
  MakeTable("U2", {"V", "B#"}, {R({"2", nullptr})});
  {
    TORVAOUnion all(Table("U1"), Table("U2"), autUnion, nullptr, nullptr, false, false, nullptr);
    EXPECT_EQ(Run(all, {}), Sqlite("SELECT V FROM U1 UNION ALL SELECT V FROM U2"));
    EXPECT_EQ(Columns(all), std::vector<std::string>{"V"});
  }
  // UNION without ALL keeps every pair, and then cannot order its inputs by the BLOB.
  TORVAOUnion distinct(Table("U1"), Table("U2"), autUnion, nullptr, nullptr, false, true, nullptr);
  EXPECT_EQ(distinct.FieldCount(), 2);
  ExpectCode(20295, [&] { Run(distinct, {}); });
  EXPECT_EQ(TempTables(), 0);
}

TEST_F(SetTest, CorrespondingPairsColumnsByName) {
  MakeTable("N", {"T$", "V", "W"}, {R({"x", "1", "0"}), R({"q", "9", "0"})});
  {
    TORVAOUnion u(Table("L"), Table("N"), autUnion, nullptr, nullptr, true, false, nullptr);
    EXPECT_EQ(Run(u, {}), Sqlite("SELECT V, T FROM L UNION ALL SELECT V, T FROM N"));
  }
  {
    TORVFields by = Fields({Col("", "T")});
    TORVAOUnion u(Table("L"), Table("N"), autExcept, nullptr, nullptr, true, true, &by);
    EXPECT_EQ(Run(u, {}), Sqlite("SELECT T FROM L EXCEPT SELECT T FROM N"));
  }
  TORVFields none;
  ExpectCode(10337, [&] { TORVAOUnion u(Table("L"), Table("N"), autUnion, nullptr, nullptr, true, false, &none); },
             "Empty field list, item count = 0 - Native error: 10337");
  EXPECT_EQ(TempTables(), 0);
}

TEST_F(SetTest, AllFormsAndCorresponding) {
  MakeTable("I1", {"V"}, {R({"1"}), R({"1"}), R({"2"})});
  MakeTable("I2", {"V"}, {R({"1"})});
  {
    TORVAOUnion u(Table("I1"), Table("I2"), autIntersect, nullptr, nullptr, false, false, nullptr);
    EXPECT_EQ(Run(u, {}), (std::vector<Row>{R({"1"}), R({"1"})}));
  }
  {
    TORVAOUnion u(Table("I1"), Table("I2"), autIntersect, nullptr, nullptr, false, true, nullptr);
    EXPECT_EQ(Run(u, {}), (std::vector<Row>{R({"1"})}));
  }
}

class GroupTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    MakeTable("G", {"K", "V", "S$"},
              {R({"2", "5", "b"}), R({"1", "3", "a"}), R({"2", "7", "b"}), R({nullptr, "1", "n"}),
               R({"1", nullptr, "a"}), R({"3", "4", "c"}), R({nullptr, "2", "n"})});
    MakeTable("E", {"K", "V"}, {});
  }
};

TEST_F(GroupTest, GroupByAgreesWithSqlite) {
  std::vector<TORVSelectListItem> items = {Col("", "K"), ExprItem("COUNT(*)", "C"), ExprItem("SUM(V)", "S"),
                                           ExprItem("MIN(V)", "LO")};
  TORVFields by = Fields({Col("", "K")});
  {
    TORVAOGroupBy group(Table("G"), items, &by);
    EXPECT_EQ(Run(group, std::move(items)), Sqlite("SELECT K, COUNT(*), SUM(V), MIN(V) FROM G GROUP BY K"));
    EXPECT_EQ(TempTables(), 1);
  }
  EXPECT_EQ(TempTables(), 0);
}

TEST_F(GroupTest, WithoutGroupByOneRowAlsoOverAnEmptyInput) {
  {
    std::vector<TORVSelectListItem> items = {ExprItem("COUNT(*)", "C"), ExprItem("COUNT(*)", "D")};
    TORVAOGroupBy group(Table("G"), items, nullptr);
    group.SetResultFields(items, false);
    EXPECT_TRUE(group.IsCountAll());
    group.Execute(true, nullptr, nullptr);
    EXPECT_EQ(Read(group, true), (std::vector<Row>{R({"7", "7"})}));
  }
  {
    std::vector<TORVSelectListItem> items = {ExprItem("COUNT(*)", "C"), ExprItem("SUM(V)", "S")};
    TORVAOGroupBy group(Table("E"), items, nullptr);
    EXPECT_EQ(Run(group, std::move(items)), Sqlite("SELECT COUNT(*), SUM(V) FROM E"));
  }
  {
    std::vector<TORVSelectListItem> items = {Col("", "K"), ExprItem("COUNT(*)", "C")};
    TORVFields by = Fields({Col("", "K")});
    TORVAOGroupBy group(Table("E"), items, &by);
    EXPECT_TRUE(Run(group, std::move(items)).empty());
  }
}

TEST_F(GroupTest, AliasesAndUngroupedColumns) {
  {
    // GROUP BY the alias of a plain column.
    std::vector<TORVSelectListItem> items = {Col("", "K", "KEY"), ExprItem("COUNT(*)", "C")};
    TORVFields by = Fields({Col("", "KEY")});
    TORVAOGroupBy group(Table("G"), items, &by);
    EXPECT_EQ(Run(group, std::move(items)), Sqlite("SELECT K, COUNT(*) FROM G GROUP BY K"));
  }
  {
    std::vector<TORVSelectListItem> items = {ExprItem("COUNT(*)", "C")};
    TORVFields by = Fields({Col("", "C")});
    ExpectCode(20245, [&] { TORVAOGroupBy group(Table("G"), items, &by); });
    delete items[0].ValueExpr;
  }
  {
    std::vector<TORVSelectListItem> items = {Col("", "V"), ExprItem("COUNT(*)", "C")};
    TORVFields by = Fields({Col("", "K")});
    TORVAOGroupBy group(Table("G"), items, &by);
    ExpectCode(10342, [&] { group.SetResultFields(items, false); });
    for (auto& i : items) delete i.ValueExpr;
  }
}

class DistinctTopTest : public AOTest {
 protected:
  void SetUp() override {
    AOTest::SetUp();
    // Duplicates that are not adjacent, NULLs among them.
    MakeTable("D", {"ID", "A", "B$"},
              {R({"1", "1", "x"}), R({"2", "2", "y"}), R({"3", "1", "x"}), R({"4", nullptr, "z"}),
               R({"5", "2", "y"}), R({"6", nullptr, "z"}), R({"7", "3", nullptr}), R({"8", "3", nullptr})});
  }
  // TOP n, m over D ordered by ID (m -1: absent).
  std::vector<Row> Top(int64_t N, int64_t M, bool Ordered) {
    // An ordered input refuses the limit; TOP copies the first rows of its ordered result.
    auto expr = std::make_unique<TORVAOTableExpr>(Table("D"));
    if (Ordered) expr->SetIndex("ID", "ID", "");
    TORVAOSQLTopRowCount top(std::move(expr));
    top.SetTopRowCount(M, N);
    return Run(top, {Col("", "ID")}, false);
  }
};

TEST_F(DistinctTopTest, DistinctOverNonAdjacentDuplicatesWithNulls) {
  TORVAOTableExpr expr(Table("D"));
  EXPECT_EQ(Run(expr, {Col("", "A"), Col("", "B")}, true, true), Sqlite("SELECT DISTINCT A, B FROM D"));
}

TEST_F(DistinctTopTest, TopCountsFirstRowsAndOrder) {
  EXPECT_TRUE(Top(0, -1, false).empty());
  EXPECT_EQ(Top(3, -1, false), Sqlite("SELECT ID FROM D LIMIT 3", false));
  EXPECT_EQ(Top(100, -1, false).size(), 8u);
  // TOP n, m starts at row m: SQLite's LIMIT n OFFSET m - 1.
  EXPECT_EQ(Top(3, 4, false), Sqlite("SELECT ID FROM D LIMIT 3 OFFSET 3", false));
  EXPECT_EQ(Top(3, 7, false), Sqlite("SELECT ID FROM D LIMIT 3 OFFSET 6", false));
  EXPECT_EQ(Top(2, -1, true), Sqlite("SELECT ID FROM D ORDER BY ID DESC LIMIT 2", false));
  EXPECT_EQ(TempTables(), 0);
}

TEST_F(DistinctTopTest, OrderByColumnNumberOutsideTheSelectList) {
  TORVAOTableExpr expr(Table("D"));
  std::vector<TORVSelectListItem> items = {Col("", "ID"), Col("", "A")};
  expr.SetResultFields(items, false);
  EXPECT_EQ(expr.GetFieldNameByVisibleNumber(1), "A");
  ExpectCode(20243, [&] { expr.GetFieldNameByVisibleNumber(-1); }, "Invalid field number in ORDER BY clause: 0 - Native error: 20243");
  ExpectCode(20243, [&] { expr.GetFieldNameByVisibleNumber(2); }, "Invalid field number in ORDER BY clause: 3 - Native error: 20243");
}

// The descriptors the process has open.
int OpenFiles() {
  std::error_code ec;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

TEST_F(JoinTest, ThousandTreesLeaveNoTemporaryTableAndNoOpenFile) {
  const int files = OpenFiles();
  for (int i = 0; i < 1000; ++i) {
    if (i % 4 != 3) {
      TORVFields f1 = Fields({Col("A", "X")}), f2 = Fields({Col("B", "Y")});
      TORVAOJoin join(Table("A"), Table("B"), ajtLeftOuter, false, &f1, &f2, nullptr);
      ASSERT_EQ(Run(join, {Col("A", "ID")}).size(), 9u);
    } else {
      TORVAOUnion u(Table("A"), Table("B"), autUnion, nullptr, nullptr, false, true, nullptr);
      ASSERT_EQ(Run(u, {}).size(), 11u);
    }
  }
  EXPECT_EQ(TempTables(), 0);
  EXPECT_EQ(OpenFiles(), files);
}

}  // namespace
}  // namespace orv
