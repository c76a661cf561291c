#pragma once
// Shared by the tests that photograph the program's windows on a virtual X display: the display
// with a copy of the built home folder (the start writes into its ini), the toolkit
// application on that display with the test's UI services and home folder, and waiting for the
// window system.
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/home_path.h"
#include "app/qt_ui.h"
#include "cmake/xvfb_display.h"

namespace app::test {

// A virtual X server the toolkit will use, and a fresh copy of the built home folder named
// `homeName` in the temp folder (removed with the object).
class ScreenshotDisplay {
 public:
  explicit ScreenshotDisplay(const std::string& homeName)
      : home_((std::filesystem::temp_directory_path() / homeName).string()) {
    if (xvfb_.Display().empty()) return;
    setenv("DISPLAY", xvfb_.Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    std::filesystem::remove_all(home_);
    std::filesystem::copy(QUIRVEL_BUILD_HOME, home_, std::filesystem::copy_options::recursive);
  }
  ~ScreenshotDisplay() { std::filesystem::remove_all(home_); }
  ScreenshotDisplay(const ScreenshotDisplay&) = delete;
  ScreenshotDisplay& operator=(const ScreenshotDisplay&) = delete;

  bool Started() const { return !xvfb_.Display().empty(); }
  const std::string& Home() const { return home_; }

 private:
  testing_support::Xvfb xvfb_;
  std::string home_;
};

// The toolkit application on the display, with the home folder as the program's folder and no
// outside programs started. The test's UI services come after it (they are toolkit objects).
class ScreenshotApplication {
 public:
  explicit ScreenshotApplication(const std::string& home)
      : application_(argc_, argv_),
        folder_(home),
        no_programs_([](const std::vector<std::string>&) { return true; }) {
    QApplication::setApplicationName("QUIRVEL");
  }

 private:
  int argc_ = 1;
  char name_[8] = "quirvel";
  char* argv_[2] = {name_, nullptr};
  QApplication application_;
  ScopedProgramFolder folder_;
  ScopedLauncher no_programs_;
};

// Lets the window system draw what the windows painted.
inline void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Serves the window system until `done` holds; false when `timeoutMs` passed first.
inline bool SettleUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// What the screen shows of a window, its frame included.
inline QPixmap Shot(const QWidget& w) {
  const QRect area = w.frameGeometry();
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

// The toolkit's UI services, with the file dialog answered by the test: the window's load
// command runs as the operator's would, on the real screen.
class OpenAnswered : public QtUiServices {
 public:
  explicit OpenAnswered(std::string path) : path_(std::move(path)) {}
  std::optional<std::string> OpenFileDialog(const platform::ui::FileDialogOptions& options) override {
    asked = options;
    return path_;
  }
  platform::ui::FileDialogOptions asked;

 private:
  std::string path_;
};

}  // namespace app::test
