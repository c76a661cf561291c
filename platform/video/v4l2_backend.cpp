#include "platform/video/v4l2_backend.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/video/frame_convert.h"

namespace platform::video {
namespace {

constexpr const char* kPrefix = "v4l2:";
constexpr int kBufferCount = 4;

int Xioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = v4l2_ioctl(fd, request, arg);
  } while (r == -1 && errno == EINTR);
  return r;
}

bool IsLoss(int err) { return err == ENODEV || err == ENXIO || err == EIO || err == ESHUTDOWN; }

HRESULT HrFromErrno(int err) {
  if (IsLoss(err)) return E_DEVICE_NOT_CONNECTED;
  if (err == EBUSY) return MakeHr(0x800700AA);
  if (err == ENOMEM) return E_OUTOFMEMORY;
  return MakeHr(0x80070000u | static_cast<uint32_t>(err & 0xFFFF));
}

std::string CardText(const uint8_t* text, size_t size) {
  const auto* c = reinterpret_cast<const char*>(text);
  return std::string(c, strnlen(c, size));
}

struct Node {
  std::string path;
  std::string name;
  std::string id;
};

// The capture nodes in a folder, numbered order, with their ids.
std::vector<Node> ScanNodes(const std::string& dir) {
  std::vector<std::pair<long, std::string>> paths;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.rfind("video", 0) != 0 || file.size() == 5) continue;
    const std::string digits = file.substr(5);
    if (!std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) continue;
    paths.emplace_back(std::strtol(digits.c_str(), nullptr, 10), entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<Node> nodes;
  std::map<std::string, int> perBus;
  for (const auto& [number, path] : paths) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    int r;
    do {
      r = ::ioctl(fd, VIDIOC_QUERYCAP, &cap);
    } while (r == -1 && errno == EINTR);
    ::close(fd);
    if (r != 0) continue;
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) continue;
    std::string bus = CardText(cap.bus_info, sizeof cap.bus_info);
    if (bus.empty()) bus = path;
    const int k = perBus[bus]++;
    Node node;
    node.path = path;
    node.name = CardText(cap.card, sizeof cap.card);
    node.id = kPrefix + bus + (k > 0 ? "#" + std::to_string(k) : "");
    nodes.push_back(std::move(node));
  }
  return nodes;
}

TGUID SubtypeOf(uint32_t pixelformat) {
  if (pixelformat == V4L2_PIX_FMT_YUYV) return kSubtypeYUY2;
  return kSubtypeMJPG;
}

bool Convertible(uint32_t pixelformat) {
  return pixelformat == V4L2_PIX_FMT_YUYV || pixelformat == V4L2_PIX_FMT_MJPEG || pixelformat == V4L2_PIX_FMT_JPEG;
}

struct V4l2Mode {
  uint32_t pixelformat;
  uint32_t width;
  uint32_t height;
  int64_t minFrameTime;
  int64_t maxFrameTime;
};

MediaType ModeType(const V4l2Mode& m, int64_t frameTime) {
  MediaType mt;
  mt.majortype = kMediaTypeVideo;
  mt.subtype = SubtypeOf(m.pixelformat);
  mt.formattype = kFormatVideoInfo;
  mt.AvgTimePerFrame = frameTime;
  mt.bmiHeader.biWidth = static_cast<int32_t>(m.width);
  mt.bmiHeader.biHeight = static_cast<int32_t>(m.height);
  if (m.pixelformat == V4L2_PIX_FMT_YUYV) {
    mt.bmiHeader.biBitCount = 16;
    mt.bmiHeader.biCompression = FourCC("YUY2");
  } else {
    mt.bmiHeader.biBitCount = 24;
    mt.bmiHeader.biCompression = FourCC("MJPG");
  }
  mt.bmiHeader.biSizeImage = static_cast<uint32_t>(DibStride(mt.bmiHeader.biWidth, mt.bmiHeader.biBitCount) * m.height);
  return mt;
}

