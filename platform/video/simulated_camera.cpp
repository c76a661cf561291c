#include "platform/video/simulated_camera.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "platform/video/frame_convert.h"

namespace platform::video {
namespace {

// The device answers "busy" while another opening of it streams.
constexpr HRESULT kHrBusy = MakeHr(0x800700AA);
constexpr int64_t kDefaultFrameTime = 666667;  // 15 frames per second
constexpr int64_t kMinFrameTime = 200000;      // 50 frames per second
constexpr int64_t kMaxFrameTime = 10000000;    // 1 frame per second

bool InkAt(const SimulatedScene& s, double px, double py, double c, double sn, double r2) {
  const double ax = std::abs(px - s.targetX);
  const double ay = std::abs(py - s.targetY);
  if (ax < s.targetSize / 2.0 && ay < s.targetSize / 2.0) return true;
  if (ax < s.clearSize / 2.0 && ay < s.clearSize / 2.0) return false;
  const double u = (px * c + py * sn) / s.screenPeriod;
  const double v = (py * c - px * sn) / s.screenPeriod;
  const double fu = u - std::floor(u) - 0.5;
  const double fv = v - std::floor(v) - 0.5;
  return fu * fu + fv * fv < r2;
}

// SplitMix64: a small, well-mixed generator, easy to reproduce elsewhere.
struct SplitMix64 {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

MediaType ModeType(const SimulatedMode& m, int64_t frameTime) {
  MediaType mt;
  mt.majortype = kMediaTypeVideo;
  mt.subtype = m.subtype;
  mt.formattype = m.videoInfo2 ? kFormatVideoInfo2 : kFormatVideoInfo;
  mt.AvgTimePerFrame = frameTime;
  mt.bmiHeader.biWidth = m.width;
  mt.bmiHeader.biHeight = m.height;
  if (m.subtype == kSubtypeYUY2) {
    mt.bmiHeader.biBitCount = 16;
    mt.bmiHeader.biCompression = FourCC("YUY2");
  } else {
    mt.bmiHeader.biBitCount = 24;
  }
  mt.bmiHeader.biSizeImage = static_cast<uint32_t>(DibImageSize(mt.bmiHeader));
  return mt;
}

std::string Call(const char* method, std::initializer_list<int64_t> args = {}) {
  std::string s = method;
  s += '(';
  bool first = true;
  for (int64_t a : args) {
    if (!first) s += ',';
    s += std::to_string(a);
    first = false;
  }
  return s + ')';
}

// Stores a value (an out parameter or a setting) and reports success.
template <typename T, typename V>
HRESULT Out(T& target, V value) {
  target = static_cast<T>(value);
  return S_OK;
}

}  // namespace

// ---- scene ----

SimulatedRadiance::SimulatedRadiance(const SimulatedScene& scene) {
  constexpr int W = SimulatedScene::kWidth;
  constexpr int H = SimulatedScene::kHeight;
  const double angle = scene.screenAngle * (std::numbers::pi / 180.0);
  const double c = std::cos(angle);
  const double sn = std::sin(angle);
  const double r2 = scene.dotArea / std::numbers::pi;
  index_.resize(static_cast<size_t>(W) * H);
  for (int k = 0; k <= 4; ++k) values_.push_back(((4 - k) * scene.paper + k * scene.ink) / 4);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      int inked = 0;
      for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
          if (InkAt(scene, x + 0.25 + 0.5 * i, y + 0.25 + 0.5 * j, c, sn, r2)) ++inked;
        }
      }
      index_[static_cast<size_t>(y) * W + x] = static_cast<uint8_t>(inked);
    }
  }
}

uint8_t SimulatedLevel(double L, uint32_t gain, int shutter) {
  const double v = L * gain / 32.0 / kShutterExposure[static_cast<size_t>(std::clamp(shutter, 0, kShutterSteps - 1))];
  const double r = std::nearbyint(v);
  if (!(r < 255)) return 255;
  return r > 0 ? static_cast<uint8_t>(r) : 0;
}

// ---- the camera ----

SimulatedCamera::SimulatedCamera(SimulatedCameraConfig config, std::string id)
    : config_(std::move(config)),
      id_(std::move(id)),
      radiance_(std::make_unique<SimulatedRadiance>(config_.scene)),
      failsToStart_(config_.failsToStart) {}

SimulatedCamera::~SimulatedCamera() = default;

