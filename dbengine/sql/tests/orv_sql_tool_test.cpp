// orvsql: rows loaded from TSV files, filtered on MEMORY and in a database file that the first
// run creates; -e texts and script files over a database file that orvtool made, run in order,
// each result set printed as TSV rows and an empty line; an error stops the run with result 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/access/tools/orv_tool.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "dbengine/sql/tools/orv_sql_tool.h"

namespace orv {
namespace {

struct Result {
  int code;
  std::string out, err;
};

Result RunSql(const std::vector<std::string>& Args) {
  std::ostringstream out, err;
  const int code = tools::RunOrvSql(Args, out, err);
  return {code, out.str(), err.str()};
}

class OrvSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(tsv) << "1\tp1-a\t2023-03-12 08:00:00\t\\N\n"
                          "2\tp2-b\t2023-03-13 09:30:00\tJ2\n"
                          "3\tp1-c\t2023-03-20 00:00:00\tJ3\n"
                          "4\tP1-d\t2023-03-21 12:00:00\t\\N\n";
  }
  testing::ScratchDir dir;
  std::string tsv = dir.File("plates.tsv");
  const std::string spec = "ID:INTEGER,Plate:VARCHAR(20),DateTime:TIMESTAMP,JOBID:VARCHAR(10)";
};

TEST_F(OrvSqlTest, FiltersTablesOnMemory) {
  const Result r = RunSql({"--load", "P", spec, tsv, "--index", "P", "ByPlate", "Plate", "--filter", "P",
                           "Plate LIKE 'p1%' AND JOBID LIKE '%' AND DateTime < '2023-03-21'"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "1\tp1-a\t2023-03-12 08:00:00\t\\N\n"
            "3\tp1-c\t2023-03-20 00:00:00\tJ3\n");
}

TEST_F(OrvSqlTest, CreatesAMissingDatabaseFileAndFiltersItLater) {
  const std::string db = dir.File("new.orv");
  Result r = RunSql({"--db", db, "--load", "P", spec, tsv, "--filter", "P", "ID >= 4"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "4\tP1-d\t2023-03-21 12:00:00\t\\N\n");
  EXPECT_TRUE(std::filesystem::exists(db));
  r = RunSql({"--db", db, "--filter", "P", "JOBID IS NULL"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\tp1-a\t2023-03-12 08:00:00\t\\N\n4\tP1-d\t2023-03-21 12:00:00\t\\N\n");
}

TEST_F(OrvSqlTest, ErrorsAreReportedWithResultOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {std::vector<std::string>{}, "nothing to do"},
      {{"--filter", "P"}, "--filter takes 2 arguments"},
      {{"--frobnicate"}, "unknown option"},
      {{"--load", "P", spec, dir.File("missing.tsv"), "--filter", "P", "ID = 1"}, "cannot open"},
      {{"--load", "P", spec, tsv, "--filter", "P", "Nobody = 1"}, "Nobody"},
      {{"--filter", "Q", "ID = 1"}, "Q"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = RunSql(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

TEST(OrvSql, RunsTextsAndScriptsInOrder) {
  testing::ScratchDir dir;
  const std::string db = dir.File("q.odb");
  std::istringstream none;
  std::ostringstream out, err;
  ASSERT_EQ(tools::RunOrvTool({"create", db}, none, out, err), 0) << err.str();
  std::istringstream rows("1\tone\t1.5\n2\ttwo\t\\N\n3\tthree\t-2\n");
  ASSERT_EQ(tools::RunOrvTool({"load", db, "T", "ID:INTEGER,NAME:VARCHAR(10),V:DOUBLE"}, rows, out, err), 0) << err.str();
  const std::string script = dir.File("s.sql");
  std::ofstream(script) << "SELECT ID FROM T WHERE ID = 1;\n(SELECT NAME FROM T WHERE V IS NULL)\n";

  std::ostringstream result, errors;
  EXPECT_EQ(tools::RunOrvSql({"--db", db, "-e", "SELECT ID, NAME, V FROM T ORDER BY ID DESC", script, "-e",
                       "select count(*) as n from T"},
                      result, errors),
            0)
      << errors.str();
  EXPECT_EQ(result.str(), "3\tthree\t-2\n2\ttwo\t\\N\n1\tone\t1.5\n\ntwo\n\n3\n\n")
      << "a script is one query: its last statement's rows are printed";

  std::ostringstream partial, failure;
  EXPECT_EQ(tools::RunOrvSql({"--db", db, "-e", "SELECT ID FROM T WHERE ID = 2", "-e", "SELECT NOPE FROM T"}, partial, failure), 1);
  EXPECT_EQ(partial.str(), "2\n\n");
  EXPECT_NE(failure.str().find("NOPE"), std::string::npos) << failure.str();
  std::ostringstream usage;
  EXPECT_EQ(tools::RunOrvSql({"--db", db, "-e"}, partial, usage), 1);
  EXPECT_NE(usage.str().find("usage: orvsql"), std::string::npos);
  std::ostringstream missing;
  EXPECT_EQ(tools::RunOrvSql({"--db", db, "-e", "UPDATE T SET NOPE = 1"}, partial, missing), 1);
  EXPECT_NE(missing.str().find("NOPE"), std::string::npos) << missing.str();
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST(OrvSql, ChangesAndKeepGoing) {
  testing::ScratchDir dir;
  const std::string db = dir.File("c.odb");
  // The file is made by the first run; a rolled-back insert leaves nothing behind.
  Result r = RunSql({"--db", db, "--changes", "-e", "CREATE TABLE T (ID INTEGER, NAME VARCHAR(8))", "-e",
                     "INSERT INTO T VALUES (1, 'a'), (2, 'b'), (3, 'c')", "-e", "UPDATE T SET NAME = 'x' WHERE ID > 1",
                     "-e", "START TRANSACTION", "-e", "DELETE FROM T", "-e", "ROLLBACK", "-e",
                     "SELECT ID, NAME FROM T ORDER BY ID"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "changes: 0\nchanges: 3\nchanges: 2\nchanges: 0\nchanges: 3\nchanges: 0\n1\ta\n2\tx\n3\tx\n\n");

  // Without --keep-going the first failure ends the run; with it the rest still runs.
  r = RunSql({"--db", db, "-e", "DELETE FROM T WHER ID = 1", "-e", "DELETE FROM T WHERE ID = 1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("20260"), std::string::npos) << r.err;
  r = RunSql({"--db", db, "--keep-going", "--changes", "-e", "DELETE FROM T WHER ID = 1", "-e",
              "INSERT INTO T (ID) VALUES (4, 5)", "-e", "DELETE FROM T WHERE ID = 1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "changes: 1\n");
  EXPECT_NE(r.err.find("20259"), std::string::npos) << r.err;
  EXPECT_EQ(RunSql({"--db", db, "-e", "SELECT COUNT(*) FROM T"}).out, "2\n\n");
}

}  // namespace
}  // namespace orv
