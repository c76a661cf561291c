// The main window's image commands through its controls: the display pipeline with its bars,
// zoom, density view and histogram panel, the distance mark, the capture finish and the image
// files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"
#include "analysis/myimage_series.h"
#include "app/hr_main_support.h"
#include "app/tests/main_window_fixture.h"
#include "platform/base/numeric.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/png_codec.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using platform::Bitmap;

const std::string kData = QUIRVEL_TEST_DATA;

// A high-range image of one value everywhere.
Bitmap Uniform(uint32_t v) {
  Bitmap b(analysis::ImWidth, analysis::ImHeight);
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) analysis::Set16BitValue(row, x, v);
  }
  return b;
}

uint32_t Crc(const Bitmap& b) {
  uLong crc = crc32(0, nullptr, 0);
  for (int y = 0; y < b.Height(); ++y) crc = crc32(crc, b.ScanLine(y), static_cast<uInt>(b.RowBytes()));
  return static_cast<uint32_t>(crc);
}

bool NormalCursor() { return QApplication::overrideCursor() == nullptr; }

class ImageCommandsTest : public test::MainWindowTest {
 protected:
  ImageCommandsTest() {
    Create();
    Activate();
    connect_ = QObject::connect(frm.get(), &THRMainFrm::ImageUpdated, [this] { ++redraws; });
  }
  ~ImageCommandsTest() override { QObject::disconnect(connect_); }

  // A high-range image as a capture or load leaves it, ready for the display pipeline.
  void GiveImage(uint32_t v) {
    *frm->st.ibmp = Uniform(v);
    frm->st.HaveImage = true;
  }
  // The message texts shown so far.
  std::vector<std::string> Shown() const {
    std::vector<std::string> texts;
    for (const auto& m : ui.Messages()) texts.push_back(m.text);
    return texts;
  }

  int redraws = 0;
  QMetaObject::Connection connect_;
};

// ---- display pipeline ----

// The display curve's range tells which (m, c, gamma) a redraw used: for a uniform image of
// value v the curve gives w = rnd(c + m / 320 x 10000 x (v / 10000)^gamma) everywhere.
TEST_F(ImageCommandsTest, DisplayTableThroughTheControls) {
  GiveImage(5000);
  // Each bar move is a redraw of the active page.
  frm->DisplayBrBar->setValue(4);
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 7500);
  EXPECT_EQ(static_cast<int32_t>(frm->st.minbr), 7500);
  EXPECT_EQ(IniValue("QUIRVEL", "BRDLAMS"), "4");
  frm->DisplayGammaBar->setValue(-10);
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 15000);
  EXPECT_EQ(IniValue("QUIRVEL", "GAMMALAMS"), "-10");
  EXPECT_EQ(frm->BRRulerLabel->text().toStdString(), "4");
  EXPECT_EQ(frm->GammaRulerLabel->text().toStdString(), "-10");
  // Double clicks on the rulers put the bars back to 0: m 280, gamma 1.
  frm->BRRulerLabelDblClick();
  frm->GammaRulerLabelDblClick();
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 4375);
  EXPECT_EQ(IniValue("QUIRVEL", "BRDLAMS"), "0");
  // The plate page's curve has the offset -20: 4667.5 rounds to the even 4668.
  ActivatePage(frm->Plate);
  frm->ChgBRBar->UpButton()->click();
  frm->ChgBRBar->DownButton()->click();
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 4668);
  EXPECT_EQ(IniValue("QUIRVEL", "BRDPLATE"), "0");
  // Film, bar 2 (m 400), gamma bar 10 (gamma 2): -20 + 12500 x 0.25 = 3105.
  ActivatePage(frm->FILM);
  frm->DisplayBrBar->setValue(2);
  frm->DisplayGammaBar->setValue(10);
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 3105);
  EXPECT_EQ(IniValue("QUIRVEL", "GAMMAFILM"), "10");
  // An arrow at the bar's end makes no step and no redraw.
  const int before = redraws;
  frm->ChgGammabar->UpButton()->click();
  EXPECT_EQ(redraws, before);
  EXPECT_EQ(frm->DisplayGammaBar->value(), 10);
  EXPECT_TRUE(NormalCursor());
}

