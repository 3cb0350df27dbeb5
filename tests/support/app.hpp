#pragma once
// An app on loopback that speaks raw bytes: well-formed answers, and the ways of breaking HTTP
// that a server library would not produce. POSIX sockets only, so the fuzzer can use it too.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Reads one HTTP request from `fd`: the head up to the empty line, then as many body bytes as
// its Content-Length names. Gives up after `seconds` of silence; returns what arrived.
std::string readRequest(int fd, int seconds = 10);

// Writes all of `bytes` to `fd`. False once the peer is gone.
bool sendAll(int fd, std::string_view bytes);

// A complete response with a Content-Length and "Connection: close".
std::string httpResponse(int status, std::string_view body);

class RawApp {
 public:
  // Called once for each accepted connection, on the listener's thread; the connection is
  // closed when it returns. Connections are served one at a time, as the server calls.
  using Behaviour = std::function<void(int fd)>;

  // Listens on 127.0.0.1 on a port the system picks.
  explicit RawApp(Behaviour behaviour);
  // Answers every request with `status` and `body`, and keeps each request it read.
  RawApp(int status, std::string body);
  ~RawApp();  // stops accepting, waits for the connection in hand, closes the socket

  RawApp(const RawApp&) = delete;
  RawApp& operator=(const RawApp&) = delete;

  int port() const { return port_; }
  int connections() const { return connections_.load(); }
  std::vector<std::string> requests();  // whole requests as read, head and body

 private:
  void acceptLoop();

  Behaviour behaviour_;
  int listener_ = -1;
  int port_ = -1;
  std::atomic<int> connections_{0};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};
