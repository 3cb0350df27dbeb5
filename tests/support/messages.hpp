#pragma once
// Requests and answers the tests build on: pings to make requests from, the answers to expect, and
// random bytes that can never form a JSON object.
#include <random>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace messages {

using nlohmann::json;

inline const json parseError = {{"jsonrpc", "2.0"}, {"id", nullptr}, {"error", {{"code", -32700}, {"message", "Parse error"}}}};

// A ping line with the id written as given (any JSON text) and `extra` members after "method".
inline std::string ping(std::string_view idText, std::string_view extra = "") {
  return R"({"jsonrpc":"2.0","id":)" + std::string(idText) + R"(,"method":"ping")" + std::string(extra) + "}\n";
}

inline json pong(const json& id) { return {{"jsonrpc", "2.0"}, {"id", id}, {"result", json::object()}}; }

// `count` lines of 1 to `longest` random bytes: the first byte is neither white space nor "{",
// and no byte is a line feed.
inline std::string randomLines(unsigned seed, int count, std::size_t longest) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> length(1, longest);
  std::string text;
  for (int i = 0; i < count; ++i) {
    const std::size_t size = length(random);
    for (std::size_t k = 0; k < size; ++k) {
      char c = static_cast<char>(byte(random));
      while (c == '\n' || (k == 0 && (c == ' ' || c == '\t' || c == '\r' || c == '{'))) {
        c = static_cast<char>(byte(random));
      }
      text.push_back(c);
    }
    text.push_back('\n');
  }
  return text;
}

}  // namespace messages
