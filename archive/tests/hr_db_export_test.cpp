// The archive's text export and spreadsheet export on real archive files: the cell rules per
// column type, the layout (byte-order mark, TAB after every cell, CR LF), the failures a caller
// must hear of, and the workbook as xlrd, olefile and ssconvert read it.
#include "archive/hr_db_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/tests/archive_rows.h"
#include "cmake/test_tools.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/base/text_file.h"
#include "platform/data/field.h"
#include "platform/xls/tests/xls_tools.h"

namespace archive {
namespace {

using testing::AddRows;
using testing::ArchiveFixture;
using testing::Row;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The lines of an export (after the byte-order mark), each split at its TABs; the part after
// the last TAB of a line must be empty, and is dropped.
std::vector<std::vector<std::string>> Cells(const std::string& file) {
  std::vector<std::vector<std::string>> lines;
  EXPECT_EQ(file.substr(0, 3), "\xEF\xBB\xBF");
  size_t pos = 3;
  while (pos < file.size()) {
    const size_t end = file.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "a line without CR LF";
    if (end == std::string::npos) break;
    const std::string line = file.substr(pos, end - pos);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_TRUE(!line.empty() && line.back() == '\t') << line;
    std::vector<std::string> cells;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      cells.push_back(line.substr(start, tab - start));
    lines.push_back(std::move(cells));
    pos = end + 2;
  }
  return lines;
}

std::string Cell(const std::vector<std::vector<std::string>>& lines, size_t row, const std::string& column) {
  const auto& header = lines.at(0);
  for (size_t c = 0; c < header.size(); ++c)
    if (header[c] == column) return lines.at(row).at(c);
  ADD_FAILURE() << "no column " << column;
  return {};
}

class ArchiveExportTest : public ::testing::Test {
 protected:
  ArchiveFixture fx;
  THRDBData& data = fx.Data();
  std::string Path(const std::string& name) { return fx.Dir().File(name); }
};

TEST_F(ArchiveExportTest, TextCellsFollowTheirColumnsType) {
  Row r;
  r.DateTime = "2026-12-10 14:30:05";
  r.Texts = {{"Algorithm", "MASK DOT AREA"}, {"JOBID", "007"},          {"Plate", "12"},
             {"Operator", "3.5"},            {"Info", "a\tb\r\nc"},      {"DOTAREA", "12.30%"},
             {"ANGLE", "45.00\u00B0"},        {"LCM", "12,5\u00B5m"},     {"AVGSize", "8.00\u00B5m\u00B2"},
             {"EdgeFaktor", "ABC"},          {"LineWidth", "-0.004\u00B5m"}, {"PDF", "/r/12.pdf"}};
  r.Integers = {{"SizeTol", 15}, {"AVGCount", -3}, {"GCount", 0}};
  Row midnight;
  midnight.DateTime = "2026-12-11 00:00:00";
  midnight.Texts = {{"Algorithm", "MASK DOT AREA"}};
  AddRows(data.LAMSTAB(), {r, midnight});

  const std::string file = Path("mask.txt");
  SaveToTxT(file, data.LAMSTAB());
  const auto lines = Cells(ReadFile(file));
  ASSERT_EQ(lines.size(), 3u);
  // The header: every field in definition order, the picture too.
  std::vector<std::string> names;
  for (int i = 0; i < data.LAMSTAB().FieldCount(); ++i) names.push_back(data.LAMSTAB().Fields()[i]->FieldName());
  EXPECT_EQ(lines[0], names);
  EXPECT_EQ(lines[0][2], "Image");
  for (const auto& l : lines) EXPECT_EQ(l.size(), names.size());

  const struct {
    const char* column;
    const char* text;
  } cases[] = {
      {"DateTime", "2026-12-10 14:30:05"},
      {"Algorithm", "MASK DOT AREA"},
      {"JOBID", "007"},       // job texts stay as typed
      {"Plate", "12"},
      {"Operator", "3.5"},
      {"Info", "a b  c"},     // no TAB or line end of its own
      {"PDF", "/r/12.pdf"},
      {"Image", ""},
      {"DOTAREA", "12.30"},   // the unit goes, two decimals
      {"ANGLE", "45.00"},
      {"LCM", "12.50"},       // a decimal comma too
      {"AVGSize", "8.00"},
      {"LineWidth", "0.00"},  // no "-0.00"
      {"EdgeFaktor", "ABC"},  // not a number: as stored
      {"SizeTol", "15"},      // signed integers are written
      {"AVGCount", "-3"},
      {"GCount", "0"},
      {"SCount", ""},         // NULL
      {"Freq1", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Cell(lines, 1, c.column), c.text) << c.column;
  EXPECT_EQ(Cell(lines, 2, "DateTime"), "2026-12-11");  // midnight: no time
  EXPECT_EQ(Cell(lines, 2, "SizeTol"), "");

  // The scheduled export reads the newest exported row there.
  EXPECT_TRUE(data.LAMSTAB().Eof());
  EXPECT_EQ(data.LAMSTAB().FieldByName("DateTime")->AsDateTime(), testing::ParseDateTime("2026-12-11"));
}

TEST_F(ArchiveExportTest, FloatAndWordColumnsAndTypesWithoutText) {
  orv::TORVTable t;
  t.SetDatabaseName("QUIRVEL");
  t.SetTableName("NUMBERS");
  t.FieldDefs().Add("F", platform::data::ftFloat, 0, false);
  t.FieldDefs().Add("W", platform::data::ftWord, 0, false);
  t.FieldDefs().Add("B", platform::data::ftBoolean, 0, false);
  t.FieldDefs().Add("L", platform::data::ftLargeint, 0, false);
  t.CreateTable();
  t.Open();
  const struct {
    double f;
    int w;
    long long l;
    const char* ftext;
    const char* wtext;
    const char* ltext;
  } cases[] = {
      {12.5, 7, -9000000000LL, "    12.500", "7", "-9000000000"},
      {-0.0004, 65535, 0, "     0.000", "65535", "0"},
      {1234567.8916, 0, 42, "1234567.892", "0", "42"},
  };
  for (const auto& c : cases) {
    t.Append();
    t.FieldByName("F")->SetAsFloat(c.f);
    t.FieldByName("W")->SetAsInteger(c.w);
    t.FieldByName("B")->SetAsBoolean(true);
    t.FieldByName("L")->SetAsLargeInt(c.l);
    t.Post();
  }
  SaveToTxT(Path("n.txt"), t);
  const auto lines = Cells(ReadFile(Path("n.txt")));
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i + 1], (std::vector<std::string>{cases[i].ftext, cases[i].wtext, "", cases[i].ltext})) << i;
  }
  t.Close();
}

