#include "catalogue/catalogue.hpp"

using json = nlohmann::ordered_json;

json property(const char* type, const char* description, std::vector<std::string> choices) {
  json schema = {{"type", type}};
  if (!choices.empty()) schema["enum"] = std::move(choices);
  schema["description"] = description;
  return schema;
}

// Definition order matters: `tools` copies `app` and `simulator`, all three in this file.
const json app = property(
    "string",
    "The app: a bundle ID like com.example.weather, an app name, or * for every app in a simulator.");
const json simulator =
    property("string", "For iOS Simulator apps: booted, any, a device name or a UDID. Leave out for a Mac app.");

namespace {

// The two property sets that most tools start from.
json forApp() { return {{"app", app}, {"simulator", simulator}}; }

json with(json properties, std::initializer_list<std::pair<const char*, json>> more) {
  for (const auto& [name, schema] : more) properties[name] = schema;
  return properties;
}

const char* const patternText = "Requests whose URL contains this, like api.example.com/v1/%s. Use * for any text.";

std::string patternDescription(const char* resource) {
  std::string text = patternText;
  return text.replace(text.find("%s"), 2, resource);
}

// Every tool talks to the local app alone. Only what get_requests returns was written elsewhere:
// the bodies and headers that arbitrary servers sent the app, which an agent must treat as
// untrusted text, and openWorld is the hint by which clients learn that.
constexpr Hints reads{.readOnly = true, .destructive = false, .idempotent = true, .openWorld = false};
constexpr Hints readsTraffic{.readOnly = true, .destructive = false, .idempotent = true, .openWorld = true};
// Each write overrides or removes what the user set up for an app, so each counts as
// destructive; repeating one with the same arguments leaves the same rule behind.
constexpr Hints changes{.readOnly = false, .destructive = true, .idempotent = true, .openWorld = false};
// Every call ends the running app once more.
constexpr Hints relaunches{.readOnly = false, .destructive = true, .idempotent = false, .openWorld = false};

std::vector<Tool> buildTools() {
  return {
      {"list_targets", "targets", "List apps, simulators and rules", reads,
       "List running simulators and the apps installed on them, running Mac apps, the presets, and the current rules.",
       json::object(), {}},
      {"status", "status", "Show the network rules", reads,
       "Show every rule, what it's doing, and whether Tarnwick's proxy is running.", json::object(), {}},
      {"set_network", "set", "Slow down an app's network", changes,
       "Slow down or break one app's network, and only that app's. Creates the rule if needed and turns it on. "
       "Combine a preset with exact values or a failure mode.",
       with(forApp(),
            {
                {"preset", property("string", "No Throttling, Edge, 3G, DSL, LTE, WiFi, Very Bad Network, 100% Loss, "
                                              "or a saved preset.")},
                {"down", property("number", "Download bandwidth in kilobits per second.")},
                {"up", property("number", "Upload bandwidth in kilobits per second.")},
                {"latency", property("number", "Added latency in milliseconds.")},
                {"jitter", property("number", "Latency variation in milliseconds.")},
                {"loss", property("number", "Packet loss percent, 0 to 100.")},
                {"failure", property("string",
                                     "airplane: every connection fails at once. refuse: refuse a percent of new "
                                     "connections. timeout: connections never answer. drop: cut connections after "
                                     "some seconds. outages: go offline and back repeatedly.",
                                     {"none", "airplane", "refuse", "timeout", "drop", "outages"})},
                {"percent", property("number", "For refuse: the percent of connections refused.")},
                {"after", property("number", "For drop: seconds before a connection is cut.")},
                {"online", property("number", "For outages: seconds online.")},
                {"offline", property("number", "For outages: seconds offline.")},
                {"hosts", property("string",
                                   "Comma-separated hosts to limit the rule to, like api.example.com,*.example.net.")},
                {"hosts_mode", property("string", "only (default): just those hosts; except: everything but them.",
                                        {"only", "except", "all"})},
            }),
       {"app"}},
      {"reset_network", "reset", "Put an app back to full speed", changes,
       "Put an app back to full speed with no failures, host limits or endpoint rules. It stays watched, so its "
       "requests still show.",
       forApp(), {"app"}},
      {"stop_watching", "stop", "Turn off an app's rule", changes,
       "Turn off an app's rule. Its traffic goes back to normal and stops being watched.", forApp(), {"app"}},
      {"relaunch_app", "relaunch", "Relaunch a simulator app", relaunches,
       "Quit and reopen a simulator app with request monitoring, so every connection it makes goes through its rule "
       "and its requests are recorded. Do this after the first set_network for an app that was already running.",
       forApp(), {"app", "simulator"}},
      {"get_requests", "requests", "Read an app's recent requests", readsTraffic,
       "A simulator app's recent HTTP requests, newest first: method, URL, status, errors, time, and optionally "
       "bodies. Needs the app to have been launched with request monitoring (relaunch_app).",
       with(forApp(),
            {
                {"limit", property("integer", "How many, 1 to 500. Default 50.")},
                {"filter", property("string", "A search: words, or filters like status:4xx, method:POST, host:api, "
                                              "path:/v1, is:failed, -host:cdn.")},
                {"include_bodies",
                 property("boolean", "Include request and response bodies (up to 4,000 characters each).")},
            }),
       {"app", "simulator"}},
      {"fail_endpoint", "fail-endpoint", "Make an endpoint fail", changes,
       "Make requests to one endpoint fail inside a simulator app while the rest of the app works.",
       with(forApp(),
            {
                {"pattern", property("string", patternDescription("orders").c_str())},
                {"kind", property("string",
                                  "offline: fails as no internet. timeout: times out. status: answers with an HTTP "
                                  "status. delay: sent after a wait.",
                                  {"offline", "timeout", "status", "delay"})},
                {"value", property("number", "For status: the HTTP status (default 500). For delay: seconds "
                                             "(default 3). For timeout: at most this many seconds.")},
            }),
       {"app", "simulator", "pattern", "kind"}},
      {"mock_endpoint", "mock-endpoint", "Fake an endpoint's response", changes,
       "Answer requests to one endpoint in a simulator app with a made-up response, without reaching the server.",
       with(forApp(),
            {
                {"pattern", property("string", patternDescription("profile").c_str())},
                {"status", property("integer", "HTTP status. Default 200.")},
                {"body", property("string", "The response body, usually JSON.")},
                {"content_type", property("string", "Default application/json.")},
                {"delay", property("number", "Seconds to wait before answering.")},
            }),
       {"app", "simulator", "pattern"}},
      {"clear_endpoints", "clear-endpoints", "Remove endpoint failures and mocks", changes,
       "Remove an app's endpoint failures and mocks: all of them, or those for one pattern.",
       with(forApp(), {{"pattern", property("string", "Only remove rules for this pattern.")}}), {"app"}},
  };
}

}  // namespace

const std::vector<Tool> tools = buildTools();

const Tool* findTool(std::string_view name) {
  for (const Tool& tool : tools) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}
