#pragma once
// Running an outside tool (Python, qpdf, poppler, ...) from a test: the shell command's exit
// status and what it printed.
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace quirvel::testing {

struct ToolResult {
  int exit_code = -1;  // -1 when the tool could not be started or did not exit normally
  std::string output;  // stdout, with stderr unless it goes to the test's log
};

inline ToolResult RunTool(const std::string& command, bool merge_stderr = true) {
  ToolResult r;
  FILE* p = ::popen((merge_stderr ? command + " 2>&1" : command).c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int status = ::pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace quirvel::testing
