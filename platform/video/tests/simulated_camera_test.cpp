// The simulated microscope camera: listing, modes, frames against an independent Python
// computation of the scene and the pixel formula, the vendor interfaces and their call log,
// streaming, failing to start and device loss.
#include "platform/video/simulated_camera.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace platform::video {
namespace {

// Collects delivered frames (their bytes copied) and device loss.
class FrameCollector : public FrameSink {
 public:
  void Receive(const Frame& frame) override {
    std::lock_guard lock(mutex_);
    frames_.emplace_back(frame.data, frame.data + frame.length);
    headers_.push_back(frame.header);
    changed_.notify_all();
  }
  void DeviceLost() override {
    std::lock_guard lock(mutex_);
    lost_ = true;
    changed_.notify_all();
  }
  bool WaitFrames(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_.size() >= n; });
  }
  bool WaitLost() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return lost_; });
  }
  std::vector<uint8_t> FrameAt(size_t i) {
    std::lock_guard lock(mutex_);
    return frames_.at(i);
  }
  BitmapInfoHeader HeaderAt(size_t i) {
    std::lock_guard lock(mutex_);
    return headers_.at(i);
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }
  bool Lost() {
    std::lock_guard lock(mutex_);
    return lost_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> frames_;
  std::vector<BitmapInfoHeader> headers_;
  bool lost_ = false;
};

SimulatedCameraConfig OnRequest(SimulatedCameraConfig c = {}) {
  c.onRequest = true;
  return c;
}

std::shared_ptr<IOcuvantCMOS> Sensor(VideoDevice& d) {
  return std::dynamic_pointer_cast<IOcuvantCMOS>(d.QueryInterface(CLSID_Ocuvant24B13));
}

// Gray level of top-down pixel (x, y) of a 24-bit bottom-up frame.
int Level(const std::vector<uint8_t>& dib, int w, int h, int x, int y) {
  return dib[DibStride(w, 24) * static_cast<size_t>(h - 1 - y) + 3 * static_cast<size_t>(x)];
}

// One frame from a fresh device at these settings.
std::vector<uint8_t> GrabOne(SimulatedCameraBackend& backend, const std::shared_ptr<SimulatedCamera>& cam,
                             int mode, const std::function<void(IOcuvantCMOS&)>& tune = {}) {
  HRESULT hr = E_FAIL;
  auto dev = backend.Open(cam->Id(), hr);
  EXPECT_EQ(hr, S_OK);
  VideoStreamCaps caps;
  EXPECT_TRUE(dev->GetCapability(mode, caps));
  EXPECT_EQ(dev->SetFormat(caps.mt), S_OK);
  if (tune) tune(*Sensor(*dev));
  FrameCollector sink;
  EXPECT_EQ(dev->Start(sink), S_OK);
  cam->Trigger();
  EXPECT_TRUE(sink.WaitFrames(1));
  dev->Stop();
  return sink.FrameAt(0);
}

TEST(SimulatedCamera, ListsTwinsAndKeepsIdsAcrossReplug) {
  SimulatedCameraBackend backend;
  auto a = backend.AddDevice();
  auto b = backend.AddDevice();
  SimulatedCameraConfig other;
  other.name = "Bench cam";
  backend.AddDevice(other);
  auto names = [&] {
    std::vector<std::string> v;
    for (const auto& d : backend.EnumerateDevices()) v.push_back(d.name + "=" + d.id);
    return v;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"Ocuvant USB-C=sim:0", "Ocuvant USB-C=sim:1", "Bench cam=sim:2"}));
  a->Unplug();
  EXPECT_EQ(names(), (std::vector<std::string>{"Ocuvant USB-C=sim:1", "Bench cam=sim:2"}));
  HRESULT hr = S_OK;
  EXPECT_EQ(backend.Open("sim:0", hr), nullptr);
  EXPECT_EQ(hr, E_DEVICE_NOT_CONNECTED);
  a->Replug();  // comes back last, under its old id
  EXPECT_EQ(names(), (std::vector<std::string>{"Ocuvant USB-C=sim:1", "Bench cam=sim:2", "Ocuvant USB-C=sim:0"}));
  EXPECT_NE(backend.Open("sim:0", hr), nullptr);
  EXPECT_TRUE(b->Plugged());
}

