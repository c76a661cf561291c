#pragma once
// Helpers shared by the image tests: a temporary folder and deterministic pixel patterns.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/image/bitmap.h"
#include "platform/image/image_error.h"

namespace platform::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quirvel-image-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Every byte of every row differs from its neighbours and depends on the seed, so that a
// swapped channel, a flipped row or a shifted pixel shows.
inline Bitmap PatternBitmap(int width, int height, PixelFormat pf = PixelFormat::pf24bit, uint32_t seed = 1) {
  Bitmap bmp(width, height, pf);
  uint32_t state = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (size_t i = 0; i < bmp.RowBytes(); ++i) {
      state = state * 1664525u + 1013904223u;
      row[i] = static_cast<uint8_t>(state >> 24);
    }
  }
  return bmp;
}

// Runs f and returns the kind of EImageError it threw; fails the test if it threw nothing.
template <typename F>
::testing::AssertionResult ThrowsImageError(F&& f, EImageError::Kind expected) {
  try {
    f();
  } catch (const EImageError& e) {
    if (e.kind() == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threw " << ToString(e.kind()) << " (" << e.what() << "), expected "
                                         << ToString(expected);
  }
  return ::testing::AssertionFailure() << "threw nothing, expected " << ToString(expected);
}

}  // namespace platform::testing
