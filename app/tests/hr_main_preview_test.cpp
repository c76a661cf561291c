// The live preview hand-off and the capture start through the main window's controls, with the
// camera window and a simulated camera behind them: the preview frame's focus aids, the series
// range of each page, the zero capture, and a whole series end to end against a Python
// re-implementation of the camera and the combination, measured as a plate.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <filesystem>
#include <sstream>

#include "analysis/analyze_drivers_plate.h"
#include "analysis/myimage.h"
#include "analysis/myimage_gray.h"
#include "analysis/myimage_series.h"
#include "analysis/tests/drivers_fixture.h"
#include "app/hr_main_preview.h"
#include "app/hr_main_support.h"
#include "app/tests/main_window_fixture.h"
#include "capture/vcap.h"
#include "cmake/test_tools.h"
#include "platform/base/numeric.h"
#include "platform/image/bmp_codec.h"
#include "platform/video/simulated_camera.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using platform::Bitmap;
using namespace platform::video;

const std::string kData = QUIRVEL_TEST_DATA;

bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QColor Colour(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

class PreviewHandOffTest : public test::MainWindowTest {
 protected:
  PreviewHandOffTest() : backend(std::make_shared<SimulatedCameraBackend>()), backends({backend}) {
    capture::ClearDevicesList();
    SetIni("QUIRVEL", "SHOWCAMERA", "47096");
    Create();
    Activate();
    auto inner = preview.gCap->OnBitmapGrabbed;
    preview.gCap->OnBitmapGrabbed = [this, inner](capture::TCapturedBitmap& bmp) {
      ++handled;
      inner(bmp);
    };
  }
  ~PreviewHandOffTest() override { capture::ClearDevicesList(); }

  std::shared_ptr<SimulatedCamera> Camera(SimulatedCameraConfig c = {}) {
    c.onRequest = true;  // frames come when the test lets them
    return backend->AddDevice(c);
  }
  // Lets the camera deliver one frame and waits until the camera window has handled it.
  bool Deliver(SimulatedCamera& cam) {
    const uint64_t before = cam.FramesDelivered();
    const int seen = handled;
    cam.Trigger();
    return cam.WaitForFrames(before + 1, 5000) && PumpUntil([&] { return handled > seen; });
  }
  // A frame of the camera as the camera window gets it (upright).
  static Bitmap Frame(const SimulatedCamera& cam, int shutter, uint32_t gain = 32, uint64_t index = 0) {
    std::vector<uint8_t> packed, dib;
    SimulatedSettings s;
    s.shutter = shutter;
    s.gain = gain;
    cam.RenderFrame(cam.Config().modes[0], s, index, packed, dib);
    Bitmap b(1280, 1024);
    const size_t stride = DibStride(1280, 24);
    for (int y = 0; y < 1024; ++y) std::memcpy(b.ScanLine(y), dib.data() + stride * (1023 - y), 1280 * 3);
    return b;
  }
  std::vector<std::string> Shown() const {
    std::vector<std::string> texts;
    for (const auto& m : ui.Messages()) texts.push_back(m.text);
    return texts;
  }
  QColor PanelColour() const { return frm->SharpPanel->palette().color(QPalette::Window); }

  std::shared_ptr<SimulatedCameraBackend> backend;
  ScopedVideoBackends backends;
  int handled = 0;
};

// ---- the preview frame ----

TEST(PreviewFocusAids, ExposureAndSharpnessColours) {
  struct Exposure {
    uint32_t ct255;
    double brf;
    uint32_t colour;
  };
  for (const Exposure& k : {Exposure{0, 19.9, 0x0000FF}, Exposure{0, 20, 0x00FFFF}, Exposure{0, 34.9, 0x00FFFF},
                            Exposure{0, 35, 0x008000}, Exposure{5, 10, 0x008000}, Exposure{100000, 50, 0x008000},
                            Exposure{100001, 50, 0x0000FF}}) {
    EXPECT_EQ(ExposureColor(k.ct255, k.brf), k.colour) << k.ct255 << " " << k.brf;
  }
  const std::vector<std::pair<int64_t, uint32_t>> loss = {{151, 0x0000FF}, {150, 0x3280FF}, {101, 0x3280FF},
                                                          {100, 0x32FFFF}, {61, 0x32FFFF},  {60, 0x32FF80},
                                                          {31, 0x32FF80},  {30, 0x32FF32},  {-40, 0x32FF32}};
  for (const auto& [d, colour] : loss) EXPECT_EQ(SharpnessLossColor(d), colour) << d;
}

TEST_F(PreviewHandOffTest, PreviewStartTunesTheCameraFromThePagesSettings) {
  auto cam = Camera();
  SetIni("QUIRVELCAL", "PREVIT", "12");
  SetIni("QUIRVELCAL", "PREVGAIN", "90");
  SetIni("QUIRVELCAL", "BRBAR", "2");
  SetIni("QUIRVEL", "SHARPLAMSREF", "500");
  SetIni("QUIRVEL", "BRLAMS", "-3");
  ActivatePage(frm->LAMS);
  // A result on the screen: the preview empties it.
  frm->st.MESSTYPE = analysis::MT_PLATEDOT;
  frm->PlateDotAreaRes->setText("25.00%");
  frm->PDotAreaPanel->setVisible(true);
  frm->Refreshbtn->click();
  EXPECT_EQ(frm->st.MESSTYPE, analysis::MT_NONE);
  EXPECT_EQ(frm->PlateDotAreaRes->text().toStdString(), "---%");
  EXPECT_TRUE(frm->PDotAreaPanel->isHidden());
  // The page's sharpness reference brings its own exposure offset: step 12 - (-3).
  const SimulatedSettings s = cam->Settings();
  EXPECT_EQ(s.shutter, 15);
  EXPECT_EQ(s.gain, 90u);
  EXPECT_TRUE(s.mirror);
  EXPECT_FALSE(s.flip);
  EXPECT_EQ(frm->BRBar->value(), -3);
  EXPECT_EQ(frm->st.SharpRef, 500);
  EXPECT_EQ(preview.VideoStatus, 1);
  EXPECT_FALSE(frm->SharpPanel->isHidden());
  EXPECT_FALSE(frm->BRShape->isHidden());
  EXPECT_TRUE(frm->Varianzlabel->isHidden());
  EXPECT_FALSE(frm->st.ImgCaptured);
  EXPECT_EQ(IniValue("QUIRVELCAL", "BRBAR"), "2");  // read, not written back

  // Moving the bar re-tunes the camera and keeps the new offset.
  cam->ClearCallLog();
  frm->BRBar->setValue(4);
  EXPECT_EQ(cam->CallLog(), (std::vector<std::string>{"SetAGC(90)", "SetShutterSpeed(8)", "SetMirror(1)", "SetFlip(0)"}));
  EXPECT_EQ(IniValue("QUIRVELCAL", "BRBAR"), "4");
  EXPECT_EQ(frm->BRBarLabel->text().toStdString(), "4");

  // The camera page's bars go to the camera at once.
  cam->ClearCallLog();
  frm->ITBar->setValue(12);
  EXPECT_EQ(cam->CallLog(), (std::vector<std::string>{"SetAGC(80)", "SetShutterSpeed(12)"}));
  EXPECT_EQ(frm->ITLabel->text().toStdString(), "12:1/500 second");

  // With SHOWSHARP the sharpness value shows at once.
  SetIni("QUIRVEL", "SHOWSHARP", "1");
  analysis::Analysis().ShowSharp = true;
  frm->Refreshbtn->click();
  EXPECT_FALSE(frm->Varianzlabel->isHidden());
  EXPECT_TRUE(Shown().empty());
}

TEST_F(PreviewHandOffTest, PreviewFrameShowsTheFocusAids) {
  SimulatedCameraConfig noisy;
  noisy.noise = 4;  // a sensor's noise: the sharpness measure needs gradients everywhere
  auto cam = Camera(noisy);
  ActivatePage(frm->Plate);
  frm->Refreshbtn->click();
  const Bitmap frame = Frame(*cam, 11);
  Bitmap f = frame;
  frm->PreviewImage(f);  // primes the motion detector
  f = frame;
  frm->PreviewImage(f);
  const Bitmap* shown = frm->AnalyseImage->BitmapPicture();
  ASSERT_NE(shown, nullptr);
  // The frame with a lime centre line three pixels wide.
  EXPECT_EQ(shown->ScanLine(100)[3 * 100 + 2], frame.ScanLine(100)[3 * 100 + 2]);
  for (int x : {639, 640, 641}) {
    const uint8_t* p = shown->ScanLine(500) + 3 * x;
    EXPECT_EQ((p[0] << 16) | (p[1] << 8) | p[2], 0x00FF00) << x;
  }
  EXPECT_NE(shown->ScanLine(500)[3 * 642 + 1], 255);
  // Without a reference: a tenth of the sharpness, and no loss yet.
  const double sharp = frm->st.ActSharp;
  ASSERT_GT(sharp, 0);
  EXPECT_EQ(frm->Varianzlabel->text().toStdString(), std::to_string(platform::Round(sharp / 10)));
  EXPECT_EQ(frm->VarDiffLabel->text().toStdString(), "0");
  EXPECT_EQ(frm->BRShape->BrushColor(), Colour(0x008000));

  // With a reference, the loss in per mille colours the panel once the value is shown.
  frm->CrystalImg->clicked();
  for (const auto& [d, colour] : std::vector<std::pair<int, uint32_t>>{{150, 0x3280FF}, {151, 0x0000FF}}) {
    frm->st.SharpRef = sharp * 1000 / (1000 - d);
    f = frame;
    frm->PreviewImage(f);
    EXPECT_EQ(frm->Varianzlabel->text().toStdString(), "-" + std::to_string(d));
    EXPECT_EQ(PanelColour(), Colour(colour)) << d;
  }
  // A sample that moves: the warning, and the sharpness label turns gray and stays.
  f = Frame(*cam, 5, 32, 40);
  frm->PreviewImage(f);
  EXPECT_TRUE(frm->st.ismoving);
  EXPECT_EQ(frm->Varianzlabel->palette().color(QPalette::WindowText), QColor(Qt::gray));
  EXPECT_EQ(frm->Varianzlabel->text().toStdString(), "-151");

  // The calibration page: the frame at half size with a red cross, sharpness and brightness.
  SetPageVisible(frm->CALIBRATION, true);
  ActivatePage(frm->CALIBRATION);
  f = frame;
  frm->PreviewImage(f);
  shown = frm->AnalyseImage->BitmapPicture();
  EXPECT_EQ(shown->ScanLine(100)[3 * 320 + 2], 255);
  EXPECT_EQ(shown->ScanLine(256)[3 * 100 + 2], 255);
  EXPECT_EQ(shown->ScanLine(100)[3 * 100], frame.ScanLine(201)[3 * 201]);
  const std::string label = frm->Sharplabel->text().toStdString();
  EXPECT_EQ(label, std::to_string(platform::Round(frm->st.ActSharp)) + "  " +
                       std::to_string(platform::Round(frm->st.ActSharp - frm->st.Maxsharp)));
  EXPECT_FALSE(frm->BRLabel->text().isEmpty());
}

TEST_F(PreviewHandOffTest, SharpnessReferenceIsStoredPerPageAndCleared) {
  Camera();
  ActivatePage(frm->FILM);
  frm->Refreshbtn->click();
  frm->st.Maxsharp = 1234.4;
  frm->SharpSpinEdit->setValue(3);
  frm->SaveSharpness->trigger();
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPFILMREF"), "1234");
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPFILM"), "3");
  EXPECT_EQ(IniValue("QUIRVEL", "BRFILM"), "0");
  EXPECT_EQ(frm->st.SharpRef, 1234);  // re-read by the preview start
  EXPECT_FALSE(frm->Varianzlabel->isHidden());
  // A second save changes nothing; clearing does.
  frm->st.Maxsharp = 99;
  frm->SaveSharpness->trigger();
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPFILMREF"), "1234");
  frm->ClearSharpness->trigger();
  EXPECT_EQ(IniValue("QUIRVEL", "SHARPFILMREF"), "0");
  EXPECT_EQ(frm->st.SharpRef, 0);
}

// ---- capture start ----

TEST_F(PreviewHandOffTest, EachPageCapturesItsShutterRange) {
  SetPageVisible(frm->CALIBRATION, true);
  analysis::Analysis().Imgseq[0] = {3, 12};
  analysis::Analysis().WaitImg = 3;
  struct Case {
    QWidget* page;
    int it, images;
    int32_t von, bis;
  };
  const Case cases[] = {{frm->Camera, 13, 5, 11, 16}, {frm->Camera, 13, 1, 13, 13}, {frm->Camera, 1, 9, 0, 9},
                        {frm->Camera, 17, 18, 10, 18}, {frm->LAMS, 0, 0, 3, 12},     {frm->CALIBRATION, 0, 0, 1, 18}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.page->objectName().toStdString() + " " + std::to_string(k.it) + " " + std::to_string(k.images));
    ActivatePage(k.page);
    frm->ITBar->setValue(k.it);
    frm->NumImgs->setValue(k.images);
    frm->GainBar->setValue(95);
    frm->SharpPanel->setVisible(true);
    preview.VideoStatus = 0;
    frm->Capturebtn->click();
    const capture::TPreviewModule& m = capture::PreviewModule();
    EXPECT_EQ(m.FIRSTIMG, k.von);
    EXPECT_EQ(m.NUMIMG, k.bis - k.von + 1);
    EXPECT_EQ(m.IMGSWITCH, 3);
    EXPECT_EQ(preview.VideoStatus, k.von == k.bis ? 5 : 5 + 3 * (k.bis - k.von + 1));
    EXPECT_EQ(capture::GGain, 95);
    EXPECT_TRUE(frm->SharpPanel->isHidden());
    EXPECT_FALSE(frm->st.isZeroImg);
    EXPECT_EQ(frm->Memo1->toPlainText().toStdString(), "0:" + std::to_string(k.von) + ":95");
  }
}

