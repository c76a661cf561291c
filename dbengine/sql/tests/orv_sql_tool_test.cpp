// orvsql --filter: rows loaded from TSV files, filtered on MEMORY and in a database file that
// the first run creates.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
      {std::vector<std::string>{}, "--filter is missing"},
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

}  // namespace
}  // namespace orv
