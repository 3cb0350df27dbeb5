#pragma once
// Runs the message loop in process over a text, as if it came on standard input, and the
// messages tests build on.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/automation.hpp"

// Everything the loop writes for `input`, which comes through a pipe at most `piece` bytes a
// read, so that lines straddle reads and what arrives during a tool call is read ahead. Tool
// calls go to the app `automation` names.
std::string serveCaptured(std::string_view input, std::size_t piece = 4093, const Automation& automation = {});

// Splits output text into lines (the final LF does not start an empty line).
std::vector<std::string> splitLines(std::string_view text);

// The lines written, without their line feeds, and the same parsed as JSON.
std::vector<std::string> serveText(std::string_view input, const Automation& automation = {});
std::vector<nlohmann::json> answersTo(std::string_view input, const Automation& automation = {});

// The "result" of one tools/call of `tool` with `arguments`, served in process; null when
// the answer has none.
nlohmann::json callTool(const Automation& automation, const std::string& tool,
                        const nlohmann::json& arguments = nlohmann::json::object());

// The text of a tool result's one content item, or "" when there is none.
std::string textOf(const nlohmann::json& result);

// A ping line with the id written as given (any JSON text) and `extra` members after "method",
// without its line feed.
std::string ping(std::string_view idText, std::string_view extra = "");

inline const nlohmann::json parseError = {
    {"jsonrpc", "2.0"}, {"id", nullptr}, {"error", {{"code", -32700}, {"message", "Parse error"}}}};
