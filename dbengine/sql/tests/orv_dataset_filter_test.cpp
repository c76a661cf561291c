// The table component's filters and searches over MEMORY tables with the expression engine
// linked in: the archive window's filter, Filter/Filtered/OnFilterRecord, FindFirst/FindNext,
// Locate and Lookup, the hooks of the SQL layer, and the random filter corpus through a
// dataset Filter against SQLite.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/access/tests/access_test_support.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/tests/filter_corpus.h"
#include "platform/base/datetime.h"
#include "platform/data/date_time_text.h"
#include "platform/data/exception_handler.h"

namespace orv {
namespace {

using namespace platform::data;
using testing::Ids;

struct Column {
  std::string name;
  TFieldType type;
  int size = 0;
};

// A table component on MEMORY over a new table of the columns, closed. (The access tests'
// helper of the same purpose is not shared: its index list type clashes with the one of the
// filter tests here.)
std::unique_ptr<TORVTable> MakeTable(const std::string& TableName, const std::vector<Column>& Columns) {
  auto table = std::make_unique<TORVTable>();
  table->SetName(TableName + "Table");
  table->SetDatabaseName("MEMORY");
  table->SetTableName(TableName);
  for (const Column& c : Columns) table->FieldDefs().Add(c.name, c.type, c.size, false);
  table->CreateTable();
  return table;
}

class DataSetFilterTest : public testing::EngineTest {
 protected:
  // The rows the filtered (or unfiltered) dataset shows, as their IDs.
  static Ids VisibleIds(TORVTable& Table) {
    Ids ids;
    for (Table.First(); !Table.Eof(); Table.Next()) ids.push_back(Table.FieldByName("ID")->AsInteger());
    return ids;
  }
  static int64_t CurrentId(TORVTable& Table) { return Table.FieldByName("ID")->AsInteger(); }

