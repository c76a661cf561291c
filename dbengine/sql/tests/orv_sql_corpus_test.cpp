// The differential corpus: every SELECT of tests/data/corpus/select.sql runs through the
// statement processor over MEMORY tables and through SQLite over the same rows; the results
// must be equal row by row in order (numbers to 1e-12 relative). A line "engine ||| sqlite"
// gives SQLite its own spelling of the same question (LIMIT for TOP, ln for LOG, ...).
// differences.sql asserts, one statement each, where the engine answers otherwise on purpose:
// "statement => rows" with rows as "a|b" separated by "; ".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/sql/tests/sql_test_support.h"
#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

using testing::Cell;
using testing::D;
using testing::I;
using testing::N;
using testing::Rows;
using testing::S;

std::string Trim(std::string s) {
  const size_t b = s.find_first_not_of(" \t\r");
  const size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The statements of a corpus file: one per line, "--" lines and blank lines skipped.
std::vector<std::string> CorpusLines(const std::string& File) {
  std::ifstream in(std::string(QUIRVEL_TEST_DATA) + "/corpus/" + File);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (!line.empty() && line.rfind("--", 0) != 0) lines.push_back(line);
  }
  return lines;
}

class Corpus : public testing::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    // Fixed rows: duplicate and NULL keys, texts of letters and digits (both engines order
    // them alike), doubles that are exact binary fractions (sums do not depend on order).
    Rows t, a, b, c;
    for (int64_t id = 1; id <= 2000; ++id)
      t.push_back({I(id), I((id * 7919) % 2003), id % 97 == 0 ? N() : I(id % 100),
                   id % 53 == 0 ? N() : S("n" + std::to_string(id % 37)),
                   id % 41 == 0 ? N() : D(static_cast<double>((id * 37) % 1000) / 8.0)});
    for (int64_t id = 1; id <= 60; ++id)
      a.push_back({I(id), id % 10 == 0 ? N() : I(id % 12), S("a" + std::to_string(id % 5)), D(id * 0.25)});
    for (int64_t id = 1; id <= 50; ++id)
      b.push_back({I(id), id % 9 == 0 ? N() : I((id * 5) % 15), S("b" + std::to_string(id % 4))});
    for (int64_t id = 1; id <= 12; ++id) c.push_back({I(id), id % 4 == 0 ? N() : I(id % 3 + 1), I(id * 3 % 7)});
    MakeTable("T",
              {{"ID", aftInteger}, {"K", aftInteger}, {"GRP", aftInteger}, {"NAME", aftString, 20},
               {"VAL", aftDouble}},
              t, {"K"});
    MakeTable("A", {{"ID", aftInteger}, {"X", aftInteger}, {"S", aftString, 10}, {"V", aftDouble}}, a);
    MakeTable("B", {{"ID", aftInteger}, {"Y", aftInteger}, {"M", aftString, 10}}, b);
    MakeTable("C", {{"ID", aftInteger}, {"SIZE", aftInteger}, {"Z", aftInteger}}, c);
    MakeTable("E", {{"ID", aftInteger}, {"Y", aftInteger}}, {});
  }
};

TEST_F(Corpus, SelectsAgreeWithSqlite) {
  const std::vector<std::string> lines = CorpusLines("select.sql");
  ASSERT_GE(lines.size(), 200u) << "the corpus file is missing or cut";
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) + "/corpus_report.txt");
  int failures = 0;
  for (const std::string& line : lines) {
    const size_t bar = line.find("|||");
    const std::string engine = Trim(line.substr(0, bar));
    const std::string peer = bar == std::string::npos ? engine : Trim(line.substr(bar + 3));
    std::string problem;
    Rows ours, theirs = Sqlite(peer);
    try {
      ours = Run(engine);
    } catch (const std::exception& e) {
      problem = std::string("raised: ") + e.what();
    }
    if (problem.empty() && !testing::SameRows(ours, theirs))
      problem = "engine:\n" + testing::RowsText(ours) + "sqlite:\n" + testing::RowsText(theirs);
    report << (problem.empty() ? "ok    " : "FAIL  ") << engine << " (" << theirs.size() << " rows)\n";
    if (!problem.empty()) {
      ++failures;
      ADD_FAILURE() << engine << "\n" << problem;
      report << problem << "\n";
    }
  }
  report << lines.size() << " statements, " << failures << " failed\n";
}

TEST_F(Corpus, IntendedDifferences) {
  const std::vector<std::string> lines = CorpusLines("differences.sql");
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    const size_t arrow = line.find("=>");
    ASSERT_NE(arrow, std::string::npos) << line;
    const std::string sql = Trim(line.substr(0, arrow));
    const std::string expected = Trim(line.substr(arrow + 2));
    std::string got;
    try {
      const Rows rows = Run(sql);
      for (size_t i = 0; i < rows.size(); ++i) {
        if (i) got += "; ";
        for (size_t j = 0; j < rows[i].size(); ++j) got += (j ? "|" : "") + testing::CellText(rows[i][j]);
      }
    } catch (const EORVException& e) {
      got = "error " + std::to_string(e.NativeError());
    }
    EXPECT_EQ(got, expected) << sql;
  }
}

}  // namespace
}  // namespace orv
