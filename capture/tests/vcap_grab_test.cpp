// The one-shot frame grab: one request gives at most one frame, a request needs a running
// preview, the frame arrives upright on the GUI thread, a failing handler loses nothing, and a
// frame whose buffer is shorter than its header says is skipped.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "capture/tests/capture_test_support.h"
#include "capture/vcap.h"
#include "capture/vcap_graph.h"

namespace capture {
namespace {

using namespace platform::video;
using test::CaptureTest;
using test::PumpUntil;

class GrabTest : public CaptureTest {
 protected:
  void Start(SimulatedCameraConfig config = {}) {
    config.onRequest = true;
    cam_ = AddCamera(config);
    VideoOnly(cap_);
    cap_.OnBitmapGrabbed = [this](TCapturedBitmap& bmp) {
      ++grabbed_;
      last_ = bmp;
      if (throwing_) throw std::runtime_error("handler failed");
    };
    cap_.OnFrameRendered = [this](TVideoCapture*) { ++passed_; };
    cap_.ChooseDevices(0, -1);
    ASSERT_TRUE(cap_.Previewing());
  }
  // Lets the camera make `n` frames and waits until their messages are handled.
  void Frames(int n) {
    const uint64_t target = cam_->FramesDelivered() + static_cast<uint64_t>(n);
    const int passedTarget = passed_ + n;
    cam_->Trigger(n);
    ASSERT_TRUE(cam_->WaitForFrames(target, 10000));
    ASSERT_TRUE(PumpUntil([&] { return passed_ >= passedTarget; }));
  }

