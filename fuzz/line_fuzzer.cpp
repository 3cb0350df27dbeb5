// libFuzzer over the message loop: any bytes as client input, split into lines and handled as
// the server would. Beyond the sanitizers' findings, every answer must be one line of valid
// UTF-8 holding a JSON-RPC response, and no line may get more than one answer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

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
  for (std::string_view rest = written; !rest.empty(); ++answers) {
    const std::size_t feed = rest.find('\n');
    require(feed != std::string_view::npos);  // every answer ends with its line feed
    checkAnswer(rest.substr(0, feed));
    rest.remove_prefix(feed + 1);
  }
  // Each line feed (and the end of input) ends at most one line, and each line has one answer.
  require(answers <= static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1);
  return 0;
}