  TORVScopedExpressionEngine expressions;
};

// ---- the measurement archive -----------------------------------------------------------------

// 60 archive rows, one every 11 hours from 2023-03-10 08:00; JOBID NULL on every fourth row;
// Plate "p1-<i>", "p2-<i>" or "P1-<i>" (another case); Algorithm one of three.
struct ArchiveRow {
  int id;
  TDateTime stamp;
  bool job_null;
  std::string plate;
  std::string algorithm;
};

std::vector<ArchiveRow> ArchiveRows() {
  static const char* const kAlgorithms[] = {"Standard", "Fine", "Coarse"};
  std::vector<ArchiveRow> rows;
  const TDateTime start = platform::EncodeDate(2023, 3, 10) + platform::EncodeTime(8, 0, 0, 0);
  for (int i = 0; i < 60; ++i) {
    const std::string prefix = i % 3 == 0 ? "p1-" : i % 3 == 1 ? "p2-" : "P1-";
    rows.push_back({i + 1, start + i * 11.0 / 24.0, i % 4 == 0, prefix + std::to_string(i), kAlgorithms[(i / 2) % 3]});
  }
  return rows;
}

std::unique_ptr<TORVTable> MakeArchive() {
  auto table = MakeTable("ARCHIVE",
                                  {{"ID", ftInteger},
                                   {"DateTime", ftDateTime},
                                   {"JOBID", ftString, 20},
                                   {"Plate", ftString, 20},
                                   {"Operator", ftString, 20},
                                   {"Algorithm", ftString, 20},
                                   {"Day", ftDate}});
  table->Open();
  for (const ArchiveRow& r : ArchiveRows()) {
    table->AppendRecord({r.id, Variant::FromDate(r.stamp),
                         r.job_null ? Variant::Null() : Variant("J" + std::to_string(r.id)), r.plate,
                         Variant("op"), r.algorithm, Variant::FromDate(45000 + r.id % 7)});
  }
  return table;
}

TEST_F(DataSetFilterTest, TheArchiveWindowsFilterSelectsTheKnownRows) {
  auto table = MakeArchive();
  // As the archive window writes it: the dates in the process's short date format (the
  // engine reads year, month, day) with the whole days,
  // the edits' texts as typed, and two algorithms.
  const std::string filter = std::string("DateTime >= \"") + DateToStr(platform::EncodeDate(2023, 3, 12)) +
                             " 00:00:00\" AND DateTime <= \"" + DateToStr(platform::EncodeDate(2023, 3, 25)) +
                             " 23:59:59\" AND JOBID LIKE \"%\" AND Plate LIKE \"p1%\" AND Operator LIKE \"%\" AND "
                             "(Algorithm = \"Standard\" OR Algorithm = \"Coarse\")";
  ASSERT_EQ(DateToStr(platform::EncodeDate(2023, 3, 12)), "2023-03-12");
  Ids expected;
  const TDateTime from = platform::EncodeDate(2023, 3, 12);
  const TDateTime to = platform::EncodeDate(2023, 3, 25) + platform::EncodeTime(23, 59, 59, 0);
  for (const ArchiveRow& r : ArchiveRows())
    if (r.stamp >= from && r.stamp <= to && r.plate.rfind("p1", 0) == 0 &&
        (r.algorithm == "Standard" || r.algorithm == "Coarse"))
      expected.push_back(r.id);
  ASSERT_EQ(expected.size(), 5u) << "the rows are laid out for this count";
  bool null_job_among_them = false;
  for (const ArchiveRow& r : ArchiveRows())
    for (int64_t id : expected) null_job_among_them |= r.id == id && r.job_null;
  ASSERT_TRUE(null_job_among_them) << "JOBID LIKE \"%\" must be shown to match a NULL";

  table->SetFilterText(filter);
  EXPECT_EQ(table->RecordCount(), 60) << "setting the text alone does not filter";
  table->SetFiltered(true);
  EXPECT_EQ(table->RecordCount(), 5);
  EXPECT_EQ(VisibleIds(*table), expected);
  table->SetFiltered(false);
  EXPECT_EQ(table->RecordCount(), 60);
}

TEST_F(DataSetFilterTest, SettingTheFilterWhileFilteredRefiltersAndMovesToTheFirstRecord) {
  auto table = MakeArchive();
  table->SetFilterText("ID > 50");
  table->SetFiltered(true);
  table->Last();
  EXPECT_EQ(CurrentId(*table), 60);
  table->SetFilterText("ID <= 3");
  EXPECT_EQ(CurrentId(*table), 1);
  EXPECT_EQ(VisibleIds(*table), (Ids{1, 2, 3}));
  // The options refilter too: without case, "P1-2" matches.
  table->SetFilterText("Plate = 'P1-2'");
  EXPECT_EQ(table->RecordCount(), 1);
  table->SetFilterOptions(TFilterOptions{foCaseInsensitive});
  EXPECT_EQ(table->RecordCount(), 1);
  table->SetFilterText("Plate = 'p1-2'");
  EXPECT_EQ(VisibleIds(*table), Ids{3});
  // A bad text: the parser's error, the dataset open and unfiltered by the old expression.
  EXPECT_THROW(table->SetFilterText("Nobody = 1"), EORVException);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->RecordCount(), 60);
}

TEST_F(DataSetFilterTest, FindFirstSearchesWithTheFilterAndLeavesTheDatasetUnfiltered) {
  auto table = MakeArchive();
  table->SetFilterText("Plate LIKE 'p2%' AND ID > 10");
  EXPECT_TRUE(table->FindFirst());
  EXPECT_EQ(CurrentId(*table), 11);
  EXPECT_TRUE(table->FindNext());
  EXPECT_EQ(CurrentId(*table), 14);
  EXPECT_TRUE(table->FindLast());
  EXPECT_EQ(CurrentId(*table), 59);
  EXPECT_TRUE(table->FindPrior());
  EXPECT_EQ(CurrentId(*table), 56);
  EXPECT_FALSE(table->Filtered());
  EXPECT_EQ(table->RecordCount(), 60);
  table->Next();
  EXPECT_EQ(CurrentId(*table), 57) << "navigation sees every record again";
  table->SetFilterText("ID > 100");
  table->First();
  EXPECT_FALSE(table->FindFirst());
  EXPECT_EQ(CurrentId(*table), 1) << "the record stays when nothing is found";
}

TEST_F(DataSetFilterTest, ARaisingOnFilterRecordIsReportedAndTheScanGoesOn) {
  std::vector<std::string> reported;
  SetExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
  auto table = MakeArchive();
  table->SetFilterText("ID <= 8");
  table->SetFiltered(true);
  // Assigned while Filtered: takes effect at once.
  table->SetOnFilterRecord([](TDataSet& ds, bool& accept) {
    const int id = ds.FieldByName("ID")->AsInteger();
    if (id == 3) throw std::runtime_error("bad record 3");  // accepted: Accept was still True
    if (id == 5) {
      accept = false;
      throw std::runtime_error("bad record 5");  // refused: Accept was set first
    }
    accept = id % 2 == 1;
  });
  const Ids ids = VisibleIds(*table);
  SetExceptionHandler(nullptr);
  EXPECT_EQ(ids, (Ids{1, 3, 7}));
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported.front(), "bad record 3");
  // Removing the handler shows the records the expression accepts.
  table->SetOnFilterRecord(nullptr);
  EXPECT_EQ(table->RecordCount(), 8);
}

