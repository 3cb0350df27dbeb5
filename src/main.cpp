// tarnwick-mcp: an MCP server on standard input and output that drives the Tarnwick app.
#include "server/loop.hpp"
#include "server/settings.hpp"

int main() {
  startUp();
  Output out = standardOutput();
  serve(standardInput(), out);
  return 0;
}
