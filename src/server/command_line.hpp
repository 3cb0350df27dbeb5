#pragma once
// What a person at a terminal can ask of the program. A client starts it with no options,
// and then it serves; arguments that are no options are ignored, as clients may pass some.
#include <string>
#include <string_view>
#include <vector>

#include "bridge/automation.hpp"

enum class Mode { Serve, Help, Version, Check, Unknown };

struct CommandLine {
  Mode mode = Mode::Serve;
  std::string unknown;  // the first option not understood, for Mode::Unknown
};

// Any option not understood wins, so a mistyped one is never ignored; then --help,
// --version and --check, in that order.
CommandLine readCommandLine(const std::vector<std::string_view>& arguments);

// The one line that says how to call the program; --help prints it among the rest.
inline constexpr std::string_view usageLine = "Usage: tarnwick-mcp [--check | --version | --help]\n";

// The text --help prints.
std::string help();

// What --version prints: the name and version the server announces to clients.
std::string versionLine();

// Asks the app for its status as the status tool does, prints what happened in plain words
// (the app's text on standard output, a failure on standard error) and returns the exit
// status: 0 when the app answered, 1 when it refused or could not be reached.
int check(const Automation& automation);
