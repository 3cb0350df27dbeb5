// The ten automation commands. Each takes checked arguments (see checkArgs), changes the state
// and returns the answer the client reads; a refused command throws a Refusal instead.
#pragma once

#include <string>

#include "standin/state.hpp"

namespace standin {

// Runs `command` (one of commandNames()) with arguments already passed through checkArgs.
json perform(State& state, const std::string& command, const json& args);

json targets(const State& state);
json status(const State& state);
json setNetwork(State& state, const json& args);
json resetNetwork(State& state, const json& args);
json stopWatching(State& state, const json& args);
json relaunch(State& state, const json& args);
json requests(State& state, const json& args);
json failEndpoint(State& state, const json& args);
json mockEndpoint(State& state, const json& args);
json clearEndpoints(State& state, const json& args);

}  // namespace standin
