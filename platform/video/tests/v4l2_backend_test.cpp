// The Video4Linux2 backend without a camera: listing skips what is no capture node, and the
// mappings of shutter steps and frame times.
#include "platform/video/v4l2_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/video/video_device.h"

namespace platform::video {
namespace {

TEST(V4l2Backend, ListsNothingWithoutCaptureNodes) {
  const auto dir = std::filesystem::temp_directory_path() / "quirvel_v4l2_nodes";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto backend = CreateV4l2Backend(dir.string());
  EXPECT_TRUE(backend->EnumerateDevices().empty());
  // Names that look like nodes but are a plain file, /dev/null and a folder.
  std::ofstream(dir / "video0") << "not a device";
  std::filesystem::create_symlink("/dev/null", dir / "video1");
  std::filesystem::create_directory(dir / "video2");
  std::ofstream(dir / "videoX") << "";
  EXPECT_TRUE(backend->EnumerateDevices().empty());
  HRESULT hr = S_OK;
  EXPECT_EQ(backend->Open("v4l2:usb-0000:00:14.0-1", hr), nullptr);
  EXPECT_EQ(hr, E_DEVICE_NOT_CONNECTED);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(backend->Name(), "v4l2");
}

TEST(V4l2Backend, IsTheDefaultBackend) {
  const auto backends = VideoBackends();
  ASSERT_EQ(backends.size(), 1u);
  EXPECT_EQ(backends[0]->Name(), "v4l2");
  HRESULT hr = S_OK;
  EXPECT_EQ(OpenVideoDevice("nosuch:0", hr), nullptr);
  EXPECT_EQ(hr, E_DEVICE_NOT_CONNECTED);
}

TEST(V4l2Backend, ShutterStepsAsAbsoluteExposure) {
  struct Case {
    int step;
    int32_t exposure;  // 100 us units
  };
  const Case cases[] = {{ssc2, 5000}, {ssc4, 2500}, {ssc7_5, 1333}, {ssc15, 667}, {ssc30, 333},
                        {ssc250, 40}, {ssc1000, 10}, {ssc3000, 3},  {ssc5000, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(V4l2ExposureForShutter(c.step), c.exposure) << c.step;
    EXPECT_EQ(V4l2ShutterForExposure(c.exposure), c.step) << c.step;
  }
  EXPECT_EQ(V4l2ExposureForShutter(-1), 5000);
  EXPECT_EQ(V4l2ExposureForShutter(44), 2);
}

TEST(V4l2Backend, FrameTimesAndFractions) {
  EXPECT_EQ(V4l2FrameTime(1, 15), 666667);
  EXPECT_EQ(V4l2FrameTime(1, 30), 333333);
  EXPECT_EQ(V4l2FrameTime(2, 15), 1333333);
  EXPECT_EQ(V4l2FrameTime(1, 0), 0);
  uint32_t num = 0, den = 0;
  V4l2FrameFraction(666667, num, den);
  EXPECT_EQ(num, 666667u);
  EXPECT_EQ(den, 10000000u);
  V4l2FrameFraction(5000000, num, den);
  EXPECT_EQ(num, 1u);
  EXPECT_EQ(den, 2u);
  EXPECT_EQ(V4l2FrameTime(num, den), 5000000);
}

}  // namespace
}  // namespace platform::video