TEST_F(DataSetFilterTest, LocateFindsDateTimesPartialKeysAndDates) {
  auto table = MakeArchive();
  const std::vector<ArchiveRow> rows = ArchiveRows();
  // The chart click: the exact date-time of a point.
  EXPECT_TRUE(table->Locate("DateTime", Variant::FromDate(rows[41].stamp), {}));
  EXPECT_EQ(CurrentId(*table), 42);
  EXPECT_FALSE(table->Locate("DateTime", Variant::FromDate(rows[41].stamp + 1.0 / 86400), {}));
  EXPECT_EQ(CurrentId(*table), 42) << "a failed Locate does not move";
  // A prefix of the stored text with loPartialKey; without it only the whole text.
  EXPECT_TRUE(table->Locate("Plate", Variant("p2-1"), TLocateOptions{loPartialKey}));
  EXPECT_EQ(CurrentId(*table), 2) << "p2-1";
  EXPECT_TRUE(table->Locate("Plate", Variant("p2-2"), TLocateOptions{loPartialKey}));
  EXPECT_EQ(CurrentId(*table), 23) << "p2-22";
  EXPECT_FALSE(table->Locate("Plate", Variant("p2-2"), {}));
  EXPECT_TRUE(table->Locate("Plate", Variant("P2-2"), TLocateOptions{loPartialKey, loCaseInsensitive}));
  EXPECT_EQ(CurrentId(*table), 23);
  // A number on a date field counts days.
  EXPECT_TRUE(table->Locate("Day", Variant(45000), {}));
  EXPECT_EQ(CurrentId(*table), 7);
  // Two fields, an array of values.
  EXPECT_TRUE(table->Locate("Algorithm;Plate", VarArrayOf({"Standard", "p1-12"}), {}));
  EXPECT_EQ(CurrentId(*table), 13);
  // Inside the filtered view only.
  table->SetFilterText("ID > 20");
  table->SetFiltered(true);
  EXPECT_FALSE(table->Locate("Plate", Variant("p1-12"), {}));
  EXPECT_TRUE(table->Locate("Plate", Variant("p1-24"), {}));
  EXPECT_EQ(CurrentId(*table), 25);
}

TEST_F(DataSetFilterTest, LocatePostsAPendingEditAndNeedsAnOpenDataset) {
  auto table = MakeArchive();
  table->First();
  table->Edit();
  table->FieldByName("Plate")->SetAsString("edited");
  EXPECT_TRUE(table->Locate("Plate", Variant("edited"), {}));
  EXPECT_EQ(table->State(), dsBrowse);
  EXPECT_EQ(CurrentId(*table), 1);
  table->Close();
  try {
    table->Locate("ID", Variant(1), {});
    ADD_FAILURE() << "Locate on a closed dataset";
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 10271);
    EXPECT_NE(std::string(e.what()).find("Cannot perform LOCATE on a closed dataset"), std::string::npos);
  }
}

TEST_F(DataSetFilterTest, LookupGivesValuesOrNullWithoutMoving) {
  auto table = MakeArchive();
  table->Locate("ID", Variant(30), {});
  EXPECT_TRUE(table->Lookup("ID", Variant(9999), "Plate").IsNull());
  EXPECT_EQ(CurrentId(*table), 30);
  EXPECT_EQ(table->Lookup("ID", Variant(6), "Plate").AsString(), "P1-5");
  const Variant both = table->Lookup("Plate", Variant("p2-7"), "ID;Algorithm");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both[0].AsInteger(), 8);
  EXPECT_EQ(both[1].AsString(), "Standard");
  EXPECT_EQ(CurrentId(*table), 30);
  EXPECT_EQ(table->FieldByName("Plate")->AsString(), "P1-29");
  table->Next();
  EXPECT_EQ(CurrentId(*table), 31) << "the cursor is back where the dataset shows";
}

