#pragma once
// Routes one JSON-RPC message to its answer.
#include <nlohmann/json.hpp>

#include "server/output.hpp"

// Answers a request (a message with an "id", null included) through reply(); writes nothing
// for a notification. Returns after the answer has been written.
void handle(const nlohmann::json& message, Output& out);
