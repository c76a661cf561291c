#pragma once
// Running the outside tools (qpdf, poppler, Python) that the tests take as ground truth.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cmake/test_tools.h"

namespace pdfwriter::testing {

// stdout and stderr together.
using quirvel::testing::RunTool;
using quirvel::testing::ToolResult;

// A scratch folder removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quirvel-pdf-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Leaves a written document in the build tree's test-output/pdf/ under its name, so that
// anyone can check it with qpdf, poppler and mutool after a test run.
inline void SaveSample(const std::string& name, const std::string& pdf) {
#ifdef QUIRVEL_TEST_OUTPUT
  const std::filesystem::path dir = std::filesystem::path(QUIRVEL_TEST_OUTPUT) / "pdf";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  WriteFile((dir / name).string(), pdf);
#else
  (void)name;
  (void)pdf;
#endif
}

}  // namespace pdfwriter::testing
