#include "server/settings.hpp"

#include <cstdlib>
#include <limits>

// Four paragraphs, one empty line between them, no line feed at the end.
const std::string_view instructions =
    "Tarnwick slows down and breaks the network of individual apps on this Mac: iOS Simulator "
    "apps and Mac apps. Only the apps you target are affected, so your own connection, the "
    "terminal and test runners stay at full speed. Use it to test how an app copes with a slow "
    "or failing network, for example before or during end-to-end and UI tests."
    "\n\n"
    "Typical flow: list_targets to find the app's bundle ID and simulator; set_network with a "
    "preset like 3G or a failure like airplane; relaunch_app so every connection the app makes "
    "goes through the new conditions (needed the first time, and gives request monitoring); run "
    "the tests or use the app; get_requests to see what the app actually sent and got back; "
    "reset_network when done. fail_endpoint and mock_endpoint break or fake one endpoint while "
    "the rest works."
    "\n\n"
    "For simulator apps pass simulator: \"booted\" (the running simulator), a device name or a "
    "UDID. Leave simulator out for a Mac app."
    "\n\n"
    "Airplane mode in a simulator app launched with relaunch_app acts like a device's, within "
    "about 2 seconds: requests fail with NSURLErrorNotConnectedToInternet (-1009), NWPathMonitor "
    "reports an unsatisfied path and calls its handler, and SCNetworkReachability reports no "
    "network. The app also gets an in-app notification \"TarnwickNetworkDidChange\" "
    "(userInfo[\"offline\"]: Bool).";

nlohmann::ordered_json serverInfo(bool titled) {
  if (titled) return {{"name", serverName}, {"title", serverTitle}, {"version", serverVersion}};
  return {{"name", serverName}, {"version", serverVersion}};
}

nlohmann::ordered_json capabilities() { return {{"tools", {{"listChanged", false}}}}; }

std::optional<std::int64_t> parsePort(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulate towards the negative side: its range is one larger, so INT64_MIN fits.
  constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value < (lowest + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == lowest) return std::nullopt;
    value = -value;
  }
  return value;
}

std::int64_t portFromEnvironment() {
  const char* text = std::getenv("TARNWICK_PORT");
  if (text == nullptr) return defaultPort;
  return parsePort(text).value_or(defaultPort);
}
