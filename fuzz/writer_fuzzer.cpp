// libFuzzer, differential: the server's JSON writer against the library's dump(), with the
// settings the server wrote answers with before the writer was its own. Any bytes, repaired
// as the server repairs what reaches it, are a string; parsed, they are a value, taken both
// as an ordered and as a sorted object, as the server holds both kinds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "server/json_writer.hpp"
#include "server/message.hpp"
#include "server/utf8.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// A finding that no sanitizer would report: libFuzzer records the input that led here.
void require(bool holds) {
  if (!holds) std::abort();
}

template <class Json>
std::string dumped(const Json& value) {
  return value.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

// Checks `text` and, when it is short, the text of it repeated past the first 4 KiB: the writer
// passes its output on a few KiB at a time, and the input then also decides which of its bytes
// fall where one piece ends and the next begins. Valid UTF-8 is escaped character by character,
// so the library's text for the repeats is its text for `text` repeated, without a slow dump().
void checkString(const std::string& text) {
  const std::string expected = dumped(json(text));
  std::string line = "[";
  appendJsonString(line, text);
  require(line == "[" + expected);
  if (text.empty() || text.size() >= 4096) return;
  const std::string_view escaped = std::string_view(expected).substr(1, expected.size() - 2);
  std::string longer, longerExpected = "\"";
  while (longer.size() < 4096 + text.size()) {
    longer += text;
    longerExpected += escaped;
  }
  line = "[";
  appendJsonString(line, longer);
  require(line == "[" + longerExpected + "\"");
}

template <class Json>
void checkValue(const std::string& text) {
  // Nesting is bounded as the server's own parser bounds it: dump() recurses.
  const auto shallow = [](int depth, typename Json::parse_event_t, Json&) { return depth <= int{maxNesting}; };
  const Json value = Json::parse(text, shallow, /*allow_exceptions=*/false);
  if (value.is_discarded()) return;
  std::string line = "[";
  appendJson(line, value);
  require(line == "[" + dumped(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  repairUtf8(text);
  checkString(text);
  checkValue<json>(text);
  checkValue<ordered_json>(text);
  return 0;
}
