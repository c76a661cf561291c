// Filters against SQLite: random WHERE conditions over one table loaded into both, the rows a
// filtered MEMORY table shows (and, for every fifth condition, its record count) against the
// rows SQLite selects.
//
// The conditions keep to what both define alike. The engine differs from SQL on purpose in a
// few places, which are asserted on their own below: a comparison with NULL is False, not
// unknown (so NOT over it is True), a text or date field against a constant is two-valued (a
// NULL text is below and unequal to every text), and LIKE reads a NULL text as the empty one.
// So on nullable columns the conditions use no NOT, no comparison with a text constant and no
// LIKE pattern that matches the empty text; data texts are lower-case [a-z0-9] (IN and BETWEEN
// ignore case here), never empty (the engine stores empty texts as NULL); SQLite compares LIKE
// with case.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/sql/tests/filter_corpus.h"
#include "dbengine/sql/tests/filter_table.h"

namespace orv {
namespace {

using testing::Cell;
using testing::FilterTable;
using testing::Conditions;
using testing::Ids;
using testing::MakeRows;
using testing::Row;

// The indexes a search may use for the corpus's conditions: every column alone (F descending),
// two columns together, and S without case (which the case-sensitive conditions must not use).
const std::vector<testing::IndexSpec> kIndexes = {
    {"ByA", {"A"}, {}, {}},
    {"ByB", {"B"}, {}, {}},
    {"ByF", {"F"}, {"DESC"}, {}},
    {"ByS", {"S"}, {}, {}},
    {"ByT", {"T"}, {"DESC"}, {}},
    {"ByID", {"ID"}, {}, {}},
    {"ByBA", {"B", "A"}, {}, {}},
    {"BySNoCase", {"S"}, {}, {"NO_CASE"}},
};

class Both {
 public:
  explicit Both(const std::vector<Row>& rows, bool Indexed = false)
      : table_({{"A", {aftInteger, 0}},
                {"B", {aftInteger, 0}},
                {"F", {aftDouble, 0}},
                {"S", {aftString, 8}},
                {"T", {aftString, 8}}},
               {}, Indexed ? kIndexes : std::vector<testing::IndexSpec>{}),
        sqlite_(rows) {
    for (const Row& r : rows)
      table_.Insert({r.a, r.b ? Cell{*r.b} : Cell{}, r.f ? Cell{*r.f} : Cell{}, r.s, r.t ? Cell{*r.t} : Cell{}});
  }

  Ids Sqlite(const std::string& where) { return sqlite_.Select(where); }
  Ids Engine(const std::string& filter, bool CheckCount) { return table_.Visible(filter, false, false, CheckCount); }

 private:
  TORVScopedExpressionEngine engine_;
  FilterTable table_;
  testing::SqliteRows sqlite_;
};

// Without indexes every record is tested; with them the record search takes comparisons and
// NULL tests out of the condition and walks an index range instead, which must select the same
// rows.
class FilterCorpusAgainstSqlite : public ::testing::TestWithParam<bool> {};

TEST_P(FilterCorpusAgainstSqlite, RandomConditionsSelectTheSameRows) {
  const bool indexed = GetParam();
  Both both(MakeRows(2000, 20240611), indexed);
  Conditions conditions(7);
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) +
                       (indexed ? "/filters_vs_sqlite_indexed.tsv" : "/filters_vs_sqlite.tsv"));
  report << "condition\trows (engine)\trows (sqlite)\n";
  int differences = 0;
  int empty = 0;
  for (int i = 0; i < 300; ++i) {
    const std::string where = conditions.Condition(3).text;
    SCOPED_TRACE(where);
    Ids engine;
    try {
      engine = both.Engine(where, i % 5 == 0);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    const Ids sqlite = both.Sqlite(where);
    report << where << "\t" << engine.size() << "\t" << sqlite.size() << "\n";
    if (engine != sqlite && ++differences <= 10)
      ADD_FAILURE() << "engine selects " << engine.size() << " rows, SQLite " << sqlite.size();
    if (sqlite.empty()) ++empty;
  }
  EXPECT_EQ(differences, 0);
  EXPECT_LT(empty, 150) << "the conditions should select rows";
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutIndexes, FilterCorpusAgainstSqlite, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Indexed" : "NoIndexes";
                         });

// Where the engine and SQL differ by design.
TEST(FiltersAgainstSqlite, TheDeliberateDifferences) {
  TORVScopedExpressionEngine engine;
  FilterTable x{{{"X", {aftInteger, 0}}}};
  x.Insert({int64_t{5}});
  x.Insert({});
  x.Insert({int64_t{6}});
  EXPECT_EQ(x.Visible("NOT (X = 5)"), (Ids{2, 3})) << "SQL: only 6";
  FilterTable s{{{"S", {aftString, 8}}}};
  s.Insert({std::string("a")});
  s.Insert({});
  EXPECT_EQ(s.Visible("S <> 'a'"), Ids{2}) << "SQL: none";
  EXPECT_EQ(s.Visible("S LIKE '%'"), (Ids{1, 2})) << "SQL: only 'a'";
}

}  // namespace
}  // namespace orv
