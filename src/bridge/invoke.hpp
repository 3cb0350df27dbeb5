#pragma once
// "tools/call": finds the named tool, posts its command to the app, answers with a tool result.
#include <string_view>

#include <nlohmann/json.hpp>

#include "bridge/automation.hpp"
#include "server/output.hpp"

// The client's arguments with the tool's fixed entries written over them: fixed values win.
nlohmann::json withFixed(nlohmann::json arguments, const nlohmann::json& fixed);

// Answers with {"content":[{"type":"text","text":...}],"isError":...}, or the error -32602
// "Unknown tool." (and no request to the app) when params name no catalogued tool.
void invoke(std::string_view id, const nlohmann::json& params, Output& out, const Automation& automation);
