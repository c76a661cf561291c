#pragma once
// Shared by the tests of the application: one toolkit application for the process, and
// temporary home folders filled from the shipped assets.
#include <QApplication>
#include <filesystem>
#include <string>

namespace app::test {

// The process's toolkit application (created on first use, offscreen by the test setup).
QApplication& App();
// Lets the toolkit deliver what is pending.
void Pump();

// A fresh folder under the system's temp folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A home folder: the shipped assets (ini files and language files) copied into a temp dir.
class TempHome : public TempDir {
 public:
  explicit TempHome(bool with_assets = true);
};

#ifdef QUIRVEL_BUILD_HOME
// The built home folder, copied without the program: a start writes into its ini (the
// archive's path), reports into its report folders.
class BuiltHome : public TempDir {
 public:
  BuiltHome() {
    std::filesystem::copy(QUIRVEL_BUILD_HOME, Path(), std::filesystem::copy_options::recursive);
    std::filesystem::remove(*this / "quirvel");
  }
};
#endif

void WriteText(const std::string& path, const std::string& bytes);
std::string ReadText(const std::string& path);

}  // namespace app::test
