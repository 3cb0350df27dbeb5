// Finding targets and keeping one network rule per app.
#include "standin/checks.hpp"
#include "standin/commands.hpp"

namespace standin {
namespace {

const char* const standinNote =
    "This is tarnwick-standin, a stand-in for the Tarnwick app for trying and testing tarnwick-mcp. "
    "It conditions nothing: the simulator, the apps and their requests are made up.";

json ruleList(const State& state) {
  json list = json::array();
  for (const Rule& r : state.rules) list.push_back(viewRule(r));
  return list;
}

json appList(const std::vector<App>& apps) {
  json list = json::array();
  for (const App& a : apps) list.push_back({{"bundle_id", a.bundleId}, {"name", a.name}});
  return list;
}

// The settings of each failure mode, with the values used when the client gives none.
const json& failureDefaults() {
  static const json defaults{{"refuse", {{"percent", 50}}},
                             {"drop", {{"after", 10}}},
                             {"outages", {{"online", 20}, {"offline", 10}}}};
  return defaults;
}

void applyFailure(Rule& rule, const json& args) {
  if (args.contains("failure")) {
    const std::string mode = args.at("failure").get<std::string>();
    rule.failure = mode == "none" ? json::object() : json{{"mode", mode}};
    if (failureDefaults().contains(mode)) rule.failure.update(failureDefaults().at(mode));
  }
  const std::string mode = rule.failure.value("mode", "none");
  for (const auto& [m, settings] : failureDefaults().items()) {
    for (const auto& [key, unused] : settings.items()) {
      if (!args.contains(key)) continue;
      if (m != mode) {
        throw Refusal(400, "\"" + key + "\" is a setting of failure " + m + ", but the failure is " + mode +
                               ". Pass \"failure\": \"" + m + "\" with it.");
      }
      rule.failure[key] = args.at(key);
    }
  }
}

void applyNetwork(Rule& rule, const json& args) {
  if (args.contains("preset")) {
    const Preset& p = *findPreset(args.at("preset").get<std::string>());
    rule.network = p.name == "No Throttling"
                       ? json::object()
                       : json{{"preset", p.name},     {"down", p.down},     {"up", p.up},
                              {"latency", p.latency}, {"jitter", p.jitter}, {"loss", p.loss}};
  }
  for (const char* key : {"down", "up", "latency", "jitter", "loss"}) {
    if (!args.contains(key)) continue;
    if (rule.network.empty())
      rule.network = {{"down", 0}, {"up", 0}, {"latency", 0}, {"jitter", 0}, {"loss", 0}};
    rule.network[key] = args.at(key);
    if (rule.network.contains("preset")) rule.network["adjusted"] = true;
  }
}

}  // namespace

json targets(const State& state) {
  const Device& d = bootedDevice();
  json presetList = json::array();
  for (const Preset& p : presets()) presetList.push_back(p.name);
  return {{"note", standinNote},
          {"simulators", json::array({{{"name", d.name},
                                       {"udid", d.udid},
                                       {"runtime", d.runtime},
                                       {"state", "Booted"},
                                       {"apps", appList(d.apps)}}})},
          {"mac_apps", appList(macApps())},
          {"presets", presetList},
          {"rules", ruleList(state)}};
}

json status(const State& state) {
  return {{"proxy", "running (stand-in: nothing is really conditioned)"}, {"rules", ruleList(state)}};
}

json setNetwork(State& state, const json& args) {
  const Target target = resolveTarget(args);
  // Work on a copy so that a refused setting leaves the state as it was.
  const Rule* existing = findRule(state, target);
  Rule changed = existing ? *existing : Rule{};
  changed.target = target;
  changed.on = true;
  applyNetwork(changed, args);
  applyFailure(changed, args);
  if (args.contains("hosts")) changed.hosts = args.at("hosts").get<std::string>();
  if (args.contains("hosts_mode")) changed.hostsMode = args.at("hosts_mode").get<std::string>();
  Rule& rule = ruleFor(state, target);
  rule = std::move(changed);
  json answer{{"ok", true}, {"rule", viewRule(rule)}};
  if (target.simulator && !rule.watched) {
    answer["next"] = "Call relaunch_app so that every connection the app makes goes through this rule.";
  }
  return answer;
}

json resetNetwork(State& state, const json& args) {
  const Target target = resolveTarget(args);
  Rule* rule = findRule(state, target);
  if (!rule)
    return {{"ok", true}, {"note", "No rule for " + describe(target) + "; it already runs at full speed."}};
  rule->on = true;
  rule->network = json::object();
  rule->failure = json::object();
  rule->hosts.clear();
  rule->hostsMode = "only";
  rule->endpoints.clear();
  return {{"ok", true}, {"rule", viewRule(*rule)}};
}

json stopWatching(State& state, const json& args) {
  const Target target = resolveTarget(args);
  Rule* rule = findRule(state, target);
  if (!rule) return {{"ok", true}, {"note", "No rule for " + describe(target) + "; nothing to stop."}};
  rule->on = false;
  rule->watched = false;
  rule->recorded.clear();
  return {{"ok", true}, {"rule", viewRule(*rule)}};
}

}  // namespace standin