TEST_F(PreviewHandOffTest, ZeroCaptureOfOneFrameBecomesEveryZeroReference) {
  auto cam = Camera();
  ActivatePage(frm->Camera);
  // The zero question answered No starts nothing.
  ui.QueueMessageResult(platform::ui::ModalResult::No);
  frm->ZeroTRBtn->click();
  EXPECT_EQ(preview.VideoStatus, 0);
  EXPECT_FALSE(frm->st.isZeroImg);

  // The camera page's zero button: one frame at step 15, gain 80, neither mirrored nor flipped.
  frm->Zerobtn->click();
  EXPECT_EQ(preview.VideoStatus, 5);
  const SimulatedSettings s = cam->Settings();
  EXPECT_EQ(s.shutter, 15);
  EXPECT_EQ(s.gain, 80u);
  EXPECT_FALSE(s.mirror);
  while (preview.VideoStatus != 0) ASSERT_TRUE(Deliver(*cam));
  EXPECT_EQ(frm->st.maxbr, 0u);
  EXPECT_TRUE(frm->st.ImgCaptured);
  const Bitmap frame = Frame(*cam, 15, 80);
  for (const char* name : {"BGLAMS.zph", "BGPLATE.zph", "BGFILM.zph", "BGSTRUCTURE.zph", "background.zph"}) {
    EXPECT_TRUE(fs::exists(home / name)) << name;
  }
  // The frame itself, apart from the top row's two range fields and its origin marker.
  EXPECT_EQ(frm->st.bgimg->ScanLine(700)[3 * 700], frame.ScanLine(700)[3 * 700]);
  EXPECT_TRUE(std::equal(frame.ScanLine(1), frame.ScanLine(1) + 3 * 1280, frm->st.bgimg->ScanLine(1)));
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(home / "BGLAMS.zph"));
  EXPECT_EQ(frm->MainProgress->value(), 100);

  // The zero question answered Yes: a zero capture of the page's range.
  ActivatePage(frm->Plate);
  ui.QueueMessageResult(platform::ui::ModalResult::Yes);
  frm->ZeroTRBtn->click();
  EXPECT_TRUE(frm->st.isZeroImg);
  EXPECT_EQ(capture::PreviewModule().FIRSTIMG, analysis::Analysis().Imgseq[1][0]);
  EXPECT_GE(preview.VideoStatus, 5);
}

