#include "support/app.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The Content-Length a request head names, 0 when it names none. libcurl writes it this way.
std::size_t contentLength(const std::string& head) {
  const std::size_t at = head.find("\r\nContent-Length:");
  return at == std::string::npos ? 0 : std::strtoull(head.c_str() + at + 17, nullptr, 10);
}

}  // namespace

std::string readRequest(int fd, int seconds) {
  std::string request;
  std::size_t wanted = std::string::npos;  // the whole request's size, once the head is in
  char buffer[65536];
  while (request.size() < wanted) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, seconds * 1000) <= 0) break;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
    if (wanted == std::string::npos) {
      const std::size_t end = request.find("\r\n\r\n");
      if (end != std::string::npos) wanted = end + 4 + contentLength(request.substr(0, end + 2));
    }
  }
  return request;
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string httpResponse(int status, std::string_view body) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " Whatever\r\nContent-Type: application/json\r\n" +
                         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  response.append(body);
  return response;
}

RawApp::RawApp(int status, std::string body)
    : RawApp([this, response = httpResponse(status, body)](int fd) {
        std::string request = readRequest(fd);
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(std::move(request));
        }
        sendAll(fd, response);
      }) {}

RawApp::RawApp(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  // A client that hangs up early must show as a failed write here, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;  // port() stays -1 and the test fails on it
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { acceptLoop(); });
}

RawApp::~RawApp() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

std::vector<std::string> RawApp::requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RawApp::acceptLoop() {
  while (!stopping_) {
    // Woken regularly to notice the destructor; nothing is waited on without a bound.
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 20) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    ++connections_;
    behaviour_(fd);
    ::close(fd);
  }
}
