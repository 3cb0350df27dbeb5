#include "server/output.hpp"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "server/json_writer.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

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

// The start every answer shares, up to the value of "result" or "error".
std::string envelope(std::string_view id, std::string_view member) {
  std::string line = R"({"jsonrpc":"2.0","id":)";
  line.append(id).append(",\"").append(member).append("\":");
  return line;
}

}  // namespace

Output standardOutput() {
  return Output{[](std::string_view line) { return writeAll(STDOUT_FILENO, line); }};
}

std::string serialise(const json& value) {
  std::string text;
  appendJson(text, value);
  return text;
}

void send(std::string line, Output& out) {
  if (out.closed) return;
  line.push_back('\n');
  // A closed standard output means the client is gone; no answer can be delivered any more.
  if (!out.write(line)) out.closed = true;
}

Answer succeeded(ordered_json result, std::size_t expectedSize) {
  Answer answer;
  answer.result = std::move(result);
  answer.expectedSize = expectedSize;
  return answer;
}

Answer failed(std::int64_t code, std::string message) {
  Answer answer;
  answer.failure = Failure{code, std::move(message), nullptr};
  return answer;
}

void reply(std::string_view id, const ordered_json& result, Output& out, std::size_t expectedSize) {
  std::string line = envelope(id, "result");
  line.reserve(line.size() + expectedSize + 2);
  appendJson(line, result);
  line.push_back('}');
  send(std::move(line), out);
}

void reply(std::string_view id, const Failure& failure, Output& out) {
  ordered_json error = {{"code", failure.code}, {"message", failure.message}};
  if (!failure.data.is_null()) error["data"] = failure.data;
  std::string line = envelope(id, "error");
  appendJson(line, error);
  line.push_back('}');
  send(std::move(line), out);
}

void reply(std::string_view id, const Answer& answer, Output& out) {
  if (answer.failure) return reply(id, *answer.failure, out);
  reply(id, answer.result, out, answer.expectedSize);
}
