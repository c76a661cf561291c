#pragma once
// The capture devices of the workstation, in place of the system's capture filters: a device
// list (friendly name and a stable id) per backend, and opened devices with their modes, frame
// time, a streaming thread that hands every frame to a sink, device loss and the vendor
// interfaces (ocuvant.h).
//
// Backends: Video4Linux2 (v4l2_backend.h) for real cameras and the simulated microscope
// camera (simulated_camera.h). The process holds one list of backends; the capture control
// enumerates and opens devices through it.
#include <memory>
#include <string>
#include <vector>

#include "platform/video/media_type.h"
#include "platform/video/ocuvant.h"

namespace platform::video {

// One frame as it leaves a device: always an uncompressed 24-bit bitmap (see media_type.h),
// whatever the device's own format; `header` describes exactly these bytes.
struct Frame {
  double sampleTime = 0;  // seconds since the stream started
  const uint8_t* data = nullptr;
  size_t length = 0;
  BitmapInfoHeader header;
};

// Where a streaming device delivers. Both calls come on the device's streaming thread; they
// must not wait for the thread that stops the device (Stop waits for them).
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Receive(const Frame& frame) = 0;
  // The device is gone (unplugged, or it stopped answering). No frame follows; the stream
  // has ended by itself, Stop is still to be called.
  virtual void DeviceLost() = 0;
};

class VideoDevice {
 public:
  virtual ~VideoDevice() = default;

  virtual std::string FriendlyName() const = 0;

  // The capture pin's stream configuration: the modes in a fixed order, the current format
  // (its frame time included) and choosing one. SetFormat takes a format equal in subtype,
  // width and height to one of the capabilities, with a frame time inside its range (0 keeps
  // the current one); only while not streaming.
  virtual int CapabilityCount() = 0;
  virtual bool GetCapability(int index, VideoStreamCaps& caps) = 0;
  virtual HRESULT GetFormat(MediaType& mt) = 0;
  virtual HRESULT SetFormat(const MediaType& mt) = 0;

  // Starts the streaming thread, which calls `sink` for every frame until Stop. Fails with
  // the device's reason (it cannot start, it is gone, it streams already).
  virtual HRESULT Start(FrameSink& sink) = 0;
  // Ends the stream and returns once the streaming thread is done with the sink. Harmless
  // when not streaming.
  virtual void Stop() = 0;
  virtual bool Streaming() const = 0;

  // A vendor interface by its identifier; nullptr (E_NOINTERFACE) when the device has none.
  virtual std::shared_ptr<IVendorInterface> QueryInterface(const TGUID& iid) = 0;
};

// A device as listed: the name the system reports and an id unique among all backends that
// stays the same across list rebuilds as long as the device stays where it is (a replugged
// twin camera keeps telling itself apart from the other).
struct DeviceInfo {
  std::string name;
  std::string id;
};

class VideoBackend {
 public:
  virtual ~VideoBackend() = default;
  // A short name, the prefix of this backend's device ids ("v4l2", "sim").
  virtual std::string Name() const = 0;
  virtual std::vector<DeviceInfo> EnumerateDevices() = 0;
  // nullptr with the reason in `hr` when the device is not there or cannot be opened.
  virtual std::unique_ptr<VideoDevice> Open(const std::string& id, HRESULT& hr) = 0;
};

// The backends of the process, in listing order. Until set, the V4L2 backend alone.
std::vector<std::shared_ptr<VideoBackend>> VideoBackends();
void SetVideoBackends(std::vector<std::shared_ptr<VideoBackend>> backends);

// Every video device of every backend, in backend order.
std::vector<DeviceInfo> EnumerateVideoDevices();
// Opens a device by its id (the backend is the one whose name prefixes it).
std::unique_ptr<VideoDevice> OpenVideoDevice(const std::string& id, HRESULT& hr);

// Puts a list of backends in place for a scope (tests, the program's start).
class ScopedVideoBackends {
 public:
  explicit ScopedVideoBackends(std::vector<std::shared_ptr<VideoBackend>> backends);
  ~ScopedVideoBackends();
  ScopedVideoBackends(const ScopedVideoBackends&) = delete;
  ScopedVideoBackends& operator=(const ScopedVideoBackends&) = delete;

 private:
  std::vector<std::shared_ptr<VideoBackend>> previous_;
};

}  // namespace platform::video