TEST_F(ArchiveExportTest, AnEmptyOrFilteredOutTableGivesTheHeaderOnly) {
  const std::string header = ReadFile(([&] {
    SaveToTxT(Path("empty.txt"), data.PLATETAB());
    return Path("empty.txt");
  })());
  EXPECT_EQ(header.substr(0, 3 + 9), "\xEF\xBB\xBF" "DateTime\t");
  EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), 1);

  AddRows(data.PLATETAB(), testing::MixedRows(HistoryTab::PLATE, 12));
  data.PLATETAB().SetFilterText("JOBID = \"none\"");
  data.PLATETAB().SetFiltered(true);
  SaveToTxT(Path("none.txt"), data.PLATETAB());
  EXPECT_EQ(ReadFile(Path("none.txt")), header);
  // The filter decides which rows go out.
  data.PLATETAB().SetFilterText("JOBID = \"007\"");
  SaveToTxT(Path("007.txt"), data.PLATETAB());
  const auto lines = Cells(ReadFile(Path("007.txt")));
  ASSERT_EQ(lines.size(), 3u);  // rows 1 and 8 of 12
  EXPECT_EQ(Cell(lines, 1, "JOBID"), "007");
  EXPECT_EQ(Cell(lines, 2, "Info"), "run 8");
}

TEST_F(ArchiveExportTest, AFileThatCannotBeWrittenIsReportedAndNothingMoves) {
  AddRows(data.LAMSTAB(), testing::MixedRows(HistoryTab::MASK, 5));
  orv::TORVTable& t = data.LAMSTAB();
  t.First();
  t.Next();
  const double current = t.FieldByName("DateTime")->AsDateTime();
  std::filesystem::create_directory(Path("folder.txt"));
  for (const std::string& target : {Path("missing/x.txt"), Path("folder.txt")}) {
    EXPECT_THROW(SaveToTxT(target, t), platform::ETextFileError) << target;
    EXPECT_EQ(t.FieldByName("DateTime")->AsDateTime(), current) << target;
    EXPECT_FALSE(t.Eof());
  }
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder.txt")));
  // Nothing half-written stays beside the target.
  for (const auto& e : std::filesystem::directory_iterator(fx.Dir().Path()))
    EXPECT_EQ(e.path().filename().string().find(".~"), std::string::npos) << e.path();
}

namespace xt = platform::xls::testing;

