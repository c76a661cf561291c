// Manual measurement through synthetic mouse events on the analysis image: the ruler, the
// editing of the shown population, the line measurement of line mode, the camera window's
// hold on the mouse, and the fixed screens typed into the input box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabWidget>
#include <QToolButton>

#include "analysis/analyze_dots.h"
#include "analysis/analyze_grid.h"
#include "analysis/myimage.h"
#include "analysis/mymath.h"
#include "app/home_path.h"
#include "app/tests/main_window_fixture.h"
#include "app/tests/square_dot.h"
#include "platform/fonts/canvas_text_renderer.h"

namespace app {
namespace {

using analysis::TDot;
using analysis::TSortedDotList;
using platform::Bitmap;

uint32_t Pixel(const Bitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + 3 * x;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

class ManualTest : public test::MainWindowTest {
 protected:
  ManualTest() {
    platform::InstallCanvasTextRenderer();
    Create();
    Activate();
    frm->st.dbmp->Fill(128);
    frm->st.rbmp->Fill(128);
    frm->st.ImgCaptured = true;
    frm->DrawZoomed(*frm->st.dbmp);
  }

  void Mouse(QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::LeftButton,
             Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF p(x, y);
    QMouseEvent e(type, p, frm->AnalyseImage->mapToGlobal(p), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), mods);
    QApplication::sendEvent(frm->AnalyseImage, &e);
  }
  void Click(int x, int y, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Mouse(QEvent::MouseButtonPress, x, y, Qt::LeftButton, mods);
    Mouse(QEvent::MouseButtonRelease, x, y, Qt::LeftButton, mods);
  }
  std::string Panel(int i) const { return frm->StatusBar1->PanelText(i).toStdString(); }
  const Bitmap& Shown() const { return *frm->AnalyseImage->BitmapPicture(); }

  TDot* Dot(int cx, int cy, int half, bool black) {
    return test::SquareDot(a, ++id, cx, cy, half, (2 * half + 1) * (2 * half + 1), black);
  }

  analysis::AnalyzeState& a = analysis::Analysis();
  uint16_t id = 10;
};

TEST_F(ManualTest, RulerAtZoomTwo) {
  frm->st.ZoomOn = 2;
  frm->DrawZoomed(*frm->st.dbmp);
  Mouse(QEvent::MouseButtonPress, 100, 300);
  Mouse(QEvent::MouseMove, 300, 300);
  EXPECT_EQ(Panel(1), "300");
  EXPECT_EQ(Panel(2), "300");
  Mouse(QEvent::MouseButtonRelease, 300, 300);
  // 200 window pixels are 100 image pixels: 100 x 25.4 / 43000 mm.
  EXPECT_EQ(Panel(0), "59.07 \u00B5m");
  EXPECT_EQ(Panel(3), "100.00p");
  EXPECT_EQ(frm->st.StartPos, (platform::TPoint{-1, -1}));
  EXPECT_EQ(Pixel(Shown(), 250, 300), 0xFFFF00u);  // the aqua line
  // The length is written in red at the midpoint (200, 300) and right of it.
  int red = 0;
  for (int y = 300; y < 320; ++y)
    for (int x = 200; x < 300; ++x) red += Pixel(Shown(), x, y) == 0x0000FFu;
  EXPECT_GT(red, 20);

  // Mil units.
  a.SUnits = 1;
  Mouse(QEvent::MouseButtonPress, 100, 300);
  Mouse(QEvent::MouseButtonRelease, 300, 300);
  EXPECT_EQ(Panel(0), analysis::SetVal(100 * 1000 / 43000.0, 2) + " mil");

  // A release without a plain press measures nothing.
  frm->StatusBar1->SetPanelText(0, "");
  Mouse(QEvent::MouseButtonRelease, 300, 300);
  EXPECT_EQ(Panel(0), "");
}

TEST_F(ManualTest, TheLiveVideoHoldsTheMouse) {
  preview.VideoStatus = 1;
  Mouse(QEvent::MouseButtonPress, 100, 300);
  Mouse(QEvent::MouseMove, 300, 300);
  Mouse(QEvent::MouseButtonRelease, 300, 300);
  EXPECT_EQ(Panel(0), "");
  EXPECT_EQ(Panel(1), "");
  EXPECT_EQ(frm->st.StartPos, (platform::TPoint{-1, -1}));
  preview.VideoStatus = 0;
}

TEST_F(ManualTest, ClicksEditTheShownPopulation) {
  frm->Analyzepages->setCurrentWidget(frm->Plate);
  TDot* black1 = Dot(200, 200, 6, true);
  TDot* black2 = Dot(300, 200, 6, true);
  TDot* white = Dot(400, 200, 6, false);
  TSortedDotList* pop = analysis::NewSortedDotList(false);
  a.GAlternative = a.ActAlternative = pop;
  frm->st.ManOn = true;
  HRMain().MyMess.aType = analysis::MT_PLATEDOT;

  // The first click of manual mode on a black dot makes the population black.
  Click(200, 200);
  ASSERT_NE(a.ActAlternative, nullptr);
  EXPECT_TRUE(a.ActAlternative->isBlack);
  EXPECT_EQ(a.ActAlternative->Count, 1);
  EXPECT_TRUE(analysis::DotInSortedDotList(black1->ID, a.ActAlternative));
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
  EXPECT_FALSE(frm->PDotAreaPanel->isHidden());
  // A white dot changes nothing now.
  Click(400, 200);
  EXPECT_EQ(a.ActAlternative->Count, 1);
  EXPECT_FALSE(analysis::DotInSortedDotList(white->ID, a.ActAlternative));

  frm->st.ManOn = false;
  // Ctrl on a member and Shift on a non-member do nothing.
  Click(200, 200, Qt::ControlModifier);
  Click(300, 200, Qt::ShiftModifier);
  EXPECT_EQ(a.ActAlternative->Count, 1);
  // Ctrl adds, Shift removes.
  Click(300, 200, Qt::ControlModifier);
  EXPECT_EQ(a.ActAlternative->Count, 2);
  EXPECT_TRUE(analysis::DotInSortedDotList(black2->ID, a.ActAlternative));
  Click(200, 200, Qt::ShiftModifier);
  EXPECT_EQ(a.ActAlternative->Count, 1);
  EXPECT_FALSE(analysis::DotInSortedDotList(black1->ID, a.ActAlternative));
  // An edit click starts no ruler; points beside the image find no dot.
  EXPECT_EQ(frm->st.StartPos, (platform::TPoint{-1, -1}));
  Click(1300, 200, Qt::ControlModifier);
  EXPECT_EQ(a.ActAlternative->Count, 1);

  // A right click restores the display bars and shows the plain gray image.
  frm->st.rbmp->Fill(0);
  frm->DrawZoomed(*frm->st.rbmp);
  Mouse(QEvent::MouseButtonPress, 50, 50, Qt::RightButton);
  EXPECT_EQ(Pixel(Shown(), 50, 50), 0x808080u);
  EXPECT_EQ(frm->st.OldMark, (platform::TPoint{-1, -1}));
}

// Dark bars 12 pixels wide, 40 apart, the first from x = 200.
TEST_F(ManualTest, LineModeDragMeasuresABar) {
  Bitmap bars(analysis::ImWidth, analysis::ImHeight);
  for (int y = 0; y < bars.Height(); ++y)
    for (int x = 0; x < bars.Width(); ++x) {
      uint8_t* p = bars.ScanLine(y) + 3 * x;
      p[0] = p[1] = p[2] = (x - 200 + 400) % 40 < 12 ? 30 : 225;
    }
  *frm->st.dbmp = bars;
  *frm->st.rbmp = bars;
  frm->st.aHist.TH = 128;
  frm->Analyzepages->setCurrentWidget(frm->Plate);
  frm->FLinebtn->click();
  ASSERT_TRUE(frm->st.LineOn);
  EXPECT_TRUE(frm->FLinebtn->isChecked());
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATELINE);
  Mouse(QEvent::MouseButtonPress, 203, 500);
  Mouse(QEvent::MouseButtonRelease, 208, 500);
  // Widths run between the centres of the edge pixels: the bar reads one pixel narrower.
  const double um = 11 * 25400.0 / 43000;
  EXPECT_NEAR(HRMain().MyMess.LineWidth, um, 0.2 * 25400 / 43000);
  EXPECT_NEAR(analysis::GetVal(S(frm->FLineWidthRes->text())), HRMain().MyMess.LineWidth, 0.01);
  EXPECT_FALSE(frm->PLinePanel->isHidden());
  frm->FLinebtn->click();
  EXPECT_FALSE(frm->st.LineOn);
  EXPECT_FALSE(frm->FLinebtn->isChecked());
}

TEST_F(ManualTest, FixedPlateScreenFromTheInputBox) {
  frm->Analyzepages->setCurrentWidget(frm->Plate);
  a.LUnits = 2.54;
  frm->PlateLCMResult->setText("54.0");
  ui.QueueInput("60");
  frm->FixScreenbtn->click();
  EXPECT_NEAR(frm->st.GScreen, 282.15, 0.005);
  EXPECT_TRUE(frm->FixScreenbtn->isChecked());
  ASSERT_EQ(ui.Inputs().size(), 1u);
  EXPECT_EQ(ui.Inputs()[0].caption, "QUIRVEL");
  EXPECT_EQ(ui.Inputs()[0].prompt, S(frm->LCMLabelPlate->text()));
  EXPECT_EQ(ui.Inputs()[0].proposed, "54.0");
  // The display is redone: the empty population leaves the placeholders.
  EXPECT_FALSE(frm->PDotAreaPanel->isHidden());
  EXPECT_EQ(frm->st.MESSTYPE, HRMain().MyMess.aType);

  // Pressed again: the measured period applies again.
  frm->FixScreenbtn->click();
  EXPECT_EQ(frm->st.GScreen, 0);
  EXPECT_FALSE(frm->FixScreenbtn->isChecked());
  // No number releases the button; a cancel leaves it pressed without a period.
  ui.QueueInput("abc");
  frm->FixScreenbtn->click();
  EXPECT_EQ(frm->st.GScreen, 0);
  EXPECT_FALSE(frm->FixScreenbtn->isChecked());
  ui.QueueInput(std::nullopt);
  frm->FixScreenbtn->click();
  EXPECT_EQ(frm->st.GScreen, 0);
  EXPECT_TRUE(frm->FixScreenbtn->isChecked());
}

TEST_F(ManualTest, FixedMaskAndFilmScreensInLinesPerInch) {
  a.LUnits = 1;
  ui.QueueInput("150");
  frm->FixLAMSScreenbtn->click();
  EXPECT_NEAR(frm->st.GLScreen, 43000 / 150.0, 1e-9);
  ui.QueueInput("200");
  frm->FixFScreenbtn->click();
  EXPECT_NEAR(frm->st.GFScreen, 43000 / 200.0, 1e-9);
  EXPECT_FALSE(frm->FilmDotAreaPanel->isHidden());
}

// The buttons of the manual commands, each leaving its type.
TEST_F(ManualTest, ButtonsRunTheirCommands) {
  // High-range discs (3000) on paper (10000) 60 pixels apart, as a capture leaves them.
  Bitmap high(analysis::ImWidth, analysis::ImHeight);
  for (int y = 0; y < high.Height(); ++y)
    for (int x = 0; x < high.Width(); ++x) {
      const int dx = x % 60 - 30, dy = y % 60 - 30;
      analysis::Set16BitValue(high.ScanLine(y), x, dx * dx + dy * dy <= 100 ? 3000 : 10000);
    }
  *frm->st.ibmp = high;
  frm->st.HaveImage = true;
  frm->Analyzepages->setCurrentWidget(frm->Plate);
  frm->SizeLimit->setText("20");
  frm->BurlDotbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_NXBURL);
  EXPECT_EQ(HRMain().MyMess.aType, analysis::MT_NXBURL);
  ASSERT_NE(a.ActAlternative, nullptr);
  EXPECT_EQ(a.ActAlternative, a.GAlternative);
  EXPECT_FALSE(frm->PDotAreaPanel->isHidden());
  EXPECT_EQ(frm->MainProgress->value(), 100);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  frm->ManPlatebtn->click();
  EXPECT_TRUE(frm->st.ManOn);
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEDOT);
  frm->ManPlatebtn->click();
  EXPECT_FALSE(frm->st.ManOn);
  frm->ManFilmbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_FILMDOT);
  frm->ManFilmbtn->click();
  frm->ManMaskbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_LAMSDOT);
  EXPECT_TRUE(frm->ManMaskbtn->isChecked());
  frm->ManMaskbtn->click();
  frm->LineBtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_LAMSLINE);
  EXPECT_TRUE(frm->st.LineOn);
  frm->LineBtn->click();
  EXPECT_FALSE(frm->st.LineOn);
  frm->StructAutoLine->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEMG);
  frm->StructureStreifen->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_PLATEWSI);
  EXPECT_TRUE(FileExists(ResolveInFolder(frm->st.HomeDir, "STRUCTIMG.bmp")));
  EXPECT_NE(frm->MottleImage->BitmapPicture(), nullptr);
}

}  // namespace
}  // namespace app
