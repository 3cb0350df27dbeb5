// tarnwick-mcp: an MCP server on standard input and output that drives the Tarnwick app.
#include <csignal>

#include "server/loop.hpp"
#include "server/settings.hpp"

int main() {
  // A client that goes away must not kill us with a signal; writes then fail and we end quietly.
  std::signal(SIGPIPE, SIG_IGN);
  const Automation automation{portFromEnvironment()};
  Output out = standardOutput();
  serve(standardInput(), out, automation);
  return 0;
}
