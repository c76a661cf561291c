// The stripe analysis on the structure page as a user sees it: the sample plate loaded, the
// stripe command run, and the histogram tab with the profile graph and the histogram saved as
// a picture into the tests' output folder.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>
#include <filesystem>
#include <optional>
#include <string>

#include "app/hr_main.h"
#include "app/program.h"
#include "app/qt_ui.h"
#include "app/tests/screenshot_support.h"
#include "platform/fonts/canvas_text_renderer.h"

namespace app {
namespace {


TEST(StripesScreenshot, UnderXvfb) {
  test::ScreenshotDisplay display("quirvel_stripes_home");
  ASSERT_TRUE(display.Started()) << "Xvfb did not start (scripts/setup installs it)";
  const std::string& home = display.Home();
  const std::string out_dir = QUIRVEL_TEST_OUTPUT;
  std::filesystem::create_directories(out_dir);
  const std::string out = out_dir + "/quirvel_stripes.png";
  std::filesystem::remove(out);
  {
    test::ScreenshotApplication application(home);
    test::OpenAnswered ui(home + "/Images/sample_plate.qvr");
    platform::ui::ScopedServices scoped(ui);
    // The raster's numbers are written on the image with the program's faces.
    platform::InstallCanvasTextRenderer();
    Program program;
    THRMainFrm& frm = *program.HRMainFrm;
    frm.move(0, 0);
    frm.show();
    ASSERT_TRUE(test::SettleUntil([&frm] { return !frm.st.FirstActivate; }, 30000));
    frm.Loadbtn->click();
    test::Settle(500);
    ASSERT_TRUE(frm.st.ImgCaptured);
    frm.Analyzepages->setCurrentWidget(frm.STRUCTURE);
    frm.StructurePageControl->setCurrentWidget(frm.StructHistPage);
    frm.StructureStreifen->click();
    test::Settle(1000);
    EXPECT_EQ(frm.st.MESSTYPE, analysis::MT_PLATEWSI);
    EXPECT_TRUE(frm.PlateStructPanel->isVisible());
    EXPECT_TRUE(frm.StripImage->isVisible());
    EXPECT_TRUE(frm.PlateStructHist->isVisible());
    ASSERT_NE(frm.StripImage->BitmapPicture(), nullptr);
    EXPECT_EQ(frm.StripImage->BitmapPicture()->Height(), 120);
    EXPECT_NE(frm.StructResLabel->text().toStdString().find("480"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(home + "/STRUCTIMG.bmp"));
    EXPECT_TRUE(std::filesystem::exists(home + "/SOBEL.bmp"));
    // The image shows the raster's numbers in red.
    const platform::Bitmap* shown = frm.AnalyseImage->BitmapPicture();
    ASSERT_NE(shown, nullptr);
    int red = 0;
    for (int y = 0; y < shown->Height(); y += 2)
      for (int x = 0; x < shown->Width(); x += 2) {
        const uint8_t* p = shown->ScanLine(y) + 3 * x;
        red += p[2] > 200 && p[1] < 60 && p[0] < 60;
      }
    EXPECT_GT(red, 1000);
    const QPixmap shot = test::Shot(frm);
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(QString::fromStdString(out), "PNG"));
  }
  EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace app