TEST(SimulatedCamera, OffersItsTwoModes) {
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice();
  HRESULT hr;
  auto dev = backend.Open(cam->Id(), hr);
  ASSERT_EQ(dev->CapabilityCount(), 2);
  VideoStreamCaps caps;
  ASSERT_TRUE(dev->GetCapability(0, caps));
  EXPECT_EQ(caps.mt.subtype, kSubtypeRGB24);
  EXPECT_EQ(caps.mt.bmiHeader.biWidth, 1280);
  EXPECT_EQ(caps.mt.bmiHeader.biHeight, 1024);
  EXPECT_EQ(caps.mt.bmiHeader.biBitCount, 24);
  EXPECT_EQ(caps.MinFrameInterval, 200000);
  EXPECT_EQ(caps.MaxFrameInterval, 10000000);
  ASSERT_TRUE(dev->GetCapability(1, caps));
  EXPECT_EQ(caps.mt.subtype, kSubtypeYUY2);
  EXPECT_EQ(caps.mt.bmiHeader.biWidth, 640);
  EXPECT_EQ(caps.mt.bmiHeader.biBitCount, 16);
  EXPECT_FALSE(dev->GetCapability(2, caps));

  MediaType mt;
  ASSERT_EQ(dev->GetFormat(mt), S_OK);
  EXPECT_EQ(mt.subtype, kSubtypeRGB24);
  EXPECT_EQ(mt.AvgTimePerFrame, 666667);
  mt.AvgTimePerFrame = 1428571;
  EXPECT_EQ(dev->SetFormat(mt), S_OK);
  ASSERT_EQ(dev->GetFormat(mt), S_OK);
  EXPECT_EQ(mt.AvgTimePerFrame, 1428571);
  mt.AvgTimePerFrame = 100000;  // 100 per second: beyond the camera
  EXPECT_EQ(dev->SetFormat(mt), E_INVALIDARG);
  mt.AvgTimePerFrame = 0;
  mt.bmiHeader.biWidth = 800;
  EXPECT_EQ(dev->SetFormat(mt), VFW_E_INVALIDMEDIATYPE);
}

TEST(SimulatedCamera, FrameEqualsPythonComputation) {
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice(OnRequest());
  const int gain = 40;
  const int shutter = ssc500;
  const std::vector<uint8_t> frame = GrabOne(backend, cam, 0, [&](IOcuvantCMOS& s) {
    EXPECT_EQ(s.SetAGC(gain), S_OK);
    EXPECT_EQ(s.SetShutterSpeed(static_cast<eShutterSpeedCMOS>(shutter)), S_OK);
  });
  ASSERT_EQ(frame.size(), 1280u * 3 * 1024);

  // Rows through the halftone, across the edge target and its clear square, and the borders.
  const std::vector<int> rows = {0, 1, 37, 211, 511, 512, 513, 575, 576, 577, 640, 703, 704, 705, 767, 768, 1023};
  std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/sim_frame_truth.py' " +
                        std::to_string(gain) + " " + std::to_string(shutter);
  for (int r : rows) command += " " + std::to_string(r);
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  std::array<char, 65536> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;

  std::istringstream lines(out);
  std::string line;
  size_t checked = 0;
  int distinct = 0;
  std::array<bool, 256> seen{};
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    int row;
    char colon;
    in >> row >> colon;
    for (int x = 0; x < 1280; ++x) {
      int want;
      ASSERT_TRUE(in >> want) << "row " << row;
      ASSERT_EQ(Level(frame, 1280, 1024, x, row), want) << "x " << x << " row " << row;
      if (!seen[static_cast<size_t>(want)]) ++distinct;
      seen[static_cast<size_t>(want)] = true;
      ++checked;
    }
  }
  EXPECT_EQ(checked, rows.size() * 1280);
  EXPECT_EQ(distinct, 5);  // paper, ink and the three mixtures of dot edges
  // Blue, green and red carry the same level.
  for (size_t i = 0; i < frame.size(); i += 3 * 997) {
    EXPECT_EQ(frame[i], frame[i + 1]);
    EXPECT_EQ(frame[i + 1], frame[i + 2]);
  }
}

TEST(SimulatedCamera, LevelFormulaSaturatesAndRoundsHalfToEven) {
  EXPECT_EQ(SimulatedLevel(60000, 32, ssc250), 240);
  EXPECT_EQ(SimulatedLevel(60000, 32, ssc2), 255);
  EXPECT_EQ(SimulatedLevel(1500, 32, ssc250), 6);
  EXPECT_EQ(SimulatedLevel(5, 32, ssc2), 2);   // 2.5 -> 2
  EXPECT_EQ(SimulatedLevel(7, 32, ssc2), 4);   // 3.5 -> 4
  EXPECT_EQ(SimulatedLevel(100, 64, ssc4), 50);
  EXPECT_EQ(SimulatedLevel(0, 127, ssc2), 0);
}