TEST_F(ImageCommandsTest, GammaFieldIsClampedAndDecidesTheStructureCurve) {
  GiveImage(5000);
  for (auto [typed, shown] : {std::pair{"12", "10.00"}, {"0.05", "0.10"}, {"abc", "0.10"}, {"2,5", "2.50"}}) {
    frm->GammaEdit->setText(typed);
    frm->UpdateImage();
    EXPECT_EQ(frm->GammaEdit->text().toStdString(), shown) << typed;
  }
  // On the structure page the gamma field is the curve's gamma (2.5 from above):
  // 280 / 320 x 10000 x 0.5^2.5 = 1546.75.
  ActivatePage(frm->STRUCTURE);
  frm->UpdateImage();
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 1547);
  // The gamma bar is stored for the page but does not change the image.
  const Bitmap shown = *frm->st.dbmp;
  frm->DisplayGammaBar->setValue(-7);
  EXPECT_EQ(IniValue("QUIRVEL", "GAMMASTRUCT"), "-7");
  EXPECT_TRUE(*frm->st.dbmp == shown);
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 1547);
}

TEST_F(ImageCommandsTest, DraggingRedrawsOnceWhenLetGo) {
  GiveImage(5000);
  redraws = 0;
  frm->DisplayBrBar->setSliderDown(true);
  for (int v : {1, 2, 3, 5}) frm->DisplayBrBar->setValue(v);
  EXPECT_EQ(redraws, 0);
  frm->DisplayBrBar->setSliderDown(false);  // the bar reports its release
  EXPECT_EQ(redraws, 1);
  EXPECT_EQ(frm->st.OldBr, 5);
  EXPECT_EQ(IniValue("QUIRVEL", "BRDLAMS"), "5");
  // The sharpness edit redraws when its value changes, not when it is set to the same.
  frm->SharpSpinEdit->setValue(3);
  frm->SharpSpinEdit->setValue(3);
  EXPECT_EQ(redraws, 2);
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPLAMS"), "3");
}

TEST_F(ImageCommandsTest, RestoringThePagesSettingsKeepsEveryStoredKey) {
  SetIni("QUIRVEL", "BRDPLATE", "3");
  SetIni("QUIRVEL", "GAMMAPLATE", "-2");
  SetIni("QUIRVEL", "SHARPPLATE", "6");
  GiveImage(5000);
  ActivatePage(frm->Plate);
  redraws = 0;
  frm->SetDisplayBarPosition();
  EXPECT_EQ(redraws, 1);
  EXPECT_EQ(frm->DisplayGammaBar->value(), -2);
  EXPECT_EQ(frm->SharpSpinEdit->value(), 6);
  EXPECT_EQ(IniValue("QUIRVEL", "GAMMAPLATE"), "-2");
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPPLATE"), "6");
  // The same settings again: nothing to redraw.
  frm->SetDisplayBarPosition();
  EXPECT_EQ(redraws, 1);
}

TEST_F(ImageCommandsTest, ZoomStepsUpToFourAndBack) {
  GiveImage(5000);
  frm->UpdateImage();
  std::vector<int> zooms;
  for (int i = 0; i < 4; ++i) {
    frm->Zoombtn->click();
    zooms.push_back(frm->st.ZoomOn);
  }
  EXPECT_EQ(zooms, (std::vector<int>{2, 3, 4, 4}));
  const Bitmap* shown = frm->AnalyseImage->BitmapPicture();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Width(), 4 * 1280);
  EXPECT_EQ(shown->Height(), 4 * 1024);
  // Every image pixel is a 4 x 4 block of the shown picture.
  const Bitmap& r = *frm->st.rbmp;
  for (auto [x, y] : {std::pair{0, 0}, {1279, 1023}, {517, 300}}) {
    for (auto [dx, dy] : {std::pair{0, 0}, {3, 3}, {1, 2}}) {
      EXPECT_EQ(std::memcmp(shown->ScanLine(4 * y + dy) + 3 * (4 * x + dx), r.ScanLine(y) + 3 * x, 3), 0);
    }
  }
  frm->st.StartPos = {5, 5};
  frm->UnZoombtn->click();
  EXPECT_EQ(frm->st.ZoomOn, 1);
  EXPECT_EQ(frm->AnalyseImage->BitmapPicture()->Width(), 1280);
  EXPECT_EQ(frm->st.StartPos, (platform::TPoint{-1, -1}));
}

