// The TCP layer against real clients on loopback: line framing, limits, the connection
// bound, peers that vanish, and stopping while handlers wait for the GUI thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/tcp_server.h"
#include "platform/net/tests/loopback_client.h"
#include "platform/ui/scripted_ui.h"

namespace platform::net {
namespace {

using namespace std::chrono_literals;

// Every client checks at its end that the server never left it waiting.
class Client : public test_support::LoopbackClient {
 public:
  using LoopbackClient::LoopbackClient;
  ~Client() { EXPECT_FALSE(TimedOut()) << "no answer from the server in time"; }
};

// What the handlers saw, for the test thread to wait on.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  int connects = 0;
  int disconnects = 0;
  std::vector<std::string> lines;
  std::vector<std::string> errors;       // OnException
  std::vector<std::string> notes;        // anything else a test wants to know
  std::vector<std::shared_ptr<Connection>> connections;

  template <typename F>
  void Change(F&& change) {
    std::lock_guard lock(mutex);
    change();
    changed.notify_all();
  }
  template <typename P>
  bool WaitFor(P&& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, done);
  }
  template <typename F>
  auto Read(F&& read) {
    std::lock_guard lock(mutex);
    return read();
  }
};

// Answers every line with "ECHO:" and the line; records every event.
TcpServer::Events EchoEvents(Recorder& rec) {
  TcpServer::Events events;
  events.OnConnect = [&rec](Connection& c) {
    rec.Change([&] {
      ++rec.connects;
      rec.connections.push_back(c.shared_from_this());
    });
  };
  events.OnExecute = [&rec](Connection& c) {
    const std::string line = c.ReadLine();
    rec.Change([&] { rec.lines.push_back(line); });
    c.WriteLine("ECHO:" + line);
  };
  events.OnDisconnect = [&rec](Connection& c) {
    rec.Change([&] {
      ++rec.disconnects;
      rec.notes.push_back(std::string("disconnect connected=") + (c.Connected() ? "1" : "0"));
    });
  };
  events.OnException = [&rec](Connection&, const std::string& what) {
    rec.Change([&] { rec.errors.push_back(what); });
  };
  return events;
}

std::unique_ptr<TcpServer> StartServer(const TcpServer::Events& events) {
  auto server = std::make_unique<TcpServer>();
  server->events = events;
  server->DefaultPort = 0;
  server->BindAddress = "127.0.0.1";
  server->Start();
  return server;
}