void SimulatedCamera::Unplug() {
  std::lock_guard lock(mutex_);
  plugged_ = false;
  changed_.notify_all();
}

void SimulatedCamera::Replug() {
  std::lock_guard lock(mutex_);
  if (plugged_) return;
  plugged_ = true;
  if (plugCounter_) plugOrder_ = ++*plugCounter_;
  changed_.notify_all();
}

bool SimulatedCamera::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

uint64_t SimulatedCamera::PlugOrder() const {
  std::lock_guard lock(mutex_);
  return plugOrder_;
}

void SimulatedCamera::SetFailsToStart(bool fails) {
  std::lock_guard lock(mutex_);
  failsToStart_ = fails;
}

void SimulatedCamera::Trigger(int frames) {
  std::lock_guard lock(mutex_);
  triggers_ += frames;
  changed_.notify_all();
}

uint64_t SimulatedCamera::FramesDelivered() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

bool SimulatedCamera::WaitForFrames(uint64_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return delivered_ >= count; });
}

SimulatedSettings SimulatedCamera::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

std::vector<std::string> SimulatedCamera::CallLog() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void SimulatedCamera::ClearCallLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

void SimulatedCamera::SetSnapshotButton(int32_t state) {
  std::lock_guard lock(mutex_);
  snapshotButton_ = state;
}

void SimulatedCamera::Log(std::string call) { log_.push_back(std::move(call)); }

void SimulatedCamera::RenderFrame(const SimulatedMode& mode, const SimulatedSettings& settings, uint64_t index,
                                  std::vector<uint8_t>& yuyv, std::vector<uint8_t>& out) const {
  constexpr int W = SimulatedScene::kWidth;
  constexpr int H = SimulatedScene::kHeight;
  const int w = mode.width;
  const int h = mode.height;
  std::array<uint8_t, 256> level{};
  const auto& values = radiance_->Values();
  for (size_t i = 0; i < values.size(); ++i) level[i] = SimulatedLevel(values[i], settings.gain, settings.shutter);

  const int64_t dx = static_cast<int64_t>(index) * config_.shiftX;
  const int64_t dy = static_cast<int64_t>(index) * config_.shiftY;
  std::vector<int> cols(static_cast<size_t>(w));
  for (int x = 0; x < w; ++x) {
    const int64_t cx = settings.mirror ? w - 1 - x : x;
    cols[static_cast<size_t>(x)] = static_cast<int>(std::clamp<int64_t>(cx * W / w + dx, 0, W - 1));
  }
  SplitMix64 rng{config_.noiseSeed ^ (index * 0xD1B54A32D192ED03ull)};
  const int span = 2 * config_.noise + 1;

  const bool packed = mode.subtype == kSubtypeYUY2;
  const size_t stride = DibStride(w, 24);
  const size_t packedStride = (static_cast<size_t>(w) + 1) / 2 * 4;
  out.resize(stride * static_cast<size_t>(h));
  if (packed) yuyv.resize(packedStride * static_cast<size_t>(h));
  const uint8_t* idx = radiance_->Index().data();
  for (int y = 0; y < h; ++y) {
    const int64_t cy = settings.flip ? h - 1 - y : y;
    const int sy = static_cast<int>(std::clamp<int64_t>(cy * H / h + dy, 0, H - 1));
    const uint8_t* row = idx + static_cast<size_t>(sy) * W;
    uint8_t* rgb = out.data() + stride * static_cast<size_t>(h - 1 - y);
    uint8_t* yuv = packed ? yuyv.data() + packedStride * static_cast<size_t>(y) : nullptr;
    for (int x = 0; x < w; ++x) {
      int g = level[row[cols[static_cast<size_t>(x)]]];
      if (config_.noise > 0) {
        g = std::clamp(g + static_cast<int>(rng.Next() % static_cast<uint64_t>(span)) - config_.noise, 0, 255);
      }
      if (packed) {
        yuv[(x / 2) * 4 + (x % 2) * 2] = GrayToY(static_cast<uint8_t>(g));
        yuv[(x / 2) * 4 + (x % 2) * 2 + 1] = 128;
      } else {
        rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = static_cast<uint8_t>(g);
      }
    }
    if (packed && (w % 2) != 0) {
      yuv[(w / 2) * 4 + 2] = yuv[(w / 2) * 4];
      yuv[(w / 2) * 4 + 3] = 128;
    }
    if (!packed) std::fill(rgb + 3 * static_cast<size_t>(w), rgb + stride, uint8_t{0});
  }
  if (packed) YuyvToBgrDib(yuyv, packedStride, w, h, out);
}

