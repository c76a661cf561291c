#include "platform/base/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/base/cp1252.h"

namespace platform {
namespace {

std::string Reason(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // the GNU form returns the text
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw ETextFileError(what + " " + path + ": " + Reason(error));
}

std::u16string FromUtf16(std::string_view bytes, bool big_endian) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  }
  return out;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::atomic<unsigned> g_counter{0};

}  // namespace

std::string DecodeTextFile(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    // Re-encoding repairs malformed sequences into U+FFFD instead of passing them on.
    return Utf16ToUtf8(Utf8ToUtf16(bytes.substr(3)));
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return Utf16ToUtf8(FromUtf16(bytes.substr(2), false));
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") return Utf16ToUtf8(FromUtf16(bytes.substr(2), true));
  return Cp1252ToUtf8(bytes);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    lines.emplace_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') ++j;
    if (j < text.size() && text[j] == '\n') ++j;
    i = j;
  }
  return lines;
}

std::vector<std::string> ReadTextFileLines(const std::string& path, size_t max_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("Cannot open", path, errno);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      Fail("Cannot read", path, error);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > max_bytes) {
      ::close(fd);
      throw ETextFileError("Cannot read " + path + ": the file is too large for a text file");
    }
  }
  ::close(fd);
  return SplitLines(DecodeTextFile(bytes));
}

void WriteTextFileLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes = "\xEF\xBB\xBF";
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  ReplaceFile(path, std::string_view(bytes));
}

void ReplaceFile(const std::string& path, std::span<const uint8_t> bytes) {
  // O_EXCL with a fresh name: never writes through a file or link someone placed there.
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = FolderOf(path) + "/." + path.substr(path.rfind('/') + 1) + ".~" + std::to_string(::getpid()) + "-" +
          std::to_string(g_counter++);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) Fail("Cannot create", path, errno);
  auto fail = [&](const char* what, int error) {
    ::close(fd);
    ::unlink(tmp.c_str());
    Fail(what, path, error);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("Cannot write", errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) fail("Cannot write", errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(tmp.c_str());
    Fail("Cannot write", path, error);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(tmp.c_str());
    Fail("Cannot replace", path, error);
  }
}

void ReplaceFile(const std::string& path, std::string_view bytes) {
  ReplaceFile(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace platform