// Fails the run loudly when a call that must return does not (a deadlock would otherwise
// only end at the test's time limit).
class Watchdog {
 public:
  explicit Watchdog(const char* what) : what_(what) {
    thread_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      if (!done_cv_.wait_for(lock, 20s, [this] { return done_; })) {
        std::fprintf(stderr, "%s did not return: deadlock\n", what_);
        std::abort();
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  const char* what_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

TEST(TcpServerLines, LineEndsAndPacketBoundaries) {
  struct Case {
    std::vector<std::string> packets;  // sent with pauses between them
    std::vector<std::string> lines;    // what the handler must read
  };
  const Case cases[] = {
      {{"GetData\n"}, {"GetData"}},
      {{"GetData\r\n"}, {"GetData"}},
      {{"\n"}, {""}},
      {{"\r\n"}, {""}},
      // Only the CR right before the LF belongs to the line end.
      {{"a\rb\r\n"}, {"a\rb"}},
      {{"x\r\r\n"}, {"x\r"}},
      // One line over several packets, the CR and the LF apart.
      {{"Get", "Da", "ta\r", "\n"}, {"GetData"}},
      // Several lines in one packet, and a line finished in the next packet.
      {{"one\ntwo\r\nthr", "ee\n"}, {"one", "two", "three"}},
      // UTF-8 passes through as bytes.
      {{"User:J\xC3\xBCrgen \xC2\xB5m\n"}, {"User:J\xC3\xBCrgen \xC2\xB5m"}},
  };
  Recorder rec;
  auto server = StartServer(EchoEvents(rec));
  Client client(server->Port());
  for (const Case& c : cases) {
    for (const std::string& packet : c.packets) {
      client.Send(packet);
      std::this_thread::sleep_for(20ms);
    }
    for (const std::string& expected : c.lines) {
      const auto reply = client.ReadLine();
      ASSERT_TRUE(reply.has_value());
      // The client's reader only accepts CR LF, so the reply's line end is checked too.
      EXPECT_EQ(*reply, "ECHO:" + expected);
    }
  }
  server->Stop();
  EXPECT_TRUE(rec.Read([&] { return rec.errors.empty(); }));
}

TEST(TcpServerLines, AnOverLongLineClosesTheConnection) {
  struct Case {
    std::string text;
    bool served;
  };
  const std::string limit(kMaxLineLength, 'x');
  const Case cases[] = {
      {limit + "\n", true},
      {limit + "\r\n", true},
      {limit + "y\n", false},
      {limit + "yz", false},  // no line end at all: the server stops buffering
  };
  for (const Case& c : cases) {
    Recorder rec;
    TcpServer::Events events = EchoEvents(rec);
    events.OnExecute = [&rec](Connection& conn) {
      const std::string line = conn.ReadLine();
      rec.Change([&] { rec.lines.push_back(line); });
      conn.WriteLine("LEN:" + std::to_string(line.size()));
    };
    auto server = StartServer(events);
    Client client(server->Port());
    client.Send(c.text);
    if (c.served) {
      EXPECT_EQ(client.ReadLine(), "LEN:" + std::to_string(kMaxLineLength));
      client.Close();
    } else {
      EXPECT_TRUE(client.WaitClosed());
      ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
      EXPECT_TRUE(rec.Read([&] { return rec.lines.empty(); }));
      const auto errors = rec.Read([&] { return rec.errors; });
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_NE(errors[0].find("line longer than 65536 bytes from 127.0.0.1"), std::string::npos) << errors[0];
    }
    server->Stop();
  }
}

TEST(TcpServerConnections, TheEleventhConnectionIsClosedAtOnce) {
  Recorder rec;
  auto server = StartServer(EchoEvents(rec));
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 10; ++i) clients.push_back(std::make_unique<Client>(server->Port()));
  ASSERT_TRUE(rec.WaitFor([&] { return rec.connects == 10; }));
  // All ten are served at once, each on its own thread.
  for (int i = 0; i < 10; ++i) clients[i]->Send("c" + std::to_string(i) + "\n");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(clients[i]->ReadLine(), "ECHO:c" + std::to_string(i));

  Client eleventh(server->Port());
  eleventh.Send("c10\n");
  EXPECT_TRUE(eleventh.WaitClosed());
  EXPECT_EQ(rec.Read([&] { return rec.connects; }), 10);
  EXPECT_EQ(server->ConnectionCount(), 10u);

  // When one leaves, the next is admitted.
  clients[0]->Close();
  ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
  ASSERT_TRUE(rec.WaitFor([&] { return rec.connects == 10; }));
  for (int tries = 0; server->ConnectionCount() != 9 && tries < 500; ++tries) std::this_thread::sleep_for(10ms);
  Client next(server->Port());
  next.Send("again\n");
  EXPECT_EQ(next.ReadLine(), "ECHO:again");
  EXPECT_EQ(rec.Read([&] { return rec.connects; }), 11);

  server->Stop();
  EXPECT_EQ(rec.Read([&] { return rec.disconnects; }), 11);
  EXPECT_EQ(server->ConnectionCount(), 0u);
}

TEST(TcpServerConnections, APeerClosingMidLine) {
  Recorder rec;
  auto server = StartServer(EchoEvents(rec));
  {
    // Closing its sending side only: the whole line is still answered, the cut-off one
    // is dropped, and the server then ends the connection.
    Client client(server->Port());
    client.Send("first\nsec");
    client.ShutdownWrite();
    EXPECT_EQ(client.ReadLine(), "ECHO:first");
    EXPECT_TRUE(client.WaitClosed());
    ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
  }
  {
    // Gone entirely: the answer to the whole line has nowhere to go, which is no error.
    Client client(server->Port());
    client.Send("GetData\nGetDa");
    client.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 2; }));
  }
  EXPECT_EQ(rec.Read([&] { return rec.lines; }), (std::vector<std::string>{"first", "GetData"}));
  EXPECT_TRUE(rec.Read([&] { return rec.errors.empty(); }));
  EXPECT_EQ(rec.Read([&] { return rec.notes; }),
            (std::vector<std::string>{"disconnect connected=0", "disconnect connected=0"}));
  server->Stop();
}

