#pragma once
// fontTools as the outside reader of our font programs: the distribution's python3, which
// has it, rather than whichever python3 comes first on the PATH.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter::testing {

inline std::string FontToolsPython() {
  static const std::string python = [] {
    for (const char* py : {"/usr/bin/python3", "python3"}) {
      if (RunTool(std::string(py) + " -c 'import fontTools'").exit_code == 0) return std::string(py);
    }
    return std::string();
  }();
  return python;
}

// Runs a Python script given as text with arguments.
inline ToolResult RunPython(const std::string& script, const std::string& args = {}) {
  TempDir dir;
  WriteFile(dir.File("script.py"), script);
  return RunTool(FontToolsPython() + " " + dir.File("script.py") + " " + args);
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string s = ReadFile(path);
  return {s.begin(), s.end()};
}

}  // namespace pdfwriter::testing
