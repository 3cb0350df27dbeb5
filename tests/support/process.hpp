#pragma once
// The real server binary, started as an MCP client starts it: pipes for its standard input,
// output and error, default signal dispositions, and the environment and arguments given.
#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The binary under test: $TARNWICK_MCP_BINARY, else the one this build made.
std::string serverBinary();

// A running server, started as a client starts it: default signal dispositions, `env` entries
// ahead of this process's environment (so they win over same-named ones), `args` after the program's
// name. Some clients hand over an output pipe whose writes can come up short:
// `nonBlockingOutput`. One still running when it goes out of scope (a test that failed before
// finish()) is killed and reaped.
struct Server {
  explicit Server(const std::vector<std::string>& env = {}, const std::vector<std::string>& args = {},
                  bool nonBlockingOutput = false);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string pendingOut;  // read from `out` beyond the last line returned
};

// Writes all of `bytes` to the server's standard input. False once it stopped reading.
bool writeTo(Server& server, std::string_view bytes);

// The next line of the server's standard output, without its line feed. False on timeout or end.
bool readLine(Server& server, std::string& line, std::chrono::milliseconds timeout);

void closeInput(Server& server);

struct Finished {
  bool exited = false;  // false: killed because it did not end in time
  bool signaled = false;
  int status = -1;      // exit status, or the signal that ended it
  std::string out, err;
};

// Closes the server's input, collects the rest of its output and waits for it to end,
// killing it after `timeout`.
Finished finish(Server& server, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Starts the server, writes `input` (from a second thread, so a large input cannot deadlock
// against a full stdout), closes its input and finishes it.
Finished runToEnd(std::string_view input, const std::vector<std::string>& env = {},
                  const std::vector<std::string>& args = {});
