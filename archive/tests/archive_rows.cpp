#include "archive/tests/archive_rows.h"

#include <cstdio>

#include "analysis/analyze.h"
#include "archive/hr_db_plot.h"
#include "dbengine/access/orv_main_table.h"
#include "platform/base/datetime.h"
#include "platform/data/field.h"

namespace archive::testing {

platform::TDateTime ParseDateTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  const int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
  if (n != 3 && n != 6) throw std::runtime_error("bad test date " + text);
  return platform::EncodeDate(y, mo, d) + platform::EncodeTime(h, mi, s, 0);
}

void AddRows(orv::TORVTable& table, const std::vector<Row>& rows) {
  table.DisableControls();
  for (const Row& r : rows) {
    table.Append();
    table.FieldByName("DateTime")->SetAsDateTime(ParseDateTime(r.DateTime));
    for (const auto& [column, text] : r.Texts) table.FieldByName(column)->SetAsString(text);
    for (const auto& [column, v] : r.Integers) table.FieldByName(column)->SetAsInteger(v);
    table.Post();
  }
  table.EnableControls();
}

namespace {

std::string Fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

std::vector<Row> MixedRows(HistoryTab tab, int count) {
  static const char* const kJobs[] = {"J-1", "007", "Job \"A\"", "O'Neil", "\u00B5-Job", "J-12", ""};
  static const char* const kPlates[] = {"P1", "P2", "Plate 4", "p1"};
  static const char* const kUsers[] = {"Anna", "Ben", "Zo\u00EB", ""};
  const TabTypes types = TypesOfTab(tab);
  std::vector<Row> rows;
  const platform::TDateTime base = platform::EncodeDate(2025, 1, 1);
  for (int i = 0; i < count; ++i) {
    Row r;
    // Whole seconds, about nine hours apart, so that some rows fall on each day's edges.
    const long seconds = static_cast<long>(i) * 31957 + 3600;
    const platform::DateParts p = platform::DecodeDateTime(base + static_cast<double>(seconds / 86400) +
                                                           platform::EncodeTime(static_cast<int>(seconds % 86400 / 3600),
                                                                                static_cast<int>(seconds % 3600 / 60),
                                                                                static_cast<int>(seconds % 60), 0));
    char dt[32];
    std::snprintf(dt, sizeof dt, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    r.DateTime = dt;
    // Every eleventh row holds a type the tab's lists never offer.
    const int type = i % 11 == 10 ? analysis::MT_FILMLINE : types.first + i % types.Count();
    r.Texts["Algorithm"] = std::string(analysis::MTYPENAMES[static_cast<size_t>(type)]);
    r.Texts["JOBID"] = kJobs[i % 7];
    r.Texts["Plate"] = kPlates[i % 4];
    r.Texts["Operator"] = kUsers[(i / 3) % 4];
    r.Texts["Info"] = "run " + std::to_string(i);
    r.Texts["PDF"] = "/home/qc/Reports/r" + std::to_string(i) + ".pdf";
    if (tab == HistoryTab::STRUCTURE) {
      r.Texts["Structure"] = Fmt("%.2f%%", 20 + (i % 37) * 0.25);
      r.Texts["Line Structure"] = Fmt("%.2f%%", 5 + (i % 23) * 0.5);
      r.Texts["Freq1"] = Fmt("%.2f", 1 + (i % 5) * 0.125);
      r.Texts["Cycle1"] = Fmt("%.2f\u00B5m", 40 + i % 9);
    } else {
      r.Texts["DOTAREA"] = Fmt("%.2f%%", 5 + (i % 97) * 0.37);
      r.Texts["LCM"] = Fmt("%.2f", 40 + (i % 13) * 1.5);
      r.Texts["ANGLE"] = Fmt("%.2f\u00B0", 7.5 + (i % 4) * 15);
      r.Texts["EdgeFaktor"] = Fmt("%.2f", 1 + (i % 17) * 0.01);
      r.Texts["LineWidth"] = Fmt("%.2f\u00B5m", 20 + (i % 31) * 1.27);
      r.Texts["StdDevDiam"] = Fmt("%.2f\u00B5m", 0.5 + (i % 7) * 0.25);
      r.Integers["SizeTol"] = i % 20 - 5;
      r.Integers["LineLen"] = i * 3;
      if (tab == HistoryTab::MASK) {
        r.Texts["LineTol"] = Fmt("%.2f\u00B5m", 1 + (i % 5) * 0.5);
        r.Texts["AVGSize"] = Fmt("%.2f\u00B5m\u00B2", 100 + i % 50);
        r.Integers["AVGCount"] = i;
        r.Integers["GCount"] = -(i % 4);
      } else {
        r.Texts["Diameter"] = Fmt("%.2f\u00B5m", 10 + (i % 11) * 0.5);
      }
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string SqlText(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

std::string SqliteScript(const std::vector<Row>& rows) {
  std::string sql =
      "PRAGMA case_sensitive_like = ON;\nCREATE TABLE T(DateTime TEXT, Algorithm TEXT, JOBID TEXT, Plate TEXT, "
      "Operator TEXT);\nBEGIN;\n";
  for (const Row& r : rows) {
    auto text = [&](const char* c) {
      const auto it = r.Texts.find(c);
      return it == r.Texts.end() ? std::string("NULL") : SqlText(it->second);
    };
    sql += "INSERT INTO T VALUES(" + SqlText(r.DateTime) + "," + text("Algorithm") + "," + text("JOBID") + "," +
           text("Plate") + "," + text("Operator") + ");\n";
  }
  return sql + "COMMIT;\n";
}

std::string OutputDir() {
  const std::string out = std::string(QUIRVEL_TEST_OUTPUT) + "/archive";
  std::filesystem::create_directories(out);
  return out;
}

ArchiveFixture::ArchiveFixture() {
  engine_.Startup();
  const std::string path = dir_.File("archive.orv");
  CreateArchiveTemplate(path);
  data_ = std::make_unique<THRDBData>();
  data_->HomeDir = dir_.Path();
  data_->LanguageLine = [](std::string_view section, int offset) {
    return std::string(section) + "+" + std::to_string(offset);
  };
  data_->SetDatabaseFileName(path);
  data_->OpenHRDB();
}

ArchiveFixture::~ArchiveFixture() {
  data_.reset();
  if (engine_.Started()) engine_.Shutdown();
}

}  // namespace archive::testing
