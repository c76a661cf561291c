#include "platform/video/video_device.h"

#include <mutex>

#include "platform/video/v4l2_backend.h"

namespace platform::video {
namespace {

struct Registry {
  std::mutex mutex;
  bool set = false;
  std::vector<std::shared_ptr<VideoBackend>> backends;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string IdPrefix(const VideoBackend& backend) { return backend.Name() + ":"; }

}  // namespace

std::vector<std::shared_ptr<VideoBackend>> VideoBackends() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  if (!r.set) {
    r.backends = {CreateV4l2Backend()};
    r.set = true;
  }
  return r.backends;
}

void SetVideoBackends(std::vector<std::shared_ptr<VideoBackend>> backends) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.backends = std::move(backends);
  r.set = true;
}

std::vector<DeviceInfo> EnumerateVideoDevices() {
  std::vector<DeviceInfo> all;
  for (const auto& backend : VideoBackends()) {
    for (auto& device : backend->EnumerateDevices()) all.push_back(std::move(device));
  }
  return all;
}

std::unique_ptr<VideoDevice> OpenVideoDevice(const std::string& id, HRESULT& hr) {
  for (const auto& backend : VideoBackends()) {
    if (id.rfind(IdPrefix(*backend), 0) == 0) return backend->Open(id, hr);
  }
  hr = E_DEVICE_NOT_CONNECTED;
  return nullptr;
}

ScopedVideoBackends::ScopedVideoBackends(std::vector<std::shared_ptr<VideoBackend>> backends)
    : previous_(VideoBackends()) {
  SetVideoBackends(std::move(backends));
}

ScopedVideoBackends::~ScopedVideoBackends() { SetVideoBackends(std::move(previous_)); }

}  // namespace platform::video
