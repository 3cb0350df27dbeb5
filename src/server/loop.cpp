#include "server/loop.hpp"

#include <exception>

#include "server/dispatch.hpp"
#include "server/message.hpp"
#include "server/utf8.hpp"

void handleLine(std::string& line, Output& out, const Automation& automation) try {
  repairUtf8(line);
  std::optional<Message> message = parseMessage(line);
  // A line of megabytes is of no use once parsed; keeping it while the message is handled
  // would hold its size twice over.
  if (line.capacity() >= (std::size_t{1} << 20)) std::string().swap(line);
  if (!message) return reply("null", Failure{-32700, "Parse error", nullptr}, out);
  handle(*message, out, automation);
} catch (const std::exception&) {
  // The one place where a failure while handling a line is caught, so that a bad line never
  // stops the next one. Nothing above is expected to throw; memory exhaustion could.
}

void serve(ReadSome readSome, Output& out, const Automation& automation) {
  LineReader reader(std::move(readSome));
  for (std::string line; !out.closed && reader.next(line);) {
    if (!line.empty()) handleLine(line, out, automation);
  }
}
