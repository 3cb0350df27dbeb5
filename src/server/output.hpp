#pragma once
// Every answer leaves through send(): one compact JSON text and one line feed, written whole.
// What we write keeps its members in the order we build them (nlohmann::ordered_json): clients
// show parameters in the order they receive them, and people read the raw lines.
#include <cstdint>
#include <functional>
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

// Compact JSON, non-ASCII as UTF-8, "/" unescaped; invalid UTF-8 in strings becomes U+FFFD,
// so serialising never fails.
std::string serialise(const nlohmann::json& value);

// Writes `line` and a line feed. Does nothing once the output is closed.
void send(std::string line, Output& out);

// A success response to the request whose id is `id` (JSON text, as Message::id holds it).
// `expectedSize`, the result's likely length as JSON, spares a long answer its growth by
// doubling, each step a copy of all written so far.
void reply(std::string_view id, const nlohmann::ordered_json& result, Output& out, std::size_t expectedSize = 0);

// An error response; its error holds exactly code and message. The parse error has id "null".
void reply(std::string_view id, std::int64_t errorCode, std::string_view message, Output& out);
