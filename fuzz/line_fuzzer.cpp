// libFuzzer over the message loop: any bytes as client input, split into lines and handled as
// the server would, what arrives during a tool call read ahead and cancellations applied.
// Beyond the sanitizers' findings, every answer must be one line of valid UTF-8 holding a
// JSON-RPC response, no line may get more than one answer, and answers keep the order of the
// requests, however many of them a cancellation took away.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/lines.hpp"
#include "server/message.hpp"
#include "server/utf8.hpp"
#include "support/app.hpp"
#include "support/serve.hpp"

using nlohmann::json;

namespace {

// Inputs of even length are aimed at an app that answers at once, odd ones at port 1, where
// nothing listens, so both outcomes of a call are explored and each input is replayable.
Automation answering{1};
const Automation nobody{1};

// A finding that no sanitizer would report: libFuzzer records the input that led here.
void require(bool holds) {
  if (!holds) std::abort();
}

void checkAnswer(std::string_view line) {
  require(isValidUtf8(line));
  const json answer = json::parse(line, nullptr, /*allow_exceptions=*/false);
  require(answer.is_object() && answer.size() == 3);
  const auto version = answer.find("jsonrpc");
  require(answer.contains("id") && version != answer.end() && *version == "2.0");
  require(answer.contains("result") != answer.contains("error"));
  if (answer.contains("error")) {
    const json& error = *answer.find("error");
    require(error.is_object() && error.contains("code") && error.contains("message"));
    require(error.find("code")->is_number_integer() && error.find("message")->is_string());
    // Only a refused revision says more: which revisions are served, and which was asked for.
    const bool refusedRevision = *error.find("code") == -32022;
    require(error.size() == (refusedRevision ? 3u : 2u));
    if (refusedRevision) require(error.find("data")->contains("supported") && error.find("data")->contains("requested"));
  }
}

// The ids of the lines that earn an answer, in the order they came: null for a parse error.
std::vector<json> answerable(std::string_view input) {
  std::vector<json> ids;
  LineReader reader([&](char* buffer, std::size_t size) {
    const std::size_t count = std::min(size, input.size());
    std::memcpy(buffer, input.data(), count);
    input.remove_prefix(count);
    return count;
  });
  for (std::string line; reader.next(line);) {
    if (line.empty()) continue;
    repairUtf8(line);
    const std::optional<Message> message = parseMessage(line);
    if (!message) ids.emplace_back(nullptr);
    else if (!message->id.empty()) ids.push_back(*message->body.find("id"));
  }
  return ids;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static RawApp instant([](int fd) {
    readRequest(fd, 5);
    sendAll(fd, httpResponse(200, "{\"ok\":true}"));
  });
  answering.port = instant.port();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Read sizes of 1 to 256 bytes, chosen by the input, so that lines also straddle reads.
  const std::string written = serveCaptured(input, 1 + (size == 0 ? 0 : data[0]), size % 2 == 0 ? answering : nobody);

  std::size_t answers = 0;
  const std::vector<json> ids = answerable(input);
  std::size_t next = 0;  // the first request an answer may still be for
  for (std::string_view rest = written; !rest.empty(); ++answers) {
    const std::size_t feed = rest.find('\n');
    require(feed != std::string_view::npos);  // every answer ends with its line feed
    checkAnswer(rest.substr(0, feed));
    const json id = *json::parse(rest.substr(0, feed)).find("id");
    while (next < ids.size() && ids[next] != id) ++next;
    require(next < ids.size());  // an answer out of turn, or to no request
    ++next;
    rest.remove_prefix(feed + 1);
  }
  // Each line feed (and the end of input) ends at most one line, and each line has one answer.
  require(answers <= static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1);
  return 0;
}
