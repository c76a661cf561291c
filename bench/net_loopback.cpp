// The result server's transport over loopback: a full display picture reply (3,932,214
// bytes after its line) and a "GetData" line round trip, through our TCP layer and, as the
// peer, through a bare blocking socket loop doing the same. The round trip is measured once
// more with the handler's hand-over to a GUI thread, as the window's handlers do it.
//
// Goals: a picture reply under 100 ms, a line round trip under 5 ms.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/net/tcp_server.h"
#include "platform/net/tests/loopback_client.h"
#include "platform/ui/scripted_ui.h"

namespace {

constexpr size_t kPictureSize = 3932214;  // a 24-bit BMP of 1280 x 1024
const std::string kMeasurementLine = "DATA:[PLATE\t45.3 %\t60.0 L/cm\t37.5 \xC2\xB0\t\t]";

const std::string& Picture() {
  static const std::string picture = [] {
    std::string p(kPictureSize, '\0');
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 31u >> 4);
    return p;
  }();
  return picture;
}

// The server under test: "GetMess" gives the picture reply, anything else the data line.
std::unique_ptr<platform::net::TcpServer> StartLayer(bool through_gui) {
  auto server = std::make_unique<platform::net::TcpServer>();
  server->DefaultPort = 0;
  server->BindAddress = "127.0.0.1";
  server->events.OnExecute = [through_gui](platform::net::Connection& c) {
    const std::string line = c.ReadLine();
    std::string measurement;
    if (through_gui)
      c.RunOnGuiThread([&] { measurement = kMeasurementLine; });
    else
      measurement = kMeasurementLine;
    if (line == "GetMess") {
      const std::string& picture = Picture();
      c.WriteLine("IMAGE:[" + measurement + "]" + std::to_string(picture.size()));
      c.Write(std::string_view(picture));
    } else {
      c.WriteLine(measurement);
    }
  };
  server->Start();
  return server;
}

// The peer: one blocking loop on a bare socket doing the same as the handler above.
class RawServer {
 public:
  RawServer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listen_fd_, 4) != 0)
      throw std::runtime_error("raw server cannot listen");
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    if (client_fd_ >= 0) ::shutdown(client_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  uint16_t Port() const { return port_; }

 private:
  void Serve() {
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    client_fd_ = fd;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string in;
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      in.append(chunk, static_cast<size_t>(n));
      size_t lf;
      while ((lf = in.find('\n')) != std::string::npos) {
        const std::string line = in.substr(0, lf);
        in.erase(0, lf + 1);
        std::string reply;
        if (line == "GetMess") {
          reply = "IMAGE:[" + kMeasurementLine + "]" + std::to_string(kPictureSize) + "\r\n";
          SendAll(fd, reply);
          SendAll(fd, Picture());
        } else {
          SendAll(fd, kMeasurementLine + "\r\n");
        }
      }
    }
    ::close(fd);
  }
  static void SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  int listen_fd_ = -1;
  std::atomic<int> client_fd_{-1};
  uint16_t port_ = 0;
  std::thread thread_;
};

// A GUI thread for the hand-over: it owns the scripted UI services and carries out what the
// handlers hand over as soon as it is there.
class GuiThread {
 public:
  GuiThread() {
    thread_ = std::thread([this] {
      platform::ui::ScriptedUi ui;
      platform::ui::SetServices(&ui);
      ready_ = true;
      while (!stop_) {
        if (ui.ProcessPending() == 0) std::this_thread::yield();
      }
      platform::ui::SetServices(nullptr);
      ui.ProcessPending();
    });
    while (!ready_) std::this_thread::yield();
  }
  ~GuiThread() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One exchange per iteration: the command, the reply line, and the bytes it announces.
void Run(benchmark::State& state, uint16_t port, const std::string& command) {
  platform::net::test_support::LoopbackClient client(port);
  size_t bytes = 0;
  for (auto _ : state) {
    if (!client.Send(command)) throw std::runtime_error("send failed");
    const auto line = client.ReadLine();
    if (!line) throw std::runtime_error("no reply");
    bytes += line->size();
    const size_t bracket = line->rfind(']');
    if (line->rfind("IMAGE:[", 0) == 0 && bracket != std::string::npos) {
      const size_t announced = std::stoul(line->substr(bracket + 1));
      if (client.Skip(announced) != announced) throw std::runtime_error("picture cut short");
      bytes += announced;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_PictureReply_Layer(benchmark::State& state) {
  auto server = StartLayer(false);
  Run(state, server->Port(), "GetMess\n");
  server->Stop();
}
void BM_PictureReply_RawSocket(benchmark::State& state) {
  RawServer server;
  Run(state, server.Port(), "GetMess\n");
}
void BM_PictureReply_LayerThroughGui(benchmark::State& state) {
  GuiThread gui;
  auto server = StartLayer(true);
  Run(state, server->Port(), "GetMess\n");
  server->Stop();
}
void BM_LineRoundTrip_Layer(benchmark::State& state) {
  auto server = StartLayer(false);
  Run(state, server->Port(), "GetData\n");
  server->Stop();
}
void BM_LineRoundTrip_RawSocket(benchmark::State& state) {
  RawServer server;
  Run(state, server.Port(), "GetData\n");
}
void BM_LineRoundTrip_LayerThroughGui(benchmark::State& state) {
  GuiThread gui;
  auto server = StartLayer(true);
  Run(state, server->Port(), "GetData\n");
  server->Stop();
}

BENCHMARK(BM_PictureReply_Layer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PictureReply_RawSocket)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PictureReply_LayerThroughGui)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LineRoundTrip_Layer)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LineRoundTrip_RawSocket)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LineRoundTrip_LayerThroughGui)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
