#include "app/tests/app_test_support.h"

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "dbengine/access/orv_main_engine.h"

// The leak checker's own hook: font lookups of the window toolkit keep caches in the system's
// font library for the whole process; they are not ours to free. Nothing of our code is
// suppressed.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace app::test {

QApplication& App() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  // The database engine runs for the whole test program, as it does for the program: the
  // archive window opens the built home folder's archive with it.
  static orv::TORVEngine* engine = [] {
    auto* e = new orv::TORVEngine;
    e->Startup();
    return e;
  }();
  (void)engine;
  static QApplication* app = [] {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

void Pump() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "quirvel_test_XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TempHome::TempHome(bool with_assets) {
  if (!with_assets) return;
  std::filesystem::copy(std::string(QUIRVEL_SOURCE_DIR) + "/assets", Path(),
                        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

void WriteText(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace app::test
