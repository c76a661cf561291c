#pragma once
// The simulated microscope camera: devices that behave like the workstation's camera without
// hardware, for tests, demonstrations and training.
//
// Each device looks at a fixed high-range scene, a radiance map L(x, y) of 1280 x 1024
// points: a halftone of round dots on a rotated screen with a known period, angle and area
// coverage, and in a clear square around (640, 640) a dark square edge target (where the
// registration of an exposure series looks). A frame pixel is gray (blue = green = red):
//
//   level = min(255, round(L * gain / 32 / kShutterExposure[shutter]))   (ties to even)
//
// with the sensor interface's gain and shutter step, optionally plus seeded noise. Every point
// of L is the mean of 2 x 2 samples, so dot edges carry intermediate values. A mode of another
// size samples the scene at (x * 1280 / width, y * 1024 / height); mirror reverses the columns,
// flip the rows; a per-frame shift moves the view by (k * shiftX, k * shiftY) scene points in
// frame k (clamped at the border).
//
// The sensor settings of a frame are read when the frame begins, so a change made while a
// frame is on its way applies from the next one. Frames come on the device's streaming
// thread, paced by the frame time, or only when a test triggers them.
//
// The vendor interfaces record every call in a call log ("SetAGC(40)", "SetShutterSpeed(2)").
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/video/video_device.h"

namespace platform::video {

struct SimulatedScene {
  double screenPeriod = 16.0;  // scene points from one dot to the next
  double screenAngle = 15.0;   // degrees, counter-clockwise from the x axis
  double dotArea = 0.30;       // share of a screen cell covered by its dot (round dots: up to 0.78)
  double paper = 60000.0;      // radiance of the bare plate (level 240 at 1/250 s and gain 32)
  double ink = 1500.0;         // radiance inside a dot and of the edge target
  int targetX = 640, targetY = 640;  // centre of the edge target
  int targetSize = 128;              // side of the dark square
  int clearSize = 256;               // side of the dot-free square around it

  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 1024;
};

struct SimulatedMode {
  TGUID subtype = kSubtypeRGB24;  // RGB24 or YUY2
  int width = 1280;
  int height = 1024;
  bool videoInfo2 = false;  // the format is announced with the second video header form
};

struct SimulatedCameraConfig {
  std::string name = "Ocuvant USB-C";
  uint16_t model = 2413;
  std::vector<SimulatedMode> modes = {SimulatedMode{kSubtypeRGB24, 1280, 1024},
                                      SimulatedMode{kSubtypeYUY2, 640, 480}};
  SimulatedScene scene;
  bool vendorInterfaces = true;  // false: a camera of this name whose driver lacks them
  bool failsToStart = false;     // Start fails with E_FAIL
  bool onRequest = false;        // frames only when triggered, not by the clock
  int shiftX = 0;                // scene shift per frame
  int shiftY = 0;
  int noise = 0;  // each pixel gets a seeded whole number in -noise..noise added (0: none)
  uint64_t noiseSeed = 1;
};

// The sensor settings a frame is made with.
struct SimulatedSettings {
  uint32_t gain = 32;
  int shutter = ssc30;
  bool mirror = false;
  bool flip = false;
};

// The radiance map of a scene, as the index of one of at most 256 radiance values per point
// (a scene has few distinct values; frames are made by looking levels up).
class SimulatedRadiance {
 public:
  explicit SimulatedRadiance(const SimulatedScene& scene);
  double L(int x, int y) const { return values_[index_[static_cast<size_t>(y) * SimulatedScene::kWidth + x]]; }
  const std::vector<uint8_t>& Index() const { return index_; }
  const std::vector<double>& Values() const { return values_; }

 private:
  std::vector<uint8_t> index_;
  std::vector<double> values_;
};

// The gray level of radiance L under these settings (the formula above, without noise).
uint8_t SimulatedLevel(double L, uint32_t gain, int shutter);

// One simulated device. Tests hold it to unplug it, trigger frames, read the call log and
// the settings; the backend hands out devices opened on it.
class SimulatedCamera : public std::enable_shared_from_this<SimulatedCamera> {
 public:
  SimulatedCamera(SimulatedCameraConfig config, std::string id);
  ~SimulatedCamera();

  const SimulatedCameraConfig& Config() const { return config_; }
  const std::string& Id() const { return id_; }
  const SimulatedRadiance& Radiance() const { return *radiance_; }

  // Unplugging ends a running stream with device loss; an unplugged camera is not listed and
  // cannot be opened. Replugging lists it again, after the cameras plugged before it.
  void Unplug();
  void Replug();
  bool Plugged() const;
  uint64_t PlugOrder() const;

  void SetFailsToStart(bool fails);
  // In request mode: lets `frames` more frames be made.
  void Trigger(int frames = 1);
  uint64_t FramesDelivered() const;
  // Waits up to `timeoutMs` until at least `count` frames have been delivered in total.
  bool WaitForFrames(uint64_t count, int timeoutMs) const;

  SimulatedSettings Settings() const;
  std::vector<std::string> CallLog() const;
  void ClearCallLog();
  // The state the common interface reports for the snapshot push-button.
  void SetSnapshotButton(int32_t state);

  // Renders frame `index` of mode `mode` with `settings` into a 24-bit bottom-up bitmap
  // (DibImageSize of the mode's RGB24 header bytes). YUY2 modes go through their packed form
  // and its conversion, as a camera of that format would deliver them.
  void RenderFrame(const SimulatedMode& mode, const SimulatedSettings& settings, uint64_t index,
                   std::vector<uint8_t>& yuyv, std::vector<uint8_t>& out) const;

 private:
  friend class SimulatedVideoDevice;
  friend class SimulatedInterface;
  friend class SimulatedSensor;
  friend class SimulatedCommon;
  friend class SimulatedCameraBackend;

  void Log(std::string call);

  const SimulatedCameraConfig config_;
  const std::string id_;
  std::unique_ptr<SimulatedRadiance> radiance_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool plugged_ = true;
  uint64_t plugOrder_ = 0;
  bool failsToStart_;
  int64_t triggers_ = 0;
  uint64_t delivered_ = 0;
  bool streaming_ = false;  // one stream at a time, as with a real camera
  SimulatedSettings settings_;
  int32_t snapshotMode_ = 0;
  int32_t snapshotButton_ = 0;
  uint16_t power_ = 1;
  uint16_t altSetting_ = 0;
  uint16_t registers_[256] = {};
  std::vector<std::string> log_;
  std::shared_ptr<std::atomic<uint64_t>> plugCounter_;  // shared by the cameras of one backend
};

class SimulatedCameraBackend : public VideoBackend {
 public:
  SimulatedCameraBackend();
  // Adds a device; ids are "sim:0", "sim:1", ... in the order of adding.
  std::shared_ptr<SimulatedCamera> AddDevice(SimulatedCameraConfig config = {});
  std::vector<std::shared_ptr<SimulatedCamera>> Devices() const;

  std::string Name() const override { return "sim"; }
  std::vector<DeviceInfo> EnumerateDevices() override;
  std::unique_ptr<VideoDevice> Open(const std::string& id, HRESULT& hr) override;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimulatedCamera>> devices_;
  std::shared_ptr<std::atomic<uint64_t>> plugCounter_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace platform::video
