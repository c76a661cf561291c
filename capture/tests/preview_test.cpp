// The camera settings window: the vendor controls, setting the camera up, the live preview,
// the exposure series' countdown, device loss, the driver chooser and the window's buttons.
#include "capture/preview.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "capture/sv_driver.h"
#include "capture/tests/capture_test_support.h"
#include "platform/base/clock.h"

// The leak checker's own hook: the window toolkit's font lookups (the window's labels and lists)
// keep caches in the system's font library for the whole process; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace capture {
namespace {

using namespace platform::video;
using test::CaptureTest;
using test::PumpUntil;

// The main window's part, recorded.
struct RecordingHost : TPreviewHost {
  void PreviewImage(platform::Bitmap& abmp) override {
    ++previews;
    lastPreview = abmp.Width();
  }
  platform::Bitmap& CapturedImage() override { return image; }
  void SetCaptureRange(uint32_t mx, uint32_t mn, uint32_t av) override {
    max = mx;
    min = mn;
    avg = av;
  }
  void CaptureFinish() override { ++finishes; }
  void ClearLog() override { log.clear(); }
  void AppendLog(const std::string& line) override { log.push_back(line); }
  void SetGauge(int32_t position) override { gauge.push_back(position); }
  void SetGaugeColor(uint32_t color) override { colours.push_back(color); }
  int32_t GainBarPosition() override { return gainBar; }
  std::string MessageText(int32_t offset) override { return "MESSAGES+" + std::to_string(offset); }

  platform::Bitmap image;
  int previews = 0, lastPreview = 0, finishes = 0;
  uint32_t max = 0, min = 0, avg = 0;
  int32_t gainBar = 80;
  std::vector<std::string> log;
  std::vector<int32_t> gauge;
  std::vector<uint32_t> colours;
};

class PreviewTest : public CaptureTest {
 protected:
  PreviewTest() { frm.SetHost(&host); }

  // The vendor calls of the camera's log, without the reads.
  static std::vector<std::string> Sent(const SimulatedCamera& cam) {
    std::vector<std::string> sent;
    for (const std::string& call : cam.CallLog()) {
      if (call.rfind("Get", 0) != 0) sent.push_back(call);
    }
    return sent;
  }
  // Feeds the window the frame the camera would deliver now: every byte holds the shutter
  // step the sensor is set to.
  void Feed(const SimulatedCamera& cam) {
    TCapturedBitmap frame(8, 8);
    frame.Fill(static_cast<uint8_t>(cam.Settings().shutter));
    frm.gCapBitmapGrabbed(frame);
  }
  // Lets the camera deliver one frame and waits until the window has handled it.
  bool Deliver(SimulatedCamera& cam) {
    const uint64_t before = cam.FramesDelivered();
    const int handled = handled_;
    cam.Trigger();
    return cam.WaitForFrames(before + 1, 5000) && PumpUntil([&] { return handled_ > handled; });
  }
  // Counts the frames the window gets, ahead of its own handler.
  void CountFrames() {
    frm.gCap->OnBitmapGrabbed = [this](TCapturedBitmap& bmp) {
      ++handled_;
      frm.gCapBitmapGrabbed(bmp);
    };
  }

