// Made-up HTTP traffic of watched simulator apps, shaped by the rules that apply to them.
#pragma once

#include <string_view>

#include "standin/state.hpp"

namespace standin {

// Makes up `count` requests of the app that `rule` is for and records them on it, each shaped by
// the rule's endpoint rules and conditions (or, where it has none, by the every-app rule).
void record(State& state, Rule& rule, int count);

// Whether `url` contains `pattern`, where each * in the pattern stands for any text.
bool urlMatches(std::string_view url, std::string_view pattern);

// Whether the host in `url` is one the rule's host limits apply to.
bool inScope(const Rule& rule, std::string_view url);

}  // namespace standin