TEST_F(ImageCommandsTest, DensityRedrawsStartFromTheDensityImage) {
  // A relative image (origin marker 1) with a step: the density view of it.
  Bitmap img = Uniform(10000);
  for (int y = 300; y < 700; ++y)
    for (int x = 300; x < 900; ++x) analysis::Set16BitValue(img.ScanLine(y), x, 1000);
  *frm->st.ibmp = img;
  SetOriginMarker(*frm->st.ibmp, 1);
  frm->st.HaveImage = true;
  frm->Densitybtn->click();
  ASSERT_TRUE(frm->st.isDens);
  EXPECT_TRUE(frm->Densitybtn->isChecked());
  const Bitmap first = *frm->st.dbmp;
  // Overlays drawn into the result image must not reach the next redraw's dbmp.
  platform::Canvas(*frm->st.rbmp).FillRect({0, 0, 640, 512});
  frm->UpdateImage();
  EXPECT_TRUE(*frm->st.dbmp == first);
  frm->UpdateImage();
  EXPECT_TRUE(*frm->st.dbmp == first);
  // Back to the gray view.
  frm->Densitybtn->click();
  EXPECT_FALSE(frm->st.isDens);
  EXPECT_FALSE(frm->Densitybtn->isChecked());
  EXPECT_EQ(frm->st.densbmp, nullptr);
  EXPECT_TRUE(NormalCursor());
}

TEST_F(ImageCommandsTest, HistogramPanelShowsTheVisibleBinsAndASignedRange) {
  frm->st.aHist.Clear();
  frm->st.maxbr = 100;
  frm->st.minbr = 200;  // a header with the minimum above the maximum
  frm->DrawHist();
  EXPECT_EQ(frm->Label12->text().toStdString(), "Dynamic Range: -100");
  // No counts: no bars, and no division by the largest count.
  const Bitmap* panel = frm->HistImg->BitmapPicture();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->Width(), 260);
  auto pixel = [&](int x, int y) {
    const uint8_t* p = panel->ScanLine(y) + 3 * x;
    return (p[0] << 16) | (p[1] << 8) | p[2];  // blue, green, red
  };
  EXPECT_EQ(pixel(50, 100), 0xFFFFFF);
  // Bars of 100 pixels for the largest count, 50 for half of it; the threshold line in aqua.
  frm->st.aHist.Hist[50] = 10;
  frm->st.aHist.Hist[100] = 5;
  frm->st.aHist.Hist[5000] = 1000;  // outside the panel: not drawn, but it is the largest
  frm->st.aHist.MaxHist = 10;
  frm->st.aHist.TH = 74;
  frm->st.aHist.pc = 1234;
  frm->st.maxbr = 1010;
  frm->st.minbr = 10;
  frm->DrawHist();
  panel = frm->HistImg->BitmapPicture();
  EXPECT_EQ(pixel(50, 103), 0xFF0000);
  EXPECT_EQ(pixel(50, 4), 0xFF0000);
  EXPECT_EQ(pixel(50, 3), 0xFFFFFF);
  EXPECT_EQ(pixel(100, 54), 0xFF0000);
  EXPECT_EQ(pixel(100, 53), 0xFFFFFF);
  EXPECT_EQ(pixel(74, 50), 0xFFFF00);
  EXPECT_EQ(frm->PercLabel->text().toStdString(), "12.34%");
  // TH 74 back in the high-range scale: rnd(64 x 1000 / 256) + 10 = 260.
  EXPECT_EQ(frm->Label13->text().toStdString(), "TH: 74 / 260");
}

