#pragma once
// For tests that photograph windows: a virtual X server (Xvfb) on a display number of its own
// choosing, stopped with the object. scripts/setup installs Xvfb.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testing_support {

class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      // The server must neither outlive a test that dies nor hold the test's output open:
      // the test runner waits for that output to end.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(null_fd, STDERR_FILENO);
      }
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1680x1050x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    ssize_t n = 0, got = 0;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = ::read(fds[0], buf + got, sizeof buf - 1 - got)) > 0) {
      got += n;
      if (buf[got - 1] == '\n') break;
    }
    ::close(fds[0]);
    if (got > 0) display_ = ":" + std::string(buf, static_cast<size_t>(got - (buf[got - 1] == '\n' ? 1 : 0)));
  }
  ~Xvfb() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  // ":N", or empty when the server did not start.
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace testing_support