// ---- the vendor interfaces ----

// Every call of a vendor interface is made under the camera's lock and lands in its call
// log first, whatever its outcome.
class SimulatedInterface {
 protected:
  explicit SimulatedInterface(std::shared_ptr<SimulatedCamera> cam) : cam_(std::move(cam)) {}
  template <typename F>
  HRESULT Logged(std::string call, F&& action) {
    std::lock_guard lock(cam_->mutex_);
    cam_->Log(std::move(call));
    return action(*cam_);
  }
  std::shared_ptr<SimulatedCamera> cam_;
};

class SimulatedSensor : public IOcuvantCMOS, SimulatedInterface {
 public:
  explicit SimulatedSensor(std::shared_ptr<SimulatedCamera> cam) : SimulatedInterface(std::move(cam)) {}
  HRESULT GetAGC(int32_t& gain) override {
    return Logged(Call("GetAGC"), [&](SimulatedCamera& c) { return Out(gain, static_cast<int32_t>(c.settings_.gain)); });
  }
  HRESULT SetAGC(uint32_t gain) override {
    return Logged(Call("SetAGC", {gain}), [&](SimulatedCamera& c) { return Out(c.settings_.gain, gain); });
  }
  HRESULT GetMirror(int32_t& mirror) override {
    return Logged(Call("GetMirror"), [&](SimulatedCamera& c) { return Out(mirror, c.settings_.mirror ? 1 : 0); });
  }
  HRESULT SetMirror(int32_t mirror) override {
    return Logged(Call("SetMirror", {mirror}), [&](SimulatedCamera& c) { return Out(c.settings_.mirror, mirror != 0); });
  }
  HRESULT GetFlip(int32_t& flip) override {
    return Logged(Call("GetFlip"), [&](SimulatedCamera& c) { return Out(flip, c.settings_.flip ? 1 : 0); });
  }
  HRESULT SetFlip(int32_t flip) override {
    return Logged(Call("SetFlip", {flip}), [&](SimulatedCamera& c) { return Out(c.settings_.flip, flip != 0); });
  }
  HRESULT GetShutterSpeed(eShutterSpeedCMOS& shutter) override {
    return Logged(Call("GetShutterSpeed"), [&](SimulatedCamera& c) {
      return Out(shutter, static_cast<eShutterSpeedCMOS>(c.settings_.shutter));
    });
  }
  HRESULT SetShutterSpeed(eShutterSpeedCMOS shutter) override {
    return Logged(Call("SetShutterSpeed", {static_cast<int64_t>(shutter)}), [&](SimulatedCamera& c) {
      if (shutter >= sscMax) return E_INVALIDARG;  // the sensor keeps its step
      return Out(c.settings_.shutter, static_cast<int>(shutter));
    });
  }
  HRESULT Reset() override {
    return Logged(Call("Reset"), [](SimulatedCamera& c) {
      c.settings_ = SimulatedSettings{};
      return Out(c.snapshotMode_, 0);
    });
  }
  HRESULT GetSnapshotMode(int32_t& mode) override {
    return Logged(Call("GetSnapshotMode"), [&](SimulatedCamera& c) { return Out(mode, c.snapshotMode_); });
  }
  HRESULT SetSnapshotMode(const int32_t* mode) override {
    return Logged(mode ? Call("SetSnapshotMode", {*mode}) : Call("SetSnapshotMode"), [&](SimulatedCamera& c) {
      return mode ? Out(c.snapshotMode_, *mode) : E_POINTER;
    });
  }
};

