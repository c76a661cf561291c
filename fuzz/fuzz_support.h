#pragma once
// What the fuzz targets share: a fuzzer-chosen split of the input, a scratch folder for the
// readers that take a file name, and the check that stops a target when a result contradicts
// itself (a finding, like a crash).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace fuzz {

// Reads little-endian numbers and byte runs off the front of the input; past its end
// everything reads as zero, so every input is a valid sequence of choices.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  std::span<const uint8_t> Bytes(size_t n) {
    n = std::min(n, size_ - at_);
    const std::span<const uint8_t> s(data_ + at_, n);
    at_ += n;
    return s;
  }
  std::span<const uint8_t> Rest() { return Bytes(size_ - at_); }
  size_t Left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A file of the process's own scratch folder (removed at exit).
inline std::string ScratchFile(const char* name) {
  static const std::filesystem::path dir = [] {
    const auto d = std::filesystem::temp_directory_path() / ("quirvel-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    static const std::filesystem::path keep = d;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(keep, ec);
    });
    return d;
  }();
  return (dir / name).string();
}

inline void WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A result that contradicts what the reader promised: reported like a crash.
#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);     \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

}  // namespace fuzz
