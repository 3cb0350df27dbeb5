#pragma once
// Every answer leaves through send(): one compact JSON text and one line feed, written whole.
// What we write keeps its members in the order we build them (nlohmann::ordered_json): clients
// show parameters in the order they receive them, and people read the raw lines.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Where answers go. `write` takes one whole line and returns false once the reader is gone
// for good; after that `closed` stays true and nothing more is written.
struct Output {
  std::function<bool(std::string_view)> write;
  bool closed = false;
};

// The real standard output, written with write(2) so no buffer holds a line back.
Output standardOutput();

// Compact JSON, non-ASCII as UTF-8, "/" unescaped. Its strings must be valid UTF-8, as
// json_writer.hpp says.
std::string serialise(const nlohmann::json& value);

// Writes `line` and a line feed. Does nothing once the output is closed.
void send(std::string line, Output& out);

// A JSON-RPC error. `data` is written only when it is not null.
struct Failure {
  std::int64_t code = 0;
  std::string message;
  nlohmann::ordered_json data;
};

// An answer not yet written, so that it can still be dressed for the request's revision: the
// result, or the failure when there is one. `expectedSize`, the result's likely length as
// JSON, spares a long answer its growth by doubling, each step a copy of all written so far.
struct Answer {
  nlohmann::ordered_json result;
  std::size_t expectedSize = 0;
  std::optional<Failure> failure;
  bool withdrawn = false;  // the client cancelled the request while it was served: no answer at all
};

// An answer of `result`, and one of a failure.
Answer succeeded(nlohmann::ordered_json result, std::size_t expectedSize = 0);
Answer failed(std::int64_t code, std::string message);

// A success response to the request whose id is `id` (JSON text, as Message::id holds it).
void reply(std::string_view id, const nlohmann::ordered_json& result, Output& out, std::size_t expectedSize = 0);

// An error response: code, message, then data unless it is null. The parse error has id "null".
void reply(std::string_view id, const Failure& failure, Output& out);

// The failure's error response when there is one, the result's otherwise.
void reply(std::string_view id, const Answer& answer, Output& out);
