#include "server/loop.hpp"

#include <exception>

#include "server/dispatch.hpp"
#include "server/message.hpp"
#include "server/utf8.hpp"

void handleLine(std::string& line, Output& out, const Automation& automation, ReadAhead& ahead,
                const Watch& watch) try {
  repairUtf8(line);
  std::optional<Message> message = parseMessage(line);
  // A line of megabytes is of no use once parsed; keeping it while the message is handled
  // would hold its size twice over.
  if (line.capacity() >= (std::size_t{1} << 20)) std::string().swap(line);
  if (!message) return reply("null", Failure{-32700, "Parse error", nullptr}, out);
  ahead.inFlight = cancellable(*message) ? &*message->body.find("id") : nullptr;
  handle(*message, out, automation, watch);
  ahead.inFlight = nullptr;
} catch (const std::exception&) {
  ahead.inFlight = nullptr;
  // The one place where a failure while handling a line is caught, so that a bad line never
  // stops the next one. Nothing above is expected to throw; memory exhaustion could.
}

void serve(ReadSome readSome, Output& out, const Automation& automation, int inputFd) {
  LineReader reader(std::move(readSome));
  ReadAhead ahead;
  Watch watch;
  if (inputFd >= 0) watch = {inputFd, [&](bool readable) { return readAhead(reader, ahead, readable); }};
  for (std::string line; !out.closed;) {
    if (!ahead.lines.empty()) {
      line = std::move(ahead.lines.front().line);
      ahead.bytes -= line.size();
      ahead.lines.pop_front();
    } else if (!reader.next(line)) {
      break;
    }
    if (!line.empty()) handleLine(line, out, automation, ahead, watch);
  }
}
