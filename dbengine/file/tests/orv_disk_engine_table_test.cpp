#include "dbengine/file/orv_disk_engine_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "dbengine/file/orv_disk_engine_check.h"
#include "dbengine/file/tests/disk_cursor.h"
#include "dbengine/file/tests/disk_rows.h"
#include "dbengine/file/tests/disk_test_util.h"

namespace orv {
namespace {

using testing::CheckDbFiles;
using testing::CodeOf;
using testing::DiskTable;
using testing::DiskTestCursor;
using testing::InsertRowsRow;
using testing::IsRowsRow;
using testing::RowImage;
using testing::RowsIds;

class DiskTableTest : public testing::DiskFileTest {
 protected:
  static DatabaseCheckReport Check(TORVDiskDatabaseData& db) { return CheckDatabase(db); }
};

std::string ReadTableTool(const std::string& path, const std::string& table, const std::string& mode = "") {
  std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/read_table.py' '" + path + "' '" + table + "'";
  if (!mode.empty()) command += " " + mode;
  const auto r = quirvel::testing::RunTool(command);
  return std::to_string(r.exit_code) + "\n" + r.output;
}

// The table the tests leave for an outsider: rows 1-2000 inserted, the multiples of 10
// deleted, committed and closed; an independent reader finds every row as its ID says.
TEST_F(DiskTableTest, TheRowsTableReadsBackThroughTheEngineAndFromOutside) {
  const std::string folder = std::string(QUIRVEL_TEST_OUTPUT) + "/file";
  std::filesystem::create_directories(folder);
  const std::string rows = folder + "/rows.orv";
  std::vector<int32_t> kept;
  {
    DiskTable t(rows);
    DiskTestCursor& c = testing::CreateRows(t);
    for (int32_t id = 1; id <= 2000; ++id) ASSERT_EQ(InsertRowsRow(c, id), 0) << id;
    c.InternalFirst();
    TORVGetRecordResult read = c.GetRecordBuffer(grmNext);
    while (read == grrOK) {
      if (c.GetInt("ID").value() % 10 != 0) {
        read = c.GetRecordBuffer(grmNext);
        continue;
      }
      c.InternalDelete();
      ASSERT_EQ(c.FErrorCode, 0);
      // The cursor stands on the deleted record's neighbour now.
      read = c.FirstPosition ? grrEOF : c.GetRecordBuffer(grmCurrent);
    }
    for (int32_t id = 1; id <= 2000; ++id)
      if (id % 10 != 0) kept.push_back(id);
    EXPECT_EQ(c.GetRecordCount(), 1800);
    const DatabaseCheckReport report = CheckDatabase(*t.db);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.LeakedPages, 0) << report.Text();
    EXPECT_EQ(report.OrphanBlobs, 0) << report.Text();
  }
  {
    DiskTable t(rows, false, 4096, false);
    DiskTestCursor& c = t.Open("ROWS");
    std::vector<int32_t> ids = RowsIds(c);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, kept);
  }
  const std::string out = ReadTableTool(rows, "ROWS", "rows");
  EXPECT_EQ(out.substr(0, 2), "0\n") << out;
  EXPECT_NE(out.find("rows=1800 small=500 large=900"), std::string::npos) << out;
}

}  // namespace
}  // namespace orv
