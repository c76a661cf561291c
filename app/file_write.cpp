#include "app/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace app {

namespace {

std::string Reason(int error) { return std::strerror(error); }

// Writes everything, retrying short writes; 0 or errno.
int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Ends the writing of a new file: flushed to the disk and closed, or removed with the reason.
std::string Finish(int fd, int error, const std::string& path) {
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return {};
  ::unlink(path.c_str());
  return Reason(error);
}

}  // namespace

std::string WriteWholeFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Reason(errno);
  return Finish(fd, WriteAll(fd, bytes.data(), bytes.size()), path);
}

std::string CopyToNewFile(const std::string& source, const std::string& target) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return source + ": " + Reason(errno);
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return target + ": " + Reason(error);
  }
  std::vector<char> buffer(1 << 16);
  int error = 0;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (n == 0) break;
    error = WriteAll(out, buffer.data(), static_cast<size_t>(n));
    if (error != 0) break;
  }
  ::close(in);
  const std::string reason = Finish(out, error, target);
  return reason.empty() ? reason : target + ": " + reason;
}

}  // namespace app
