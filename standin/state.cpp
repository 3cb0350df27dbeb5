#include "standin/state.hpp"

#include "standin/checks.hpp"

namespace standin {
namespace {

std::string num(const json& v) { return numberText(v); }

std::string bandwidth(const json& kbps, const char* direction) {
  if (kbps.get<double>() == 0) return std::string("unlimited ") + direction;
  return num(kbps) + " kbps " + direction;
}

std::string describeNetwork(const json& n) {
  if (n.empty()) return "full speed";
  std::string label = n.contains("preset") ? n.at("preset").get<std::string>() : std::string("custom");
  if (n.value("adjusted", false)) label += " with changes";
  return label + ": " + bandwidth(n.at("down"), "down") + ", " + bandwidth(n.at("up"), "up") + ", " +
         num(n.at("latency")) + " ms latency, " + num(n.at("jitter")) + " ms jitter, " + num(n.at("loss")) +
         "% loss";
}

std::string describeFailure(const json& f) {
  if (f.empty()) return "none";
  const std::string mode = f.at("mode").get<std::string>();
  if (mode == "airplane") return "airplane: every connection fails at once";
  if (mode == "refuse") return "refuse " + num(f.at("percent")) + "% of new connections";
  if (mode == "timeout") return "timeout: connections never answer";
  if (mode == "drop") return "drop connections after " + num(f.at("after")) + " s";
  return "outages: " + num(f.at("online")) + " s online, " + num(f.at("offline")) + " s offline, repeatedly";
}

std::string describeHosts(const Rule& r) {
  if (r.hosts.empty() || r.hostsMode == "all") return "all hosts";
  return (r.hostsMode == "except" ? "all hosts except " : "only ") + r.hosts;
}

}  // namespace

Rule* findRule(State& state, const Target& target) {
  for (Rule& r : state.rules) {
    if (r.target.app == target.app && r.target.simulator == target.simulator) return &r;
  }
  return nullptr;
}

Rule& ruleFor(State& state, const Target& target) {
  if (Rule* r = findRule(state, target)) return *r;
  Rule& rule = state.rules.emplace_back();
  rule.target = target;
  return rule;
}

const Rule* everyAppRule(const State& state) {
  for (const Rule& r : state.rules) {
    if (r.target.app == "*" && r.on) return &r;
  }
  return nullptr;
}

std::string describeEndpoint(const EndpointRule& e) {
  const json& s = e.settings;
  if (e.mock) {
    std::string text = "mocked: " + num(s.at("status")) + " " + s.at("content_type").get<std::string>() +
                       ", " + std::to_string(s.at("body").get<std::string>().size()) + "-byte body";
    if (s.at("delay").get<double>() > 0) text += ", after " + num(s.at("delay")) + " s";
    return text;
  }
  const std::string kind = s.at("kind").get<std::string>();
  if (kind == "offline") return "fails: offline (no internet)";
  if (kind == "status") return "fails: answers with status " + num(s.at("value"));
  if (kind == "delay") return "fails: sent after " + num(s.at("value")) + " s";
  return s.contains("value") ? "fails: times out after " + num(s.at("value")) + " s" : "fails: times out";
}

json viewRule(const Rule& r) {
  json endpoints = json::array();
  for (const EndpointRule& e : r.endpoints)
    endpoints.push_back({{"pattern", e.pattern}, {"does", describeEndpoint(e)}});
  return {{"app", r.target.app},
          {"target", describe(r.target)},
          {"on", r.on},
          {"network", r.on ? describeNetwork(r.network) : "off: traffic is normal"},
          {"failure", describeFailure(r.failure)},
          {"hosts", describeHosts(r)},
          {"watched", r.watched},
          {"endpoints", endpoints}};
}

}  // namespace standin
