#include "server/loop.hpp"

#include <exception>

#include "server/dispatch.hpp"
#include "server/utf8.hpp"

using nlohmann::json;

bool nestsDeeperThan(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

namespace {

void sendParseError(Output& out) {
  send({{"jsonrpc", "2.0"}, {"id", nullptr}, {"error", {{"code", -32700}, {"message", "Parse error"}}}},
       out);
}

}  // namespace

void handleLine(std::string& line, Output& out) {
  repairUtf8(line);
  if (nestsDeeperThan(line, maxNesting)) return sendParseError(out);
  // JSON text never holds a raw NUL, and the parser would take one for the end of the input,
  // passing "{...}\0anything" as the object alone.
  if (line.find('\0') != std::string::npos) return sendParseError(out);
  json message = json::parse(line, nullptr, /*allow_exceptions=*/false);
  // A line of megabytes is of no use once parsed; keeping it while the message is handled
  // would hold its size twice over.
  if (line.capacity() >= (std::size_t{1} << 20)) std::string().swap(line);
  if (!message.is_object()) return sendParseError(out);
  // The one place where a failure while handling a message is caught, so that a bad message
  // never stops the next one. Nothing below is expected to throw; memory exhaustion could.
  try {
    handle(message, out);
  } catch (const std::exception&) {
  }
}

void serve(ReadSome readSome, Output& out) {
  LineReader reader(std::move(readSome));
  for (std::string line; !out.closed && reader.next(line);) {
    if (!line.empty()) handleLine(line, out);
  }
}
