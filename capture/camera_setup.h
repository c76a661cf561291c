#pragma once
// Which cameras the program sees: real cameras through Video4Linux2 always, and simulated
// microscope cameras when the main ini names them, so that a workstation without a camera
// (a demonstration, a training room, a build machine) shows a live picture and runs the
// exposure series.
//
//   [CAMERA]
//   SIMULATED=Ocuvant USB-C          one simulated device per name, separated by ';'
//                                    (the same name twice gives twin cameras)
//   NOISE=2                          sensor noise of the simulated devices: each pixel gets a
//                                    seeded whole number in -NOISE..NOISE added (0..64; 0 none),
//                                    so that a series has the many distinct values a real
//                                    sensor gives
//
// A missing key or an empty value gives real cameras only.
#include <memory>
#include <string>
#include <vector>

#include "platform/video/simulated_camera.h"
#include "platform/video/video_device.h"

namespace capture {

// The names of the simulated devices the ini asks for.
std::vector<std::string> SimulatedCameraNames(const std::string& iniPath);
// Their sensor noise (0 without the key).
int SimulatedCameraNoise(const std::string& iniPath);

// Installs the backends for its lifetime (the program keeps one while it runs).
class TCameraSetup {
 public:
  explicit TCameraSetup(const std::string& iniPath);
  ~TCameraSetup();
  TCameraSetup(const TCameraSetup&) = delete;
  TCameraSetup& operator=(const TCameraSetup&) = delete;

  // The simulated devices (none when the ini names none).
  std::vector<std::shared_ptr<platform::video::SimulatedCamera>> SimulatedDevices() const;

 private:
  std::shared_ptr<platform::video::SimulatedCameraBackend> simulated_;
  std::unique_ptr<platform::video::ScopedVideoBackends> scoped_;
};

}  // namespace capture
