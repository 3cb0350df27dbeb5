#include "standin/checks.hpp"

#include <cmath>
#include <limits>
#include <map>

#include "standin/world.hpp"

namespace standin {
namespace {

enum class Kind { Text, Number, Integer, Boolean };

struct Arg {
  std::string name;
  Kind kind;
  bool required = false;
  std::vector<std::string> choices = {};  // the allowed texts, for enumerated arguments
  double min = 0, max = std::numeric_limits<double>::infinity();
};

std::vector<std::string> presetNames() {
  std::vector<std::string> names;
  for (const Preset& p : presets()) names.push_back(p.name);
  return names;
}

const std::map<std::string, std::vector<Arg>>& table() {
  static const Arg app{"app", Kind::Text, true};
  static const Arg optionalSim{"simulator", Kind::Text};
  static const Arg sim{"simulator", Kind::Text, true};
  static const std::map<std::string, std::vector<Arg>> t{
      {"targets", {}},
      {"status", {}},
      {"set",
       {app,
        optionalSim,
        {"preset", Kind::Text, false, presetNames()},
        {"down", Kind::Number},
        {"up", Kind::Number},
        {"latency", Kind::Number},
        {"jitter", Kind::Number},
        {"loss", Kind::Number, false, {}, 0, 100},
        {"failure", Kind::Text, false, {"none", "airplane", "refuse", "timeout", "drop", "outages"}},
        {"percent", Kind::Number, false, {}, 0, 100},
        {"after", Kind::Number},
        {"online", Kind::Number},
        {"offline", Kind::Number},
        {"hosts", Kind::Text},
        {"hosts_mode", Kind::Text, false, {"only", "except", "all"}}}},
      {"reset", {app, optionalSim}},
      {"stop", {app, optionalSim}},
      {"relaunch", {app, sim}},
      {"requests",
       {app,
        sim,
        {"limit", Kind::Integer, false, {}, 1, 500},
        {"filter", Kind::Text},
        {"include_bodies", Kind::Boolean}}},
      {"fail-endpoint",
       {app,
        sim,
        {"pattern", Kind::Text, true},
        {"kind", Kind::Text, true, {"offline", "timeout", "status", "delay"}},
        {"value", Kind::Number}}},
      {"mock-endpoint",
       {app,
        sim,
        {"pattern", Kind::Text, true},
        {"status", Kind::Integer, false, {}, 100, 599},
        {"body", Kind::Text},
        {"content_type", Kind::Text},
        {"delay", Kind::Number}}},
      {"clear-endpoints", {app, optionalSim, {"pattern", Kind::Text}}},
  };
  return t;
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& s : items) text += (text.empty() ? "" : ", ") + s;
  return text;
}

std::vector<std::string> requiredNames(const std::vector<Arg>& args) {
  std::vector<std::string> names;
  for (const Arg& a : args) {
    if (a.required) names.push_back(a.name);
  }
  return names;
}

std::string range(const Arg& a) {
  const auto num = [](double v) { return numberText(json(v)); };
  const char* what = a.kind == Kind::Integer ? "a whole number" : "a number";
  if (std::isinf(a.max)) return std::string(what) + ", " + num(a.min) + " or more";
  return std::string(what) + " from " + num(a.min) + " to " + num(a.max);
}

void checkOne(const Arg& a, const json& v) {
  const std::string name = "\"" + a.name + "\"";
  switch (a.kind) {
    case Kind::Text:
      if (!v.is_string()) throw Refusal(400, name + " must be a string.");
      if (a.required && v.get<std::string>().empty()) throw Refusal(400, name + " must not be empty.");
      if (!a.choices.empty()) {
        for (const std::string& c : a.choices) {
          if (v.get<std::string>() == c) return;
        }
        throw Refusal(400, name + " cannot be " + v.dump() + ". Allowed: " + joined(a.choices) + ".");
      }
      return;
    case Kind::Boolean:
      if (!v.is_boolean()) throw Refusal(400, name + " must be true or false.");
      return;
    case Kind::Number:
    case Kind::Integer: {
      const bool fits = v.is_number() && (a.kind == Kind::Number || isWhole(v)) && v.get<double>() >= a.min &&
                        v.get<double>() <= a.max;
      if (!fits) throw Refusal(400, name + " must be " + range(a) + ", not " + v.dump() + ".");
      return;
    }
  }
}

}  // namespace

const std::vector<std::string>& commandNames() {
  static const std::vector<std::string> names{"targets",       "status",         "set",      "reset",
                                              "stop",          "relaunch",       "requests", "fail-endpoint",
                                              "mock-endpoint", "clear-endpoints"};
  return names;
}

bool isCommand(const std::string& command) { return table().count(command) == 1; }

bool isWhole(const json& value) {
  if (value.is_number_integer()) return true;
  return value.is_number_float() && std::floor(value.get<double>()) == value.get<double>();
}

std::string numberText(const json& value) {
  if (value.is_number_float() && isWhole(value) && std::fabs(value.get<double>()) < 1e15) {
    return std::to_string(static_cast<long long>(value.get<double>()));
  }
  return value.dump();
}

json checkArgs(const std::string& command, const json& args) {
  const std::vector<Arg>& allowed = table().at(command);
  json given = json::object();
  for (const auto& [key, value] : args.items()) {
    if (!value.is_null()) given[key] = value;
  }
  std::vector<std::string> names;
  for (const Arg& a : allowed) names.push_back(a.name);
  for (const auto& [key, value] : given.items()) {
    bool known = false;
    for (const Arg& a : allowed) known = known || a.name == key;
    if (!known) {
      throw Refusal(400, "Unknown argument \"" + key + "\" for " + command + ". " +
                             (names.empty() ? "It takes no arguments." : "Allowed: " + joined(names) + "."));
    }
  }
  for (const Arg& a : allowed) {
    auto v = given.find(a.name);
    if (v != given.end()) {
      checkOne(a, *v);
    } else if (a.required) {
      throw Refusal(400, "Missing argument \"" + a.name + "\" for " + command +
                             ". Required: " + joined(requiredNames(allowed)) + ".");
    }
  }
  return given;
}

}  // namespace standin