  RecordingHost host;
  TFrmPreview frm;
  int handled_ = 0;
};

// ---- vendor controls ----

TEST_F(PreviewTest, VendorCallsInOrderAndOnlyWithACameraSetUp) {
  auto cam = AddCamera(OnRequest());
  // Before any set-up nothing is sent and the reads give their neutral results.
  EXPECT_EQ(frm.GetModel(), 0);
  EXPECT_EQ(frm.CheckKey(), -1);
  EXPECT_EQ(frm.ReadIC(3), 0);
  EXPECT_EQ(frm.WriteIC(3, 9), 0);
  frm.SetShutterSpeed(2, 40, true, false);
  frm.ResetCam();
  frm.GetModelbtn->click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Model : 0"}));
  EXPECT_TRUE(cam->CallLog().empty());

  ASSERT_EQ(frm.InitCam(0, "Ocuvant USB-C", 0, 5), 2);
  EXPECT_EQ(frm.DriverStatus, 2);
  cam->ClearCallLog();
  frm.SetShutterSpeed(2, 40, true, false);
  EXPECT_EQ(Sent(*cam), (std::vector<std::string>{"SetAGC(40)", "SetShutterSpeed(2)", "SetMirror(1)", "SetFlip(0)"}));
  EXPECT_TRUE(frm.gCap->UseFrameRate());
  // The frame rate follows the shutter; it applies when the graph is next built.
  for (const auto& [shutter, rate] : std::vector<std::pair<int, double>>{{0, 2}, {1, 4}, {2, 7}, {3, 15}, {18, 15}}) {
    frm.SetShutterSpeed(shutter, 40, false, true);
    EXPECT_EQ(frm.gCap->FrameRate(), rate) << shutter;
  }
  // A step above 255 goes as its low byte; the gain alone and shutter with gain leave the rate.
  cam->ClearCallLog();
  frm.SetShutterSpeed(300, 40, false, false);
  frm.SetShutterGain(4, 50);
  frm.SetGain(60);
  EXPECT_EQ(Sent(*cam), (std::vector<std::string>{"SetAGC(40)", "SetShutterSpeed(44)", "SetMirror(0)", "SetFlip(0)",
                                                   "SetAGC(50)", "SetShutterSpeed(4)", "SetAGC(60)"}));
  EXPECT_EQ(frm.gCap->FrameRate(), 15);

  EXPECT_EQ(frm.GetModel(), 2413);
  EXPECT_EQ(frm.WriteIC(7, 0xBEEF), 1);
  EXPECT_EQ(frm.ReadIC(7), 0xBEEF);
  EXPECT_EQ(frm.CheckKey(), 0);
  cam->SetSnapshotButton(1);
  EXPECT_EQ(frm.CheckKey(), 1);
  cam->ClearCallLog();
  frm.RESET->click();
  EXPECT_EQ(Sent(*cam), (std::vector<std::string>{"Reset()"}));
  ui_.ClearRecords();
  frm.GetModelbtn->click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Model : 2413"}));
}

TEST_F(PreviewTest, CameraWithoutVendorInterfacesIsSetUpButNotControlled) {
  SimulatedCameraConfig c = OnRequest();
  c.vendorInterfaces = false;
  auto cam = AddCamera(c);
  EXPECT_EQ(frm.InitCam(0, "Ocuvant USB-C", 0, 1), 1);
  EXPECT_TRUE(frm.gCap->Previewing());
  frm.SetShutterSpeed(1, 40, true, true);
  EXPECT_TRUE(cam->CallLog().empty());
  EXPECT_EQ(frm.gCap->FrameRate(), 15);  // the control's own rate stays
  EXPECT_EQ(frm.CheckKey(), 0);          // no common interface
  EXPECT_EQ(frm.GetModel(), 0);
}

TEST_F(PreviewTest, WaitKeyReleaseEndsOnReleaseTimeOutOrAClosingRequest) {
  auto cam = AddCamera(OnRequest());
  ASSERT_EQ(frm.InitCam(0, "Ocuvant USB-C", 0, 5), 2);
  platform::ManualClock clock;
  platform::ScopedClock scoped(clock);
  // Released: at once. Held: until the time is up. A negative time: at once.
  frm.WaitKeyRelease(500);
  EXPECT_EQ(clock.TickCount(), 0u);
  cam->SetSnapshotButton(1);
  frm.WaitKeyRelease(500);
  EXPECT_GE(clock.TickCount(), 500u);
  const uint32_t t = clock.TickCount();
  frm.WaitKeyRelease(-1);
  EXPECT_EQ(clock.TickCount(), t);
  // A window asked to close in the meantime stays; the camera window closes instead.
  QWidget other;
  other.show();
  frm.show();
  QCoreApplication::postEvent(&other, new QCloseEvent);
  frm.WaitKeyRelease(200);
  EXPECT_TRUE(other.isVisible());
  EXPECT_FALSE(frm.isVisible());
  EXPECT_FALSE(frm.gCap->Previewing());
}

// ---- setting up and the live preview ----

TEST_F(PreviewTest, RefreshFindsTheCameraAndEveryHandledFrameAsksForTheNext) {
  AddCamera(OnRequest(SimulatedCameraConfig{.name = "Webcam"}));
  auto cam = AddCamera(OnRequest());
  CountFrames();
  frm.Refresh(7, 45, true, false);
  ASSERT_TRUE(frm.gCap->Previewing());
  EXPECT_EQ(frm.gCap->VCapName(), "Ocuvant USB-C");
  EXPECT_EQ(PreviewModule().MyDrvIndex, 1);
  EXPECT_EQ(frm.VideoStatus, 1);
  const auto settings = cam->Settings();
  EXPECT_EQ(settings.shutter, 7);
  EXPECT_EQ(settings.gain, 45u);
  EXPECT_TRUE(settings.mirror);
  // The first frame is discarded; the next ones go to the main window, one request each.
  ASSERT_TRUE(Deliver(*cam));
  EXPECT_EQ(frm.VideoStatus, 2);
  EXPECT_EQ(host.previews, 0);
  ASSERT_TRUE(Deliver(*cam));
  ASSERT_TRUE(Deliver(*cam));
  EXPECT_EQ(host.previews, 2);
  EXPECT_EQ(host.lastPreview, 1280);
  // A running preview is only re-tuned, and starts again with a discarded frame.
  cam->ClearCallLog();
  frm.Refresh(9, 50, false, false);
  EXPECT_EQ(Sent(*cam), (std::vector<std::string>{"SetAGC(50)", "SetShutterSpeed(9)", "SetMirror(0)", "SetFlip(0)"}));
  EXPECT_EQ(frm.VideoStatus, 1);
  ASSERT_TRUE(Deliver(*cam));
  EXPECT_EQ(host.previews, 2);
  // Idle: a frame that still comes is not used and asks for no other.
  frm.VideoStatus = 0;
  ASSERT_TRUE(Deliver(*cam));
  const int handled = handled_;
  cam->Trigger();
  ASSERT_TRUE(cam->WaitForFrames(cam->FramesDelivered() + 1, 5000));
  test::Pump(50);
  EXPECT_EQ(handled_, handled);
  EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(PreviewTest, RefreshWithoutTheCamera) {
  // No device at all: message text 1.
  frm.Refresh(7, 45, true, false);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"MESSAGES+1"}));
  // Devices, none of them the camera: nothing happens.
  ui_.ClearRecords();
  AddCamera(OnRequest(SimulatedCameraConfig{.name = "Webcam"}));
  frm.Refresh(7, 45, true, false);
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_FALSE(frm.gCap->Previewing());
  // Another device set up by hand: not the camera, and the state of the frames stays.
  frm.VideoStatus = 2;
  EXPECT_EQ(frm.InitCam(0, "Webcam", 0, 5), 0);
  EXPECT_EQ(frm.VideoStatus, 2);
  EXPECT_TRUE(frm.gCap->Previewing());
  // The camera without its controls: message text 2, the preview runs.
  SimulatedCameraConfig bare = OnRequest();
  bare.vendorInterfaces = false;
  AddCamera(bare);
  frm.gCap->StopPreview();
  frm.Refresh(7, 45, true, false);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"MESSAGES+2"}));
  EXPECT_TRUE(frm.gCap->Previewing());
  EXPECT_EQ(frm.DriverStatus, 1);
}