TEST_F(ImageCommandsTest, DistanceMarkIsErasedByDrawingItAgain) {
  GiveImage(5000);
  frm->UpdateImage();
  const Bitmap before = *frm->AnalyseImage->BitmapPicture();
  platform::Canvas c = frm->AnalyseCanvas();
  // Nothing at X = 0, and the last mark stays.
  frm->st.OldMark = {7, 7};
  frm->DrawMark(c, 0, 40, true);
  EXPECT_EQ(frm->st.OldMark, (platform::TPoint{7, 7}));
  EXPECT_TRUE(*frm->AnalyseImage->BitmapPicture() == before);
  // With a start point: the line and its length, 100 pixels at 43000 pixels per inch.
  analysis::Analysis().PixelperInch = 43000;
  frm->st.StartPos = {100, 200};
  frm->DrawMark(c, 200, 200, true);
  EXPECT_FALSE(*frm->AnalyseImage->BitmapPicture() == before);
  EXPECT_EQ(frm->StatusBar1->PanelText(0).toStdString(), " 59.1 µm");
  EXPECT_EQ(frm->st.OldMark, (platform::TPoint{200, 200}));
  EXPECT_EQ(c.Pen().Mode, platform::TCanvasPenMode::pmCopy);
  frm->DrawMark(c, 200, 200, true);
  EXPECT_TRUE(*frm->AnalyseImage->BitmapPicture() == before);
}

TEST_F(ImageCommandsTest, CameraTestViewsAndAHandlerThatFailsLeaveTheNormalCursor) {
  SetIni("QUIRVEL", "SHOWCAMERA", "47096");
  Activate();
  ActivatePage(frm->Camera);
  GiveImage(5000);
  frm->UpdateImage();
  // Half the gray image above the threshold.
  for (int y = 0; y < 1024; ++y) std::memset(frm->st.dbmp->ScanLine(y), y < 512 ? 200 : 10, 3 * 1280);
  frm->st.aHist.TH = 100;
  frm->BINImgbtn->click();
  EXPECT_EQ(frm->PercLabel->text().toStdString(), "50.00%");
  EXPECT_TRUE(*frm->AnalyseImage->BitmapPicture() == *frm->st.rbmp);
  frm->GrayImg->click();
  EXPECT_TRUE(*frm->AnalyseImage->BitmapPicture() == *frm->st.ibmp);
  // The grids need a selected population: without one nothing is drawn.
  const Bitmap gray = *frm->st.dbmp;
  frm->Gridbtn->click();
  EXPECT_TRUE(*frm->st.dbmp == gray);
  // A redraw that fails (an image of the wrong kind) is reported and the hourglass goes.
  *frm->st.ibmp = Bitmap(1280, 1024, platform::PixelFormat::pf8bit);
  ActivatePage(frm->LAMS);
  ui.ClearRecords();
  frm->ChgBRBar->UpButton()->click();
  EXPECT_EQ(ui.Messages().size(), 1u);
  EXPECT_TRUE(NormalCursor());
}

// ---- capture finish ----

