// Damaged statements: the data-changing and DDL statements of the corpus, cut short, with a
// word dropped, doubled or swapped, run through the processor. Each one runs or raises an
// error; none crashes, hangs or leaves the engine unusable (ASan and UBSan watch the runs).
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/sql/tests/sql_test_support.h"

namespace orv {
namespace {

using testing::I;
using testing::N;
using testing::S;

std::vector<std::string> Words(const std::string& Line) {
  std::istringstream in(Line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

class DmlMutation : public testing::SqlTest {};

TEST_F(DmlMutation, DamagedStatementsRunOrRaise) {
  std::ifstream in(std::string(QUIRVEL_TEST_DATA) + "/corpus/dml.sql");
  std::vector<std::vector<std::string>> statements;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.rfind("--", 0) == 0) continue;
    const size_t bar = line.find("|||");
    statements.push_back(Words(line.substr(0, bar)));
  }
  ASSERT_GE(statements.size(), 40u);
  // The column options and index forms the corpus does not use.
  for (const char* extra :
       {"CREATE TABLE Z (id AUTOINC(INTEGER, INCREMENT 2, INITIALVALUE 100, CYCLED), n INTEGER DEFAULT 1 + 2 NOT NULL, "
        "s VARCHAR(5) DEFAULT 'x' MINVALUE 'a' MAXVALUE 'z', b BLOB BLOBBLOCKSIZE 512 BLOBCOMPRESSIONALGORITHM ZLIB "
        "BLOBCOMPRESSIONMODE 6, PRIMARY KEY pk (id), UNIQUE INDEX (n DESC, s NOCASE))",
        "CREATE TABLE IF NOT EXISTS Z (a INTEGER UNIQUE, b WORD, INDEX named (b))",
        "ALTER TABLE Z ADD (IF NOT EXISTS c LARGEINT, INDEX (c))", "ALTER TABLE Z MODIFY (c INTEGER NULL)",
        "ALTER TABLE Z RENAME COLUMN c TO d", "ALTER TABLE Z DROP (d)", "RENAME TABLE Z TO Y", "DROP TABLE IF EXISTS Y",
        "TRUNCATE TABLE ITEMS", "CREATE UNIQUE INDEX ux ON ITEMS (ID DESC, NAME NOCASE)", "DROP INDEX ITEMS.ux",
        "UPDATE ITEMS x SET ITEMS.QTY = 1 WHERE x.ID = 1", "INSERT INTO MEMORY ITEMS (ID) VALUES (1)",
        "COMMIT WORK FLUSH"})
    statements.push_back(Words(extra));
  std::mt19937 rng(37);
  int raised = 0, ran = 0;
  for (int round = 0; round < 1000; ++round) {
    // Fresh tables now and then, so that the statements meet tables that exist.
    if (round % 50 == 0) {
      for (const char* drop : {"DROP TABLE ITEMS", "DROP TABLE GROUPS", "DROP TABLE KINDS"}) Run(drop);
      Run("CREATE TABLE ITEMS (ID INTEGER, GRP INTEGER, QTY INTEGER, PRICE DOUBLE, NAME VARCHAR(20))");
      Run("CREATE TABLE GROUPS (GID INTEGER, LABEL VARCHAR(10), FACTOR INTEGER)");
      Run("INSERT INTO ITEMS VALUES (1, 1, 10, 1.5, 'bolt'), (2, 2, NULL, 2.5, 'nut')");
      Run("INSERT INTO GROUPS VALUES (1, 'one', 2), (2, 'two', NULL)");
    }
    std::vector<std::string> w = statements[rng() % statements.size()];
    const size_t at = rng() % w.size();
    switch (rng() % 4) {
      case 0: w.resize(at + 1); break;                          // cut short
      case 1: w.erase(w.begin() + static_cast<std::ptrdiff_t>(at)); break;  // a word dropped
      case 2: w.insert(w.begin() + static_cast<std::ptrdiff_t>(at), w[at]); break;  // doubled
      default: std::swap(w[at], w[rng() % w.size()]); break;     // swapped
    }
    std::string sql;
    for (const std::string& word : w) sql += (sql.empty() ? "" : " ") + word;
    try {
      Run(sql);
      ++ran;
    } catch (const std::exception&) {
      ++raised;
    }
  }
  EXPECT_GT(raised, 0);
  EXPECT_GT(ran, 0);
  // The engine still answers (whatever tables the damaged statements left).
  Run("DROP TABLE IF EXISTS CHECKED");
  Run("CREATE TABLE CHECKED (A INTEGER)");
  Run("INSERT INTO CHECKED VALUES (1), (2)");
  EXPECT_EQ(testing::RowsText(Run("SELECT SUM(A) FROM CHECKED")), "3\n");
}

}  // namespace
}  // namespace orv
