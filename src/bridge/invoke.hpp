#pragma once
// "tools/call": finds the named tool, posts its command to the app, answers with a tool result.
#include <nlohmann/json.hpp>

#include "bridge/automation.hpp"
#include "server/output.hpp"

// The client's arguments with the tool's fixed entries written over them: fixed values win.
nlohmann::json withFixed(nlohmann::json arguments, const nlohmann::json& fixed);

// The answer to a tools/call: {"content":[{"type":"text","text":...}],"isError":...} once the
// app has been asked, or the failure -32602 "Unknown tool." (and no request to the app) when
// params name no catalogued tool. A call that `watch` dropped gives a withdrawn answer.
Answer invoke(const nlohmann::json& params, const Automation& automation, const Watch& watch = {});
