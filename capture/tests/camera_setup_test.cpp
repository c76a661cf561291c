// The cameras the program sees: the ini's simulated devices after the real ones.
#include "capture/camera_setup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "capture/tests/capture_test_support.h"
#include "capture/vcap.h"

namespace capture {
namespace {

class CameraSetupTest : public ::testing::Test {
 protected:
  // One folder per process: CTest runs the cases of this fixture side by side.
  CameraSetupTest()
      : dir_(std::filesystem::temp_directory_path() / ("quirvel_camera_setup-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ini_ = (dir_ / "QUIRVEL.INI").string();
  }
  ~CameraSetupTest() override {
    ClearDevicesList();
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(ini_) << text; }

  std::filesystem::path dir_;
  std::string ini_;
};

TEST_F(CameraSetupTest, NamesFromTheIni) {
  EXPECT_TRUE(SimulatedCameraNames(ini_).empty());  // no file
  Write("[QUIRVEL]\r\nSERIAL=1\r\n[camera]\r\nsimulated = Ocuvant USB-C ; Ocuvant USB-C;; Bench\r\n");
  EXPECT_EQ(SimulatedCameraNames(ini_), (std::vector<std::string>{"Ocuvant USB-C", "Ocuvant USB-C", "Bench"}));
  Write("[CAMERA]\r\nSIMULATED=\r\n");
  EXPECT_TRUE(SimulatedCameraNames(ini_).empty());
}

TEST_F(CameraSetupTest, NoiseFromTheIniWithinItsRange) {
  for (const auto& [value, noise] : std::vector<std::pair<std::string, int>>{{"", 0}, {"2", 2}, {"-3", 0}, {"200", 64}}) {
    Write("[CAMERA]\r\nSIMULATED=Ocuvant USB-C\r\nNOISE=" + value + "\r\n");
    TCameraSetup cameras(ini_);
    ASSERT_EQ(cameras.SimulatedDevices().size(), 1u);
    EXPECT_EQ(cameras.SimulatedDevices()[0]->Config().noise, noise) << value;
  }
}

TEST_F(CameraSetupTest, TwinsFromTheIniAreListedAndTheSetupEnds) {
  Write("[CAMERA]\r\nSIMULATED=Ocuvant USB-C;Ocuvant USB-C\r\n");
  {
    TCameraSetup cameras(ini_);
    ASSERT_EQ(cameras.SimulatedDevices().size(), 2u);
    // Real cameras come first; this machine may have none.
    const auto names = GetVideoDevicesList(true);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "Ocuvant USB-C");
    EXPECT_EQ(names.back(), "Ocuvant USB-C (2)");
  }
  // Afterwards only real cameras remain.
  for (const auto& name : GetVideoDevicesList(true)) EXPECT_EQ(name.find("Ocuvant USB-C"), std::string::npos);
}

}  // namespace
}  // namespace capture