TEST(TcpServerConnections, AVanishedPeerGivesClosedNeverSigpipe) {
  // The default action of SIGPIPE ends the process: a send without MSG_NOSIGNAL would.
  std::signal(SIGPIPE, SIG_DFL);
  Recorder rec;
  TcpServer::Events events = EchoEvents(rec);
  events.OnExecute = [&rec](Connection& conn) {
    conn.ReadLine();
    const std::string chunk(1 << 20, 'p');
    try {
      for (int i = 0; i < 1000; ++i) conn.Write(chunk);
      rec.Change([&] { rec.notes.push_back("all written"); });
    } catch (const ENetError& e) {
      rec.Change([&] { rec.notes.push_back(e.kind() == ENetError::Kind::Closed ? "closed" : e.what()); });
      throw;
    }
  };
  auto server = StartServer(events);
  {
    Client client(server->Port());
    client.Send("GetMess\n");
    client.ReadBytes(1000);
  }
  ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
  EXPECT_EQ(rec.Read([&] { return rec.notes.front(); }), "closed");
  EXPECT_TRUE(rec.Read([&] { return rec.errors.empty(); }));
  server->Stop();
}

TEST(TcpServerConnections, BytesAfterTheirLineArriveWhole) {
  // The size of the full display picture; the receiver reads slowly, so the sender's
  // socket buffer fills and the write has to go on in pieces.
  constexpr size_t kSize = 3932214;
  std::string picture(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) picture[i] = static_cast<char>((i * 7919u) >> 3);
  Recorder rec;
  TcpServer::Events events = EchoEvents(rec);
  events.OnExecute = [&](Connection& conn) {
    conn.ReadLine();
    conn.WriteLine("IMAGE:[m]" + std::to_string(picture.size()));
    conn.Write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(picture.data()), picture.size()));
    conn.WriteLine("SaveMessOK:[m]");
  };
  auto server = StartServer(events);
  Client client(server->Port());
  client.Send("GetMess\n");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(client.ReadLine(), "IMAGE:[m]3932214");
  std::string received;
  while (received.size() < kSize) {
    const std::string piece = client.ReadBytes(std::min<size_t>(100000, kSize - received.size()));
    if (piece.empty()) break;
    received += piece;
  }
  EXPECT_TRUE(received == picture) << "picture bytes differ";
  EXPECT_EQ(client.ReadLine(), "SaveMessOK:[m]");
  server->Stop();
}

TEST(TcpServerConnections, PeerAddressStateAndDisconnectFromAnotherThread) {
  Recorder rec;
  TcpServer::Events events = EchoEvents(rec);
  const auto on_connect = events.OnConnect;
  events.OnConnect = [&rec, on_connect](Connection& c) {
    rec.Change([&] {
      rec.notes.push_back(c.PeerIP() + ":" + std::to_string(c.PeerPort()) + (c.Connected() ? " connected" : ""));
    });
    on_connect(c);
  };
  auto server = StartServer(events);
  Client client(server->Port());
  ASSERT_TRUE(rec.WaitFor([&] { return rec.connects == 1; }));
  EXPECT_EQ(rec.Read([&] { return rec.notes.at(0); }),
            "127.0.0.1:" + std::to_string(client.LocalPort()) + " connected");
  const auto connection = rec.Read([&] { return rec.connections.at(0); });
  EXPECT_TRUE(connection->Connected());
  // Reading and writing belong to the connection's thread.
  EXPECT_THROW(connection->ReadLine(), std::logic_error);
  EXPECT_THROW(connection->WriteLine("x"), std::logic_error);

  // The window disconnects a client from the GUI thread while its thread waits in a read.
  connection->Disconnect();
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
  EXPECT_FALSE(connection->Connected());
  EXPECT_EQ(connection->PeerIP(), "127.0.0.1");  // still readable after the end
  connection->Disconnect();                       // once more: nothing happens
  server->Stop();
}

TEST(TcpServerConnections, AThrowingHandlerEndsOnlyItsConnection) {
  Recorder rec;
  TcpServer::Events events = EchoEvents(rec);
  events.OnExecute = [](Connection& conn) {
    const std::string line = conn.ReadLine();
    if (line == "fail") throw std::runtime_error("cannot write the file");
    conn.WriteLine("ECHO:" + line);
  };
  auto server = StartServer(events);
  Client good(server->Port());
  Client bad(server->Port());
  bad.Send("fail\n");
  EXPECT_TRUE(bad.WaitClosed());
  ASSERT_TRUE(rec.WaitFor([&] { return rec.disconnects == 1; }));
  EXPECT_EQ(rec.Read([&] { return rec.errors; }), std::vector<std::string>{"cannot write the file"});
  good.Send("still here\n");
  EXPECT_EQ(good.ReadLine(), "ECHO:still here");
  server->Stop();
}