class CaptureTest : public ImageCommandsTest {
 protected:
  // Five frames of one scene at shutter steps 1..5, combined as the camera window does, into
  // ibmp with the series' range (combined once, handed over as often as needed).
  struct Series {
    Bitmap image;
    uint32_t max = 0, min = 0, avg = 0;
  };
  static const Series& Combined() {
    static const Series series = [] {
      std::vector<Bitmap> frames;
      for (int k = 0; k < 5; ++k) {
        Bitmap f(1280, 1024);
        const double factor = analysis::IMBR[static_cast<size_t>(1 + k)];
        for (int y = 0; y < 1024; ++y) {
          uint8_t* row = f.ScanLine(y);
          for (int x = 0; x < 1280; ++x) {
            const double scene = ((x / 32 + y / 32) % 2) ? 800 : 200;
            const auto b = static_cast<uint8_t>(std::min(255.0, std::round(scene / factor)));
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = b;
          }
        }
        frames.push_back(std::move(f));
      }
      std::vector<platform::TPoint> shifts(analysis::ShutterSteps);
      analysis::OverlayImgs(frames, shifts, 5, 2, 128);
      Series s;
      analysis::KombinierenBR(s.image, frames, 0, 1, 5, 2, shifts, s.max, s.min, s.avg);
      return s;
    }();
    return series;
  }
  void CombineSeries() {
    const Series& s = Combined();
    *frm->st.ibmp = s.image;
    frm->st.maxbr = s.max;
    frm->st.minbr = s.min;
    frm->st.avgbr = s.avg;
  }
  std::string Zero(const char* name) { return home / name; }
};

TEST_F(CaptureTest, HeaderAndDisplayRangeFollowThePage) {
  SetIni("QUIRVEL", "SHOWCAMERA", "47096");
  Activate();
  frm->st.SerialNo = "4711";
  analysis::Analysis().PixelperInch = 43210.004;
  // Zero references of every page: an even field of the paper's level.
  const Bitmap field = Uniform(200);
  for (const char* name : {"BGLAMS.zph", "BGPLATE.zph", "BGSTRUCTURE.zph", "BGFILM.zph", "background.zph"}) {
    analysis::SaveBmpAsPNG(field, Zero(name));
  }
  SetPageVisible(frm->CALIBRATION, true);
  struct Case {
    QWidget* page;
    int32_t atype, m, c;
  };
  const Case cases[] = {{frm->LAMS, 0, 280, 0},         {frm->Plate, 1, 300, -20},       {frm->STRUCTURE, 2, 280, 0},
                        {frm->FILM, 3, 300, -20},       {frm->CALIBRATION, 3, 255, 0},   {frm->Camera, 127, 255, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.atype);
    ActivatePage(k.page);
    CombineSeries();
    ASSERT_GT(frm->st.maxbr, 0u);
    const uint32_t max = frm->st.maxbr, min = frm->st.minbr;
    frm->st.ImgCaptured = false;
    frm->Capture();
    QuirvelHeader h;
    ASSERT_TRUE(ReadHeader(*frm->st.ibmp, h));
    EXPECT_EQ(h.atype, k.atype);
    EXPECT_EQ(h.m, k.m);
    EXPECT_EQ(h.c, k.c);
    EXPECT_EQ(h.sn, 4711);
    EXPECT_EQ(h.ppi, 4321000u);
    EXPECT_EQ(h.max, max);
    EXPECT_EQ(h.min, min);
    EXPECT_TRUE(frm->st.ImgCaptured);
    EXPECT_EQ(frm->st.ZoomOn, 1);
    EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(Zero("background.zph")));
    // Converted against the zero reference, except on the camera page.
    EXPECT_EQ(OriginMarker(*frm->st.ibmp), k.atype == 127 ? 0 : 1);
  }
  // The bright squares lie at the zero reference's level: 10000 in the relative image.
  ActivatePage(frm->Plate);
  CombineSeries();
  frm->Capture();
  EXPECT_EQ(analysis::Get16BitValue(frm->st.ibmp->ScanLine(48), 336), 10000u);
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_TRUE(NormalCursor());
}

