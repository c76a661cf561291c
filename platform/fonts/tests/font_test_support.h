#pragma once
// Outside tools for the font tests: the Debian python3 with fontTools reads the same font
// files independently of our code.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cmake/test_tools.h"

namespace platform::fonttest {

using quirvel::testing::ToolResult;

inline ToolResult Run(const std::string& command) { return quirvel::testing::RunTool(command); }

// The python3 that has fontTools (the distribution's, not one that happens to be first on
// the PATH); empty when there is none.
inline std::string FontToolsPython() {
  for (const char* py : {"/usr/bin/python3", "python3"}) {
    if (Run(std::string(py) + " -c 'import fontTools'").exit_code == 0) return py;
  }
  return {};
}

// Runs a Python script (given as text) with arguments and returns its output.
inline ToolResult RunPython(const std::string& script, const std::string& args = {}) {
  const std::string py = FontToolsPython();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("quirvel-fonttest-" + std::to_string(::getpid()) + ".py")).string();
  {
    std::ofstream f(path);
    f << script;
  }
  ToolResult r = Run(py + " " + path + " " + args);
  std::filesystem::remove(path);
  return r;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string s = ss.str();
  return {s.begin(), s.end()};
}

}  // namespace platform::fonttest