// ---- exposure series ----

struct SeriesCase {
  int32_t von, bis, Switch;
  int framesUsed;
  std::vector<int32_t> storedAt;  // countdown values of the first stored frames
};

class SeriesTest : public PreviewTest, public ::testing::WithParamInterface<SeriesCase> {};

TEST_P(SeriesTest, CountdownStoresOneFramePerStepAtItsShutter) {
  const SeriesCase& k = GetParam();
  auto cam = AddCamera(OnRequest());
  ASSERT_EQ(frm.InitCam(0, "Ocuvant USB-C", 0, 5), 2);
  GGain = 70;
  host.gainBar = 75;
  cam->ClearCallLog();
  frm.StartCapture(k.von, k.bis, k.Switch);
  const int32_t n = k.bis - k.von + 1;
  EXPECT_EQ(frm.VideoStatus, k.von == k.bis ? 5 : 5 + k.Switch * n);
  EXPECT_EQ(host.colours, std::vector<uint32_t>{0xC0DCC0});

  int used = 0;
  std::vector<int32_t> storedAt;
  while (frm.VideoStatus >= 5 && used < 200) {
    const int32_t v = frm.VideoStatus;
    const int32_t before = frm.bmpcount;
    Feed(*cam);
    ++used;
    if (frm.bmpcount > before) storedAt.push_back(v);
  }
  EXPECT_EQ(used, k.framesUsed);
  EXPECT_EQ(frm.VideoStatus, 0);
  ASSERT_EQ(frm.bmpcount, n);
  // The first stored frames' countdown values, as far as the case names them.
  ASSERT_GE(storedAt.size(), k.storedAt.size());
  EXPECT_EQ(std::vector<int32_t>(storedAt.begin(), storedAt.begin() + static_cast<long>(k.storedAt.size())),
            k.storedAt);
  // Frame k was taken at shutter step von + k.
  for (int32_t i = 0; i < n; ++i) EXPECT_EQ(frm.bmpscan[static_cast<size_t>(i)].ScanLine(0)[2], k.von + i) << i;

  // The steps were sent in order with the series gain, and none beyond the last.
  std::vector<std::string> want;
  for (int32_t s = k.von; s <= k.bis; ++s) {
    want.push_back("SetAGC(70)");
    want.push_back("SetShutterSpeed(" + std::to_string(s) + ")");
  }
  EXPECT_EQ(Sent(*cam), want);
  ASSERT_EQ(host.log.size(), static_cast<size_t>(n));
  EXPECT_EQ(host.log.front(), "0:" + std::to_string(k.von) + ":75");
  if (n > 1) {
    EXPECT_EQ(host.log.back(), std::to_string(n - 1) + ":" + std::to_string(k.bis) + ":70");
  }

  // The gauge climbs in steps of 90 div n and ends at 100 after the combination.
  std::vector<int32_t> steps;
  for (int32_t g : host.gauge) {
    if (steps.empty() || steps.back() != g) steps.push_back(g);
  }
  std::vector<int32_t> gauge;
  for (int32_t i = steps.front() == 0 ? 0 : 1; i <= n; ++i) gauge.push_back(i * 90 / n);
  gauge.push_back(100);
  EXPECT_EQ(steps, gauge);
  EXPECT_EQ(host.colours.back(), 0xF0CAA6u);
  EXPECT_EQ(host.finishes, 1);
  EXPECT_EQ(host.image.Width(), 1280);
}