// The open file of a node, shared by the device and its vendor interface.
class V4l2Fd {
 public:
  explicit V4l2Fd(int fd) : fd_(fd) {}
  ~V4l2Fd() {
    if (fd_ >= 0) v4l2_close(fd_);
  }
  V4l2Fd(const V4l2Fd&) = delete;
  V4l2Fd& operator=(const V4l2Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class V4l2Sensor : public IOcuvantCMOS {
 public:
  explicit V4l2Sensor(std::shared_ptr<V4l2Fd> fd) : fd_(std::move(fd)) {
    for (uint32_t id : {V4L2_CID_GAIN, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_HFLIP,
                        V4L2_CID_VFLIP}) {
      v4l2_queryctrl q{};
      q.id = id;
      if (Xioctl(fd_->get(), VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED)) controls_[id] = q;
    }
  }
  bool HasAny() const {
    return controls_.count(V4L2_CID_GAIN) || controls_.count(V4L2_CID_EXPOSURE_ABSOLUTE) ||
           controls_.count(V4L2_CID_HFLIP) || controls_.count(V4L2_CID_VFLIP);
  }

  HRESULT GetAGC(int32_t& gain) override { return Get(V4L2_CID_GAIN, gain); }
  HRESULT SetAGC(uint32_t gain) override {
    return Set(V4L2_CID_GAIN, static_cast<int64_t>(std::min<uint32_t>(gain, INT32_MAX)));
  }
  HRESULT GetMirror(int32_t& mirror) override { return Get(V4L2_CID_HFLIP, mirror); }
  HRESULT SetMirror(int32_t mirror) override { return Set(V4L2_CID_HFLIP, mirror != 0 ? 1 : 0); }
  HRESULT GetFlip(int32_t& flip) override { return Get(V4L2_CID_VFLIP, flip); }
  HRESULT SetFlip(int32_t flip) override { return Set(V4L2_CID_VFLIP, flip != 0 ? 1 : 0); }
  HRESULT GetShutterSpeed(eShutterSpeedCMOS& shutter) override {
    int32_t exposure = 0;
    const HRESULT hr = Get(V4L2_CID_EXPOSURE_ABSOLUTE, exposure);
    if (Succeeded(hr)) shutter = static_cast<eShutterSpeedCMOS>(V4l2ShutterForExposure(exposure));
    return hr;
  }
  HRESULT SetShutterSpeed(eShutterSpeedCMOS shutter) override {
    if (shutter >= sscMax) return E_INVALIDARG;
    if (!controls_.count(V4L2_CID_EXPOSURE_ABSOLUTE)) return E_NOTIMPL;
    // The camera's automatic exposure would overrule the step.
    if (controls_.count(V4L2_CID_EXPOSURE_AUTO)) Set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
    return Set(V4L2_CID_EXPOSURE_ABSOLUTE, V4l2ExposureForShutter(shutter));
  }
  HRESULT Reset() override {
    HRESULT result = S_OK;
    for (const auto& [id, q] : controls_) {
      const HRESULT hr = Set(id, q.default_value);
      if (Failed(hr)) result = hr;
    }
    return result;
  }
  HRESULT GetSnapshotMode(int32_t&) override { return E_NOTIMPL; }
  HRESULT SetSnapshotMode(const int32_t*) override { return E_NOTIMPL; }

 private:
  HRESULT Get(uint32_t id, int32_t& value) {
    if (!controls_.count(id)) return E_NOTIMPL;
    v4l2_control c{};
    c.id = id;
    if (Xioctl(fd_->get(), VIDIOC_G_CTRL, &c) != 0) return HrFromErrno(errno);
    value = c.value;
    return S_OK;
  }
  HRESULT Set(uint32_t id, int64_t value) {
    const auto it = controls_.find(id);
    if (it == controls_.end()) return E_NOTIMPL;
    v4l2_control c{};
    c.id = id;
    c.value = static_cast<int32_t>(std::clamp<int64_t>(value, it->second.minimum, it->second.maximum));
    if (Xioctl(fd_->get(), VIDIOC_S_CTRL, &c) != 0) return HrFromErrno(errno);
    return S_OK;
  }

  std::shared_ptr<V4l2Fd> fd_;
  std::map<uint32_t, v4l2_queryctrl> controls_;
};

class V4l2Device : public VideoDevice {
 public:
  V4l2Device(std::shared_ptr<V4l2Fd> fd, std::string name) : fd_(std::move(fd)), name_(std::move(name)) {
    EnumerateModes();
    ReadCurrent();
  }
  ~V4l2Device() override {
    Stop();
    if (wake_ >= 0) ::close(wake_);
  }

  std::string FriendlyName() const override { return name_; }
  int CapabilityCount() override { return static_cast<int>(modes_.size()); }
  bool GetCapability(int index, VideoStreamCaps& caps) override {
    if (index < 0 || index >= CapabilityCount()) return false;
    const V4l2Mode& m = modes_[static_cast<size_t>(index)];
    caps.mt = ModeType(m, m.minFrameTime);
    caps.MinFrameInterval = m.minFrameTime;
    caps.MaxFrameInterval = m.maxFrameTime;
    return true;
  }
  HRESULT GetFormat(MediaType& mt) override {
    if (current_ >= modes_.size()) return E_FAIL;
    mt = ModeType(modes_[current_], frameTime_);
    return S_OK;
  }
  HRESULT SetFormat(const MediaType& mt) override {
    if (running_) return VFW_E_WRONG_STATE;
    for (size_t i = 0; i < modes_.size(); ++i) {
      const V4l2Mode& m = modes_[i];
      if (SubtypeOf(m.pixelformat) != mt.subtype || static_cast<int32_t>(m.width) != mt.bmiHeader.biWidth ||
          static_cast<int32_t>(m.height) != std::abs(mt.bmiHeader.biHeight)) {
        continue;
      }
      v4l2_format f{};
      f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      f.fmt.pix.pixelformat = m.pixelformat;
      f.fmt.pix.width = m.width;
      f.fmt.pix.height = m.height;
      f.fmt.pix.field = V4L2_FIELD_NONE;
      if (Xioctl(fd_->get(), VIDIOC_S_FMT, &f) != 0) return HrFromErrno(errno);
      if (f.fmt.pix.pixelformat != m.pixelformat || f.fmt.pix.width != m.width || f.fmt.pix.height != m.height) {
        return VFW_E_INVALIDMEDIATYPE;
      }
      current_ = i;
      stride_ = f.fmt.pix.bytesperline;
      if (mt.AvgTimePerFrame > 0) {
        v4l2_streamparm p{};
        p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        V4l2FrameFraction(mt.AvgTimePerFrame, p.parm.capture.timeperframe.numerator,
                          p.parm.capture.timeperframe.denominator);
        if (Xioctl(fd_->get(), VIDIOC_S_PARM, &p) != 0) return HrFromErrno(errno);
      }
      ReadFrameTime();
      return S_OK;
    }
    return VFW_E_INVALIDMEDIATYPE;
  }

  HRESULT Start(FrameSink& sink) override {
    if (running_) return VFW_E_WRONG_STATE;
    if (current_ >= modes_.size()) return E_FAIL;
    const HRESULT hr = MapBuffers();
    if (Failed(hr)) {
      UnmapBuffers();
      return hr;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd_->get(), VIDIOC_STREAMON, &type) != 0) {
      const HRESULT on = HrFromErrno(errno);
      UnmapBuffers();
      return on;
    }
    if (wake_ < 0) wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t drained = 0;
    while (::read(wake_, &drained, sizeof drained) > 0) {
    }
    running_ = true;
    thread_ = std::thread([this, &sink, mode = modes_[current_], stride = stride_] { Stream(sink, mode, stride); });
    return S_OK;
  }

  void Stop() override {
    if (!running_) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Xioctl(fd_->get(), VIDIOC_STREAMOFF, &type);
    UnmapBuffers();
    running_ = false;
  }

  bool Streaming() const override { return running_; }

  std::shared_ptr<IVendorInterface> QueryInterface(const TGUID& iid) override {
    if (iid != CLSID_Ocuvant24B13) return nullptr;
    auto sensor = std::make_shared<V4l2Sensor>(fd_);
    if (!sensor->HasAny()) return nullptr;
    return sensor;
  }

 private:
  void EnumerateModes() {
    const int fd = fd_->get();
    for (uint32_t i = 0;; ++i) {
      v4l2_fmtdesc desc{};
      desc.index = i;
      desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (Xioctl(fd, VIDIOC_ENUM_FMT, &desc) != 0) break;
      if ((desc.flags & V4L2_FMT_FLAG_EMULATED) || !Convertible(desc.pixelformat)) continue;
      for (uint32_t j = 0;; ++j) {
        v4l2_frmsizeenum size{};
        size.index = j;
        size.pixel_format = desc.pixelformat;
        if (Xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          AddMode(desc.pixelformat, size.discrete.width, size.discrete.height);
        } else {
          // A range of sizes: the largest stands for it.
          AddMode(desc.pixelformat, size.stepwise.max_width, size.stepwise.max_height);
          break;
        }
      }
    }
  }

  void AddMode(uint32_t pixelformat, uint32_t width, uint32_t height) {
    V4l2Mode m{pixelformat, width, height, 0, 0};
    for (uint32_t k = 0;; ++k) {
      v4l2_frmivalenum ival{};
      ival.index = k;
      ival.pixel_format = pixelformat;
      ival.width = width;
      ival.height = height;
      if (Xioctl(fd_->get(), VIDIOC_ENUM_FRAMEINTERVALS, &ival) != 0) break;
      int64_t lo = 0;
      int64_t hi = 0;
      if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
        lo = hi = V4l2FrameTime(ival.discrete.numerator, ival.discrete.denominator);
      } else {
        lo = V4l2FrameTime(ival.stepwise.min.numerator, ival.stepwise.min.denominator);
        hi = V4l2FrameTime(ival.stepwise.max.numerator, ival.stepwise.max.denominator);
      }
      if (lo > 0 && (m.minFrameTime == 0 || lo < m.minFrameTime)) m.minFrameTime = lo;
      if (hi > m.maxFrameTime) m.maxFrameTime = hi;
      if (ival.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
    }
    if (m.minFrameTime == 0) m.minFrameTime = m.maxFrameTime = 333333;  // unstated: 30 per second
    modes_.push_back(m);
  }

  void ReadCurrent() {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    current_ = 0;
    if (Xioctl(fd_->get(), VIDIOC_G_FMT, &f) == 0) {
      for (size_t i = 0; i < modes_.size(); ++i) {
        if (modes_[i].pixelformat == f.fmt.pix.pixelformat && modes_[i].width == f.fmt.pix.width &&
            modes_[i].height == f.fmt.pix.height) {
          current_ = i;
          stride_ = f.fmt.pix.bytesperline;
          ReadFrameTime();
          return;
        }
      }
    }
    // The driver's current format is none we convert: take the first we do.
    if (!modes_.empty()) {
      MediaType mt = ModeType(modes_[0], 0);
      SetFormat(mt);
    }
  }

  void ReadFrameTime() {
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd_->get(), VIDIOC_G_PARM, &p) == 0) {
      const int64_t t =
          V4l2FrameTime(p.parm.capture.timeperframe.numerator, p.parm.capture.timeperframe.denominator);
      if (t > 0) {
        frameTime_ = t;
        return;
      }
    }
    if (current_ < modes_.size()) frameTime_ = modes_[current_].minFrameTime;
  }

  HRESULT MapBuffers() {
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(fd_->get(), VIDIOC_REQBUFS, &req) != 0) return HrFromErrno(errno);
    if (req.count < 2) return E_OUTOFMEMORY;
    for (uint32_t i = 0; i < req.count; ++i) {
      v4l2_buffer buf{};
      buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buf.memory = V4L2_MEMORY_MMAP;
      buf.index = i;
      if (Xioctl(fd_->get(), VIDIOC_QUERYBUF, &buf) != 0) return HrFromErrno(errno);
      void* p = v4l2_mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_->get(), buf.m.offset);
      if (p == MAP_FAILED) return HrFromErrno(errno);
      buffers_.push_back({p, buf.length});
      if (Xioctl(fd_->get(), VIDIOC_QBUF, &buf) != 0) return HrFromErrno(errno);
    }
    return S_OK;
  }

  void UnmapBuffers() {
    for (const auto& b : buffers_) v4l2_munmap(b.first, b.second);
    buffers_.clear();
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    Xioctl(fd_->get(), VIDIOC_REQBUFS, &req);
  }

  void Stream(FrameSink& sink, V4l2Mode mode, uint32_t stride) {
    const int fd = fd_->get();
    const int w = static_cast<int>(mode.width);
    const int h = static_cast<int>(mode.height);
    const BitmapInfoHeader header = Rgb24Header(w, h);
    std::vector<uint8_t> pixels(DibImageSize(header));
    const size_t srcStride = stride >= mode.width * 2 ? stride : mode.width * 2;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
      const int r = ::poll(fds, 2, 1000);
      if (r < 0 && errno == EINTR) continue;
      if (fds[1].revents & POLLIN) return;  // Stop
      if (r <= 0 && !(fds[0].revents & (POLLERR | POLLHUP))) continue;
      v4l2_buffer buf{};
      buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buf.memory = V4L2_MEMORY_MMAP;
      if (Xioctl(fd, VIDIOC_DQBUF, &buf) != 0) {
        if (errno == EAGAIN) continue;
        break;  // the node is gone or broken: nothing more will come
      }
      if (buf.index < buffers_.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR)) {
        const std::span<const uint8_t> src(static_cast<const uint8_t*>(buffers_[buf.index].first),
                                           std::min<size_t>(buf.bytesused, buffers_[buf.index].second));
        const bool ok = mode.pixelformat == V4L2_PIX_FMT_YUYV ? YuyvToBgrDib(src, srcStride, w, h, pixels)
                                                               : MjpegToBgrDib(src, w, h, pixels);
        if (ok) {
          Frame frame;
          frame.sampleTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
          frame.data = pixels.data();
          frame.length = pixels.size();
          frame.header = header;
          sink.Receive(frame);
        }
      }
      if (Xioctl(fd, VIDIOC_QBUF, &buf) != 0) break;
    }
    sink.DeviceLost();
  }

  std::shared_ptr<V4l2Fd> fd_;
  std::string name_;
  std::vector<V4l2Mode> modes_;
  size_t current_ = 0;
  uint32_t stride_ = 0;
  int64_t frameTime_ = 0;
  std::vector<std::pair<void*, size_t>> buffers_;
  std::thread thread_;
  bool running_ = false;
  int wake_ = -1;
};

