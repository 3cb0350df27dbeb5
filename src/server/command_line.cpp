#include "server/command_line.hpp"

#include <cstdio>

#include "server/settings.hpp"

CommandLine readCommandLine(const std::vector<std::string_view>& arguments) {
  bool help = false, version = false, checking = false;
  for (const std::string_view argument : arguments) {
    if (argument.empty() || argument[0] != '-') continue;
    if (argument == "--help" || argument == "-h") help = true;
    else if (argument == "--version") version = true;
    else if (argument == "--check") checking = true;
    else return {Mode::Unknown, std::string(argument)};
  }
  if (help) return {Mode::Help, ""};
  if (version) return {Mode::Version, ""};
  if (checking) return {Mode::Check, ""};
  return {};
}

std::string help() {
  return "tarnwick-mcp " + std::string(serverVersion) +
         ": an MCP server through which an assistant drives the Tarnwick app,\n"
         "which slows down and breaks the network of single apps on this Mac.\n"
         "\n"
         "An MCP client starts it with no arguments and talks JSON-RPC on its standard input and\n"
         "output, one message per line. Each tool call becomes one HTTP request to the app's\n"
         "automation endpoint on 127.0.0.1; in the app, turn on Allow Automation (menu bar icon\n"
         "\xE2\x80\xBA Automation).\n"
         "\n" +
         std::string(usageLine) +
         "\n"
         "  --check      ask the app for its status, as the status tool does, and say what happened\n"
         "  --version    print the name and version\n"
         "  --help       print this text\n"
         "\n"
         "Environment:\n"
         "  TARNWICK_PORT  the port of the app's automation endpoint; 47300 when unset or not a number\n";
}

std::string versionLine() { return std::string(serverName) + " " + std::string(serverVersion) + "\n"; }

int check(const Automation& automation) {
  const AutomationResult result = call(automation, "status", nlohmann::json::object());
  const std::string where = "127.0.0.1:" + std::to_string(automation.port);
  // Written whole: the app's text is not ours, and may hold any byte.
  const auto say = [](std::FILE* to, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), to);
    std::fputc('\n', to);
  };
  if (result.status == 0) {
    say(stderr, result.text);
    return 1;
  }
  if (result.isError) {
    say(stderr, "The Tarnwick app on " + where + " refused the status request (HTTP " +
                    std::to_string(result.status) + "):\n" + result.text);
    return 1;
  }
  say(stdout, "The Tarnwick app answers on " + where + ". Its status:\n" + result.text);
  return 0;
}