INSTANTIATE_TEST_SUITE_P(Steps, SeriesTest,
                         ::testing::Values(SeriesCase{1, 3, 2, 7, {10, 8, 6}},        // the worked example
                                           SeriesCase{1, 3, 1, 4, {8, 7, 6}},         // one frame per step
                                           SeriesCase{15, 15, 2, 1, {5}},             // single step
                                           SeriesCase{1, 18, 2, 37, {40, 38}},        // 37 frames from 41
                                           SeriesCase{1, 18, 3, 55, {57, 54}},        // two frames before the first
                                           SeriesCase{1, 18, 5, 91, {95, 90, 85}}));  // never sends step 19

TEST_F(PreviewTest, SeriesStartDuringACountdownOrOutsideTheStepsIsIgnored) {
  auto cam = AddCamera(OnRequest());
  ASSERT_EQ(frm.InitCam(0, "Ocuvant USB-C", 0, 5), 2);
  frm.StartCapture(2, 4, 2);
  Feed(*cam);
  const int32_t status = frm.VideoStatus;
  const auto log = host.log;
  cam->ClearCallLog();
  frm.StartCapture(10, 12, 1);
  EXPECT_EQ(frm.VideoStatus, status);
  EXPECT_EQ(host.log, log);
  EXPECT_TRUE(cam->CallLog().empty());
  EXPECT_EQ(PreviewModule().FIRSTIMG, 2);
  // From idle, a range the camera does not have starts nothing.
  frm.VideoStatus = 0;
  for (const auto& [von, bis, sw] : std::vector<std::tuple<int, int, int>>{{-1, 3, 2}, {5, 4, 2}, {3, 19, 2}, {3, 5, 0}}) {
    frm.StartCapture(von, bis, sw);
    EXPECT_EQ(frm.VideoStatus, 0) << von << " " << bis << " " << sw;
  }
}

TEST_F(PreviewTest, DeviceLossEndsTheSeriesWithoutCombining) {
  auto cam = AddCamera(OnRequest());
  CountFrames();
  frm.Refresh(7, 45, true, false);
  ASSERT_TRUE(Deliver(*cam));
  frm.StartCapture(1, 5, 2);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(Deliver(*cam));
  EXPECT_EQ(frm.VideoStatus, 15 - 4);
  cam->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return !MessageTexts().empty(); }));
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"MESSAGES+1"}));
  EXPECT_EQ(frm.VideoStatus, 0);
  EXPECT_EQ(frm.DriverStatus, 0);
  EXPECT_EQ(PreviewModule().MyDrvIndex, -1);
  EXPECT_FALSE(frm.gCap->Previewing());
  EXPECT_EQ(host.finishes, 0);
  // Now nothing is sent any more.
  cam->Replug();
  cam->ClearCallLog();
  frm.SetShutterGain(3, 40);
  EXPECT_TRUE(cam->CallLog().empty());
}

