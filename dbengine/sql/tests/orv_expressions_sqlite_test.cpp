// Scalar expressions built as node trees over the columns of a record, against the same
// expressions evaluated by SQLite's SELECT over a grid of values.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "dbengine/sql/tests/expr_test_support.h"

namespace orv {
namespace {

using testing::Arith;
using testing::Cmp;
using testing::Dbl;
using testing::Int;
using testing::List;
using testing::Null;
using testing::Str;
using testing::StrFn;

// x is an integer column, y a double column, s a text column; SQLite sees them as ?1, ?2, ?3.
struct Columns {
  std::function<TORVExprNodePtr()> x, y, s;
};

struct Expression {
  const char* sql;
  std::function<TORVExprNodePtr(const Columns&)> make;
};

TORVExprNodePtr Neg(TORVExprNodePtr v) { return Arith(doSUB, List(std::move(v))); }
TORVExprNodePtr Add(TORVExprNodePtr a, TORVExprNodePtr b) { return Arith(doADD, List(std::move(a), std::move(b))); }
TORVExprNodePtr Sub(TORVExprNodePtr a, TORVExprNodePtr b) { return Add(std::move(a), Neg(std::move(b))); }
TORVExprNodePtr Mul(TORVExprNodePtr a, TORVExprNodePtr b) { return Arith(doMUL, List(std::move(a), std::move(b))); }
TORVExprNodePtr Div(TORVExprNodePtr a, TORVExprNodePtr b) { return Arith(doDIV, List(std::move(a), std::move(b))); }
TORVExprNodePtr Fn(TORVDataOperator op, TORVExprNodePtr a) { return Arith(op, List(std::move(a))); }
TORVExprNodePtr SFn(TORVDataOperator op, TORVExprNodePtr a) { return StrFn(op, List(std::move(a))); }

const Expression kExpressions[] = {
    {"?1 + 7", [](const Columns& c) { return Add(c.x(), Int(7)); }},
    {"?1 - ?2", [](const Columns& c) { return Sub(c.x(), c.y()); }},
    {"?1 * 3 - 4", [](const Columns& c) { return Sub(Mul(c.x(), Int(3)), Int(4)); }},
    {"?1 * ?2", [](const Columns& c) { return Mul(c.x(), c.y()); }},
    {"?2 / 4.0", [](const Columns& c) { return Div(c.y(), Dbl(4.0)); }},
    {"?1 / 3", [](const Columns& c) { return Div(c.x(), Int(3)); }},
    {"-?2 + ?1", [](const Columns& c) { return Add(Neg(c.y()), c.x()); }},
    {"(?1 + ?2) * 2.5", [](const Columns& c) { return Mul(Add(c.x(), c.y()), Dbl(2.5)); }},
    {"abs(?1)", [](const Columns& c) { return Fn(doABS, c.x()); }},
    {"abs(?2)", [](const Columns& c) { return Fn(doABS, c.y()); }},
    {"ceil(?2)", [](const Columns& c) { return Fn(doCEIL, c.y()); }},
    {"floor(?2)", [](const Columns& c) { return Fn(doFLOOR, c.y()); }},
    {"abs(?1 - 10) + ceil(?2 / 3)",
     [](const Columns& c) { return Add(Fn(doABS, Sub(c.x(), Int(10))), Fn(doCEIL, Div(c.y(), Int(3)))); }},
    {"sqrt(abs(?2))", [](const Columns& c) { return Fn(doSQRT, Fn(doABS, c.y())); }},
    {"ln(abs(?2) + 1)", [](const Columns& c) { return Fn(doLOG, Add(Fn(doABS, c.y()), Int(1))); }},
    {"upper(?3)", [](const Columns& c) { return SFn(doUPPER, c.s()); }},
    {"lower(?3)", [](const Columns& c) { return SFn(doLOWER, c.s()); }},
    {"trim(?3)", [](const Columns& c) { return SFn(doTRIM, c.s()); }},
    {"ltrim(?3)", [](const Columns& c) { return SFn(doLTRIM, c.s()); }},
    {"rtrim(?3)", [](const Columns& c) { return SFn(doRTRIM, c.s()); }},
    {"substr(?3, 2, 3)", [](const Columns& c) { return StrFn(doSUBSTRING, List(c.s(), Int(2), Int(3))); }},
    {"substr(?3, 3)", [](const Columns& c) { return StrFn(doSUBSTRING, List(c.s(), Int(3))); }},
    {"instr(?3, 'l')", [](const Columns& c) { return StrFn(doPOS, List(Str("l"), c.s())); }},
    {"instr(upper(?3), 'E')", [](const Columns& c) { return StrFn(doPOS, List(Str("E"), SFn(doUPPER, c.s()))); }},
    {"length(?3)", [](const Columns& c) { return SFn(doLENGTH, c.s()); }},
    {"length(trim(?3))", [](const Columns& c) { return SFn(doLENGTH, SFn(doTRIM, c.s())); }},
    {"?3 || 'x'", [](const Columns& c) { return StrFn(doCONCAT, List(c.s(), Str("x"))); }},
    {"upper(substr(?3, 1, 2)) || lower(?3)",
     [](const Columns& c) {
       return StrFn(doCONCAT, List(SFn(doUPPER, StrFn(doSUBSTRING, List(c.s(), Int(1), Int(2)))), SFn(doLOWER, c.s())));
     }},
    {"CASE WHEN ?1 > 3 THEN ?1 * 2 ELSE -?1 END",
     [](const Columns& c) {
       auto n = TORVExprNodeCase::CreateSearchedCase();
       n->AddWhenExpression(Cmp(doGT, c.x(), Int(3)));
       n->AddResultExpression(Mul(c.x(), Int(2)));
       n->SetElseResultExpression(Neg(c.x()));
       return n;
     }},
    {"CASE ?1 WHEN 3 THEN 'three' WHEN -1 THEN 'minus one' ELSE upper(?3) END",
     [](const Columns& c) {
       auto n = TORVExprNodeCase::CreateSimpleCase(c.x());
       n->AddWhenExpression(Int(3));
       n->AddResultExpression(Str("three"));
       n->AddWhenExpression(Int(-1));
       n->AddResultExpression(Str("minus one"));
       n->SetElseResultExpression(SFn(doUPPER, c.s()));
       return n;
     }},
    {"CASE WHEN ?2 < 0 AND ?1 < 0 THEN 'both' WHEN ?2 < 0 OR ?1 < 0 THEN 'one' END",
     [](const Columns& c) {
       auto n = TORVExprNodeCase::CreateSearchedCase();
       n->AddWhenExpression(testing::Bool2(doAND, Cmp(doLT, c.y(), Int(0)), Cmp(doLT, c.x(), Int(0))));
       n->AddResultExpression(Str("both"));
       n->AddWhenExpression(testing::Bool2(doOR, Cmp(doLT, c.y(), Int(0)), Cmp(doLT, c.x(), Int(0))));
       n->AddResultExpression(Str("one"));
       return n;
     }},
    {"coalesce(NULL, ?1)", [](const Columns& c) { return TORVExprNodeCase::CreateCoalesce(List(Null(), c.x())); }},
    {"coalesce(CASE WHEN ?2 > 0 THEN NULL ELSE ?2 END, ?1)",
     [](const Columns& c) {
       auto inner = TORVExprNodeCase::CreateSearchedCase();
       inner->AddWhenExpression(Cmp(doGT, c.y(), Int(0)));
       inner->AddResultExpression(Null());
       inner->SetElseResultExpression(c.y());
       return TORVExprNodeCase::CreateCoalesce(List(std::move(inner), c.x()));
     }},
};

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
  }
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string Describe(const TORVVariant& v) { return v.IsNull() ? "NULL" : v.GetDataAsAnsiString(); }

TEST(ExprSqliteDifferential, ScalarExpressionsOverAGridOfValues) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);

  testing::ExprTable table({{"x", {aftInteger, 0}}, {"y", {aftDouble, 0}}, {"s", {aftString, 30}}});
  void* record = table.NewRecord();
  const Columns columns{[&] { return table.Field("x"); }, [&] { return table.Field("y"); },
                        [&] { return table.Field("s"); }};
  const int64_t xs[] = {-7, -1, 0, 3, 12, 999};
  const double ys[] = {-2.5, -0.3, 0.5, 1.75, 2.5, 123456.789};
  const char* ss[] = {"  Hello ", "abc", "MiXeD cAsE", "xyz  ", "l", "Tell me"};

  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) + "/expressions_vs_sqlite.txt");
  report << "expression\tevaluations\tdifferences\n";
  int total = 0, failures = 0;
  for (const Expression& e : kExpressions) {
    SCOPED_TRACE(e.sql);
    SqliteStatement stmt(db.get(), std::string("SELECT ") + e.sql);
    TORVExprNodePtr node = e.make(columns);
    node->AssignCursorBuffer(record, false);
    int evaluations = 0, differences = 0;
    for (int64_t x : xs) {
      for (double y : ys) {
        for (const char* s : ss) {
          table.SetInt(record, "x", x);
          table.SetDouble(record, "y", y);
          table.SetText(record, "s", s);
          sqlite3_reset(stmt.get());
          sqlite3_bind_int64(stmt.get(), 1, x);
          sqlite3_bind_double(stmt.get(), 2, y);
          sqlite3_bind_text(stmt.get(), 3, s, -1, SQLITE_TRANSIENT);
          ASSERT_EQ(sqlite3_step(stmt.get()), SQLITE_ROW);
          const TORVVariant& got = node->GetDataValue();
          bool same = false;
          std::string expected;
          switch (sqlite3_column_type(stmt.get(), 0)) {
            case SQLITE_NULL:
              expected = "NULL";
              same = got.IsNull();
              break;
            case SQLITE_TEXT:
              expected = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
              // The engine keeps an empty text as NULL.
              same = expected.empty() ? got.IsNull() : !got.IsNull() && got.GetDataAsAnsiString() == expected;
              break;
            default: {
              const double want = sqlite3_column_double(stmt.get(), 0);
              expected = std::to_string(want);
              if (!got.IsNull() && got.IsNumericDataType()) {
                const double have = got.GetDataAsDouble();
                same = std::fabs(have - want) <= 1e-12 * std::max(1.0, std::fabs(want));
              }
            }
          }
          ++evaluations;
          if (!same) {
            ++differences;
            if (++failures <= 20)
              ADD_FAILURE() << "x=" << x << " y=" << y << " s='" << s << "': " << Describe(got)
                            << ", SQLite: " << expected;
          }
        }
      }
    }
    total += evaluations;
    report << e.sql << "\t" << evaluations << "\t" << differences << "\n";
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(total, 5000);
}

}  // namespace
}  // namespace orv
