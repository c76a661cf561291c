#include "platform/xls/data_to_xls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/base/cp1252.h"
#include "platform/base/datetime.h"
#include "platform/data/tests/vector_dataset.h"
#include "platform/xls/tests/xls_tools.h"

namespace platform::xls {
namespace {

using data::Variant;
using data::testing::Column;
using data::testing::VectorDataSet;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Dump;
using testing::ReadBytes;
using testing::ReadWithSsconvert;
using testing::ReadWithXlrd;
using testing::TempDir;

// How the two readers show one cell: xlrd's typed value and ssconvert's CSV text.
struct Seen {
  std::string xlrd;
  std::string csv;
};

// Python's repr of a float, which xlrd's numbers come out as.
std::string PyRepr(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

Seen Num(double v, const std::string& csv) { return {"n:" + PyRepr(v), "s:" + csv}; }
Seen Text(const std::string& utf8) { return {"s:" + utf8, "s:" + utf8}; }
Seen Date(const std::string& iso) { return {"d:" + iso, "s:" + iso}; }
Seen Empty() { return {"", ""}; }

// A table shaped like the measurement archive's: a date-time, the type name, the picture,
// the report path, the job columns, values stored as texts with their units, an integer, a
// float, a flag and a wide text.
std::vector<Column> ArchiveColumns() {
  return {{"DateTime", data::ftDateTime},  {"Algorithm", data::ftString, 40}, {"Image", data::ftGraphic},
          {"PDF", data::ftString, 255},    {"JOBID", data::ftString, 40},     {"Plate", data::ftString, 40},
          {"Operator", data::ftString, 40}, {"Info", data::ftString, 255},    {"DotArea", data::ftString, 20},
          {"LineWidth", data::ftString, 20}, {"SizeAvg", data::ftString, 20}, {"SizeTol", data::ftInteger},
          {"Ruling", data::ftFloat},        {"Checked", data::ftBoolean},     {"Note", data::ftWideString, 40},
          {"Secret", data::ftString, 10}};
}

const char* const kAlgorithms[] = {"MASK DOT AREA", "PLATE DOT AREA", "FILM LINE WIDTH"};

// Fills `ds` with n archive rows and returns what the readers must show, header first.
std::vector<std::vector<Seen>> FillArchive(VectorDataSet& ds, int n) {
  ds.Open();
  ds.FieldByName("Ruling")->SetDisplayLabel("Ruling L/cm");
  ds.FieldByName("Secret")->SetVisible(false);
  std::vector<std::vector<Seen>> expect;
  expect.push_back({Text("DateTime"), Text("Algorithm"), Text("Image"), Text("PDF"), Text("JOBID"), Text("Plate"),
                    Text("Operator"), Text("Info"), Text("DotArea"), Text("LineWidth"), Text("SizeAvg"),
                    Text("SizeTol"), Text("Ruling L/cm"), Text("Checked"), Text("Note")});
  for (int i = 0; i < n; ++i) {
    const int month = 1 + i % 12, day = 1 + i % 28, hour = i % 24, minute = (i * 7) % 60, second = (i * 13) % 60;
    const TDateTime dt = EncodeDate(2024, month, day) + EncodeTime(hour, minute, second, 0);
    char iso[32];
    std::snprintf(iso, sizeof iso, "2024-%02d-%02d %02d:%02d:%02d", month, day, hour, minute, second);
    const bool null_row = i % 50 == 7;  // every optional column NULL
    const std::string pdf = i % 4 == 0 ? "" : "/home/qc/Reports/R" + std::to_string(i) + ".pdf";
    const std::string job = "00" + std::to_string(i % 9);
    const std::string op = i % 2 ? "M\xfcller" : "Dupont";                     // Windows-1252 ü
    const std::string info = "45.00\xb0 \xb1 0.5 \xb5m\xb2 \x80" + std::to_string(i);  // ° ± µ ² €
    const std::string dot = std::to_string(10 + i % 80) + ".30%";
    const std::string line = "25.40\xb5m";
    const std::string size = "1234.56\xb5m\xb2";
    const int tol = i - 100;
    const double ruling = i == 13 ? std::numeric_limits<double>::infinity() : 60 + i * 0.25;
    const bool checked = i % 3 == 0;
    const std::u16string note = u"\u0394 " + Utf8ToUtf16(std::to_string(i));

    ds.AppendRecord({null_row ? Variant::Null() : Variant::FromDate(dt), kAlgorithms[i % 3],
                     null_row ? Variant::Null() : Variant::FromBytes({0x89, 'P', 'N', 'G', 1, 2, 3}),
                     Variant::FromAnsi(pdf), Variant::FromAnsi(job), Variant::FromAnsi("P-17"), Variant::FromAnsi(op),
                     Variant::FromAnsi(info), Variant::FromAnsi(dot), Variant::FromAnsi(line),
                     Variant::FromAnsi(size), null_row ? Variant::Null() : Variant(tol),
                     null_row ? Variant::Null() : Variant(ruling), null_row ? Variant::Null() : Variant(checked),
                     null_row ? Variant::Null() : Variant(note), Variant::FromAnsi("hidden")});
    std::vector<Seen> row = {null_row ? Empty() : Date(iso),
                             Text(kAlgorithms[i % 3]),
                             Empty(),  // the picture is left out
                             pdf.empty() ? Empty() : Text(pdf),
                             Text(job),
                             Text("P-17"),
                             Text(Cp1252ToUtf8(op)),
                             Text(Cp1252ToUtf8(info)),
                             Text(dot),
                             Text(Cp1252ToUtf8(line)),
                             Text(Cp1252ToUtf8(size)),
                             null_row ? Empty() : Num(tol, std::to_string(tol)),
                             null_row ? Empty() : i == 13 ? Seen{"e:36", "s:#NUM!"} : Num(ruling, PyRepr(ruling)),
                             null_row ? Empty() : Seen{checked ? "b:1" : "b:0", checked ? "s:TRUE" : "s:FALSE"},
                             null_row ? Empty() : Text(Utf16ToUtf8(note))};
    // ssconvert writes whole numbers without ".0".
    if (!null_row && i != 13 && ruling == std::trunc(ruling)) row[12].csv = "s:" + std::to_string(static_cast<int>(ruling));
    expect.push_back(row);
  }
  return expect;
}

std::vector<std::string> Xlrd(const std::vector<Seen>& row) {
  std::vector<std::string> out;
  for (const Seen& s : row) out.push_back(s.xlrd);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::vector<std::string> Csv(const std::vector<Seen>& row) {
  std::vector<std::string> out;
  for (const Seen& s : row) out.push_back(s.csv);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

void ExpectReadable(const Dump& d) {
  ASSERT_EQ(d.exit_code, 0) << "python3-xlrd and python3-olefile are needed (scripts/setup installs them)\n"
                            << d.raw;
}

// ---------------------------------------------------------------- the archive export

// The export an outsider checks: a few hundred archive rows, read back by xlrd (values,
// dates, fonts, widths), by olefile (the container) and by ssconvert (the same cells as CSV).
TEST(DataToXLS, ArchiveTableReadsBackThroughXlrdOlefileAndSsconvert) {
  VectorDataSet ds(ArchiveColumns());
  const auto expect = FillArchive(ds, 300);
  ds.First();
  ds.MoveBy(41);
  const int rec_no = ds.RecNo();

  TDataToXLS xls(&ds);
  xls.SheetName = "LAMS";
  const std::string path = testing::OutputDir() + "/archive_LAMS.xls";
  std::filesystem::remove(path);
  xls.SaveDatasetAs(path);
  EXPECT_EQ(ds.RecNo(), rec_no) << "the dataset is back on the record it was on";

  const Dump d = ReadWithXlrd(path);
  ExpectReadable(d);
  EXPECT_EQ(d.ole, "[['Workbook']]");
  EXPECT_THAT(d.sheets, ElementsAre("LAMS"));
  EXPECT_EQ(d.nrows, 301);
  EXPECT_EQ(d.ncols, 15) << "the hidden column stays out";
  ASSERT_EQ(d.rows.size(), expect.size());
  for (size_t r = 0; r < expect.size(); ++r) EXPECT_EQ(d.rows[r], Xlrd(expect[r])) << "row " << r;

  // Header Arial 10 bold, details Arial 10.
  ASSERT_EQ(d.fonts.count(0), 1u);
  ASSERT_EQ(d.fonts.count(1), 1u);
  EXPECT_EQ(d.fonts.at(0).name, "Arial");
  EXPECT_EQ(d.fonts.at(0).twips, 200);
  EXPECT_TRUE(d.fonts.at(0).bold);
  EXPECT_EQ(d.fonts.at(1).name, "Arial");
  EXPECT_EQ(d.fonts.at(1).twips, 200);
  EXPECT_FALSE(d.fonts.at(1).bold);
  // Widths fitted: the long Info texts get a wider column than the short JOBID.
  ASSERT_EQ(d.widths.size(), 15u);
  EXPECT_GT(d.widths.at(7), d.widths.at(4));
  EXPECT_GE(d.widths.at(0), 19 * 256) << "a date-time fits";
  EXPECT_GE(d.widths.at(2), 5 * 256) << "the empty Image column still shows its title";

  const Dump c = ReadWithSsconvert(path, testing::OutputDir() + "/archive_LAMS.csv");
  ASSERT_EQ(c.exit_code, 0) << "gnumeric's ssconvert is needed (scripts/setup installs it)\n" << c.raw;
  ASSERT_EQ(c.rows.size(), expect.size());
  for (size_t r = 0; r < expect.size(); ++r) EXPECT_EQ(c.rows[r], Csv(expect[r])) << "row " << r;
}

// Each archive tab writes its own sheet name; an empty table gives the header row alone.
TEST(DataToXLS, SheetNamesOfTheArchiveTabsAndEmptyTables) {
  TempDir dir;
  for (const char* name : {"LAMS", "PLATE", "STRUCTURE", "FILM"}) {
    VectorDataSet ds(ArchiveColumns());
    const auto expect = FillArchive(ds, std::string(name) == "FILM" ? 0 : 3);
    TDataToXLS xls(&ds);
    xls.SheetName = name;
    const std::string path = dir.File(std::string(name) + ".xls");
    xls.SaveDatasetAs(path);
    const Dump d = ReadWithXlrd(path);
    ExpectReadable(d);
    EXPECT_THAT(d.sheets, ElementsAre(name));
    EXPECT_EQ(d.nrows, static_cast<int>(expect.size())) << name;
    ASSERT_FALSE(d.rows.empty());
    EXPECT_EQ(d.rows[0], Xlrd(expect[0])) << name;
  }
}

// Texts longer than one record (8,224 bytes) and a string table over many CONTINUE records.
TEST(DataToXLS, LongTextsAndManyDistinctStrings) {
  VectorDataSet ds({{"Key", data::ftString, 30}, {"Memo", data::ftMemo}, {"Wide", data::ftWideMemo}});
  ds.Open();
  std::vector<std::vector<std::string>> expect = {{"s:Key", "s:Memo", "s:Wide"}};
  std::string long8;  // 8-bit: 20,000 bytes stored compressed
  for (int i = 0; long8.size() < 20000; ++i) long8 += "\xb5m\xb2 \xb0 " + std::to_string(i) + " ";
  std::u16string long16;  // beyond one byte a character: 2 x 9,000 bytes
  for (int i = 0; long16.size() < 9000; ++i) long16 += u"\u20ac\u0394 " + Utf8ToUtf16(std::to_string(i));
  ds.AppendRecord({"first", Variant::FromAnsi(long8), Variant(long16)});
  expect.push_back({"s:first", "s:" + Cp1252ToUtf8(long8), "s:" + Utf16ToUtf8(long16)});
  for (int i = 0; i < 6000; ++i) {
    const std::string key = "K" + std::to_string(i * 7919) + (i % 3 ? "\xb0" : "");
    ds.AppendRecord({Variant::FromAnsi(key)});
    expect.push_back({"s:" + Cp1252ToUtf8(key)});
  }
  TempDir dir;
  const std::string path = dir.File("long.xls");
  TDataToXLS xls(&ds);
  xls.SaveDatasetAs(path);

  const Dump d = ReadWithXlrd(path);
  ExpectReadable(d);
  ASSERT_EQ(d.rows.size(), expect.size());
  for (size_t r = 0; r < expect.size(); ++r) ASSERT_EQ(d.rows[r], expect[r]) << "row " << r;
  EXPECT_EQ(d.widths.at(1), 255 * 256) << "a column is at most 255 characters wide";

  const Dump c = ReadWithSsconvert(path, dir.File("long.csv"));
  ASSERT_EQ(c.exit_code, 0) << c.raw;
  ASSERT_EQ(c.rows.size(), expect.size());
  for (size_t r = 0; r < expect.size(); ++r) ASSERT_EQ(c.rows[r], expect[r]) << "row " << r;
}

// Dates at the edges of the sheet's calendar, times, whole numbers beyond a double's exact
// range, and a header moved away from the first cell.
TEST(DataToXLS, EdgeValuesKeepTheirMeaning) {
  VectorDataSet ds({{"When", data::ftDateTime},
                    {"Day", data::ftDate},
                    {"At", data::ftTime},
                    {"Big", data::ftLargeint},
                    {"Cur", data::ftCurrency},
                    {"Small", data::ftSmallint}});
  ds.Open();
  ds.AppendRecord({Variant::FromDate(EncodeDate(1900, 3, 1) + EncodeTime(6, 0, 0, 0)),
                   Variant::FromDate(EncodeDate(1900, 1, 1)), Variant::FromDate(EncodeTime(13, 45, 30, 0)),
                   Variant(static_cast<long long>(1) << 60), Variant::FromCurrency(12.3456), Variant(-7)});
  ds.AppendRecord({Variant::FromDate(EncodeDate(1899, 12, 30) + EncodeTime(12, 0, 0, 0)),
                   Variant::FromDate(EncodeDate(1850, 7, 14)), Variant::FromDate(0.0),
                   Variant(static_cast<long long>(9007199254740992)), Variant::FromCurrency(-0.5), Variant(0)});
  ds.AppendRecord({Variant::FromDate(EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 0)),
                   Variant::FromDate(EncodeDate(9999, 12, 31)), Variant::FromDate(EncodeTime(0, 0, 1, 0)),
                   Variant(-12345LL), Variant::FromCurrency(0), Variant(32767)});
  TDataToXLS xls(&ds);
  xls.StartRow = 2;
  xls.StartCol = 1;
  TempDir dir;
  const std::string path = dir.File("edges.xls");
  xls.SaveDatasetAs(path);
  const Dump d = ReadWithXlrd(path);
  ExpectReadable(d);
  ASSERT_EQ(d.rows.size(), 6u);
  EXPECT_TRUE(d.rows[0].empty());
  EXPECT_TRUE(d.rows[1].empty());
  EXPECT_THAT(d.rows[2], ElementsAre("", "s:When", "s:Day", "s:At", "s:Big", "s:Cur", "s:Small"));
  // 1900-01-01 is day 1 of the sheet (xlrd calls days before March 1900 ambiguous and gives
  // the number); a day before 1900 has no number there and stays readable as text.
  EXPECT_THAT(d.rows[3], ElementsAre("", "d:1900-03-01 06:00:00", "D:1.0", "d:0000-00-00 13:45:30",
                                     "s:1152921504606846976", "n:12.3456", "n:-7.0"));
  EXPECT_THAT(d.rows[4], ElementsAre("", "s:1899-12-30 12:00:00", "s:1850-07-14", "d:0000-00-00 00:00:00",
                                     "n:9007199254740992.0", "n:-0.5", "n:0.0"));
  EXPECT_THAT(d.rows[5], ElementsAre("", "d:2024-02-29 23:59:59", "d:9999-12-31 00:00:00", "d:0000-00-00 00:00:01",
                                     "n:-12345.0", "n:0.0", "n:32767.0"));
}

// ---------------------------------------------------------------- what is refused

VectorDataSet* Numbers(VectorDataSet& ds, int n) {
  ds.Open();
  for (int i = 0; i < n; ++i) ds.AppendRecord({i});
  return &ds;
}

// A worksheet holds 65,536 rows: the header and 65,535 records. One record more is refused
// with a message that says so, and no file is written (an old one stays as it was).
TEST(DataToXLS, RowLimitGivesAClearMessageAndNoFile) {
  TempDir dir;
  {
    VectorDataSet ds({{"N", data::ftInteger}});
    TDataToXLS xls(Numbers(ds, 65535));
    const std::string path = dir.File("full.xls");
    xls.SaveDatasetAs(path);
    const Dump d = ReadWithXlrd(path);
    ExpectReadable(d);
    EXPECT_EQ(d.nrows, 65536);
    EXPECT_EQ(d.rows.back(), std::vector<std::string>{"n:65534.0"});
  }
  VectorDataSet ds({{"N", data::ftInteger}});
  TDataToXLS xls(Numbers(ds, 70000));
  const std::string fresh = dir.File("fresh.xls");
  try {
    xls.SaveDatasetAs(fresh);
    FAIL() << "70,000 rows were accepted";
  } catch (const EXLSError& e) {
    EXPECT_THAT(e.what(), HasSubstr("70,000 rows"));
    EXPECT_THAT(e.what(), HasSubstr("at most 65,535 rows"));
    EXPECT_THAT(e.what(), HasSubstr("No file was written"));
  }
  EXPECT_FALSE(std::filesystem::exists(fresh));

  const std::string old = dir.File("old.xls");
  testing::WriteBytes(old, {'o', 'l', 'd'});
  EXPECT_THROW(xls.SaveDatasetAs(old), EXLSError);
  EXPECT_EQ(ReadBytes(old), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_THAT(dir.Names(), ElementsAre("full.xls", "old.xls")) << "no temporary file is left";

  // A lower limit of the component counts the same way.
  xls.MaxRowsPerSheet = 100;
  EXPECT_THAT([&] { xls.SaveDatasetToBytes(); },
              ::testing::ThrowsMessage<EXLSError>(HasSubstr("at most 100 rows")));
}

TEST(DataToXLS, RefusesWhatASheetCannotHold) {
  VectorDataSet ds({{"Memo", data::ftMemo}});
  ds.Open();
  ds.AppendRecord({Variant::FromAnsi("short")});
  ds.AppendRecord({Variant::FromAnsi(std::string(32768, 'x'))});
  TDataToXLS xls(&ds);
  EXPECT_THAT([&] { xls.SaveDatasetToBytes(); },
              ::testing::ThrowsMessage<EXLSError>(HasSubstr("Row 2, column \"Memo\": a text of 32,768 characters")));

  std::vector<Column> wide;
  for (int i = 0; i < 257; ++i) wide.push_back({"C" + std::to_string(i), data::ftInteger});
  VectorDataSet many(wide);
  many.Open();
  TDataToXLS xls2(&many);
  EXPECT_THAT([&] { xls2.SaveDatasetToBytes(); }, ::testing::ThrowsMessage<EXLSError>(HasSubstr("257 columns")));

  for (const char* bad : {"", "A/B", "Sheet[1]", "1234567890123456789012345678901234"}) {
    VectorDataSet one({{"N", data::ftInteger}});
    TDataToXLS x(Numbers(one, 1));
    x.SheetName = bad;
    EXPECT_THROW(x.SaveDatasetToBytes(), EXLSError) << bad;
  }
  TDataToXLS none;
  EXPECT_THROW(none.SaveDatasetToBytes(), EXLSError);
}

// ---------------------------------------------------------------- files

// A write that fails half-way (here: the file size limit) leaves the old file as it was and
// no temporary file beside it.
TEST(DataToXLS, FailedWriteLeavesTheOldFileAndNoHalfFile) {
  TempDir dir;
  const std::string path = dir.File("export.xls");
  testing::WriteBytes(path, {'o', 'l', 'd'});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{8192, 8192};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    VectorDataSet ds({{"N", data::ftInteger}, {"T", data::ftString, 30}});
    ds.Open();
    for (int i = 0; i < 2000; ++i) ds.AppendRecord({i, "text " + std::to_string(i)});
    TDataToXLS xls(&ds);
    int code = 1;
    try {
      xls.SaveDatasetAs(path);
    } catch (const EXLSError& e) {
      code = std::string(e.what()).find("Cannot write file") != std::string::npos ? 0 : 2;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write was reported as done, 2: another error";
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_THAT(dir.Names(), ElementsAre("export.xls"));
}

TEST(DataToXLS, UnwritableTargetsRaiseAndLeaveNothing) {
  TempDir dir;
  VectorDataSet ds({{"N", data::ftInteger}});
  TDataToXLS xls(Numbers(ds, 3));
  EXPECT_THAT([&] { xls.SaveDatasetAs(dir.File("missing/folder/x.xls")); },
              ::testing::ThrowsMessage<EXLSError>(HasSubstr("Cannot create file")));
  std::filesystem::create_directory(dir.File("taken.xls"));
  EXPECT_THROW(xls.SaveDatasetAs(dir.File("taken.xls")), EXLSError);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken.xls")));
  EXPECT_THAT(dir.Names(), ElementsAre("taken.xls"));
  EXPECT_THROW(xls.SaveDatasetAs(""), EXLSError);

  // Replacing an existing file keeps its permissions; a wide file name works as well.
  const std::string path = dir.File("r\u00e9sultat.xls");
  testing::WriteBytes(path, {'x'});
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read);
  xls.SaveDatasetAs(Utf8ToUtf16(path));
  EXPECT_GT(std::filesystem::file_size(path), 512u);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

// A closed dataset is opened for the export and closed again.
TEST(DataToXLS, ClosedDatasetIsOpenedAndClosedAgain) {
  VectorDataSet ds({{"N", data::ftInteger}});
  Numbers(ds, 5);
  ds.Close();
  TDataToXLS xls(&ds);
  const std::vector<uint8_t> bytes = xls.SaveDatasetToBytes();
  EXPECT_FALSE(ds.Active());
  ASSERT_GE(bytes.size(), 1024u);
  EXPECT_EQ(bytes[0], 0xD0);
}

}  // namespace
}  // namespace platform::xls