TEST(SimulatedCamera, YuyvModeMirrorFlipShiftAndNoise) {
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice(OnRequest());
  const std::vector<uint8_t> plain = GrabOne(backend, cam, 0);

  // 640 x 480 YUY2 frames sample the scene at (2x, 32y/15) and come back as gray within one level.
  const std::vector<uint8_t> small = GrabOne(backend, cam, 1);
  ASSERT_EQ(small.size(), DibStride(640, 24) * 480);
  for (int y = 0; y < 480; y += 7) {
    for (int x = 0; x < 640; x += 5) {
      ASSERT_LE(std::abs(Level(small, 640, 480, x, y) - Level(plain, 1280, 1024, 2 * x, y * 1024 / 480)), 1);
    }
  }

  const std::vector<uint8_t> turned = GrabOne(backend, cam, 0, [](IOcuvantCMOS& s) {
    s.SetMirror(1);
    s.SetFlip(1);
  });
  for (int y = 0; y < 1024; y += 13) {
    for (int x = 0; x < 1280; x += 11) {
      ASSERT_EQ(Level(turned, 1280, 1024, x, y), Level(plain, 1280, 1024, 1279 - x, 1023 - y));
    }
  }

  SimulatedCameraConfig moving = OnRequest();
  moving.shiftX = 3;
  moving.shiftY = -2;
  moving.noise = 4;
  moving.noiseSeed = 77;
  auto mover = backend.AddDevice(moving);
  HRESULT hr;
  auto dev = backend.Open(mover->Id(), hr);
  FrameCollector sink;
  ASSERT_EQ(dev->Start(sink), S_OK);
  mover->Trigger(3);
  ASSERT_TRUE(sink.WaitFrames(3));
  dev->Stop();
  const std::vector<uint8_t> f2 = sink.FrameAt(2);
  int differs = 0;
  for (int y = 300; y < 700; y += 3) {
    for (int x = 100; x < 1100; x += 3) {
      // Frame 2 looks 6 points further right and 4 up, with at most 4 levels of noise.
      const int want = Level(plain, 1280, 1024, x + 6, y - 4);
      const int got = Level(f2, 1280, 1024, x, y);
      ASSERT_LE(std::abs(got - want), 4);
      differs += got != want;
    }
  }
  EXPECT_GT(differs, 1000);
  // The same seed gives the same noise.
  std::vector<uint8_t> yuyv, again;
  mover->RenderFrame(SimulatedMode{}, SimulatedSettings{}, 2, yuyv, again);
  EXPECT_EQ(again, f2);
}

