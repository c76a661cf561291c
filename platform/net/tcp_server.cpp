#include "platform/net/tcp_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <list>
#include <algorithm>
#include <vector>

#include "platform/ui/ui_services.h"

namespace platform::net {

namespace {

std::string SystemReason(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in our buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

[[noreturn]] void ThrowSocket(const std::string& call, int error) {
  throw ENetError(ENetError::Kind::Socket, call + ": " + SystemReason(error));
}

std::string Dotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

}  // namespace

ENetError::ENetError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}

namespace detail {

// Work a connection hands to the GUI thread, living on the stack of the waiting handler.
struct GuiCall {
  enum class State { Queued, Running, Done, Dropped };
  const std::function<void()>* work;
  State state = State::Queued;
  std::exception_ptr error;
};

// What the server, its connection threads and work posted to the GUI thread share. Posted
// work holds it alive, so it may run after the server is gone (and then finds nothing).
struct ServerState : std::enable_shared_from_this<ServerState> {
  struct Worker {
    std::shared_ptr<Connection> connection;
    std::thread thread;
    bool finished = false;
  };

  std::mutex mutex;
  std::condition_variable changed;  // a worker finished, or GUI work was queued or done
  std::list<Worker> workers;        // list: a worker's address is its thread's handle on it
  size_t live = 0;                  // workers not finished
  std::deque<GuiCall*> gui_queue;
  bool drop_gui = false;            // Stop off the GUI thread: hand-overs are refused

  void RunOnGui(const std::function<void()>& work);
  void DrainGui();
  void DropGui();
};

namespace {
// Which server's connection thread, or which server's handed-over work, the current thread
// is running, so that Stop can refuse to wait for itself.
thread_local const ServerState* t_connection_of = nullptr;
thread_local const ServerState* t_gui_work_of = nullptr;
}  // namespace

void ServerState::RunOnGui(const std::function<void()>& work) {
  if (ui::Services().IsGuiThread()) {
    work();
    return;
  }
  GuiCall call{&work};
  {
    std::lock_guard lock(mutex);
    if (drop_gui) throw ENetError(ENetError::Kind::Stopped, "the server stops; the GUI thread no longer takes work");
    gui_queue.push_back(&call);
    changed.notify_all();
  }
  try {
    ui::Services().Post([self = shared_from_this()] { self->DrainGui(); });
  } catch (...) {
    std::lock_guard lock(mutex);
    if (call.state == GuiCall::State::Queued) {
      std::erase(gui_queue, &call);
      throw;
    }
    // Someone else has taken it meanwhile: wait for it below.
  }
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return call.state == GuiCall::State::Done || call.state == GuiCall::State::Dropped; });
  if (call.state == GuiCall::State::Dropped)
    throw ENetError(ENetError::Kind::Stopped, "the server stops; the GUI thread no longer takes work");
  if (call.error) std::rethrow_exception(call.error);
}

void ServerState::DrainGui() {
  for (;;) {
    GuiCall* call;
    {
      std::lock_guard lock(mutex);
      if (gui_queue.empty()) return;
      call = gui_queue.front();
      gui_queue.pop_front();
      call->state = GuiCall::State::Running;
    }
    std::exception_ptr error;
    const ServerState* outer = t_gui_work_of;
    t_gui_work_of = this;
    try {
      (*call->work)();
    } catch (...) {
      error = std::current_exception();
    }
    t_gui_work_of = outer;
    std::lock_guard lock(mutex);
    // The waiting handler may return the moment it sees Done: nothing of `call` is touched
    // after this.
    call->error = error;
    call->state = GuiCall::State::Done;
    changed.notify_all();
  }
}

