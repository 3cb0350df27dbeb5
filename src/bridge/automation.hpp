#pragma once
// The one contact with the Tarnwick app: a POST of a command to its automation endpoint.
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

struct AutomationResult {
  std::string text;  // the app's body as UTF-8, or the reach-failure text
  bool isError = true;
};

// Sets up the HTTP client once for the whole process, before any call.
void prepareAutomation();

// The command body as the app reads it: compact JSON with "/" written as "\/".
std::string commandBody(const nlohmann::json& body);

// The text shown when the app could not be reached on `port`, ending with the cause.
std::string reachFailure(std::int64_t port, std::string_view cause);

// Posts `body` to http://127.0.0.1:<port>/<command> and waits for the whole answer.
// Never throws: an app that cannot be reached, or an exchange that breaks off, gives the
// reach-failure text; otherwise the body is the text and a status of 400 or above is an error.
AutomationResult call(std::string_view command, const nlohmann::json& body);
