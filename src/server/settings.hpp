#pragma once
// The settings fixed once at start-up and only read afterwards.
#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

inline constexpr std::string_view serverName = "tarnwick";
inline constexpr std::string_view serverTitle = "Tarnwick";  // for people; the app's own name
inline constexpr std::string_view serverVersion = TARNWICK_VERSION;  // the project's version, from CMake
inline constexpr std::string_view protocolVersion = "2025-06-18";
inline constexpr std::string_view automationHeader = "X-Tarnwick";
inline constexpr std::int64_t defaultPort = 47300;
extern const std::string_view instructions;

// How the server names itself to clients: {"name": ..., "version": ...}, as the handshake
// revision gives it; with `titled`, {"name", "title", "version"} for the per-request revision.
nlohmann::ordered_json serverInfo(bool titled = false);

// What the server offers: tools, a list that never changes while it runs.
nlohmann::ordered_json capabilities();

// Reads TARNWICK_PORT's text: an optional "+" or "-" then ASCII digits only, within int64.
// Returns nothing for anything else, the empty text included.
std::optional<std::int64_t> parsePort(std::string_view text);

// The port the environment asks for: TARNWICK_PORT when it parses, 47300 otherwise.
std::int64_t portFromEnvironment();