void ServerState::DropGui() {
  std::lock_guard lock(mutex);
  drop_gui = true;
  for (GuiCall* call : gui_queue) call->state = GuiCall::State::Dropped;
  gui_queue.clear();
  changed.notify_all();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------
// Connection

Connection::Connection(Key, int fd, std::string peer_ip, uint16_t peer_port, uint64_t id,
                       std::shared_ptr<detail::ServerState> server)
    : fd_(fd), peer_ip_(std::move(peer_ip)), peer_port_(peer_port), id_(id), server_(std::move(server)) {}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

void Connection::CheckOwnThread(const char* operation) const {
  if (owner_.load() != std::this_thread::get_id())
    throw std::logic_error(std::string("Connection::") + operation + " outside the connection's thread");
}

bool Connection::Connected() const { return !ended_.load() && !eof_.load(); }

void Connection::Shutdown() {
  std::lock_guard lock(mutex_);
  if (ended_.exchange(true)) return;
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Connection::Disconnect() { Shutdown(); }

void Connection::CloseSocket() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Connection::Receive() {
  constexpr size_t kChunk = 64 * 1024;
  const size_t old_size = in_.size();
  in_.resize(old_size + kChunk);
  for (;;) {
    const ssize_t n = ::recv(fd_, in_.data() + old_size, kChunk, 0);
    if (n > 0) {
      in_.resize(old_size + static_cast<size_t>(n));
      ++receives_;
      return true;
    }
    const int error = errno;
    if (n < 0 && error == EINTR) continue;
    in_.resize(old_size);
    if (n == 0 || ended_.load() || error == ECONNRESET || error == ETIMEDOUT) {
      eof_ = true;
      return false;
    }
    ThrowSocket("recv", error);
  }
}

bool Connection::WaitForInput() {
  while (in_.empty()) {
    if (ended_.load() || eof_.load()) return false;
    if (!Receive()) return false;
  }
  return !ended_.load();
}

bool Connection::WaitForMoreInput() {
  if (ended_.load() || eof_.load()) return false;
  return Receive() && !ended_.load();
}

std::string Connection::ReadLine() {
  CheckOwnThread("ReadLine");
  for (;;) {
    if (ended_.load()) throw ENetError(ENetError::Kind::Closed, "connection closed");
    const size_t lf = in_.find('\n', scanned_);
    if (lf != std::string::npos) {
      size_t length = lf;
      if (length > 0 && in_[length - 1] == '\r') --length;
      if (length > kMaxLineLength) break;
      std::string line = in_.substr(0, length);
      in_.erase(0, lf + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = in_.size();
    // One byte more than the limit may still be the CR of a line end.
    if (in_.size() > kMaxLineLength + 1) break;
    if (!Receive()) {
      // Whatever is buffered is an unfinished line: dropped with the connection.
      in_.clear();
      scanned_ = 0;
      throw ENetError(ENetError::Kind::Closed, "connection closed");
    }
  }
  Shutdown();
  in_.clear();
  scanned_ = 0;
  throw ENetError(ENetError::Kind::LineTooLong,
                  "line longer than " + std::to_string(kMaxLineLength) + " bytes from " + peer_ip_);
}

void Connection::Write(std::span<const uint8_t> bytes) {
  CheckOwnThread("Write");
  const uint8_t* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    if (ended_.load()) throw ENetError(ENetError::Kind::Closed, "connection closed");
    const ssize_t n = ::send(fd_, data, left, MSG_NOSIGNAL);
    if (n >= 0) {
      data += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (ended_.load() || error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT) {
      Shutdown();
      throw ENetError(ENetError::Kind::Closed, "connection closed");
    }
    ThrowSocket("send", error);
  }
}

void Connection::Write(std::string_view bytes) {
  Write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

void Connection::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  Write(std::string_view(line));
}

void Connection::RunOnGuiThread(const std::function<void()>& work) { server_->RunOnGui(work); }

// ---------------------------------------------------------------------------------------
// TcpServer

struct TcpServer::Impl {
  std::shared_ptr<detail::ServerState> state = std::make_shared<detail::ServerState>();
  std::mutex control;  // Start and Stop, one at a time
  std::atomic<bool> active{false};
  std::atomic<uint16_t> port{0};
  int listen_fd = -1;
  int wake_fd = -1;
  std::thread acceptor;
  Events events;  // the copy taken by Start
  size_t max_connections = 10;

  void Accept();
  void Admit(int fd, const sockaddr_in& peer);
  void Reap();
  void CloseListener();
};

namespace {
std::atomic<uint64_t> g_next_connection_id{1};
}  // namespace

namespace detail {

// The life of one connection on its own thread.
struct ConnectionThread {
  static void Run(std::shared_ptr<ServerState> state, ServerState::Worker* worker, const TcpServer::Events* events);
};

void ConnectionThread::Run(std::shared_ptr<ServerState> state, ServerState::Worker* worker,
                           const TcpServer::Events* events) {
  Connection& connection = *worker->connection;
  connection.owner_ = std::this_thread::get_id();
  t_connection_of = state.get();
  auto report = [&](const std::string& what) {
    if (!events->OnException) return;
    try {
      events->OnException(connection, what);
    } catch (...) {
      // A failing error report must not keep the connection from ending.
    }
  };
  auto run = [&](auto&& body) {
    try {
      body();
    } catch (const ENetError& e) {
      if (e.kind() == ENetError::Kind::LineTooLong || e.kind() == ENetError::Kind::Socket) report(e.what());
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown exception");
    }
  };
  run([&] {
    if (events->OnConnect) events->OnConnect(connection);
    while (connection.WaitForInput()) {
      if (!events->OnExecute) {
        connection.DiscardInput();
        continue;
      }
      const size_t buffered = connection.BufferedBytes();
      const uint64_t receives = connection.receives_;
      events->OnExecute(connection);
      // A handler that took nothing is called again only when more input has come;
      // otherwise it would be called in a busy loop.
      if (connection.BufferedBytes() == buffered && connection.receives_ == receives &&
          !connection.WaitForMoreInput())
        break;
    }
  });
  // Ended before the event, so that the handler sees it as no longer connected.
  connection.Shutdown();
  run([&] {
    if (events->OnDisconnect) events->OnDisconnect(connection);
  });
  connection.CloseSocket();
  t_connection_of = nullptr;
  std::lock_guard lock(state->mutex);
  worker->finished = true;
  --state->live;
  state->changed.notify_all();
}

}  // namespace detail

void TcpServer::Impl::Reap() {
  std::list<detail::ServerState::Worker> done;
  {
    std::lock_guard lock(state->mutex);
    for (auto it = state->workers.begin(); it != state->workers.end();) {
      auto next = std::next(it);
      if (it->finished) done.splice(done.end(), state->workers, it);
      it = next;
    }
  }
  for (auto& worker : done) worker.thread.join();
}

void TcpServer::Impl::Admit(int fd, const sockaddr_in& peer) {
  const int one = 1;
  // Replies are written whole; a small line after a picture must not wait for an ACK.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::lock_guard lock(state->mutex);
  if (state->live >= max_connections) {
    ::close(fd);
    return;
  }
  auto connection = std::make_shared<Connection>(Connection::Key{}, fd, Dotted(peer.sin_addr), ntohs(peer.sin_port),
                                                 g_next_connection_id++, state);
  auto& worker = state->workers.emplace_back();
  worker.connection = connection;
  try {
    worker.thread = std::thread(detail::ConnectionThread::Run, state, &worker, &events);
  } catch (...) {
    // No thread, no connection: the peer sees it closed, as beyond the limit.
    state->workers.pop_back();
    return;
  }
  ++state->live;
}

void TcpServer::Impl::Accept() {
  for (;;) {
    pollfd fds[2] = {{listen_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;  // cannot happen with valid descriptors; Stop still finds the thread ended
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        // Out of descriptors or memory: the waiting connection stays queued; try again a
        // little later instead of spinning (a Stop still wakes us at once).
        pollfd wake{wake_fd, POLLIN, 0};
        ::poll(&wake, 1, 50);
        if (wake.revents != 0) return;
      }
      continue;  // EAGAIN, EINTR, ECONNABORTED and the like: the next one
    }
    Reap();
    Admit(fd, peer);
  }
}

void TcpServer::Impl::CloseListener() {
  if (listen_fd >= 0) ::close(listen_fd);
  if (wake_fd >= 0) ::close(wake_fd);
  listen_fd = wake_fd = -1;
}

TcpServer::TcpServer() : impl_(std::make_unique<Impl>()) {}

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::Active() const { return impl_->active.load(); }

uint16_t TcpServer::Port() const { return impl_->port.load(); }

size_t TcpServer::ConnectionCount() const {
  std::lock_guard lock(impl_->state->mutex);
  return impl_->state->live;
}

void TcpServer::Start() {
  std::lock_guard control(impl_->control);
  if (impl_->active) return;
  Impl& impl = *impl_;

  in_addr address{};
  address.s_addr = htonl(INADDR_ANY);
  if (!BindAddress.empty() && inet_pton(AF_INET, BindAddress.c_str(), &address) != 1)
    throw ENetError(ENetError::Kind::Socket, "not an IPv4 address: " + BindAddress);

  impl.listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (impl.listen_fd < 0) ThrowSocket("socket", errno);
  impl.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl.wake_fd < 0) {
    const int error = errno;
    impl.CloseListener();
    ThrowSocket("eventfd", error);
  }
  const int one = 1;
  // A restart must not wait for the previous run's connections to leave TIME_WAIT.
  setsockopt(impl.listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(DefaultPort);
  local.sin_addr = address;
  if (::bind(impl.listen_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0 ||
      ::listen(impl.listen_fd, SOMAXCONN) < 0) {
    const int error = errno;
    impl.CloseListener();
    ThrowSocket("cannot listen on port " + std::to_string(DefaultPort), error);
  }
  socklen_t length = sizeof local;
  getsockname(impl.listen_fd, reinterpret_cast<sockaddr*>(&local), &length);

  impl.events = events;
  impl.max_connections = static_cast<size_t>(std::max(0, MaxConnections));
  {
    std::lock_guard lock(impl.state->mutex);
    impl.state->drop_gui = false;
  }
  try {
    impl.acceptor = std::thread([&impl] { impl.Accept(); });
  } catch (...) {
    impl.CloseListener();
    throw;
  }
  impl.port = ntohs(local.sin_port);
  impl.active = true;
}

void TcpServer::Stop() {
  Impl& impl = *impl_;
  const detail::ServerState* state = impl.state.get();
  if (detail::t_connection_of == state)
    throw std::logic_error("TcpServer::Stop on one of its connection threads would wait for itself");
  if (detail::t_gui_work_of == state)
    throw std::logic_error("TcpServer::Stop inside work a connection handed to the GUI thread would wait for itself");
  std::lock_guard control(impl.control);
  if (!impl.active) return;

  // No new connections.
  const uint64_t wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(impl.wake_fd, &wake, sizeof wake);
  impl.acceptor.join();
  impl.CloseListener();

  // End every connection: blocked reads and writes return at once.
  {
    std::lock_guard lock(impl.state->mutex);
    for (auto& worker : impl.state->workers) worker.connection->Shutdown();
  }

  // Handlers may be waiting for the GUI thread. On the GUI thread we carry out their work
  // ourselves while we wait, so their disconnect handling is not lost; anywhere else the GUI
  // thread may be the one waiting for us, so work it has not started is refused.
  const bool on_gui_thread = ui::Services().IsGuiThread();
  if (!on_gui_thread) impl.state->DropGui();
  for (;;) {
    {
      std::unique_lock lock(impl.state->mutex);
      impl.state->changed.wait(lock, [&] {
        return impl.state->live == 0 || (on_gui_thread && !impl.state->gui_queue.empty());
      });
      if (impl.state->live == 0) break;
    }
    impl.state->DrainGui();
  }
  impl.Reap();

  std::lock_guard lock(impl.state->mutex);
  impl.state->drop_gui = false;
  impl.port = 0;
  impl.active = false;
}

// ---------------------------------------------------------------------------------------
// The host

bool isTCPIP() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string GetIPAddress() {
  const std::string fallback = "127.0.0.1";
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return fallback;
  // The host entry's first address, in the order the resolver lists them (no preference
  // sorting), like the host entry the workstation always showed.
  std::vector<char> buffer(1024);
  hostent entry{};
  hostent* result = nullptr;
  int h_error = 0;
  for (;;) {
    const int rc = gethostbyname_r(name, &entry, buffer.data(), buffer.size(), &result, &h_error);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0) result = nullptr;
    break;
  }
  if (result == nullptr || result->h_addrtype != AF_INET || result->h_length != sizeof(in_addr) ||
      result->h_addr_list == nullptr || result->h_addr_list[0] == nullptr)
    return fallback;
  in_addr address;
  std::memcpy(&address, result->h_addr_list[0], sizeof address);
  return Dotted(address);
}

}  // namespace platform::net
