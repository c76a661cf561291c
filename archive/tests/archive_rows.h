#pragma once
// An archive file of our engine filled with rows the tests choose text by text, for the
// export, filter and plot tests; and the same rows as SQL for sqlite3, the outside judge of
// which rows a filter keeps.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/hr_db_data.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/file/tests/disk_test_util.h"
#include "dbengine/sql/orv_expressions.h"
#include "platform/ui/scripted_ui.h"

namespace archive::testing {

// One row: its date-time as text ("2026-12-10 14:30:05") and its texts by column; columns
// left out stay NULL.
struct Row {
  std::string DateTime;
  std::map<std::string, std::string> Texts;
  std::map<std::string, int> Integers;
};

platform::TDateTime ParseDateTime(const std::string& text);

// Appends the rows to a table of the archive.
void AddRows(orv::TORVTable& table, const std::vector<Row>& rows);

// `count` rows of the given tab's table with a mix of dates, jobs (quotes, apostrophes, µ),
// plates, operators and that tab's measurement types, values varying from row to row.
std::vector<Row> MixedRows(HistoryTab tab, int count);

// A text as an SQL string literal (quotes doubled).
std::string SqlText(const std::string& s);

// The rows as an sqlite3 script creating table T (DateTime as "yyyy-mm-dd hh:mm:ss" text).
std::string SqliteScript(const std::vector<Row>& rows);

// The build tree's test-output/archive folder.
std::string OutputDir();

class ArchiveFixture {
 public:
  ArchiveFixture();
  ~ArchiveFixture();
  THRDBData& Data() { return *data_; }
  const orv::testing::ScratchDir& Dir() const { return dir_; }

 private:
  platform::ui::ScriptedUi ui_;
  platform::ui::ScopedServices scoped_ui_{ui_};
  orv::testing::ScratchDir dir_;
  orv::TORVEngine engine_;
  // Filters are expressions of the SQL layer, registered as the program does at its start.
  orv::TORVScopedExpressionEngine expressions_;
  std::unique_ptr<THRDBData> data_;
};

}  // namespace archive::testing
