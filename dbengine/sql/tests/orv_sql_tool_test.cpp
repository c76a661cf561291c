// orvsql over a database file that orvtool made: -e texts and script files run in order, each
// result set printed as TSV rows and an empty line; an error stops the run with result 1.
#include "dbengine/sql/tools/orv_sql_tool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dbengine/access/tools/orv_tool.h"
#include "dbengine/file/tests/disk_test_util.h"

namespace orv::tools {
namespace {

TEST(OrvSql, RunsTextsAndScriptsInOrder) {
  orv::testing::ScratchDir dir;
  const std::string db = dir.File("q.odb");
  std::istringstream none;
  std::ostringstream out, err;
  ASSERT_EQ(RunOrvTool({"create", db}, none, out, err), 0) << err.str();
  std::istringstream rows("1\tone\t1.5\n2\ttwo\t\\N\n3\tthree\t-2\n");
  ASSERT_EQ(RunOrvTool({"load", db, "T", "ID:INTEGER,NAME:VARCHAR(10),V:DOUBLE"}, rows, out, err), 0) << err.str();
  const std::string script = dir.File("s.sql");
  std::ofstream(script) << "SELECT ID FROM T WHERE ID = 1;\n(SELECT NAME FROM T WHERE V IS NULL)\n";

  std::ostringstream result, errors;
  EXPECT_EQ(RunOrvSql({db, "-e", "SELECT ID, NAME, V FROM T ORDER BY ID DESC", script, "-e",
                       "select count(*) as n from T"},
                      result, errors),
            0)
      << errors.str();
  EXPECT_EQ(result.str(), "3\tthree\t-2\n2\ttwo\t\\N\n1\tone\t1.5\n\ntwo\n\n3\n\n")
      << "a script is one query: its last statement's rows are printed";

  std::ostringstream partial, failure;
  EXPECT_EQ(RunOrvSql({db, "-e", "SELECT ID FROM T WHERE ID = 2", "-e", "SELECT NOPE FROM T"}, partial, failure), 1);
  EXPECT_EQ(partial.str(), "2\n\n");
  EXPECT_NE(failure.str().find("NOPE"), std::string::npos) << failure.str();
  std::ostringstream usage;
  EXPECT_EQ(RunOrvSql({db, "-e"}, partial, usage), 1);
  EXPECT_NE(usage.str().find("usage: orvsql"), std::string::npos);
  std::ostringstream missing;
  EXPECT_EQ(RunOrvSql({db, "-e", "UPDATE T SET ID = 1"}, partial, missing), 1);
  EXPECT_NE(missing.str().find("UPDATE"), std::string::npos) << missing.str();
}

}  // namespace
}  // namespace orv::tools