TEST_F(CaptureTest, ZeroCaptureWritesEveryZeroFileUnlessTooDark) {
  const Bitmap raw = Uniform(30000);
  const char* files[] = {"BGLAMS.zph", "BGPLATE.zph", "BGFILM.zph", "BGSTRUCTURE.zph", "background.zph"};
  for (const char* f : files) fs::remove(Zero(f));
  // Too dark: the message, no file.
  *frm->st.ibmp = raw;
  frm->st.isZeroImg = true;
  frm->st.maxbr = 31000;
  frm->st.avgbr = 7999;
  frm->Capture();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "The zero reference image is missing or too dark.#Please capture a new zero reference image.");
  for (const char* f : files) EXPECT_FALSE(fs::exists(Zero(f))) << f;
  // Bright enough: all five files hold the raw image.
  *frm->st.ibmp = raw;
  frm->st.avgbr = 8000;
  frm->Capture();
  EXPECT_EQ(Shown().size(), 1u);
  for (const char* f : files) {
    ASSERT_TRUE(fs::exists(Zero(f))) << f;
    EXPECT_TRUE(platform::LoadPng(Zero(f)) == *frm->st.bgimg) << f;
  }
  EXPECT_EQ(OriginMarker(*frm->st.bgimg), 0);
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(Zero("BGLAMS.zph")));
  // Saved as .QVR, a raw zero image is stored relative to itself: 10000 everywhere, page 127.
  const std::string saved = home / "zero.qvr";
  ui.QueueSaveFile(saved);
  frm->Savebtn->click();
  QuirvelHeader h;
  ASSERT_TRUE(ReadHeader(*frm->st.ibmp, h));
  EXPECT_EQ(h.atype, 127);
  EXPECT_EQ(h.m, 255);
  EXPECT_EQ(h.c, 0);
  EXPECT_EQ(analysis::Get16BitValue(frm->st.ibmp->ScanLine(500), 600), 10000u);
  EXPECT_TRUE(platform::LoadPng(saved) == *frm->st.ibmp);
}

TEST_F(CaptureTest, MissingZeroFileIsReportedAndTheImageStillConverted) {
  fs::remove(Zero("BGPLATE.zph"));
  ActivatePage(frm->Plate);
  *frm->st.bgimg = Uniform(200);
  CombineSeries();
  frm->Capture();
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), "ZERO!");
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(OriginMarker(*frm->st.ibmp), 1);
  // A serial number that is no number is written as 0.
  frm->st.SerialNo = "SN-12";
  CombineSeries();
  frm->Capture();
  QuirvelHeader h;
  ASSERT_TRUE(ReadHeader(*frm->st.ibmp, h));
  EXPECT_EQ(h.sn, 0);
}

// ---- image files ----

class ImageFilesTest : public ImageCommandsTest {
 protected:
  void Load(const std::optional<std::string>& path) {
    ui.QueueOpenFile(path);
    frm->Loadbtn->click();
  }
  void Save(const std::string& path) {
    ui.QueueSaveFile(path);
    frm->Savebtn->click();
  }
  // Runs the Python side; its output lines.
  std::string Python(const std::string& args) {
    const std::string out = home / "python.out";
    const std::string command = "python3 '" + kData + "/window_images.py' " + args + " > '" + out + "' 2>&1";
    const int rc = std::system(command.c_str());
    const std::string text = test::ReadText(out);
    EXPECT_EQ(rc, 0) << text;
    return text;
  }
};

