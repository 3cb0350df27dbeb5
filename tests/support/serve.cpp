#include "support/serve.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "server/loop.hpp"

using nlohmann::json;

std::string serveCaptured(std::string_view input, std::size_t piece, const Automation& automation) {
  // A pipe, as the real standard input is, so that what arrives during a tool call is read
  // ahead as it would be; the writer may block on it, so it has a thread of its own.
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stopped early shows as a failed write
  int ends[2];
  if (::pipe(ends) != 0) return "pipe failed";
  std::thread writer([&input, in = ends[1]] {
    for (std::string_view rest = input; !rest.empty();) {
      const ssize_t written = ::write(in, rest.data(), rest.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      rest.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(in);
  });
  const ReadSome readPipe = readFrom(ends[0]);
  const ReadSome readSome = [&](char* buffer, std::size_t size) { return readPipe(buffer, std::min(size, piece)); };
  std::string written;
  Output out{[&](std::string_view line) {
    written.append(line);
    return true;
  }};
  serve(readSome, out, automation, ends[0]);
  ::close(ends[0]);  // the loop read to the end, or the writer must not be left blocked
  writer.join();
  return written;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    lines.emplace_back(text.substr(0, feed));
    text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
  }
  return lines;
}

std::vector<std::string> serveText(std::string_view input, const Automation& automation) {
  return splitLines(serveCaptured(input, 4093, automation));
}

std::vector<json> answersTo(std::string_view input, const Automation& automation) {
  std::vector<json> answers;
  for (const std::string& line : serveText(input, automation)) answers.push_back(json::parse(line));
  return answers;
}

json callTool(const Automation& automation, const std::string& tool, const json& arguments) {
  const json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                        {"params", {{"name", tool}, {"arguments", arguments}}}};
  const std::vector<json> answers = answersTo(request.dump() + "\n", automation);
  return answers.size() == 1 ? answers[0].value("result", json()) : json();
}

std::string textOf(const json& result) {
  const auto pointer = "/content/0/text"_json_pointer;
  if (!result.is_object() || !result.contains(pointer) || !result.at(pointer).is_string()) return "";
  return result.at(pointer).get<std::string>();
}

std::string ping(std::string_view idText, std::string_view extra) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(idText) + R"(,"method":"ping")" + std::string(extra) + "}";
}
