#pragma once
// Every answer leaves through send(): one compact JSON text and one line feed, written whole.
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
std::string serialise(const nlohmann::json& message);

// Writes the message as one line. Does nothing once the output is closed.
void send(const nlohmann::json& message, Output& out);

// A success response to the request with this id.
void reply(const nlohmann::json& id, nlohmann::json result, Output& out);

// An error response to the request with this id; its error holds exactly code and message.
void reply(const nlohmann::json& id, std::int64_t errorCode, std::string_view message, Output& out);
