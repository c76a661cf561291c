#pragma once
// The TCP server of the result exchange: POSIX sockets, IPv4, one thread per connection.
//
// A connection's life runs on its own thread: the connect event, then the execute event
// each time input is waiting, until the peer closes, the connection is disconnected, a
// handler throws, or the server stops; then the disconnect event, and the socket is closed.
// Every connection that got a connect event gets exactly one disconnect event.
//
// Lines travel as bytes (UTF-8 by agreement with the clients): a received line ends with
// LF and a CR right before the LF is dropped; a sent line ends with CR LF.
//
// Handlers that read or change window state hand that work to the GUI thread with
// Connection::RunOnGuiThread, never with the UI services' RunOnGuiThread directly: the
// server's Stop, which joins every connection thread, runs on the GUI thread as a rule, and
// only work handed over through the connection can still be carried out (or refused) while
// Stop waits.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace platform::net {

class ENetError : public std::runtime_error {
 public:
  enum class Kind {
    Closed,       // the peer closed, or the connection was disconnected; nothing more is read or sent
    LineTooLong,  // a received line exceeded kMaxLineLength; the connection was closed
    Stopped,      // the server stops and the GUI thread will not run the handed-over work
    Socket,       // a socket call failed (the text names the call and the system's reason)
  };
  ENetError(Kind kind, const std::string& what);
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// A received line longer than this (without its LF and a CR before it) ends the connection:
// no command is that long, and a peer that never sends LF must not make us buffer without end.
inline constexpr size_t kMaxLineLength = 64 * 1024;

namespace detail {
struct ServerState;
struct ConnectionThread;
}  // namespace detail

class Connection : public std::enable_shared_from_this<Connection> {
  struct Key {};  // only the server creates connections

 public:
  Connection(Key, int fd, std::string peer_ip, uint16_t peer_port, uint64_t id,
             std::shared_ptr<detail::ServerState> server);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // --- on the connection's own thread only (anything else is a programming error and
  // throws std::logic_error): the socket is closed by that thread when the connection ends.

  // The next line without its line end. Blocks until a whole line is there. Throws
  // ENetError Closed when the connection ends first (an unfinished last line is dropped:
  // a command cut off by a vanishing peer must not run), LineTooLong after closing the
  // connection, Socket on a failed read.
  std::string ReadLine();
  // The bytes received and not yet read, without waiting.
  size_t BufferedBytes() const { return in_.size(); }
  // `text` and CR LF, in one send.
  void WriteLine(std::string_view text);
  // Every byte, however many sends it takes. A peer that has gone gives ENetError Closed,
  // never a SIGPIPE.
  void Write(std::span<const uint8_t> bytes);
  void Write(std::string_view bytes);

  // --- from any thread.

  // The peer's IPv4 address in dotted form, and its port.
  const std::string& PeerIP() const { return peer_ip_; }
  uint16_t PeerPort() const { return peer_port_; }
  // A number unique within the process, for logs.
  uint64_t Id() const { return id_; }
  // True until the connection is known to have ended (peer closed, disconnected, stopped).
  bool Connected() const;
  // Ends the connection: a read or write in progress returns with ENetError Closed, and the
  // connection's thread sends the disconnect event. Does nothing once ended.
  void Disconnect();

  // Runs `work` on the GUI thread and waits for it (at once when called on the GUI thread).
  // An exception thrown by `work` is thrown again here. While the server stops on the GUI
  // thread, Stop runs such work itself; when it stops on another thread, work that has not
  // started is dropped and this throws ENetError Stopped.
  void RunOnGuiThread(const std::function<void()>& work);

 private:
  friend class TcpServer;
  friend struct detail::ConnectionThread;

  void CheckOwnThread(const char* operation) const;
  // Waits until at least one byte is buffered; false when the connection ends first.
  bool WaitForInput();
  // Waits for bytes beyond those buffered; false when the connection ends first.
  bool WaitForMoreInput();
  void DiscardInput() {
    in_.clear();
    scanned_ = 0;
  }
  // One recv into the buffer; false at the peer's end of stream.
  bool Receive();
  // Marks the connection ended and shuts the socket down (wakes a blocked read or write).
  void Shutdown();
  // Closes the socket (the connection's thread, at its end).
  void CloseSocket();

  int fd_;  // shut down under mutex_ by anyone, closed under mutex_ by the connection's thread
  const std::string peer_ip_;
  const uint16_t peer_port_;
  const uint64_t id_;
  const std::shared_ptr<detail::ServerState> server_;
  std::atomic<std::thread::id> owner_{};

  std::mutex mutex_;
  std::atomic<bool> ended_{false};  // we ended it (disconnect, stop, error); set under mutex_
  std::atomic<bool> eof_{false};    // the peer closed its side

  // The connection's thread only.
  std::string in_;          // received, not yet read
  size_t scanned_ = 0;      // bytes at the start of in_ known to hold no LF
  uint64_t receives_ = 0;   // successful reads from the socket
};

class TcpServer {
 public:
  // Called on the connection's thread. Set them before Start: Start takes a copy.
  struct Events {
    std::function<void(Connection&)> OnConnect;
    // Called each time input is waiting; as a rule it reads one line. Without it, input is
    // read and dropped.
    std::function<void(Connection&)> OnExecute;
    std::function<void(Connection&)> OnDisconnect;
    // A handler threw (or a line was too long): the text, before the connection ends.
    // The ordinary ends of a connection (peer closed, disconnected, stopped) are not errors.
    std::function<void(Connection&, const std::string&)> OnException;
  };

  TcpServer();
  // Stops the server.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  Events events;
  // The port to listen on; 0 takes any free port (Port() tells which).
  uint16_t DefaultPort = 50000;
  // The IPv4 address to listen on; empty: every local address.
  std::string BindAddress;
  // Connections beyond this many at once are closed as soon as they are accepted, without
  // any event.
  int MaxConnections = 10;

  // Listens and accepts. Throws ENetError Socket when the address cannot be bound. Does
  // nothing when active.
  void Start();
  // Stops accepting, ends every connection, and returns when every connection's thread has
  // sent its disconnect event and ended. Never deadlocks with a handler waiting for the GUI
  // thread (see Connection::RunOnGuiThread). Calling it from a connection's thread, or from
  // work a connection handed to the GUI thread, would wait for itself and throws
  // std::logic_error. Does nothing when not active.
  void Stop();

  bool Active() const;
  // The port listened on while active, else 0.
  uint16_t Port() const;
  // The connections accepted whose thread has not ended yet.
  size_t ConnectionCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True when a TCP socket can be made on this machine.
bool isTCPIP();
// The first IPv4 address of this machine's host name in dotted form, or "127.0.0.1" when
// the name does not resolve to one.
std::string GetIPAddress();

}  // namespace platform::net
