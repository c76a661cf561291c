// The main window as a user sees it: the program starts on a virtual X display (Xvfb) with
// the built home folder, and the screen content of its main window is saved as a picture
// into the tests' output folder: at start, with the sample plate loaded and measured, and with
// a plate statistic of three measurements.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/about.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/program.h"
#include "app/qt_ui.h"
#include "app/tests/screenshot_support.h"

extern "C" const char* __lsan_default_suppressions() {
  // The system's font, X and message-bus libraries keep caches for the whole process.
  return "leak:libfontconfig.so\nleak:libxcb\nleak:libX11.so\nleak:libdbus-1.so\n";
}

namespace app {
namespace {


using test::OpenAnswered;
using test::Settle;
using test::Shot;

TEST(MainWindowScreenshot, UnderXvfb) {
  test::ScreenshotDisplay display("quirvel_screenshot_home");
  ASSERT_TRUE(display.Started()) << "Xvfb did not start (scripts/setup installs it)";
  const std::string& home = display.Home();
  const std::string out_dir = QUIRVEL_TEST_OUTPUT;
  std::filesystem::create_directories(out_dir);
  const std::string out = out_dir + "/quirvel_main_window.png";
  const std::string loaded_out = out_dir + "/quirvel_loaded_plate.png";
  const std::string measured_out = out_dir + "/quirvel_plate_measurement.png";
  const std::string line_out = out_dir + "/plate_line.txt";
  const std::string statistics_out = out_dir + "/quirvel_statistics.png";
  for (const std::string& f : {out, loaded_out, measured_out, line_out, statistics_out}) std::filesystem::remove(f);

  {
    test::ScreenshotApplication application(home);
    ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    OpenAnswered ui(home + "/Images/sample_plate.qvr");
    platform::ui::ScopedServices scoped(ui);
    {
      Program program;
      THRMainFrm& frm = *program.HRMainFrm;
      frm.move(0, 0);
      frm.show();
      QElapsedTimer clock;
      clock.start();
      while (frm.st.FirstActivate && clock.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 50);
      ASSERT_FALSE(frm.st.FirstActivate) << "the first activation did not run";
      Settle(1000);
      const QPixmap shot = Shot(frm);
      ASSERT_FALSE(shot.isNull());
      ASSERT_TRUE(shot.save(QString::fromStdString(out), "PNG"));
      EXPECT_EQ(frm.windowTitle().toStdString(), "QUIRVEL Dudiv Adavuzed sn0000 v" + BuildVersion());

      // What the screen shows is the window, not an empty display: many colours.
      const QImage image = shot.toImage();
      QSet<QRgb> colours;
      for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
      }
      EXPECT_GT(colours.size(), 100);
      EXPECT_GE(image.width(), 1000);

      // The sample plate of the home folder, loaded through the window's load button: the
      // plate page opens with the image of its header.
      frm.Loadbtn->click();
      Settle(1000);
      EXPECT_EQ(frm.Analyzepages->currentWidget(), frm.Plate);
      EXPECT_TRUE(frm.st.ImgCaptured);
      EXPECT_EQ(frm.StatusBar1->PanelText(5).toStdString(), "sample_plate.qvr");
      const QPixmap loaded = Shot(frm);
      ASSERT_TRUE(loaded.save(QString::fromStdString(loaded_out), "PNG"));
      EXPECT_NE(loaded.toImage(), image);

      // The plate command on it: the result panel, the overlay, and the line the result
      // server would send.
      frm.AnalyzePlateBtn->click();
      Settle(1000);
      EXPECT_EQ(frm.st.MESSTYPE, analysis::MT_PLATEDOT);
      EXPECT_TRUE(frm.PDotAreaPanel->isVisible());
      const QPixmap measured = Shot(frm);
      ASSERT_TRUE(measured.save(QString::fromStdString(measured_out), "PNG"));
      EXPECT_NE(measured.toImage(), loaded.toImage());
      const std::string line = frm.GetMessString();
      EXPECT_EQ(line.substr(0, 2), "F\t");
      {
        std::ofstream text(line_out, std::ios::binary);
        text << line << "\n";
      }
      // The plate statistic: collection switched on with the plate page's add button on this
      // result, and two more plate measurements collected.
      frm.PlatePageControl->setCurrentWidget(frm.PlateStatTab);
      frm.StatPPlusbtn->click();
      ASSERT_TRUE(frm.st.StatActive);
      for (int i = 0; i < 2; ++i) {
        frm.AnalyzePlateBtn->click();
        Settle(200);
      }
      EXPECT_EQ(HRMain().StatCount, 3);
      EXPECT_EQ(frm.PlateGrid->item(0, 0)->text().toStdString(), "# 3");
      EXPECT_EQ(frm.PlateGrid->item(1, 1)->text(), frm.PlateDotAreaRes->text().chopped(1));
      Settle(1000);
      ASSERT_TRUE(Shot(frm).save(QString::fromStdString(statistics_out), "PNG"));

      // File, Close from the running event loop ends it with code 0.
      QTimer::singleShot(0, &frm, [&frm] { frm.Close1Click(); });
      EXPECT_EQ(QApplication::exec(), 0);
      EXPECT_FALSE(frm.isVisible());
    }
    EXPECT_EQ(ui.ExitCode(), 0);
  }
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_TRUE(std::filesystem::exists(loaded_out));
  EXPECT_TRUE(std::filesystem::exists(measured_out));
  EXPECT_TRUE(std::filesystem::exists(line_out));
  EXPECT_TRUE(std::filesystem::exists(statistics_out));
}

}  // namespace
}  // namespace app
