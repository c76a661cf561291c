#pragma once
// Shared by the capture tests: one toolkit application for the process, pumping its events
// until something happened, and a fixture with scripted message boxes and simulated cameras.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/vcap.h"
#include "platform/ui/scripted_ui.h"
#include "platform/video/simulated_camera.h"

namespace capture::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "capture_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Delivers posted events until `done` holds or `timeoutMs` passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  App();
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

inline void Pump(int ms = 0) {
  QElapsedTimer clock;
  clock.start();
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (clock.elapsed() < ms);
}

class CaptureTest : public ::testing::Test {
 protected:
  CaptureTest()
      : backend_(std::make_shared<platform::video::SimulatedCameraBackend>()),
        scoped_backends_({backend_}),
        scoped_ui_(ui_) {
    App();
    ClearDevicesList();
  }
  ~CaptureTest() override { ClearDevicesList(); }

  std::shared_ptr<platform::video::SimulatedCamera> AddCamera(platform::video::SimulatedCameraConfig config = {}) {
    return backend_->AddDevice(std::move(config));
  }
  static platform::video::SimulatedCameraConfig OnRequest(platform::video::SimulatedCameraConfig c = {}) {
    c.onRequest = true;
    return c;
  }

  // A control set up as the camera window sets it up: video preview and bitmaps only.
  static void VideoOnly(TVideoCapture& cap) {
    cap.SetWantAudio(false);
    cap.SetWantAudioPreview(false);
    cap.SetWantCapture(false);
    cap.SetWantDVAudio(false);
    cap.SetWantBitmaps(true);
    cap.SetWantPreview(true);
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.Messages()) texts.push_back(m.text);
    return texts;
  }

  std::shared_ptr<platform::video::SimulatedCameraBackend> backend_;
  platform::video::ScopedVideoBackends scoped_backends_;
  platform::ui::ScriptedUi ui_;
  platform::ui::ScopedServices scoped_ui_;
};

}  // namespace capture::test
