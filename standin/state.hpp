// The stand-in's memory: one rule per target, with its endpoint rules and recorded requests.
// Nothing here locks; the HTTP layer holds one mutex around every command.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "standin/world.hpp"

namespace standin {

struct Recorded {
  long id = 0, durationMs = 0;
  std::string time, method, url, requestBody, responseBody, error;
  int status = 0;  // 0 when no answer came back
  bool mocked = false;
};

struct EndpointRule {
  std::string pattern;
  bool mock = false;
  json settings;  // the command's arguments beyond app, simulator and pattern
};

struct Rule {
  Target target;
  bool on = true, watched = false;
  json network = json::object();  // empty means full speed
  json failure = json::object();  // "mode" and its settings; empty means none
  std::string hosts, hostsMode = "only";
  std::vector<EndpointRule> endpoints;
  std::vector<Recorded> recorded;  // oldest first
};

struct State {
  std::vector<Rule> rules;
  long nextRequest = 1;
};

// The rule for exactly this target, or nullptr.
Rule* findRule(State& state, const Target& target);
// The rule for this target, made (on, full speed) when there is none yet.
Rule& ruleFor(State& state, const Target& target);
// The simulator-wide rule ("*") that applies to every simulator app, or nullptr.
const Rule* everyAppRule(const State& state);

// What the client reads about one rule.
json viewRule(const Rule& rule);
std::string describeEndpoint(const EndpointRule& rule);

}  // namespace standin
