#include "server/read_ahead.hpp"

#include <algorithm>

#include "server/era.hpp"
#include "server/utf8.hpp"

using nlohmann::json;

namespace {

// Takes the request `id` names out of the way: true when that is the call in flight, else the
// first such request still in line is forgotten.
bool withdraw(ReadAhead& ahead, const json& id) {
  if (ahead.inFlight != nullptr && sameId(*ahead.inFlight, id)) return true;
  const auto named = std::find_if(ahead.lines.begin(), ahead.lines.end(),
                                  [&](const Queued& queued) { return queued.cancellable && sameId(queued.id, id); });
  if (named != ahead.lines.end()) {
    ahead.bytes -= named->line.size();
    ahead.lines.erase(named);
  }
  return false;
}

bool full(const LineReader& reader, const ReadAhead& ahead) {
  return ahead.lines.size() >= readAheadLines || ahead.bytes + reader.held() >= readAheadBytes;
}

}  // namespace

std::optional<json> cancelledId(const Message& message) {
  const json& body = message.body;
  const auto method = body.find("method");
  if (!message.id.empty() || method == body.end() || *method != "notifications/cancelled") return std::nullopt;
  const auto params = body.find("params");
  if (params == body.end() || !params->is_object()) return std::nullopt;
  const auto id = params->find("requestId");
  if (id == params->end() || !(id->is_string() || id->is_number())) return std::nullopt;
  return *id;
}

bool cancellable(const Message& message) {
  const auto params = message.body.find("params");
  return !message.id.empty() && params != message.body.end() && params->is_object() &&
         speaksPerRequestRevision(*params);
}

bool sameId(const json& a, const json& b) { return a == b; }

Heard readAhead(LineReader& reader, ReadAhead& ahead, bool readable) try {
  if (full(reader, ahead)) return Heard::StopWatching;
  // A client may send a request and its cancellation in one write: what came with the request
  // counts before anything is read.
  if (readable) reader.fill();
  bool dropped = false;
  for (std::string line; !full(reader, ahead) && reader.take(line);) {
    if (line.empty()) continue;
    repairUtf8(line);
    const std::optional<Message> message = parseMessage(line);
    if (message) {
      if (const std::optional<json> id = cancelledId(*message)) {
        dropped = withdraw(ahead, *id) || dropped;
        continue;  // a notification: it has no answer, and nothing else to do in its turn
      }
    }
    Queued queued{std::move(line), nullptr, message && cancellable(*message)};
    if (queued.cancellable) queued.id = *message->body.find("id");
    ahead.bytes += queued.line.size();
    ahead.lines.push_back(std::move(queued));
  }
  if (dropped) return Heard::Drop;
  return reader.ended() || full(reader, ahead) ? Heard::StopWatching : Heard::Nothing;
} catch (const std::exception&) {
  return Heard::StopWatching;  // memory ran short: read no further until the call ends
}
