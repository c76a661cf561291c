// The result server of the settings window end to end over loopback: the sample plate loaded
// in the main window, the server on the settings window, and a client asking for the analysis
// picture ("GetMess": the picture reply of 3,932,214 bytes and the "SaveMessOK" line) and for
// the measurement line ("GetData"). The window work of the handlers is handed to this thread,
// which serves it between its reads as the program's event loop does.
//
// Goals: a picture reply under 100 ms, a "GetData" round trip under 5 ms. The transport alone
// against a bare socket loop is bench_net_loopback.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QToolButton>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/settings.h"
#include "bench/bench_window.h"
#include "platform/net/tcp_server.h"
#include "platform/net/tests/loopback_client.h"

namespace {

struct Window : bench::HomeWindow {
  Window() : HomeWindow("result_server") {
    bench::Ui().QueueOpenFile(Sample("sample_plate.qvr"));
    frm->Loadbtn->click();
    app::MainWindowLinks links;
    links.FrmSettings = &settings;
    frm->SetLinks(links);
    settings.Server().DefaultPort = 0;
    settings.Server().BindAddress = "127.0.0.1";
    settings.TCPIPActivate->setChecked(true);
    settings.TCPIPActivateClick();
    if (!settings.Server().Active()) throw std::runtime_error("the result server did not start");
  }
  ~Window() { frm->SetLinks({}); }
  app::TFrmSettings settings;
};

// Made before the first benchmark and gone before the toolkit goes.
std::unique_ptr<Window> g_window;
Window& TheWindow() { return *g_window; }

// A client that serves the GUI thread's share of the work while it waits for its replies.
struct Client : platform::net::test_support::LoopbackClient {
  explicit Client(uint16_t port) : LoopbackClient(port) {
    WhileWaiting = [] { bench::Ui().ProcessPending(); };
  }
  std::string Line() {
    std::optional<std::string> line = ReadLine();
    if (!line) throw std::runtime_error("the result server did not answer");
    return *line;
  }
};

void BM_GetMessPictureReply(benchmark::State& state) {
  Window& w = TheWindow();
  Client c(w.settings.Server().Port());
  size_t bytes = 0;
  for (auto _ : state) {
    c.Send("GetMess\n");
    const std::string head = c.Line();
    const size_t n = std::stoul(head.substr(head.rfind(']') + 1));
    if (c.Skip(n) != n) throw std::runtime_error("the picture was cut short");
    if (c.Line().rfind("SaveMessOK:[", 0) != 0) throw std::runtime_error("no SaveMessOK line");
    bytes = n;
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_GetMessPictureReply)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetDataRoundTrip(benchmark::State& state) {
  Window& w = TheWindow();
  Client c(w.settings.Server().Port());
  for (auto _ : state) {
    c.Send("GetData\n");
    benchmark::DoNotOptimize(c.Line());
  }
}
BENCHMARK(BM_GetDataRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return bench::RunWindowBenchmarks(
      argc, argv, [] { g_window = std::make_unique<Window>(); },
      [](const bench::SummaryReporter& rep) {
        bench::PrintBudgets(rep, {{"BM_GetMessPictureReply", 100}, {"BM_GetDataRoundTrip", 5}});
        g_window.reset();
      });
}
