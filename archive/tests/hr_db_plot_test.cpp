// The archive window's filter text and plot points on real archive files; sqlite3, loaded with
// the same rows, judges which rows a filter keeps.
#include "archive/hr_db_plot.h"

#include <gtest/gtest.h>

#include <fstream>

#include "analysis/analyze.h"
#include "archive/tests/archive_rows.h"
#include "cmake/test_tools.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/data/field.h"

namespace archive {
namespace {

using testing::AddRows;
using testing::ArchiveFixture;
using testing::ParseDateTime;
using testing::Row;

TEST(ArchiveFilterText, IsTheEnginesFilterWithQuotesDoubled) {
  ArchiveFilterInput in;
  in.From = platform::EncodeDate(2017, 1, 1) + 0.75;  // times of day do not count
  in.To = platform::EncodeDate(2026, 12, 10) + 0.2;
  in.Alg1 = "MASK PIXELPATTERN";
  EXPECT_EQ(ArchiveFilterText(in),
            "DateTime >= \"2017-01-01 00:00:00\" AND DateTime <= \"2026-12-10 23:59:59\" AND JOBID LIKE \"%\" AND "
            "Plate LIKE \"%\" AND Operator LIKE \"%\" AND (Algorithm = \"MASK PIXELPATTERN\")");
  in.JobID = "Job \"A\"";
  in.User = "O'N%";
  in.Alg2 = "MASK DOT AREA";
  EXPECT_EQ(ArchiveFilterText(in),
            "DateTime >= \"2017-01-01 00:00:00\" AND DateTime <= \"2026-12-10 23:59:59\" AND JOBID LIKE "
            "\"Job \"\"A\"\"\" AND Plate LIKE \"%\" AND Operator LIKE \"O'N%\" AND (Algorithm = \"MASK PIXELPATTERN\" "
            "OR Algorithm = \"MASK DOT AREA\")");
}

TEST(ArchivePlotTable, RoutinesOfTheTabEntries) {
  EXPECT_EQ(RoutineFor(HistoryTab::MASK, 0), PlotRoutine::MaskWSI);
  EXPECT_EQ(RoutineFor(HistoryTab::MASK, 3), PlotRoutine::MaskLine);
  EXPECT_EQ(RoutineFor(HistoryTab::PLATE, 3), PlotRoutine::Plate);
  EXPECT_EQ(RoutineFor(HistoryTab::PLATE, 4), PlotRoutine::PlateLine);
  EXPECT_EQ(RoutineFor(HistoryTab::STRUCTURE, 1), PlotRoutine::Struct);
  EXPECT_EQ(RoutineFor(HistoryTab::STRUCTURE, 2), PlotRoutine::StructMG);
  EXPECT_EQ(RoutineFor(HistoryTab::FILM, 2), PlotRoutine::Film);
  EXPECT_THROW(RoutineFor(HistoryTab::FILM, 3), std::out_of_range);
  EXPECT_EQ(TypesOfTab(HistoryTab::PLATE).Count(), 5);
}

class ArchiveFilterTest : public ::testing::Test {
 protected:
  ArchiveFixture fx;
  THRDBData& data = fx.Data();