class SimulatedCommon : public IOcuvantCommon, SimulatedInterface {
 public:
  explicit SimulatedCommon(std::shared_ptr<SimulatedCamera> cam) : SimulatedInterface(std::move(cam)) {}
  HRESULT ReadI2C(uint8_t selector, uint8_t address, uint16_t& value) override {
    return Logged(Call("ReadI2C", {selector, address}), [&](SimulatedCamera& c) {
      return selector != 0 ? E_INVALIDARG : Out(value, c.registers_[address]);
    });
  }
  HRESULT WriteI2C(uint8_t selector, uint8_t address, uint16_t value) override {
    return Logged(Call("WriteI2C", {selector, address, value}), [&](SimulatedCamera& c) {
      return selector != 0 ? E_INVALIDARG : Out(c.registers_[address], value);
    });
  }
  HRESULT GetModel(uint16_t& model) override {
    return Logged(Call("GetModel"), [&](SimulatedCamera& c) { return Out(model, c.config_.model); });
  }
  HRESULT Snapshot() override {
    return Logged(Call("Snapshot"), [](SimulatedCamera&) { return S_OK; });
  }
  HRESULT SetPower(uint16_t power) override {
    return Logged(Call("SetPower", {power}), [&](SimulatedCamera& c) { return Out(c.power_, power); });
  }
  HRESULT GetAltSetting(uint16_t& setting) override {
    return Logged(Call("GetAltSetting"), [&](SimulatedCamera& c) { return Out(setting, c.altSetting_); });
  }
  HRESULT SetAltSetting(uint16_t setting) override {
    return Logged(Call("SetAltSetting", {setting}), [&](SimulatedCamera& c) { return Out(c.altSetting_, setting); });
  }
  HRESULT IsAvailable(int32_t* available) override {
    return Logged(Call("IsAvailable"), [&](SimulatedCamera& c) {
      return available ? Out(*available, c.plugged_ ? 1 : 0) : E_POINTER;
    });
  }
  HRESULT GetSnapshotState(int32_t* state) override {
    return Logged(Call("GetSnapshotState"), [&](SimulatedCamera& c) {
      return state ? Out(*state, c.snapshotButton_) : E_POINTER;
    });
  }
};

// ---- an opened device ----

class SimulatedVideoDevice : public VideoDevice {
 public:
  explicit SimulatedVideoDevice(std::shared_ptr<SimulatedCamera> cam) : cam_(std::move(cam)) {}
  ~SimulatedVideoDevice() override { Stop(); }

  std::string FriendlyName() const override { return cam_->config_.name; }

  int CapabilityCount() override { return static_cast<int>(cam_->config_.modes.size()); }

  bool GetCapability(int index, VideoStreamCaps& caps) override {
    if (index < 0 || index >= CapabilityCount()) return false;
    caps.mt = ModeType(cam_->config_.modes[static_cast<size_t>(index)], kDefaultFrameTime);
    caps.MinFrameInterval = kMinFrameTime;
    caps.MaxFrameInterval = kMaxFrameTime;
    return true;
  }

  HRESULT GetFormat(MediaType& mt) override {
    if (cam_->config_.modes.empty()) return E_FAIL;
    mt = ModeType(cam_->config_.modes[mode_], frameTime_);
    return S_OK;
  }

  HRESULT SetFormat(const MediaType& mt) override {
    if (Streaming()) return VFW_E_WRONG_STATE;
    if (mt.AvgTimePerFrame != 0 && (mt.AvgTimePerFrame < kMinFrameTime || mt.AvgTimePerFrame > kMaxFrameTime)) {
      return E_INVALIDARG;
    }
    const auto& modes = cam_->config_.modes;
    for (size_t i = 0; i < modes.size(); ++i) {
      if (modes[i].subtype == mt.subtype && modes[i].width == mt.bmiHeader.biWidth &&
          modes[i].height == std::abs(mt.bmiHeader.biHeight)) {
        mode_ = i;
        if (mt.AvgTimePerFrame != 0) frameTime_ = mt.AvgTimePerFrame;
        return S_OK;
      }
    }
    return VFW_E_INVALIDMEDIATYPE;
  }

  HRESULT Start(FrameSink& sink) override {
    if (cam_->config_.modes.empty()) return E_FAIL;
    {
      std::lock_guard lock(cam_->mutex_);
      if (running_) return VFW_E_WRONG_STATE;
      if (!cam_->plugged_) return E_DEVICE_NOT_CONNECTED;
      if (cam_->failsToStart_) return E_FAIL;
      if (cam_->streaming_) return kHrBusy;
      cam_->streaming_ = true;
      running_ = true;
      stop_ = false;
    }
    const SimulatedMode mode = cam_->config_.modes[mode_];
    const int64_t frameTime = frameTime_;
    thread_ = std::thread([this, &sink, mode, frameTime] { Stream(sink, mode, frameTime); });
    return S_OK;
  }