TEST(TcpServerLifecycle, StartStopAndPorts) {
  Recorder rec;
  auto server = StartServer(EchoEvents(rec));
  EXPECT_TRUE(server->Active());
  const uint16_t port = server->Port();
  EXPECT_NE(port, 0);

  // The port is taken while the first one listens.
  TcpServer second;
  second.DefaultPort = port;
  second.BindAddress = "127.0.0.1";
  try {
    second.Start();
    ADD_FAILURE() << "a second server listened on a taken port";
  } catch (const ENetError& e) {
    EXPECT_EQ(e.kind(), ENetError::Kind::Socket);
    EXPECT_NE(std::string(e.what()).find(std::to_string(port)), std::string::npos) << e.what();
  }
  EXPECT_FALSE(second.Active());
  second.BindAddress = "not an address";
  EXPECT_THROW(second.Start(), ENetError);

  {
    Client client(server->Port());
    client.Send("x\n");
    EXPECT_EQ(client.ReadLine(), "ECHO:x");
    // Stop ends the connection while its thread waits for the next line.
    server->Stop();
    EXPECT_TRUE(client.WaitClosed());
  }
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(server->Port(), 0);
  EXPECT_EQ(rec.Read([&] { return rec.disconnects; }), 1);
  server->Stop();  // not active: nothing

  // The same port again at once, though the old connection may linger in TIME_WAIT.
  server->DefaultPort = port;
  server->Start();
  EXPECT_EQ(server->Port(), port);
  Client again(port);
  again.Send("y\n");
  EXPECT_EQ(again.ReadLine(), "ECHO:y");
}

// --- handing work to the GUI thread -----------------------------------------------------
// The scripted UI's GUI thread is the test's thread: handed-over work runs only when the
// test pumps it, or when Stop does.

