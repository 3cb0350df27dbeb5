#include "server/output.hpp"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

using nlohmann::json;

namespace {

// Keeps writing until the whole line is out: pipes take large lines in pieces.
bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A client may hand us a non-blocking pipe; wait until it drains.
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    } else {
      return false;  // EPIPE and the like: the client is gone.
    }
  }
  return true;
}

}  // namespace

Output standardOutput() {
  return Output{[](std::string_view line) { return writeAll(STDOUT_FILENO, line); }};
}

std::string serialise(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

void send(const json& message, Output& out) {
  if (out.closed) return;
  std::string line = serialise(message);
  line.push_back('\n');
  // A closed standard output means the client is gone; no answer can be delivered any more.
  if (!out.write(line)) out.closed = true;
}

void reply(const json& id, json result, Output& out) {
  json message = json::object();
  message["jsonrpc"] = "2.0";
  message["id"] = id;
  message["result"] = std::move(result);
  send(message, out);
}

void reply(const json& id, std::int64_t errorCode, std::string_view message, Output& out) {
  json answer = json::object();
  answer["jsonrpc"] = "2.0";
  answer["id"] = id;
  answer["error"] = {{"code", errorCode}, {"message", message}};
  send(answer, out);
}