// ---- end to end ----

// The scene's screen for this test: coarse enough for the plate analysis.
constexpr double kPeriod = 64, kAngle = 15, kArea = 0.3;

struct Truth {
  long compared = -1, mismatches = -1, maxdiff = -1;
  uint32_t max = 0, min = 0, avg = 0;
};

Truth PythonTruth(const std::string& bmp, int gain, int first, int count, bool mirror) {
  std::ostringstream cmd;
  cmd << "python3 '" << kData << "/series_truth.py' '" << bmp << "' " << gain << " " << first << " " << count << " "
      << (mirror ? 1 : 0) << " " << kPeriod << " " << kAngle << " " << kArea;
  const quirvel::testing::ToolResult run = quirvel::testing::RunTool(cmd.str());
  EXPECT_EQ(run.exit_code, 0) << run.output;
  Truth t;
  std::istringstream in(run.output);
  std::string word;
  while (in >> word) {
    if (word == "compared") in >> t.compared;
    if (word == "mismatches") in >> t.mismatches;
    if (word == "maxdiff") in >> t.maxdiff;
    if (word == "max") in >> t.max;
    if (word == "min") in >> t.min;
    if (word == "avg") in >> t.avg;
  }
  return t;
}

// The bare plate's value in a series over the steps first..last at gain 80: the camera's levels
// of the paper's radiance, scaled to the first step and averaged.
uint32_t PaperValue(int first, int last) {
  double v = 0;
  for (int k = first; k <= last; ++k) {
    const double level = std::min(255.0, std::nearbyint(60000.0 * 80 / 32 / analysis::IMBR[static_cast<size_t>(k)]));
    v += level * analysis::IMBR[static_cast<size_t>(k)] / analysis::IMBR[static_cast<size_t>(first)];
  }
  return static_cast<uint32_t>(platform::Round(v / (last - first + 1)));
}

