// The argument checks that the tool descriptions promise, one table per command.
#pragma once

#include <string>
#include <vector>

#include "standin/world.hpp"

namespace standin {

// The commands the stand-in accepts, in the order of the tool catalogue.
const std::vector<std::string>& commandNames();
bool isCommand(const std::string& command);

// Returns the arguments with null members dropped (null counts as left out); throws a 400
// Refusal that names the argument and what it allows. `command` must be one of commandNames().
json checkArgs(const std::string& command, const json& args);

// Whether `value` is a whole number, also when it arrives written as 5.0.
bool isWhole(const json& value);
// A number as people write it: 780 rather than 780.0.
std::string numberText(const json& value);

}  // namespace standin
