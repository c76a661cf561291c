// The camera settings window with the simulated camera's live picture, as a user sees it on a
// virtual X display: the camera comes from the ini the way the program's start installs it,
// and the picture is saved as camera_live.png into the tests' output folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "capture/camera_setup.h"
#include "capture/preview.h"
#include "capture/vcap.h"
#include "capture/vcap_graph.h"
#include "cmake/xvfb_display.h"
#include "platform/ui/scripted_ui.h"

extern "C" const char* __lsan_default_suppressions() {
  // The system's font, X and message-bus libraries keep caches for the whole process.
  return "leak:libfontconfig.so\nleak:libxcb\nleak:libX11.so\nleak:libdbus-1.so\n";
}

namespace capture {
namespace {

using namespace platform::video;

void PumpFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(CameraLiveScreenshot, UnderXvfb) {
  testing_support::Xvfb xvfb;
  ASSERT_FALSE(xvfb.Display().empty()) << "Xvfb did not start (scripts/setup installs it)";
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);

  const auto dir = std::filesystem::temp_directory_path() / "quirvel_camera_live";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string ini = (dir / "QUIRVEL.INI").string();
  std::ofstream(ini) << "[QUIRVEL]\r\nSERIAL=0000\r\n[CAMERA]\r\nSIMULATED=Ocuvant USB-C\r\n";
  const std::string out_dir = std::string(QUIRVEL_TEST_OUTPUT) + "/capture";
  std::filesystem::create_directories(out_dir);
  const std::string out = out_dir + "/camera_live.png";
  std::filesystem::remove(out);

  int argc = 1;
  char name[] = "quirvel";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
  platform::ui::ScriptedUi ui;
  platform::ui::ScopedServices scoped(ui);
  TCameraSetup cameras(ini);
  ASSERT_EQ(cameras.SimulatedDevices().size(), 1u);
  {
    TFrmPreview frm;
    frm.move(0, 0);
    frm.show();
    // Set up as the camera window sets up its camera: video only, the device by its listed
    // name, the vendor interfaces for shutter and gain.
    TVideoCapture& cap = *frm.gCap;
    cap.SetWantAudio(false);
    cap.SetWantAudioPreview(false);
    cap.SetWantCapture(false);
    cap.SetWantDVAudio(false);
    const auto names = GetVideoDevicesList(true);
    ASSERT_NE(std::find(names.begin(), names.end(), "Ocuvant USB-C"), names.end());
    cap.ChooseDevices("Ocuvant USB-C", "");
    ASSERT_TRUE(cap.Previewing());
    ASSERT_TRUE(cap.InitMFilters(IID_OcuvantCOM, CLSID_Ocuvant24B13));
    cap.MCMOSFilter()->SetAGC(32);
    cap.MCMOSFilter()->SetShutterSpeed(ssc250);
    cap.MCMOSFilter()->SetMirror(1);
    // The scroll box shows the middle of the picture, with the edge target.
    PumpFor(300);
    frm.ScrollBox1->ensureVisible(640, 640, 400, 300);
    QElapsedTimer clock;
    clock.start();
    while (!(cap.VideoWindow() && cap.VideoWindow()->HasFrame()) && clock.elapsed() < 10000) PumpFor(50);
    ASSERT_TRUE(cap.VideoWindow()->HasFrame());
    PumpFor(800);  // a few more frames at the new shutter, and the window system draws them

    const QRect area = frm.frameGeometry();
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString::fromStdString(out), "PNG"));

    // The live picture: gray halftone levels, the bare plate at 240 and dots near black.
    const QImage image = shot.toImage();
    std::map<int, int> levels;
    int gray = 0, all = 0;
    for (int y = 40; y < image.height(); y += 2) {
      for (int x = 0; x < image.width(); x += 2) {
        const QRgb p = image.pixel(x, y);
        ++all;
        if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) {
          ++gray;
          ++levels[qRed(p)];
        }
      }
    }
    EXPECT_GT(gray, all * 8 / 10);
    EXPECT_GT(levels[240], all / 5);
    EXPECT_GT(levels[6], all / 50);
    EXPECT_TRUE(ui.Messages().empty());
    cap.StopPreview();
  }
  EXPECT_TRUE(std::filesystem::exists(out));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace capture
