#pragma once
// A plain blocking TCP client on loopback, for the tests and the benchmark of the TCP layer:
// it speaks to the server the way the result clients do (lines out, CR LF lines and
// announced bytes back). Reads give up after a few seconds, so a server that never answers
// fails a test instead of hanging it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::net::test_support {

class LoopbackClient {
 public:
  explicit LoopbackClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    timeval timeout{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      throw std::runtime_error("connect to port " + std::to_string(port) + " failed");
    }
  }
  ~LoopbackClient() { Close(); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  uint16_t LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }

  // Every byte, or false.
  bool Send(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The next line ending in CR LF, without it; nullopt when the server closed (or did not
  // answer in time: TimedOut tells).
  std::optional<std::string> ReadLine() {
    for (;;) {
      const size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      if (!Fill()) return std::nullopt;
    }
  }

  // Up to `count` bytes (fewer when the server closes first).
  std::string ReadBytes(size_t count) {
    while (buffer_.size() < count)
      if (!Fill()) break;
    std::string bytes = buffer_.substr(0, std::min(count, buffer_.size()));
    buffer_.erase(0, bytes.size());
    return bytes;
  }

  // Reads and drops `count` bytes; the number dropped.
  size_t Skip(size_t count) {
    size_t skipped = 0;
    while (skipped < count) {
      if (buffer_.empty() && !Fill()) break;
      const size_t take = std::min(count - skipped, buffer_.size());
      buffer_.erase(0, take);
      skipped += take;
    }
    return skipped;
  }

  // True when the server closes the connection (whatever it still sends is dropped).
  bool WaitClosed() {
    buffer_.clear();
    while (Fill()) buffer_.clear();
    return closed_;
  }
  bool TimedOut() const { return timed_out_; }

  void ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Run again and again while a read waits for bytes, when set: a client on the GUI thread
  // serves the work the server's handlers hand to that thread meanwhile.
  std::function<void()> WhileWaiting;

 private:
  bool Fill() {
    if (WhileWaiting) {
      pollfd p{fd_, POLLIN, 0};
      while (::poll(&p, 1, 0) == 0) WhileWaiting();
    }
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      return true;
    }
    // End of stream, or a reset because the server closed with our bytes unread.
    closed_ = n == 0 || errno == ECONNRESET;
    timed_out_ = !closed_;
    return false;
  }

  int fd_ = -1;
  bool closed_ = false;
  bool timed_out_ = false;
  std::string buffer_;
};

}  // namespace platform::net::test_support