TEST(SimulatedCamera, VendorInterfacesKeepACallLog) {
  SimulatedCameraBackend backend;
  SimulatedCameraConfig config;
  config.model = 4711;
  auto cam = backend.AddDevice(config);
  HRESULT hr;
  auto dev = backend.Open(cam->Id(), hr);
  auto sensor = Sensor(*dev);
  auto common = std::dynamic_pointer_cast<IOcuvantCommon>(dev->QueryInterface(IID_OcuvantCOM));
  ASSERT_TRUE(sensor && common);
  EXPECT_EQ(dev->QueryInterface(kSubtypeRGB24), nullptr);

  EXPECT_EQ(sensor->SetAGC(40), S_OK);
  EXPECT_EQ(sensor->SetShutterSpeed(ssc7_5), S_OK);
  EXPECT_EQ(sensor->SetMirror(1), S_OK);
  EXPECT_EQ(sensor->SetFlip(0), S_OK);
  // A step beyond the table (300 sent as its low byte 44) is refused and changes nothing.
  EXPECT_EQ(sensor->SetShutterSpeed(static_cast<eShutterSpeedCMOS>(300 & 0xFF)), E_INVALIDARG);
  EXPECT_EQ(cam->CallLog(), (std::vector<std::string>{"SetAGC(40)", "SetShutterSpeed(2)", "SetMirror(1)",
                                                      "SetFlip(0)", "SetShutterSpeed(44)"}));
  EXPECT_EQ(cam->Settings().shutter, ssc7_5);
  EXPECT_TRUE(cam->Settings().mirror);

  uint16_t model = 0;
  EXPECT_EQ(common->GetModel(model), S_OK);
  EXPECT_EQ(model, 4711);
  EXPECT_EQ(common->WriteI2C(0, 0x35, 0x1234), S_OK);
  uint16_t value = 0;
  EXPECT_EQ(common->ReadI2C(0, 0x35, value), S_OK);
  EXPECT_EQ(value, 0x1234);
  int32_t button = -3;
  cam->SetSnapshotButton(1);
  EXPECT_EQ(common->GetSnapshotState(&button), S_OK);
  EXPECT_EQ(button, 1);
  EXPECT_EQ(common->GetSnapshotState(nullptr), E_POINTER);
  EXPECT_EQ(sensor->Reset(), S_OK);
  EXPECT_EQ(cam->Settings().gain, 32u);
  EXPECT_EQ(cam->Settings().shutter, ssc30);
  EXPECT_FALSE(cam->Settings().mirror);
  EXPECT_EQ(cam->CallLog().back(), "Reset()");
  cam->ClearCallLog();
  EXPECT_TRUE(cam->CallLog().empty());

  // A camera of that name whose driver lacks the interfaces.
  SimulatedCameraConfig bare;
  bare.vendorInterfaces = false;
  auto plain = backend.AddDevice(bare);
  auto plainDev = backend.Open(plain->Id(), hr);
  EXPECT_EQ(plainDev->QueryInterface(CLSID_Ocuvant24B13), nullptr);
  EXPECT_EQ(plainDev->QueryInterface(IID_OcuvantCOM), nullptr);
}

TEST(SimulatedCamera, SettingsApplyFromTheNextFrame) {
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice(OnRequest());
  HRESULT hr;
  auto dev = backend.Open(cam->Id(), hr);
  auto sensor = Sensor(*dev);
  sensor->SetShutterSpeed(ssc250);
  FrameCollector sink;
  ASSERT_EQ(dev->Start(sink), S_OK);
  cam->Trigger();
  ASSERT_TRUE(sink.WaitFrames(1));
  sensor->SetShutterSpeed(ssc500);
  cam->Trigger();
  ASSERT_TRUE(sink.WaitFrames(2));
  dev->Stop();
  EXPECT_EQ(Level(sink.FrameAt(0), 1280, 1024, 640 - 100, 640), 240);  // paper in the clear square
  EXPECT_EQ(Level(sink.FrameAt(1), 1280, 1024, 640 - 100, 640), 120);
  EXPECT_EQ(sink.HeaderAt(1), Rgb24Header(1280, 1024));
}

TEST(SimulatedCamera, StreamsByTheClockFailsOnRequestAndReportsLoss) {
  SimulatedCameraBackend backend;
  auto cam = backend.AddDevice();  // paced by the frame time
  HRESULT hr;
  auto dev = backend.Open(cam->Id(), hr);
  MediaType mt;
  dev->GetFormat(mt);
  mt.AvgTimePerFrame = 200000;
  ASSERT_EQ(dev->SetFormat(mt), S_OK);
  FrameCollector sink;
  ASSERT_EQ(dev->Start(sink), S_OK);
  EXPECT_TRUE(dev->Streaming());
  EXPECT_EQ(dev->SetFormat(mt), VFW_E_WRONG_STATE);
  EXPECT_EQ(dev->Start(sink), VFW_E_WRONG_STATE);
  // One stream per camera: a second opening of it is busy.
  auto second = backend.Open(cam->Id(), hr);
  FrameCollector other;
  EXPECT_TRUE(Failed(second->Start(other)));
  EXPECT_TRUE(sink.WaitFrames(3));

  cam->Unplug();
  EXPECT_TRUE(sink.WaitLost());
  const size_t count = sink.Count();
  dev->Stop();
  EXPECT_EQ(sink.Count(), count);
  EXPECT_FALSE(dev->Streaming());
  EXPECT_EQ(dev->Start(sink), E_DEVICE_NOT_CONNECTED);
  cam->Replug();

  cam->SetFailsToStart(true);
  EXPECT_EQ(dev->Start(sink), E_FAIL);
  EXPECT_FALSE(dev->Streaming());
  cam->SetFailsToStart(false);
  ASSERT_EQ(dev->Start(sink), S_OK);
  dev->Stop();
  dev->Stop();  // harmless twice
}

}  // namespace
}  // namespace platform::video