  void Stop() override {
    {
      std::lock_guard lock(cam_->mutex_);
      if (!running_) return;
      stop_ = true;
      cam_->changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(cam_->mutex_);
    running_ = false;
    cam_->streaming_ = false;
  }

  bool Streaming() const override {
    std::lock_guard lock(cam_->mutex_);
    return running_;
  }

  std::shared_ptr<IVendorInterface> QueryInterface(const TGUID& iid) override {
    if (!cam_->config_.vendorInterfaces) return nullptr;
    if (iid == CLSID_Ocuvant24B13) return std::make_shared<SimulatedSensor>(cam_);
    if (iid == IID_OcuvantCOM) return std::make_shared<SimulatedCommon>(cam_);
    return nullptr;
  }

 private:
  void Stream(FrameSink& sink, SimulatedMode mode, int64_t frameTime) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto interval = std::chrono::nanoseconds(frameTime * 100);
    auto deadline = start;
    std::vector<uint8_t> yuyv;
    std::vector<uint8_t> pixels;
    const BitmapInfoHeader header = Rgb24Header(mode.width, mode.height);
    uint64_t index = 0;
    for (;;) {
      SimulatedSettings settings;
      {
        std::unique_lock lock(cam_->mutex_);
        if (cam_->config_.onRequest) {
          cam_->changed_.wait(lock, [&] { return stop_ || !cam_->plugged_ || cam_->triggers_ > 0; });
        } else {
          cam_->changed_.wait_until(lock, deadline, [&] { return stop_ || !cam_->plugged_; });
        }
        if (stop_) return;
        if (!cam_->plugged_) break;
        if (cam_->config_.onRequest) --cam_->triggers_;
        settings = cam_->settings_;
      }
      cam_->RenderFrame(mode, settings, index, yuyv, pixels);
      Frame frame;
      frame.sampleTime = std::chrono::duration<double>(Clock::now() - start).count();
      frame.data = pixels.data();
      frame.length = pixels.size();
      frame.header = header;
      sink.Receive(frame);
      ++index;
      {
        std::lock_guard lock(cam_->mutex_);
        ++cam_->delivered_;
        cam_->changed_.notify_all();
      }
      // A late frame does not make the next ones come in a burst.
      deadline += interval;
      const auto now = Clock::now();
      if (deadline < now) deadline = now;
    }
    sink.DeviceLost();
  }

  std::shared_ptr<SimulatedCamera> cam_;
  size_t mode_ = 0;
  int64_t frameTime_ = kDefaultFrameTime;
  std::thread thread_;
  bool running_ = false;  // guarded by the camera's mutex
  bool stop_ = false;     // guarded by the camera's mutex
};

// ---- the backend ----

SimulatedCameraBackend::SimulatedCameraBackend() = default;

std::shared_ptr<SimulatedCamera> SimulatedCameraBackend::AddDevice(SimulatedCameraConfig config) {
  std::lock_guard lock(mutex_);
  auto cam = std::make_shared<SimulatedCamera>(std::move(config), "sim:" + std::to_string(devices_.size()));
  cam->plugCounter_ = plugCounter_;
  cam->plugOrder_ = ++*plugCounter_;
  devices_.push_back(cam);
  return cam;
}

std::vector<std::shared_ptr<SimulatedCamera>> SimulatedCameraBackend::Devices() const {
  std::lock_guard lock(mutex_);
  return devices_;
}

std::vector<DeviceInfo> SimulatedCameraBackend::EnumerateDevices() {
  std::vector<std::shared_ptr<SimulatedCamera>> plugged;
  for (const auto& cam : Devices()) {
    if (cam->Plugged()) plugged.push_back(cam);
  }
  std::stable_sort(plugged.begin(), plugged.end(),
                   [](const auto& a, const auto& b) { return a->PlugOrder() < b->PlugOrder(); });
  std::vector<DeviceInfo> list;
  for (const auto& cam : plugged) list.push_back(DeviceInfo{cam->Config().name, cam->Id()});
  return list;
}

std::unique_ptr<VideoDevice> SimulatedCameraBackend::Open(const std::string& id, HRESULT& hr) {
  for (const auto& cam : Devices()) {
    if (cam->Id() != id) continue;
    if (!cam->Plugged()) break;
    hr = S_OK;
    return std::make_unique<SimulatedVideoDevice>(cam);
  }
  hr = E_DEVICE_NOT_CONNECTED;
  return nullptr;
}

}  // namespace platform::video
