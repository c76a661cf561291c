#pragma once
// The outside readers the workbook tests take as ground truth: xlrd and olefile through the
// distribution's python3 (tests/data/xls_dump.py), and gnumeric's ssconvert.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cmake/test_tools.h"

namespace platform::xls::testing {

using quirvel::testing::ToolResult;

// stdout; stderr goes to the test's log.
inline ToolResult RunTool(const std::string& command) { return quirvel::testing::RunTool(command, false); }

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Found from the source tree, so that tests of other folders that export workbooks use it too.
inline std::string DumpScript() { return Quote(std::string(QUIRVEL_SOURCE_DIR) + "/platform/xls/tests/data/xls_dump.py"); }

// The python3 of the distribution, which has xlrd and olefile (scripts/setup installs them).
inline std::string Python() { return "/usr/bin/python3"; }

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

inline std::vector<std::string> SplitTabs(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t tab = s.find('\t', start);
    parts.push_back(Unescape(s.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return parts;
}

struct FontSeen {
  std::string name;
  int twips = 0;
  bool bold = false;
};

// What a reader saw in a workbook. Cells are "" (empty), "s:text", "n:number", "d:date",
// "b:0/1" or "e:code".
struct Dump {
  int exit_code = -1;
  std::string raw;
  std::string ole;
  std::vector<std::string> sheets;
  int nrows = 0, ncols = 0;
  std::map<int, FontSeen> fonts;  // by row, of the first column
  std::map<int, int> widths;
  std::vector<std::vector<std::string>> rows;

  // The cell, "" past the used range.
  std::string Cell(size_t r, size_t c) const {
    if (r >= rows.size() || c >= rows[r].size()) return "";
    return rows[r][c];
  }
};

inline Dump ParseDump(const ToolResult& t) {
  Dump d;
  d.exit_code = t.exit_code;
  d.raw = t.output;
  std::istringstream in(t.output);
  std::string line;
  while (std::getline(in, line)) {
    const size_t sp = line.find(' ');
    const std::string key = line.substr(0, sp);
    const std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (key == "OLE") {
      d.ole = rest;
    } else if (key == "SHEETS") {
      d.sheets = SplitTabs(rest);
    } else if (key == "SIZE") {
      const auto p = SplitTabs(rest);
      d.nrows = std::stoi(p.at(0));
      d.ncols = std::stoi(p.at(1));
    } else if (key == "FONT") {
      const auto p = SplitTabs(rest);
      d.fonts[std::stoi(p.at(0))] = {p.at(2), std::stoi(p.at(3)), p.at(4) == "1"};
    } else if (key == "WIDTH") {
      const auto p = SplitTabs(rest);
      d.widths[std::stoi(p.at(0))] = std::stoi(p.at(1));
    } else if (key == "ROW") {
      auto cells = SplitTabs(rest);
      while (!cells.empty() && cells.back().empty()) cells.pop_back();
      d.rows.push_back(std::move(cells));
    }
  }
  return d;
}

// xlrd's and olefile's view of an .xls file.
inline Dump ReadWithXlrd(const std::string& path) {
  return ParseDump(RunTool(Python() + " " + DumpScript() + " xls " + Quote(path)));
}

// ssconvert's CSV of an .xls file (its minus sign U+2212 read as '-'); exit_code is ssconvert's (or the reader's when ssconvert
// succeeded).
inline Dump ReadWithSsconvert(const std::string& path, const std::string& csv_path) {
  // Cells as their formats show them (dates in the workbook's own date format).
  const ToolResult conv =
      RunTool("ssconvert --export-type=Gnumeric_stf:stf_assistant --export-options='format=preserve charset=UTF-8' " +
              Quote(path) + " " + Quote(csv_path) + " 2>&1");
  if (conv.exit_code != 0) {
    Dump d;
    d.exit_code = conv.exit_code;
    d.raw = conv.output;
    return d;
  }
  return ParseDump(RunTool(Python() + " " + DumpScript() + " csv " + Quote(csv_path)));
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A scratch folder removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quirvel-xls-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  // Names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

// The folder under the build tree where samples for outside checks stay.
inline std::string OutputDir() {
  const std::string dir = std::string(QUIRVEL_TEST_OUTPUT) + "/xls";
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace platform::xls::testing
