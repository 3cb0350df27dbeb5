// HTTP/1.1 on POSIX sockets, as much of it as libcurl's POSTs need: a head, a body of
// Content-Length bytes, a 100 Continue when asked for, keep-alive. No server library, so the
// benchmark needs nothing the server does not, and links for macOS wherever the server does.
#include "fake_app.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "platform.hpp"

namespace {

struct Connection {
  int fd = -1;
  std::atomic<bool> done{false};
  std::thread thread;
};

bool readMore(int fd, std::string& buffer) {
  char chunk[1 << 16];
  for (;;) {
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got > 0) {
      buffer.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

// Head and body in one call where they fit, so that a small answer leaves in one segment.
bool sendAll(int fd, std::string_view head, std::string_view body) {
  while (!head.empty() || !body.empty()) {
    iovec parts[2] = {{const_cast<char*>(head.data()), head.size()}, {const_cast<char*>(body.data()), body.size()}};
    ssize_t n = writev(fd, parts, 2);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    const auto moved = static_cast<std::size_t>(n);
    const std::size_t ofHead = std::min(moved, head.size());
    head.remove_prefix(ofHead);
    body.remove_prefix(moved - ofHead);
  }
  return true;
}

// The value of header `name` (lower case) in `head`, or "" when it is absent.
std::string headerValue(const std::string& head, const std::string& name) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  auto at = lower.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  auto end = lower.find("\r\n", at);
  std::string value = lower.substr(at, end - at);
  value.erase(0, value.find_first_not_of(" \t"));
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  return value;
}

}  // namespace

struct FakeApp::State {
  int listener = -1;
  int port = 0;
  std::atomic<bool> stopping{false};
  std::thread thread;
  std::mutex mutex;  // guards answer and connections
  std::shared_ptr<const std::string> answer = std::make_shared<const std::string>("{}");
  std::list<Connection> connections;
  std::atomic<std::size_t> requests{0};
  std::atomic<std::size_t> largestBody{0};

  std::shared_ptr<const std::string> currentAnswer() {
    std::lock_guard lock(mutex);
    return answer;
  }

  // Requests on one connection, one after the other, until the client closes it.
  void serve(int fd) {
    std::string buffer;
    for (;;) {
      std::size_t headEnd;
      while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore(fd, buffer)) return;
      }
      const std::string head = buffer.substr(0, headEnd + 2);
      const std::size_t length = std::strtoull(headerValue(head, "content-length").c_str(), nullptr, 10);
      if (headerValue(head, "expect") == "100-continue" && !sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n", "")) return;
      const std::size_t whole = headEnd + 4 + length;
      buffer.reserve(whole);
      while (buffer.size() < whole) {
        if (!readMore(fd, buffer)) return;
      }
      std::size_t seen = largestBody.load();
      while (length > seen && !largestBody.compare_exchange_weak(seen, length)) {
      }
      const bool isPost = head.compare(0, 5, "POST ") == 0;
      if (isPost) ++requests;
      auto body = isPost ? currentAnswer() : std::make_shared<const std::string>();
      const std::string status = isPost ? "200 OK" : "405 Method Not Allowed";
      if (!sendAll(fd, "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(body->size()) + "\r\n\r\n", *body)) {
        return;
      }
      if (headerValue(head, "connection") == "close") return;
      buffer.erase(0, whole);
    }
  }

  void acceptLoop() {
    while (!stopping) {
      pollfd ready{listener, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      // Answers go out in one segment each; without this, Nagle's delay would measure the kernel.
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::lock_guard lock(mutex);
      // A client takes a connection for each call: the ones it has closed are collected here.
      for (auto it = connections.begin(); it != connections.end();) {
        if (!it->done) {
          ++it;
          continue;
        }
        it->thread.join();
        close(it->fd);
        it = connections.erase(it);
      }
      Connection& c = connections.emplace_back();
      c.fd = fd;
      // Closed only once its thread is joined, so that no other socket can take its number
      // while the destructor may still shut it down.
      c.thread = std::thread([this, &c] {
        serve(c.fd);
        shutdown(c.fd, SHUT_RDWR);
        c.done = true;
      });
    }
  }
};

FakeApp::FakeApp(int cpu) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (s.listener < 0 || bind(s.listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(s.listener, 64) != 0 || getsockname(s.listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (s.listener >= 0) close(s.listener);
    throw std::runtime_error("fake app: cannot listen on 127.0.0.1");
  }
  s.port = ntohs(address.sin_port);
  // The socket already listens, so requests made before the thread runs just queue. The
  // connections' threads are started from this one and inherit where it may run.
  s.thread = std::thread([&s, cpu] {
    if (cpu >= 0) pinToCpu(0, cpu);
    s.acceptLoop();
  });
}

FakeApp::~FakeApp() {
  State& s = *state_;
  s.stopping = true;
  s.thread.join();
  // A client that still holds a connection would keep its thread waiting for ever.
  for (Connection& c : s.connections) {
    shutdown(c.fd, SHUT_RDWR);
    c.thread.join();
    close(c.fd);
  }
  close(s.listener);
}

int FakeApp::port() const { return state_->port; }

void FakeApp::setAnswer(std::string body) {
  auto next = std::make_shared<const std::string>(std::move(body));
  std::lock_guard lock(state_->mutex);
  state_->answer = std::move(next);
}

std::size_t FakeApp::requests() const { return state_->requests.load(); }

std::size_t FakeApp::largestRequestBody() const { return state_->largestBody.load(); }