TEST(TcpServerGui, HandedOverWorkRunsOnTheGuiThread) {
  ui::ScriptedUi gui;
  ui::ScopedServices installed(gui);
  Recorder rec;
  TcpServer::Events events = EchoEvents(rec);
  const std::thread::id gui_thread = std::this_thread::get_id();
  events.OnExecute = [&](Connection& conn) {
    const std::string line = conn.ReadLine();
    std::thread::id ran_on;
    try {
      conn.RunOnGuiThread([&] {
        ran_on = std::this_thread::get_id();
        if (line == "throw") throw std::runtime_error("no picture");
      });
      conn.WriteLine(ran_on == gui_thread ? "on the GUI thread" : "elsewhere");
    } catch (const std::runtime_error& e) {
      conn.WriteLine(std::string("error: ") + e.what());
    }
  };
  auto server = StartServer(events);
  Client client(server->Port());
  client.Send("go\n");
  // The handler waits until the GUI thread takes the work.
  while (gui.ProcessPending() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(client.ReadLine(), "on the GUI thread");
  client.Send("throw\n");
  while (gui.ProcessPending() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(client.ReadLine(), "error: no picture");
  server->Stop();
}

// What the tests of Stop run: every line is handed to the GUI thread; the disconnect event
// hands over a log line too, as the window does.
TcpServer::Events GuiEvents(Recorder& rec) {
  TcpServer::Events events = EchoEvents(rec);
  events.OnExecute = [&rec](Connection& conn) {
    const std::string line = conn.ReadLine();
    rec.Change([&] { rec.lines.push_back(line); });
    try {
      conn.RunOnGuiThread([&] { rec.Change([&] { rec.notes.push_back("work: " + line); }); });
    } catch (const ENetError& e) {
      rec.Change([&] { rec.notes.push_back(e.kind() == ENetError::Kind::Stopped ? "refused: " + line : e.what()); });
      throw;
    }
  };
  events.OnDisconnect = [&rec](Connection& conn) {
    try {
      conn.RunOnGuiThread([&] { rec.Change([&] { rec.notes.push_back("log: disconnected"); }); });
    } catch (const ENetError& e) {
      rec.Change([&] { rec.notes.push_back(e.kind() == ENetError::Kind::Stopped ? "refused: log" : e.what()); });
    }
    rec.Change([&] { ++rec.disconnects; });
  };
  return events;
}

TEST(TcpServerGui, StopOnTheGuiThreadCarriesOutWaitingWork) {
  ui::ScriptedUi gui;
  ui::ScopedServices installed(gui);
  Recorder rec;
  auto server = StartServer(GuiEvents(rec));
  Client first(server->Port());
  Client second(server->Port());
  first.Send("GetData\n");
  second.Send("GetMess\n");
  ASSERT_TRUE(rec.WaitFor([&] { return rec.lines.size() == 2; }));
  // Both handlers now wait for the GUI thread, which is here, about to stop the server.
  {
    Watchdog watchdog("Stop on the GUI thread");
    server->Stop();
  }
  auto notes = rec.Read([&] { return rec.notes; });
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes, (std::vector<std::string>{"log: disconnected", "log: disconnected", "work: GetData",
                                             "work: GetMess"}));
  EXPECT_EQ(rec.Read([&] { return rec.disconnects; }), 2);
  // The hand-overs the dispatcher still holds find nothing left to do.
  gui.ProcessPending();
  EXPECT_EQ(rec.Read([&] { return rec.notes.size(); }), 4u);
}

TEST(TcpServerGui, StopOffTheGuiThreadRefusesWaitingWork) {
  ui::ScriptedUi gui;  // never pumped while the server stops: a GUI thread that is busy
  ui::ScopedServices installed(gui);
  Recorder rec;
  auto server = StartServer(GuiEvents(rec));
  Client client(server->Port());
  client.Send("GetData\n");
  ASSERT_TRUE(rec.WaitFor([&] { return rec.lines.size() == 1; }));
  {
    Watchdog watchdog("Stop off the GUI thread");
    std::thread stopper([&] { server->Stop(); });
    stopper.join();
  }
  EXPECT_EQ(rec.Read([&] { return rec.notes; }), (std::vector<std::string>{"refused: GetData", "refused: log"}));
  EXPECT_TRUE(client.WaitClosed());
  // Refused work never runs later either.
  gui.ProcessPending();
  EXPECT_EQ(rec.Read([&] { return rec.notes.size(); }), 2u);

  // A new start takes work again.
  server->Start();
  Client again(server->Port());
  again.Send("GetImg\n");
  ASSERT_TRUE(rec.WaitFor([&] { return rec.lines.size() == 2; }));
  while (gui.ProcessPending() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(rec.Read([&] { return rec.notes.back(); }), "work: GetImg");
  Watchdog watchdog("second Stop");
  server->Stop();
}

TEST(TcpServerGui, StopThatWouldWaitForItselfIsRefused) {
  ui::ScriptedUi gui;
  ui::ScopedServices installed(gui);
  Recorder rec;
  TcpServer* server_ptr = nullptr;
  TcpServer::Events events = EchoEvents(rec);
  events.OnExecute = [&](Connection& conn) {
    const std::string line = conn.ReadLine();
    auto stop = [&] {
      try {
        server_ptr->Stop();
        return std::string("stopped");
      } catch (const std::logic_error&) {
        return std::string("refused");
      }
    };
    std::string outcome;
    if (line == "on connection thread") outcome = stop();
    if (line == "in GUI work") conn.RunOnGuiThread([&] { outcome = stop(); });
    conn.WriteLine(outcome);
  };
  auto server = StartServer(events);
  server_ptr = server.get();
  Client client(server->Port());
  client.Send("on connection thread\n");
  EXPECT_EQ(client.ReadLine(), "refused");
  client.Send("in GUI work\n");
  while (gui.ProcessPending() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(client.ReadLine(), "refused");
  EXPECT_TRUE(server->Active());
  Watchdog watchdog("Stop");
  server->Stop();
}

TEST(TcpHost, SocketsAndTheHostAddress) {
  EXPECT_TRUE(isTCPIP());
  // Python's host entry lookup is the reference: its first IPv4 address, else loopback.
  FILE* python = popen(
      "python3 -c \"import socket\n"
      "try: print(socket.gethostbyname_ex(socket.gethostname())[2][0])\n"
      "except Exception: print('127.0.0.1')\"",
      "r");
  ASSERT_NE(python, nullptr);
  char text[64] = {};
  const bool read = std::fgets(text, sizeof text, python) != nullptr;
  ASSERT_EQ(pclose(python), 0) << "python3 is needed (scripts/setup installs it)";
  ASSERT_TRUE(read);
  std::string expected(text);
  while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
  EXPECT_EQ(GetIPAddress(), expected);
}

}  // namespace
}  // namespace platform::net
