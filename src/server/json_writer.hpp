#pragma once
// JSON text written onto the end of the caller's string, byte for byte as the library's own
// compact dump() writes it: non-ASCII as UTF-8, "/" unescaped, members in the value's order.
// Strings are escaped here, so a tool text of megabytes costs little more than a copy and is
// never held twice; every other scalar, numbers above all, is written by the library's dump().
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Every string given to these, object keys included, must be valid UTF-8: nothing is checked
// or repaired here, so an ill-formed byte would reach the client as it is. Today's ways in
// keep that promise: the client's lines and the app's bodies are repaired on arrival (see
// utf8.hpp), the library's parser makes only valid strings, and our own texts are literals.
// Builds without NDEBUG assert it. None of these throws but for lack of memory.
void appendJsonString(std::string& text, std::string_view value);
void appendJson(std::string& text, const nlohmann::json& value);
void appendJson(std::string& text, const nlohmann::ordered_json& value);
