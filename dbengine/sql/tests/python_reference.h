#pragma once
// Reference results written by Python (datetime, decimal) from a script in tests/data: the
// lines the script prints, without their line ends. Empty when python3 could not run it.
#include <cstdio>
#include <string>
#include <vector>

namespace orv::testing {

inline std::vector<std::string> PythonLines(const std::string& script) {
  std::vector<std::string> lines;
  const std::string command = "python3 " + std::string(QUIRVEL_TEST_DATA) + "/" + script;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return lines;
  std::string line;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') {
        lines.push_back(std::move(line));
        line.clear();
      } else {
        line += buf[i];
      }
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  if (::pclose(p) != 0) lines.clear();
  return lines;
}

}  // namespace orv::testing
