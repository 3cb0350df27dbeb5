#pragma once
// One line from the client, parsed: the JSON object and its id, ready to be written back.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Deeper nesting is refused with the parse error: the serialiser and the destructors of the
// JSON values recurse, and a client's line must not be able to exhaust the stack.
inline constexpr std::size_t maxNesting = 512;

struct Message {
  nlohmann::json body;  // the object as sent
  // Its "id" as compact JSON text, a number exactly as the client wrote it, so that integers
  // beyond 64 bits come back whole. Empty when there is no "id": the message is a notification.
  std::string id;
};

// The message when `line` holds exactly one JSON object, nested at most maxNesting deep, with
// no raw NUL byte; nothing otherwise (not JSON, another type, a number beyond a double).
// `line` must be valid UTF-8.
std::optional<Message> parseMessage(std::string_view line);
