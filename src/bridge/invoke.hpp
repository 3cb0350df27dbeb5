#pragma once
// "tools/call": finds the named tool, posts its command to the app, answers with a tool result.
#include <nlohmann/json.hpp>

#include "server/output.hpp"

// Answers with {"content":[{"type":"text","text":...}],"isError":...}, or the error -32602
// "Unknown tool." (and no request to the app) when params name no catalogued tool.
void invoke(const nlohmann::json& id, const nlohmann::json& params, Output& out);
