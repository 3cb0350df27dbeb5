#pragma once
// The "tools/list" answer: the whole catalogue, in its order, with input schemas.
#include <string_view>

#include <nlohmann/json.hpp>

#include "server/output.hpp"

// The result object {"tools": [...]}, one entry of name, description and inputSchema a tool.
nlohmann::ordered_json toolList();

// Answers a "tools/list" request; params (a paging cursor included) play no part.
void listTools(std::string_view id, Output& out);
