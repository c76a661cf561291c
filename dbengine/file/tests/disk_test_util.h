#pragma once
// Shared pieces of the database-file tests: a scratch folder, raw file bytes for checks that do
// not go through the engine, and a child process helper.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dbengine/file/orv_disk_engine_page_manager.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/clock.h"

namespace orv::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvdbXXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A scratch folder with the path of a database in it, and the engine's clock replaced by one
// whose pauses take no time (a lock wait of 4500 tries is over at once).
class DiskFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("db.orv");
  platform::ManualClock clock;
  platform::ScopedClock scoped{clock};
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t LE32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t LE16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// A new database file, open.
inline std::unique_ptr<TORVDiskPageManager> CreateDatabase(const std::string& path, uint16_t page_size = 4096,
                                                           uint16_t extent = 8, const TORVPassword& password = {},
                                                           platform::FileFactory factory = {}) {
  auto pm = std::make_unique<TORVDiskPageManager>(MemoryManager(), std::move(factory));
  pm->CreateAndOpenDatabase(path, password, page_size, extent);
  return pm;
}

// An existing database file, open not exclusively.
inline std::unique_ptr<TORVDiskPageManager> OpenDatabase(const std::string& path, bool& repair,
                                                         const TORVPassword& password = {}, bool multi_user = false,
                                                         platform::FileFactory factory = {}, bool read_only = false) {
  auto pm = std::make_unique<TORVDiskPageManager>(MemoryManager(), std::move(factory));
  bool ro = read_only, mu = multi_user;
  repair = false;
  pm->OpenDatabase(path, password, ro, repair, false, mu);
  return pm;
}

// The native code of the engine exception that Body raises; 0 when it raises none, -1 for any
// other exception.
template <class F>
int32_t CodeOf(F&& Body) {
  try {
    Body();
  } catch (const EORVException& e) {
    return e.NativeError();
  } catch (...) {
    return -1;
  }
  return 0;
}

// Runs Body in a forked child; its result is the child's exit status (100 when it died).
template <class F>
int InChild(F&& Body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = Body();
    } catch (...) {
      code = 98;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

}  // namespace orv::testing