TEST_F(PreviewTest, DeviceLossOfAnotherDeviceKeepsTheCountdown) {
  auto cam = AddCamera(OnRequest(SimulatedCameraConfig{.name = "Webcam"}));
  ASSERT_EQ(frm.InitCam(0, "Webcam", 0, 5), 0);
  frm.VideoStatus = 9;
  cam->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return !MessageTexts().empty(); }));
  EXPECT_EQ(MessageTexts().front(), "MESSAGES+4");
  EXPECT_EQ(frm.VideoStatus, 9);
}

// ---- driver chooser ----

struct ChooserCase {
  bool firstWorks, secondWorks;
  bool shown;
  bool clickLeft;  // when shown: a click on the left picture, else the chooser is closed
  std::string used;
};

class ChooserTest : public PreviewTest, public ::testing::WithParamInterface<ChooserCase> {};

TEST_P(ChooserTest, TwoCamerasAreTriedAndTheOperatorAskedOnlyWhenUndecided) {
  const ChooserCase& k = GetParam();
  auto first = AddCamera(OnRequest());
  auto second = AddCamera(OnRequest());
  first->SetFailsToStart(!k.firstWorks);
  second->SetFailsToStart(!k.secondWorks);
  bool live = false;
  ui_.QueueModal([&](platform::ui::ModalWindow& window) {
    auto& chooser = dynamic_cast<TSVDriverFrm&>(window);
    live = chooser.VCap1->Previewing() && chooser.VCap2->Previewing();
    if (k.clickLeft) QTest::mouseClick(chooser.VCap1, Qt::LeftButton);
    return platform::ui::ModalResult::Cancel;
  });
  platform::ManualClock clock;  // the 3 s pause after the choice passes at once
  platform::ScopedClock scoped(clock);
  frm.Refresh(7, 45, true, false);
  EXPECT_EQ(ui_.ModalWindows(), k.shown ? std::vector<std::string>{"TSVDriverFrm"} : std::vector<std::string>{});
  EXPECT_EQ(live, k.shown && k.firstWorks && k.secondWorks);
  EXPECT_GE(clock.TickCount(), 3000u);
  EXPECT_EQ(frm.gCap->VCapName(), k.used);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ChooserTest,
                         ::testing::Values(ChooserCase{true, false, false, false, "Ocuvant USB-C"},
                                           ChooserCase{false, true, false, false, "Ocuvant USB-C (2)"},
                                           ChooserCase{true, true, true, true, "Ocuvant USB-C"},
                                           ChooserCase{false, false, true, false, "Ocuvant USB-C (2)"}));

// ---- the window's own controls ----

TEST_F(PreviewTest, ApplyUsesTheChosenDriverModeAndTheShownShutter) {
  frm.Refreshbtn->click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"NO VIDEO DRIVER INSTALLED!"}));
  auto cam = AddCamera(OnRequest());
  ui_.ClearRecords();
  frm.Refreshbtn->click();
  ASSERT_EQ(frm.DriverList->count(), 1);
  EXPECT_EQ(frm.ShutterCombo->currentText().toStdString(), "    1/30 second");
  EXPECT_EQ(frm.ShutterCombo->count(), 19);
  frm.DriverList->setCurrentRow(0);
  ASSERT_EQ(frm.RVList->count(), 2);
  EXPECT_EQ(frm.RVList->item(1)->text().toStdString(), "640x480x16b (YUY2)");
  frm.RVList->setCurrentRow(1);
  cam->ClearCallLog();
  frm.Applybtn->click();
  EXPECT_EQ(frm.DriverStatus, 2);
  EXPECT_EQ(frm.VideoStatus, 1);
  EXPECT_TRUE(frm.gCap->Previewing());
  EXPECT_EQ(frm.gCap->GetVCapMode().Width, 640);
  EXPECT_EQ(Sent(*cam), (std::vector<std::string>{"SetAGC(32)", "SetShutterSpeed(5)", "SetMirror(0)", "SetFlip(0)"}));
  // Closed (which stops the preview) and applied again: the camera is set up anew.
  frm.close();
  EXPECT_FALSE(frm.gCap->Previewing());
  frm.Applybtn->click();
  EXPECT_TRUE(frm.gCap->Previewing());
  EXPECT_EQ(frm.DriverStatus, 2);
  EXPECT_TRUE(MessageTexts().empty());
}

}  // namespace
}  // namespace capture
