// Relaunching with request monitoring, and the rules that fail or fake one endpoint.
#include <algorithm>

#include "standin/checks.hpp"
#include "standin/commands.hpp"
#include "standin/traffic.hpp"

namespace standin {
namespace {

// The fail-endpoint "value" with its default, checked against what the kind means by it.
json failValue(const json& args) {
  const std::string kind = args.at("kind").get<std::string>();
  const bool given = args.contains("value");
  if (kind == "offline") {
    if (given) throw Refusal(400, "\"value\" does not apply to kind offline; leave it out.");
    return nullptr;
  }
  if (kind == "status") {
    const json value = given ? args.at("value") : json(500);
    if (!isWhole(value) || value.get<double>() < 100 || value.get<double>() > 599) {
      throw Refusal(
          400, "\"value\" for kind status must be an HTTP status from 100 to 599, not " + value.dump() + ".");
    }
    return value;
  }
  if (kind == "delay") return given ? args.at("value") : json(3);
  if (given && args.at("value").get<double>() <= 0) {
    throw Refusal(400, "\"value\" for kind timeout must be more than 0 seconds.");
  }
  return given ? args.at("value") : json(nullptr);
}

json addEndpoint(State& state, const Target& target, EndpointRule endpoint) {
  Rule& rule = ruleFor(state, target);
  std::erase_if(rule.endpoints, [&](const EndpointRule& e) {
    return e.pattern == endpoint.pattern && e.mock == endpoint.mock;
  });
  rule.endpoints.push_back(std::move(endpoint));
  json answer{
      {"ok", true},
      {"endpoint",
       {{"pattern", rule.endpoints.back().pattern}, {"does", describeEndpoint(rule.endpoints.back())}}},
      {"rule", viewRule(rule)}};
  if (!rule.watched && target.app != "*") {
    answer["next"] = "Call relaunch_app so that the app's requests go through this endpoint rule.";
  }
  return answer;
}

}  // namespace

json relaunch(State& state, const json& args) {
  const Target target = resolveOneApp(args, "relaunch_app");
  Rule& rule = ruleFor(state, target);
  rule.on = true;
  rule.watched = true;
  record(state, rule, 6);  // the burst of requests an app makes as it starts
  return {{"ok", true},
          {"relaunched", describe(target)},
          {"note", "Request monitoring is on; get_requests shows what the app sends and gets back."},
          {"rule", viewRule(rule)}};
}

json failEndpoint(State& state, const json& args) {
  const Target target = resolveTarget(args);
  json settings{{"kind", args.at("kind")}};
  const json value = failValue(args);
  if (!value.is_null()) settings["value"] = value;
  return addEndpoint(state, target, {args.at("pattern").get<std::string>(), false, settings});
}

json mockEndpoint(State& state, const json& args) {
  const Target target = resolveTarget(args);
  const json settings{{"status", args.value("status", json(200))},
                      {"body", args.value("body", json(""))},
                      {"content_type", args.value("content_type", json("application/json"))},
                      {"delay", args.value("delay", json(0))}};
  return addEndpoint(state, target, {args.at("pattern").get<std::string>(), true, settings});
}

json clearEndpoints(State& state, const json& args) {
  const Target target = resolveTarget(args);
  Rule* rule = findRule(state, target);
  if (!rule) return {{"ok", true}, {"removed", 0}, {"note", "No rule for " + describe(target) + "."}};
  const auto before = rule->endpoints.size();
  if (args.contains("pattern")) {
    const std::string pattern = args.at("pattern").get<std::string>();
    std::erase_if(rule->endpoints, [&](const EndpointRule& e) { return e.pattern == pattern; });
  } else {
    rule->endpoints.clear();
  }
  return {{"ok", true}, {"removed", before - rule->endpoints.size()}, {"rule", viewRule(*rule)}};
}

}  // namespace standin
