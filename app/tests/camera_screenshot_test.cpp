// The camera page as an operator sees it on a virtual X display (Xvfb): the program starts with
// a copy of the built home folder, whose ini names the simulated camera; Preview shows its live
// picture in the main window (camera_page.png) and Capture takes a 19-step exposure series
// and shows the combined image (after_series.png), both saved into the capture tests' output
// folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/hr_main.h"
#include "app/program.h"
#include "app/qt_ui.h"
#include "app/tests/screenshot_support.h"
#include "capture/camera_setup.h"
#include "capture/preview.h"
#include "capture/vcap.h"
#include "platform/ini/profile.h"

namespace app {
namespace {

// The toolkit's services, with message boxes recorded instead of waiting for a person.
class RecordedMessages : public QtUiServices {
 public:
  void ShowMessage(const std::string& text) override { texts.push_back(text); }
  platform::ui::ModalResult MessageBox(const std::string& text, const std::string&, platform::ui::MsgButtons,
                                       platform::ui::MsgKind) override {
    texts.push_back(text);
    return platform::ui::ModalResult::Ok;
  }
  std::vector<std::string> texts;
};

using test::Settle;
using test::SettleUntil;

QImage Shot(const QWidget& w) { return test::Shot(w).toImage(); }

// The picture of the image display on the screen.
QImage DisplayShot(const THRMainFrm& frm) {
  const QPoint at = frm.AnalyseImage->mapToGlobal(QPoint(0, 0));
  const QRect visible = frm.AnalyseImage->visibleRegion().boundingRect();
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, at.x() + visible.x(), at.y() + visible.y(), visible.width(), visible.height())
      .toImage();
}

TEST(CameraPageScreenshot, LivePictureAndSeriesUnderXvfb) {
  test::ScreenshotDisplay display("quirvel_camera_page_home");
  ASSERT_TRUE(display.Started()) << "Xvfb did not start (scripts/setup installs it)";
  const std::string& home = display.Home();
  const std::string ini = home + "/QUIRVEL.INI";
  // The camera page is a service page; the simulated sensor has its noise (as shipped: a
  // built home folder keeps an older ini of its own).
  ASSERT_TRUE(platform::WritePrivateProfileString("QUIRVEL", "SHOWCAMERA", "47096", ini));
  ASSERT_TRUE(platform::WritePrivateProfileString("CAMERA", "SIMULATED", "Ocuvant USB-C", ini));
  ASSERT_TRUE(platform::WritePrivateProfileString("CAMERA", "NOISE", "2", ini));
  const std::string out_dir = QUIRVEL_CAPTURE_TEST_OUTPUT;
  std::filesystem::create_directories(out_dir);
  const std::string live_out = out_dir + "/camera_page.png";
  const std::string series_out = out_dir + "/after_series.png";
  std::filesystem::remove(live_out);
  std::filesystem::remove(series_out);

  {
    test::ScreenshotApplication application(home);
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    RecordedMessages ui;
    platform::ui::ScopedServices scoped(ui);
    // The cameras as the program's start installs them: the ini's simulated camera.
    capture::TCameraSetup cameras(ini);
    ASSERT_EQ(cameras.SimulatedDevices().size(), 1u);
    EXPECT_EQ(cameras.SimulatedDevices()[0]->Config().noise, 2);
    {
      Program program;
      THRMainFrm& frm = *program.HRMainFrm;
      capture::TFrmPreview& preview = *program.FrmPreview;
      frm.move(0, 0);
      frm.show();
      ASSERT_TRUE(SettleUntil([&] { return !frm.st.FirstActivate; }, 30000)) << "the first activation did not run";
      Settle(500);

      // The live picture on the camera page.
      ActivatePage(frm.Camera);
      frm.ITBar->setValue(7);
      frm.NumImgs->setValue(18);
      int frames = 0;
      auto inner = preview.gCap->OnBitmapGrabbed;
      preview.gCap->OnBitmapGrabbed = [&frames, inner](capture::TCapturedBitmap& bmp) {
        ++frames;
        inner(bmp);
      };
      frm.Refreshbtn->click();
      ASSERT_EQ(preview.DriverStatus, 2);
      ASSERT_TRUE(SettleUntil([&] { return frames >= 10; }, 20000)) << "no live frames";
      Settle(300);
      const QImage live = Shot(frm);
      ASSERT_FALSE(live.isNull());
      ASSERT_TRUE(live.save(QString::fromStdString(live_out), "PNG"));
      // The display shows the camera's gray picture with the lime centre line.
      const QImage live_display = DisplayShot(frm);
      int gray = 0, lime = 0, all = 0;
      for (int y = 0; y < live_display.height(); y += 3) {
        for (int x = 0; x < live_display.width(); x += 3) {
          const QRgb p = live_display.pixel(x, y);
          ++all;
          if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) ++gray;
          if (qRed(p) == 0 && qGreen(p) == 255 && qBlue(p) == 0) ++lime;
        }
      }
      EXPECT_GT(gray, all * 8 / 10);
      EXPECT_GT(lime, 0);

      // A 19-step series from the camera page, at the camera's own pace.
      frm.Capturebtn->click();
      EXPECT_EQ(capture::PreviewModule().NUMIMG, 19);
      ASSERT_TRUE(SettleUntil([&] { return frm.st.ImgCaptured && preview.VideoStatus == 0; }, 60000))
          << "the series did not finish";
      Settle(500);
      const QImage after = Shot(frm);
      ASSERT_TRUE(after.save(QString::fromStdString(series_out), "PNG"));
      EXPECT_EQ(frm.MainProgress->value(), 100);
      EXPECT_GT(frm.st.maxbr, frm.st.minbr);
      // The combined image on the display: dark dots on the bright plate, and no centre line.
      const QImage combined = DisplayShot(frm);
      std::map<int, int> levels;
      lime = 0;
      for (int y = 0; y < combined.height(); y += 3) {
        for (int x = 0; x < combined.width(); x += 3) {
          const QRgb p = combined.pixel(x, y);
          if (qRed(p) == 0 && qGreen(p) == 255 && qBlue(p) == 0) ++lime;
          if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) ++levels[qRed(p) / 32];
        }
      }
      EXPECT_EQ(lime, 0);
      EXPECT_GE(levels.size(), 2u);
      EXPECT_TRUE(ui.texts.empty()) << ui.texts.front();
      preview.gCap->StopPreview();
    }
  }
  EXPECT_TRUE(std::filesystem::exists(live_out));
  EXPECT_TRUE(std::filesystem::exists(series_out));
}

}  // namespace
}  // namespace app
