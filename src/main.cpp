// tarnwick-mcp: an MCP server on standard input and output that drives the Tarnwick app.
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "server/command_line.hpp"
#include "server/loop.hpp"
#include "server/settings.hpp"

int main(int argc, char** argv) {
  const CommandLine commandLine = readCommandLine({argv + (argc > 0 ? 1 : 0), argv + argc});
  const Automation automation{portFromEnvironment()};
  switch (commandLine.mode) {
    case Mode::Help:
      std::fputs(help().c_str(), stdout);
      return 0;
    case Mode::Version:
      std::fputs(versionLine().c_str(), stdout);
      return 0;
    case Mode::Check:
      return check(automation);
    case Mode::Unknown:
      std::fprintf(stderr, "tarnwick-mcp: unknown option %s\n%s", commandLine.unknown.c_str(), usageLine.data());
      return 2;
    case Mode::Serve:
      break;
  }
  // A client never hands us a terminal; a person who started us by hand is told what we wait for.
  if (::isatty(STDIN_FILENO)) {
    std::fputs("tarnwick-mcp: waiting for MCP messages from a client on standard input (see --help)\n", stderr);
  }
  // A client that goes away must not kill us with a signal; writes then fail and we end quietly.
  std::signal(SIGPIPE, SIG_IGN);
  Output out = standardOutput();
  serve(readFrom(STDIN_FILENO), out, automation, STDIN_FILENO);
  return 0;
}