  int CountRows(orv::TORVTable& t) {
    int n = 0;
    for (t.First(); !t.Eof(); t.Next()) ++n;
    return n;
  }
};

TEST_F(ArchiveFilterTest, KeepsTheRowsSqliteKeeps) {
  const auto rows = testing::MixedRows(HistoryTab::PLATE, 400);
  AddRows(data.PLATETAB(), rows);
  const std::string script = fx.Dir().File("rows.sql");
  std::ofstream(script) << testing::SqliteScript(rows);

  struct Case {
    const char *from, *to, *job, *plate, *user, *alg1, *alg2;
  };
  const Case cases[] = {
      {"2025-01-01", "2026-12-31", "%", "%", "%", "PLATE DOT AREA", nullptr},
      {"2025-01-10", "2025-02-03", "%", "%", "%", "PLATE BURL", "PLATE LINE WIDTH"},
      {"2025-01-01", "2026-12-31", "Job \"A\"", "%", "%", "PLATE PIXEL", nullptr},
      {"2025-01-01", "2026-12-31", "O'Neil", "P_", "%", "PLATE DOT AREA", "PLATE DOT AREA ST"},
      {"2025-01-01", "2026-12-31", "\u00B5%", "%", "Zo\u00EB", "PLATE LINE WIDTH", "PLATE BURL"},
      {"2025-01-01", "2026-12-31", "J-1%", "Plate 4", "%", "PLATE DOT AREA", nullptr},
      {"2025-03-01", "2025-03-01", "%", "%", "%", "PLATE DOT AREA ST", "PLATE PIXEL"},
      {"2025-01-01", "2026-12-31", "%\" OR \"\"=\"", "%", "%", "PLATE DOT AREA", nullptr},  // no way out of the quotes
      {"2025-01-01", "2026-12-31", "%", "%", "%", "FILM LINE WIDTH", nullptr},
  };
  for (const Case& c : cases) {
    ArchiveFilterInput in;
    in.From = ParseDateTime(c.from);
    in.To = ParseDateTime(c.to);
    in.JobID = c.job;
    in.Plate = c.plate;
    in.User = c.user;
    in.Alg1 = c.alg1;
    if (c.alg2) in.Alg2 = c.alg2;
    const std::string filter = ArchiveFilterText(in);
    data.PLATETAB().SetFilterText(filter);
    data.PLATETAB().SetFiltered(true);
    const int ours = CountRows(data.PLATETAB());

    std::string where = "DateTime >= " + testing::SqlText(std::string(c.from) + " 00:00:00") + " AND DateTime <= " +
                        testing::SqlText(std::string(c.to) + " 23:59:59") + " AND JOBID LIKE " + testing::SqlText(c.job) +
                        " AND Plate LIKE " + testing::SqlText(c.plate) + " AND Operator LIKE " + testing::SqlText(c.user) +
                        " AND (Algorithm = " + testing::SqlText(c.alg1) + (c.alg2 ? " OR Algorithm = " + testing::SqlText(c.alg2) : "") +
                        ")";
    std::ofstream(fx.Dir().File("q.sql")) << "SELECT count(*) FROM T WHERE " << where << ";\n";
    const auto r = quirvel::testing::RunTool("sqlite3 :memory: -cmd '.read " + script + "' < " + fx.Dir().File("q.sql"));
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(ours, std::stoi(r.output)) << filter;
    if (std::string(c.alg1) == "PLATE DOT AREA" && std::string(c.job) == "%") EXPECT_GT(ours, 10);
  }
}

TEST_F(ArchiveFilterTest, PlotPointsCarryTheUnitFactorsAndCountWithoutDates) {
  Row a, b, c;
  a.DateTime = "2026-03-01 10:00:00";
  a.Texts = {{"Algorithm", "PLATE LINE WIDTH"}, {"LineWidth", "50.80\u00B5m"}, {"LCM", "60.00"}};
  b.DateTime = "2026-03-02 10:00:00";
  b.Texts = {{"Algorithm", "FILM LINE WIDTH"}, {"LineWidth", "25.40\u00B5m"}};
  c.DateTime = "2026-03-03 11:30:00";
  c.Texts = {{"Algorithm", "PLATE LINE WIDTH"}, {"LineWidth", "12,7\u00B5m"}};
  AddRows(data.PLATETAB(), {a, b, c});
  const auto mr = [](int k) { return "MR" + std::to_string(k); };

  auto series = PlotRows(PlotRoutine::PlateLine, data.PLATETAB(), "", "PLATE LINE WIDTH", 4, true, 1, mr);
  ASSERT_EQ(series.size(), 1u);
  EXPECT_EQ(series[0].Index, 4);
  EXPECT_EQ(series[0].Title, "MR7 mil");
  ASSERT_EQ(series[0].Points.size(), 2u);  // the film row is not plotted
  EXPECT_DOUBLE_EQ(series[0].Points[0].second, 2.0);
  EXPECT_DOUBLE_EQ(series[0].Points[1].second, 0.5);
  EXPECT_EQ(series[0].Points[1].first, ParseDateTime("2026-03-03 11:30:00"));

  series = PlotRows(PlotRoutine::Plate, data.PLATETAB(), "", "PLATE LINE WIDTH", 0, false, 2, mr);
  ASSERT_EQ(series.size(), 3u);
  EXPECT_EQ(series[1].Title, "LPI");
  EXPECT_EQ(series[2].Title, "MR6");
  EXPECT_DOUBLE_EQ(series[1].Points[0].second, 152.4);
  EXPECT_EQ(series[0].Points[0].first, 1);
  EXPECT_EQ(series[0].Points[1].first, 2);

  // In micrometres the value stays; a filter stays on the table, which ends on its first row.
  series = PlotRows(PlotRoutine::MaskLine, data.PLATETAB(), "LineWidth = \"12,7\u00B5m\"", "PLATE LINE WIDTH", 0,
                    true, 0, mr);
  EXPECT_EQ(series[0].Title, "MR7 \u00B5m");
  ASSERT_EQ(series[0].Points.size(), 1u);
  EXPECT_DOUBLE_EQ(series[0].Points[0].second, 12.7);
  EXPECT_TRUE(data.PLATETAB().Filtered());
  EXPECT_TRUE(data.PLATETAB().Bof());

  // "Show all": an empty type plots every row.
  series = PlotRows(PlotRoutine::PlateLine, data.PLATETAB(), "", "", 0, true, 0, mr);
  EXPECT_EQ(series[0].Points.size(), 3u);
}

}  // namespace
}  // namespace archive