class V4l2Backend : public VideoBackend {
 public:
  explicit V4l2Backend(std::string dir) : dir_(std::move(dir)) {}
  std::string Name() const override { return "v4l2"; }
  std::vector<DeviceInfo> EnumerateDevices() override {
    std::vector<DeviceInfo> list;
    for (auto& node : ScanNodes(dir_)) list.push_back(DeviceInfo{std::move(node.name), std::move(node.id)});
    return list;
  }
  std::unique_ptr<VideoDevice> Open(const std::string& id, HRESULT& hr) override {
    for (const auto& node : ScanNodes(dir_)) {
      if (node.id != id) continue;
      const int fd = v4l2_open(node.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        hr = HrFromErrno(errno);
        return nullptr;
      }
      hr = S_OK;
      return std::make_unique<V4l2Device>(std::make_shared<V4l2Fd>(fd), node.name);
    }
    hr = E_DEVICE_NOT_CONNECTED;
    return nullptr;
  }

 private:
  std::string dir_;
};

}  // namespace

std::shared_ptr<VideoBackend> CreateV4l2Backend(std::string devDir) {
  return std::make_shared<V4l2Backend>(std::move(devDir));
}

int32_t V4l2ExposureForShutter(int step) {
  step = std::clamp(step, 0, kShutterSteps - 1);
  return static_cast<int32_t>(std::nearbyint(10000.0 / kShutterExposure[static_cast<size_t>(step)]));
}

int V4l2ShutterForExposure(int32_t exposure) {
  int best = 0;
  double bestDistance = -1;
  for (int step = 0; step < kShutterSteps; ++step) {
    const double d = std::abs(10000.0 / kShutterExposure[static_cast<size_t>(step)] - exposure);
    if (bestDistance < 0 || d < bestDistance) {
      best = step;
      bestDistance = d;
    }
  }
  return best;
}

int64_t V4l2FrameTime(uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) return 0;
  return static_cast<int64_t>(std::nearbyint(static_cast<double>(numerator) * 1e7 / denominator));
}

void V4l2FrameFraction(int64_t frameTime, uint32_t& numerator, uint32_t& denominator) {
  // frameTime / 10^7 s, reduced so that both parts fit.
  int64_t num = std::max<int64_t>(frameTime, 1);
  int64_t den = 10000000;
  const int64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  while (num > UINT32_MAX || den > UINT32_MAX) {
    num /= 2;
    den /= 2;
  }
  numerator = static_cast<uint32_t>(num);
  denominator = static_cast<uint32_t>(den);
}

}  // namespace platform::video