  TVideoCapture cap_;
  std::shared_ptr<SimulatedCamera> cam_;
  int grabbed_ = 0;
  int passed_ = 0;
  bool throwing_ = false;
  TCapturedBitmap last_;
};

TEST_F(GrabTest, TwoRequestsGiveOneFrame) {
  Start();
  EXPECT_TRUE(cap_.CaptureFrame());
  EXPECT_TRUE(cap_.CaptureFrame());
  Frames(3);
  EXPECT_EQ(grabbed_, 1);
  EXPECT_EQ(passed_, 3);  // every frame is announced
  EXPECT_FALSE(cap_.GrabberCallback()->GrabbingEnabled());
  // The next request takes the next frame.
  EXPECT_TRUE(cap_.CaptureFrame());
  Frames(1);
  EXPECT_EQ(grabbed_, 2);
}

TEST_F(GrabTest, GrabbedFrameIsUprightAndExact) {
  Start();
  auto sensor = std::dynamic_pointer_cast<IOcuvantCMOS>(cap_.VCapFilter()->QueryInterface(CLSID_Ocuvant24B13));
  sensor->SetShutterSpeed(ssc500);
  sensor->SetFlip(1);  // an upside-down picture shows whether rows end where they belong
  cap_.CaptureFrame();
  Frames(1);
  ASSERT_EQ(grabbed_, 1);
  ASSERT_EQ(last_.Width(), 1280);
  ASSERT_EQ(last_.Height(), 1024);
  EXPECT_EQ(last_.GetPixelFormat(), platform::PixelFormat::pf24bit);
  std::vector<uint8_t> packed, dib;
  SimulatedSettings settings;
  settings.shutter = ssc500;
  settings.flip = true;
  cam_->RenderFrame(cam_->Config().modes[0], settings, 0, packed, dib);
  const size_t stride = DibStride(1280, 24);
  for (int y = 0; y < 1024; ++y) {
    ASSERT_EQ(std::memcmp(last_.ScanLine(y), dib.data() + stride * static_cast<size_t>(1023 - y), 1280 * 3), 0)
        << "row " << y;
  }
  // The edge target (centre 640, 640) is seen flipped: its dark square now spans rows 320..447.
  EXPECT_EQ(last_.ScanLine(383)[3 * 640], SimulatedLevel(1500, 32, ssc500));
}

TEST_F(GrabTest, RequestNeedsARunningPreviewAndIsWithdrawn) {
  Start();
  EXPECT_TRUE(cap_.CaptureFrame());
  EXPECT_TRUE(cap_.GrabberCallback()->GrabbingEnabled());
  cap_.StopPreview();
  EXPECT_FALSE(cap_.CaptureFrame());
  EXPECT_FALSE(cap_.GrabberCallback()->GrabbingEnabled());  // the pending request is gone
  ASSERT_TRUE(cap_.StartPreview(true));
  Frames(2);
  EXPECT_EQ(grabbed_, 0);

  cap_.SetWantBitmaps(false);
  EXPECT_FALSE(cap_.CaptureFrame());
  cap_.SetWantBitmaps(true);
  EXPECT_TRUE(cap_.CaptureFrame());
}

TEST_F(GrabTest, OnlyTheControlsOwnCallbackObjectCounts) {
  Start();
  cap_.CaptureFrame();
  Frames(1);
  ASSERT_EQ(grabbed_, 1);
  TSampleGrabberCB stranger;
  TWMSampleCaptured foreign{WM_SAMPLECAPTURED, &stranger, 0, 0};
  cap_.BitmapGrabbed(foreign);
  TWMSampleCaptured none{WM_SAMPLECAPTURED, nullptr, 0, 0};
  cap_.BitmapGrabbed(none);
  EXPECT_EQ(grabbed_, 1);
  // The control's own message draws the buffer it holds once more.
  TWMSampleCaptured own{WM_SAMPLECAPTURED, cap_.GrabberCallback(), 0, 0};
  cap_.BitmapGrabbed(own);
  EXPECT_EQ(grabbed_, 2);
}

TEST_F(GrabTest, ShortBufferIsSkipped) {
  Start();
  // A frame whose bytes end before the rows its header describes (as after a format change
  // between the copy and the drawing): nothing is read beyond the buffer, no event comes.
  std::vector<uint8_t> shortFrame(DibStride(1280, 24) * 1023 + 100, 77);
  TSampleGrabberCB* cb = cap_.GrabberCallback();
  cb->SetGrabbingEnabled(true);
  cb->BufferCB(0, shortFrame.data(), static_cast<int32_t>(shortFrame.size()));
  ASSERT_TRUE(PumpUntil([&] { return passed_ >= 1; }));
  EXPECT_EQ(grabbed_, 0);
  EXPECT_EQ(cb->BufferLength(), shortFrame.size());
  // A full frame afterwards is grabbed as usual.
  cap_.CaptureFrame();
  Frames(1);
  EXPECT_EQ(grabbed_, 1);
}

TEST_F(GrabTest, ThrowingHandlerLosesNothing) {
  Start();
  throwing_ = true;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(cap_.CaptureFrame());
    Frames(1);
  }
  EXPECT_EQ(grabbed_, 3);
  EXPECT_TRUE(cap_.Previewing());
}

TEST_F(GrabTest, SecondHeaderFormIsGrabbedToo) {
  SimulatedCameraConfig c;
  c.modes = {SimulatedMode{kSubtypeYUY2, 640, 480, true}};
  Start(c);
  cap_.CaptureFrame();
  Frames(1);
  ASSERT_EQ(grabbed_, 1);
  EXPECT_EQ(last_.Width(), 640);
  EXPECT_EQ(last_.Height(), 480);
}

TEST_F(GrabTest, PixelFormatsOfTheGrabber) {
  AddCamera(OnRequest());
  {
    TVideoCapture cap;
    VideoOnly(cap);
    cap.SetBitmapPixelFormat(pf32bit);
    TCapturedBitmap got;
    cap.OnBitmapGrabbed = [&](TCapturedBitmap& bmp) { got = bmp; };
    cap.ChooseDevices(0, -1);
    ASSERT_TRUE(cap.CaptureFrame());
    backend_->Devices()[0]->Trigger();
    ASSERT_TRUE(PumpUntil([&] { return !got.Empty(); }));
    EXPECT_EQ(got.GetPixelFormat(), platform::PixelFormat::pf32bit);
    EXPECT_EQ(got.ScanLine(600)[4 * 600], got.ScanLine(600)[4 * 600 + 2]);
  }
  // Palettised frames would need a converter: the grabber stays out, the preview still runs.
  TVideoCapture cap;
  VideoOnly(cap);
  cap.SetBitmapPixelFormat(pf8bit);
  cap.ChooseDevices(0, -1);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Can't install SampleGrabber. Probably wrong color depth used?"}));
  EXPECT_TRUE(cap.Previewing());
  EXPECT_EQ(cap.SampleGrabber(), nullptr);
  EXPECT_FALSE(cap.CaptureFrame());
}

// Many request/grab cycles while the streaming thread keeps delivering: each request gives
// exactly one frame. The ThreadSanitizer build runs this file on its own.
TEST_F(GrabTest, TenThousandFrames) {
  SimulatedCameraConfig c;
  c.modes = {SimulatedMode{kSubtypeRGB24, 64, 48}};
  Start(c);
  constexpr int kFrames = 10000;
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_TRUE(cap_.CaptureFrame());
    cam_->Trigger(2);
    ASSERT_TRUE(PumpUntil([&] { return grabbed_ == i + 1; })) << "frame " << i;
    ASSERT_EQ(last_.Width(), 64);
  }
  EXPECT_EQ(grabbed_, kFrames);
  cap_.StopPreview();
}

}  // namespace
}  // namespace capture