TEST_F(ImageFilesTest, QvrLoadsOnItsPageAtItsCamerasScale) {
  // The calibrated value of this camera comes from the ini at creation.
  EXPECT_EQ(analysis::Analysis().CalPixelperInch, 43000);
  Load(kData + "/plate_sn4711.qvr");
  const platform::ui::FileDialogOptions opened = ui.OpenDialogs().back();
  EXPECT_EQ(opened.filter, frm->LoadBMPDlg.filter);
  EXPECT_EQ(opened.filter_index, 1);
  EXPECT_EQ(opened.title, HintOf("Loadbtn"));
  EXPECT_EQ(fs::path(opened.initial_dir), fs::current_path() / "Images");
  EXPECT_EQ(frm->Analyzepages->currentWidget(), frm->Plate);
  EXPECT_EQ(OriginMarker(*frm->st.ibmp), 1);
  EXPECT_TRUE(frm->st.ImgCaptured);
  EXPECT_EQ(frm->StatusBar1->PanelText(5).toStdString(), "plate_sn4711.qvr");
  // Another camera's image: its own scale. The header's curve (300, -20) over 10000 and
  // 3000: -20 + 9375 and -20 + 2812.5 (to even).
  EXPECT_DOUBLE_EQ(analysis::Analysis().PixelperInch, 43210);
  // (maxbr and minbr end as the page's redraw leaves them: the plate curve over the same
  // values, with the page's bar at 0.)
  EXPECT_EQ(static_cast<int32_t>(frm->st.maxbr), 9355);
  EXPECT_EQ(static_cast<int32_t>(frm->st.minbr), 2792);
  // This camera's image right after: the calibrated scale again.
  frm->st.SerialNo = "4711";
  Load(kData + "/plate_sn4711.qvr");
  EXPECT_DOUBLE_EQ(analysis::Analysis().PixelperInch, 43000);
  // A film image opens on the film page.
  frm->st.SerialNo = "0000";
  Load(kData + "/film_sn0.qvr");
  EXPECT_EQ(frm->Analyzepages->currentWidget(), frm->FILM);
  EXPECT_DOUBLE_EQ(analysis::Analysis().PixelperInch, 43000);
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_TRUE(NormalCursor());
}

TEST_F(ImageFilesTest, SavedQvrDecodesToTheSamePixelsAndHeader) {
  Load(kData + "/plate_sn4711.qvr");
  const Bitmap loaded = *frm->st.ibmp;
  const std::string saved = home / "window_saved.qvr";
  frm->st.ZoomOn = 3;
  Save(saved);
  EXPECT_EQ(frm->st.ZoomOn, 1);
  EXPECT_EQ(ui.SaveDialogs().back().filter, frm->SaveBMPDlg.filter);
  EXPECT_EQ(frm->StatusBar1->PanelText(5).toStdString(), "window_saved.qvr");
  ASSERT_TRUE(*frm->st.ibmp == loaded);
  const std::string out_dir = QUIRVEL_TEST_OUTPUT;
  fs::create_directories(out_dir);
  fs::copy_file(saved, out_dir + "/window_saved.qvr", fs::copy_options::overwrite_existing);
  std::ostringstream want;
  want << "size 1280 1024\nheader 1 1 4711 300 -20 4321000 10000 3000\ntop 10000 3000 1\ncrc " << Crc(loaded) << "\n";
  EXPECT_EQ(Python("check '" + saved + "'"), want.str());
}

TEST_F(ImageFilesTest, SaveKindFollowsTheExtension) {
  Load(kData + "/picture.png");
  Save(home / "gray.Png");
  ASSERT_TRUE(fs::exists(home / "gray.Png"));
  EXPECT_TRUE(platform::LoadPng(home / "gray.Png") == *frm->st.dbmp);
  Save(home / "gray.bmp");
  EXPECT_TRUE(platform::LoadBmp(home / "gray.bmp") == *frm->st.dbmp);
  Save(home / "gray.jpg");
  EXPECT_TRUE(fs::exists(home / "gray.jpg"));
  Save(home / "gray.tif");
  EXPECT_FALSE(fs::exists(home / "gray.tif"));
  EXPECT_EQ(frm->StatusBar1->PanelText(5).toStdString(), "gray.tif");
  // A cancelled save writes nothing and leaves the name.
  ui.QueueSaveFile(std::nullopt);
  frm->Savebtn->click();
  EXPECT_EQ(frm->StatusBar1->PanelText(5).toStdString(), "gray.tif");
}

TEST_F(ImageFilesTest, BmpAndPngOfOnePictureLoadAlike) {
  Python("bmp '" + home.Path() + "'");
  Load(home / "picture.bmp");
  const Bitmap from_bmp = *frm->st.ibmp;
  Load(kData + "/picture.png");
  EXPECT_TRUE(*frm->st.ibmp == from_bmp);
  EXPECT_EQ(OriginMarker(from_bmp), 2);
  // Only the low byte of a high-range value is left: blue and green are 0.
  const uint8_t* p = from_bmp.ScanLine(512) + 3 * 640;
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], platform::LoadPng(kData + "/picture.png").ScanLine(512)[3 * 640]);
}

