#include "capture/camera_setup.h"

#include <algorithm>

#include "platform/ini/profile.h"
#include "platform/video/v4l2_backend.h"

namespace capture {

std::vector<std::string> SimulatedCameraNames(const std::string& iniPath) {
  const std::string value = platform::GetPrivateProfileString("CAMERA", "SIMULATED", "", 255, iniPath);
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    std::string name = value.substr(start, end - start);
    const size_t first = name.find_first_not_of(" \t");
    const size_t last = name.find_last_not_of(" \t");
    if (first != std::string::npos) names.push_back(name.substr(first, last - first + 1));
    start = end + 1;
  }
  return names;
}

int SimulatedCameraNoise(const std::string& iniPath) {
  return std::clamp(platform::GetPrivateProfileInt("CAMERA", "NOISE", 0, iniPath), 0, 64);
}

TCameraSetup::TCameraSetup(const std::string& iniPath) {
  std::vector<std::shared_ptr<platform::video::VideoBackend>> backends = {platform::video::CreateV4l2Backend()};
  const std::vector<std::string> names = SimulatedCameraNames(iniPath);
  if (!names.empty()) {
    simulated_ = std::make_shared<platform::video::SimulatedCameraBackend>();
    for (const std::string& name : names) {
      platform::video::SimulatedCameraConfig config;
      config.name = name;
      config.noise = SimulatedCameraNoise(iniPath);
      simulated_->AddDevice(config);
    }
    backends.push_back(simulated_);
  }
  scoped_ = std::make_unique<platform::video::ScopedVideoBackends>(std::move(backends));
}

TCameraSetup::~TCameraSetup() = default;

std::vector<std::shared_ptr<platform::video::SimulatedCamera>> TCameraSetup::SimulatedDevices() const {
  return simulated_ ? simulated_->Devices() : std::vector<std::shared_ptr<platform::video::SimulatedCamera>>{};
}

}  // namespace capture