TEST_F(PreviewHandOffTest, SeriesIsTheCombinationOfTheCamerasFramesAndMeasuresAsItsScreen) {
  SimulatedCameraConfig c;
  c.scene.screenPeriod = kPeriod;
  c.scene.screenAngle = kAngle;
  c.scene.dotArea = kArea;
  auto cam = Camera(c);

  // The camera page, 19 steps from 0 to 18 with two frames each.
  ActivatePage(frm->Camera);
  frm->ITBar->setValue(7);
  frm->NumImgs->setValue(18);
  frm->Refreshbtn->click();
  ASSERT_EQ(preview.DriverStatus, 2);
  ASSERT_TRUE(Deliver(*cam));  // discarded
  ASSERT_TRUE(Deliver(*cam));  // shown
  EXPECT_EQ(preview.VideoStatus, 2);
  frm->Capturebtn->click();
  EXPECT_EQ(capture::PreviewModule().FIRSTIMG, 0);
  EXPECT_EQ(capture::PreviewModule().NUMIMG, 19);
  int frames = 0;
  while (preview.VideoStatus >= 5 && frames < 100) {
    ASSERT_TRUE(Deliver(*cam));
    ++frames;
  }
  EXPECT_EQ(frames, 39);
  EXPECT_EQ(preview.VideoStatus, 0);
  ASSERT_TRUE(frm->st.ImgCaptured);
  for (const platform::TPoint& p : preview.DeltaPos) EXPECT_EQ(p, platform::TPoint{});
  const std::string memo = frm->Memo1->toPlainText().toStdString();
  EXPECT_EQ(memo.substr(0, memo.find('\n')), "0:0:80");
  EXPECT_EQ(std::count(memo.begin(), memo.end(), '\n'), 18);
  EXPECT_EQ(frm->MainProgress->value(), 100);

  const std::string bmp = home / "series.bmp";
  platform::SaveBmp(*frm->st.ibmp, bmp);
  const Truth t = PythonTruth(bmp, 80, 0, 19, true);
  EXPECT_EQ(t.compared, 1280L * 1024 - 10);
  EXPECT_EQ(t.mismatches, 0);
  EXPECT_EQ(t.maxdiff, 0);
  EXPECT_EQ(frm->st.maxbr, t.max);
  EXPECT_EQ(frm->st.minbr, t.min);
  EXPECT_EQ(frm->st.avgbr, t.avg);
  QuirvelHeader h;
  ASSERT_TRUE(ReadHeader(*frm->st.ibmp, h));
  EXPECT_EQ(h.atype, 127);
  EXPECT_EQ(h.max, t.max);
  // The camera page converts against background.zph, which this home folder lacks.
  EXPECT_EQ(Shown(), std::vector<std::string>{
                         "The zero reference image is missing or too dark.#Please capture a new zero reference image."});
  ui.ClearRecords();

  // The plate page's series (steps 1..18) against a zero reference of the bare plate, then
  // the plate analysis of the page: the simulated screen's period and angle.
  analysis::SaveBmpAsPNG(
      [] {
        Bitmap z(analysis::ImWidth, analysis::ImHeight);
        const uint32_t paper = PaperValue(1, 18);
        for (int y = 0; y < z.Height(); ++y)
          for (int x = 0; x < z.Width(); ++x) analysis::Set16BitValue(z.ScanLine(y), x, paper);
        return z;
      }(),
      home / "BGPLATE.zph");
  ActivatePage(frm->Plate);
  analysis::Analysis().WaitImg = 1;  // one frame per step this time
  frm->Refreshbtn->click();
  ASSERT_TRUE(Deliver(*cam));
  frm->Capturebtn->click();
  frames = 0;
  while (preview.VideoStatus >= 5 && frames < 100) {
    ASSERT_TRUE(Deliver(*cam));
    ++frames;
  }
  EXPECT_EQ(frames, 19);
  ASSERT_TRUE(frm->st.ImgCaptured);
  ASSERT_TRUE(ReadHeader(*frm->st.ibmp, h));
  EXPECT_EQ(h.atype, 1);
  EXPECT_EQ(OriginMarker(*frm->st.ibmp), 1);
  EXPECT_EQ(frm->ZeroTRBtn->text().toStdString(), FileDateText(home / "BGPLATE.zph"));
  EXPECT_EQ(Shown(), std::vector<std::string>{});

  analysis::fixture::Window plate(*frm->st.dbmp);
  plate.state->PixelperInch = analysis::Analysis().PixelperInch;
  analysis::AnalyzeKPlate(plate.ctx, 0, 0, 10, 0);
  const analysis::TSortedDotList* best = plate.st().GAlternative;
  ASSERT_NE(best, nullptr);
  const double ruling = plate.state->PixelperInch / (best->distance * 2.54);  // lines per cm
  EXPECT_NEAR(ruling, plate.state->PixelperInch / (kPeriod * 2.54), 0.005 * ruling);
  // The main window has the camera mirror its picture: a screen at 15 degrees shows at -15,
  // which is 75.
  EXPECT_NEAR(best->alpha, 90 - kAngle, 0.5);
}

}  // namespace
}  // namespace app
