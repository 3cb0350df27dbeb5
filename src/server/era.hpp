#pragma once
// Which revision of MCP a request speaks, and what that asks of its answer. Clients of
// 2025-06-18 open with "initialize" and are answered as they always were. Clients of 2026-07-28
// send no handshake: each request names its revision and the client's capabilities in
// params._meta, and each result says it is complete and names the server. Every request is
// judged on its own, so clients of both kinds may share one input, even interleaved.
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "server/output.hpp"

// The one revision served per request, without a handshake.
inline constexpr std::string_view perRequestRevision = "2026-07-28";

// True when the request speaks a per-request revision: server/discover always does, anything
// else when params._meta names "io.modelcontextprotocol/protocolVersion".
bool isModern(std::string_view method, const nlohmann::json& params);

// True when params._meta names exactly the per-request revision we serve: such a request may be
// cancelled while it waits or runs.
bool speaksPerRequestRevision(const nlohmann::json& params);

// What a modern request earns instead of its answer, if anything: -32602 naming the _meta
// member that is missing or of the wrong type, or -32022 for a revision not served.
std::optional<Failure> checkMeta(const nlohmann::json& params);

// The server/discover result as it stands before decorate(): the revisions served per request,
// the capabilities and the instructions that "initialize" gives.
nlohmann::ordered_json discovery();

// Dresses the answer to a modern request; a failure stays as it is. The result becomes
// "resultType" "complete", its own members in their order, the caching hints for
// server/discover and tools/list, and "_meta" naming the server. The members are moved, not
// copied: a tool's text can run to megabytes.
void decorate(std::string_view method, Answer& answer);
