#pragma once
// Shared pieces of the database-file tests: a scratch folder, raw file bytes for checks that do
// not go through the engine, child processes, a Python lock holder and outside checks, and a
// session for the disk database.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cmake/test_tools.h"
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

// A Python process that holds one byte of the file with an open-file-description lock until
// its standard input closes.
class PythonLockHolder {
 public:
  PythonLockHolder(const std::string& path, int64_t byte) {
    int to_child[2], from_child[2];
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(to_child[0], 0);
      ::dup2(from_child[1], 1);
      for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
      const std::string script =
          "import fcntl, os, struct, sys\n"
          "fd = os.open(sys.argv[1], os.O_RDWR)\n"
          "cmd = getattr(fcntl, 'F_OFD_SETLK', 37)\n"
          "fcntl.fcntl(fd, cmd, struct.pack('hhqqi4x', fcntl.F_WRLCK, 0, int(sys.argv[2]), 1, 0))\n"
          "print('ready', flush=True)\n"
          "sys.stdin.read()\n";
      ::execlp("python3", "python3", "-c", script.c_str(), path.c_str(), std::to_string(byte).c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_ = to_child[1];
    // The whole line, and the pipe stays open: a writer that finds it closed dies of it.
    stdout_ = from_child[0];
    std::string line;
    char c = 0;
    while (line.size() < 16 && ::read(stdout_, &c, 1) == 1 && c != '\n') line += c;
    ready_ = line == "ready";
  }
  ~PythonLockHolder() { Release(); }
  void Release() {
    if (pid_ <= 0) return;
    ::close(stdin_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(stdout_);
    pid_ = -1;
  }
  bool Ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  bool ready_ = false;
};

// A forked child that talks with the test through two pipes: it runs Body(peer) and exits with
// its result (98 for an exception, 100 when it died). Receive gives -1 when the other side has
// gone, so a crashed peer never blocks the test.
class Peer {
 public:
  template <class F>
  explicit Peer(F&& Body) {
    int to_child[2], to_parent[2];
    if (::pipe(to_child) != 0 || ::pipe(to_parent) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(to_child[1]);
      ::close(to_parent[0]);
      in_ = to_child[0];
      out_ = to_parent[1];
      int code = 99;
      try {
        code = Body(*this);
      } catch (...) {
        code = 98;
      }
      ::_exit(code);
    }
    ::close(to_child[0]);
    ::close(to_parent[1]);
    in_ = to_parent[0];
    out_ = to_child[1];
  }
  ~Peer() { Wait(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void Send(int32_t Value) const {
    if (::write(out_, &Value, sizeof Value) != sizeof Value) {
    }
  }
  int32_t Receive() const {
    int32_t value = -1;
    return ::read(in_, &value, sizeof value) == sizeof value ? value : -1;
  }
  // The exit status of the child (parent side).
  int Wait() {
    if (pid_ <= 0) return status_;
    ::close(out_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(in_);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int status_ = -1;
};

// The outside checks of tests/data/check_db_files.py: its output and exit status.
inline quirvel::testing::ToolResult CheckDbFiles(const std::vector<std::string>& Args) {
  std::string command = "python3 '" + std::string(QUIRVEL_TEST_DATA) + "/check_db_files.py'";
  for (const std::string& a : Args) command += " '" + a + "'";
  return quirvel::testing::RunTool(command);
}

// What another process sees of one byte of the file through F_OFD_GETLK: "write", "read" or
// "none".
inline std::string LockSeenFromOutside(const std::string& Path, int64_t Byte) {
  std::string out = CheckDbFiles({"lock", Path, std::to_string(Byte)}).output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace orv::testing