// A few hundred rows of each kind of cell, exported both ways into the build tree's output
// folder: the text export, and the workbook as the outside readers see it.
TEST_F(ArchiveExportTest, BothExportsOfAFewHundredRowsAgreeWithTheRowsAndOutsideReaders) {
  const auto rows = testing::MixedRows(HistoryTab::MASK, 300);
  AddRows(data.LAMSTAB(), rows);
  const std::string txt = testing::OutputDir() + "/archive_export.txt";
  const std::string xls = testing::OutputDir() + "/archive_export.xls";
  SaveToTxT(txt, data.LAMSTAB());
  platform::xls::TDataToXLS writer;
  ConfigureArchiveXLS(writer, &data.LAMSTAB(), "LAMS");
  writer.SaveDatasetAs(xls);

  // Text: the rows in DateTime order, which is the order they were made in.
  const auto lines = Cells(ReadFile(txt));
  ASSERT_EQ(lines.size(), rows.size() + 1);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    EXPECT_EQ(Cell(lines, i + 1, "DateTime"), r.DateTime.substr(11) == "00:00:00" ? r.DateTime.substr(0, 10) : r.DateTime);
    for (const char* c : {"Algorithm", "JOBID", "Plate", "Operator", "Info", "PDF"})
      EXPECT_EQ(Cell(lines, i + 1, c), r.Texts.at(c)) << i << c;
    // The values without their units.
    for (const char* c : {"DOTAREA", "LCM", "ANGLE", "EdgeFaktor", "LineWidth", "LineTol", "AVGSize"}) {
      std::string v = r.Texts.at(c);
      for (const char* unit : {"%", "\u00B0", "\u00B5m\u00B2", "\u00B5m"})
        if (const size_t at = v.find(unit); at != std::string::npos) v.erase(at, std::string(unit).size());
      EXPECT_EQ(Cell(lines, i + 1, c), v) << i << c;
    }
    EXPECT_EQ(Cell(lines, i + 1, "SizeTol"), std::to_string(r.Integers.at("SizeTol")));
    EXPECT_EQ(Cell(lines, i + 1, "GCount"), std::to_string(r.Integers.at("GCount")));
  }

  // Workbook: xlrd and olefile.
  const xt::Dump book = xt::ReadWithXlrd(xls);
  ASSERT_EQ(book.exit_code, 0) << book.raw;
  EXPECT_EQ(book.ole, "[['Workbook']]");
  EXPECT_EQ(book.sheets, std::vector<std::string>{"LAMS"});
  ASSERT_EQ(book.nrows, static_cast<int>(rows.size()) + 1);
  const std::vector<std::string> head = {"s:DateTime", "s:Algorithm", "s:Image", "s:PDF", "s:JOBID", "s:Plate"};
  EXPECT_EQ(std::vector<std::string>(book.rows[0].begin(), book.rows[0].begin() + 6), head);
  EXPECT_EQ(book.fonts.at(0).bold, true);
  EXPECT_EQ(book.fonts.at(0).name, "Arial");
  EXPECT_EQ(book.fonts.at(1).twips, 200);
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& cells = book.rows[i + 1];
    EXPECT_EQ(cells.at(0), "d:" + rows[i].DateTime) << i;
    EXPECT_EQ(cells.at(1), "s:" + rows[i].Texts.at("Algorithm"));
    EXPECT_EQ(cells.at(2), "");  // the picture
    EXPECT_EQ(cells.at(4), rows[i].Texts.at("JOBID").empty() ? "" : "s:" + rows[i].Texts.at("JOBID")) << i;
  }
  // ssconvert: the same cells, texts alike, numbers and dates as their formats show them.
  const xt::Dump csv = xt::ReadWithSsconvert(xls, fx.Dir().File("x.csv"));
  ASSERT_EQ(csv.exit_code, 0) << csv.raw;
  ASSERT_EQ(csv.rows.size(), book.rows.size());
  for (size_t r = 0; r < csv.rows.size(); ++r) {
    for (size_t c = 0; c < book.rows[r].size(); ++c) {
      const std::string& x = book.rows[r][c];
      const std::string s = csv.Cell(r, c);
      if (x.rfind("s:", 0) == 0) EXPECT_EQ(s, x) << r << "," << c;
      else if (x.rfind("d:", 0) == 0) EXPECT_EQ(s, "s:" + x.substr(2)) << r << "," << c;
      else if (x.rfind("n:", 0) == 0) EXPECT_DOUBLE_EQ(std::stod(s.substr(2)), std::stod(x.substr(2))) << r << "," << c;
      else EXPECT_EQ(s, "") << r << "," << c;
    }
  }
}

// More rows than a worksheet holds: the operator is told why, and no file appears.
TEST_F(ArchiveExportTest, SeventyThousandRowsAreRefusedWithAClearMessage) {
  orv::TORVTable& t = data.PLATETAB();
  // One transaction: the rows reach the file once, not row by row.
  data.HRDatabase().StartTransaction();
  t.DisableControls();
  for (int i = 0; i < 70000; ++i) {
    t.Append();
    t.FieldByName("DateTime")->SetAsDateTime(45000 + i / 1000.0);
    t.FieldByName("Algorithm")->SetAsString("PLATE DOT AREA");
    t.Post();
  }
  t.EnableControls();
  data.HRDatabase().Commit(false);
  platform::xls::TDataToXLS writer;
  ConfigureArchiveXLS(writer, &t, "PLATE");
  const std::string xls = fx.Dir().File("big.xls");
  try {
    writer.SaveDatasetAs(xls);
    ADD_FAILURE() << "written";
  } catch (const platform::xls::EXLSError& e) {
    EXPECT_NE(std::string(e.what()).find("70,000 rows"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("65,535"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(xls));
}

}  // namespace
}  // namespace archive
