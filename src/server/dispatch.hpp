#pragma once
// Routes one JSON-RPC message to its answer.
#include "bridge/automation.hpp"
#include "server/message.hpp"
#include "server/output.hpp"

// Answers a request (a message with an "id", null included) through reply(); writes nothing
// for a notification. Tool calls go to the app, keeping `watch` while they wait; one that the
// watch dropped is not answered. Returns after the answer has been written.
void handle(const Message& message, Output& out, const Automation& automation, const Watch& watch = {});