TEST_F(DataSetFilterTest, TheHooksOfTheSqlLayer) {
  auto table = MakeArchive();
  EXPECT_FALSE(table->IsDistinctApplied());
  // A parsed WHERE expression besides the filter text.
  TORVExpression where;
  where.ParseForFilter(table->Handle(), "ID <= 10", false, true);
  table->SetSQLFilter(&where, nullptr, nullptr);
  table->Refresh();
  table->SetFilterText("Plate LIKE 'p1%'");
  table->SetFiltered(true);
  EXPECT_EQ(VisibleIds(*table), (Ids{1, 4, 7, 10}));
  table->SetSQLFilter(nullptr, nullptr, nullptr);
  table->SetFiltered(false);

  // Typed values of the active record.
  table->Locate("ID", Variant(4), {});
  TORVVariant value;
  table->GetFieldValue(value, 3, false);
  EXPECT_EQ(value.GetDataAsAnsiString(), "p1-3");
  TORVVariant text(bftVarchar);
  text.SetDataAsAnsiString("changed");
  table->Edit();
  table->SetFieldValue(text, 3, false);
  table->Post();
  EXPECT_EQ(table->FieldByName("Plate")->AsString(), "changed");

  // A projection: the visible fields are the named ones under their aliases.
  EXPECT_THROW(table->ApplyProjection({"ID", "Nope"}, {"", ""}), EORVException);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->FieldCount(), 7);
  table->ApplyProjection({"Plate", "ID"}, {"P", ""});
  ASSERT_TRUE(table->Active());
  ASSERT_EQ(table->FieldCount(), 2);
  EXPECT_EQ(table->Fields()[0]->FieldName(), "P");
  EXPECT_EQ(table->RecordCount(), 60);
  EXPECT_TRUE(table->Locate("ID", Variant(4), {}));
  EXPECT_EQ(table->FieldByName("P")->AsString(), "changed");
  table->Close();
}

TEST_F(DataSetFilterTest, CopyFieldValueNeedsBothDatasets) {
  auto source = MakeArchive();
  auto dest = MakeTable("COPY", {{"Plate", ftString, 20}});
  dest->Open();
  source->Locate("ID", Variant(2), {});
  dest->Append();
  source->CopyFieldValue(3, false, 0, dest.get());
  dest->Post();
  EXPECT_EQ(dest->FieldByName("Plate")->AsString(), "p2-1");
  try {
    source->CopyFieldValue(3, false, 0, nullptr);
    ADD_FAILURE();
  } catch (const EORVException& e) {
    EXPECT_EQ(e.NativeError(), 10503);
  }
}

// ---- the filter corpus through a dataset Filter ------------------------------------------------

TEST_F(DataSetFilterTest, RandomConditionsThroughAFilterSelectWhatSqliteSelects) {
  const std::vector<testing::Row> rows = testing::MakeRows(2000, 20240611);
  testing::SqliteRows sqlite(rows);
  auto table = MakeTable("T",
                                  {{"ID", ftInteger},
                                   {"A", ftInteger},
                                   {"B", ftInteger},
                                   {"F", ftFloat},
                                   {"S", ftString, 8},
                                   {"T", ftString, 8}});
  table->Open();
  int id = 0;
  for (const testing::Row& r : rows)
    table->AppendRecord({++id, Variant(static_cast<long long>(r.a)),
                         r.b ? Variant(static_cast<long long>(*r.b)) : Variant::Null(),
                         r.f ? Variant(*r.f) : Variant::Null(), r.s, r.t ? Variant(*r.t) : Variant::Null()});
  table->SetFiltered(true);
  testing::Conditions conditions(7);
  std::filesystem::create_directories(QUIRVEL_TEST_OUTPUT);
  std::ofstream report(std::string(QUIRVEL_TEST_OUTPUT) + "/dataset_filters_vs_sqlite.tsv");
  report << "condition\trows (dataset)\trows (sqlite)\n";
  int differences = 0;
  for (int i = 0; i < 300; ++i) {
    const std::string where = conditions.Condition(3).text;
    SCOPED_TRACE(where);
    Ids engine;
    try {
      table->SetFilterText(where);
      engine = VisibleIds(*table);
      if (i % 5 == 0) EXPECT_EQ(table->RecordCount(), static_cast<int>(engine.size()));
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    const Ids expected = sqlite.Select(where);
    report << where << "\t" << engine.size() << "\t" << expected.size() << "\n";
    if (engine != expected && ++differences <= 10)
      ADD_FAILURE() << "the dataset shows " << engine.size() << " rows, SQLite selects " << expected.size();
  }
  EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace orv