TEST_F(ImageFilesTest, CancelledLoadStillMarksAnImage) {
  EXPECT_FALSE(frm->st.ImgCaptured);
  preview.VideoStatus = 1;
  Load(std::nullopt);
  EXPECT_TRUE(frm->st.ImgCaptured);
  EXPECT_EQ(preview.VideoStatus, 0);
  EXPECT_TRUE(NormalCursor());
}

TEST_F(ImageFilesTest, ImagesOfAnotherSizeOrDamagedAreRefused) {
  Load(kData + "/plate_sn4711.qvr");
  const Bitmap ibmp = *frm->st.ibmp, dbmp = *frm->st.dbmp;
  const double ppi = analysis::Analysis().PixelperInch;
  frm->st.ImgCaptured = false;
  ui.ClearRecords();
  for (const char* name : {"small_640x480.png", "truncated.png"}) {
    SCOPED_TRACE(name);
    Load(kData + "/" + name);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find(name), std::string::npos) << ui.Messages()[0].text;
    ui.ClearRecords();
    EXPECT_TRUE(*frm->st.ibmp == ibmp);
    EXPECT_TRUE(*frm->st.dbmp == dbmp);
    EXPECT_EQ(analysis::Analysis().PixelperInch, ppi);
    EXPECT_FALSE(frm->st.ImgCaptured);
    EXPECT_TRUE(NormalCursor());
  }
  Load(kData + "/small_640x480.png");
  EXPECT_NE(ui.Messages()[0].text.find("640 x 480"), std::string::npos);
}

TEST_F(ImageFilesTest, ZeroReferenceFileLoadsLikeACaptureOfThePage) {
  // A raw zero image with its series' range in the top row.
  Bitmap raw = Uniform(30000);
  analysis::Set16BitValue(raw.ScanLine(0), 0, 31000);
  analysis::Set16BitValue(raw.ScanLine(0), 1, 29000);
  const std::string file = home / "field.ZPH";
  analysis::SaveBmpAsPNG(raw, file);
  // Without the page's zero file: "ZERO!" and no message; the image is converted against the
  // zero reference already there (a field of half the level: 20000 relative).
  fs::remove(home / "BGLAMS.zph");
  *frm->st.bgimg = Uniform(15000);
  Load(file);
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), "ZERO!");
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(OriginMarker(*frm->st.ibmp), 1);
  EXPECT_EQ(analysis::Get16BitValue(frm->st.ibmp->ScanLine(500), 500), 20000u);
  // With it: against the page's own zero file.
  analysis::SaveBmpAsPNG(Uniform(30000), home / "BGLAMS.zph");
  Load(file);
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(home / "BGLAMS.zph"));
  EXPECT_EQ(analysis::Get16BitValue(frm->st.ibmp->ScanLine(500), 500), 10000u);
  // The camera page has no zero reference: the image keeps its values and its range counts.
  SetIni("QUIRVEL", "SHOWCAMERA", "47096");
  Activate();
  ActivatePage(frm->Camera);
  Load(file);
  EXPECT_EQ(analysis::Get16BitValue(frm->st.ibmp->ScanLine(500), 500), 30000u);
  EXPECT_EQ(frm->st.maxbr, 31000u);
  EXPECT_EQ(frm->st.minbr, 29000u);
}

TEST_F(ImageFilesTest, StructureReferenceIsStoredAndShown) {
  Load(kData + "/picture.png");
  frm->SaveRefImg->click();
  const std::string path = home / "QUIRVELStructureReference.bmp";
  ASSERT_TRUE(fs::exists(path));
  EXPECT_TRUE(platform::LoadBmp(path) == *frm->st.dbmp);
  EXPECT_TRUE(*frm->StructRefImg->BitmapPicture() == *frm->st.dbmp);
}

}  // namespace
}  // namespace app
