#pragma once
// Ways for tests to drive the server: in process over a text, or as a real child process.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/automation.hpp"

// Runs the message loop over `input` in process and returns every line written, without LFs.
std::vector<std::string> serveText(std::string_view input, const Automation& automation = {});

// The same, with each written line parsed as JSON.
std::vector<nlohmann::json> answersTo(std::string_view input, const Automation& automation = {});

// A child process with pipes to its standard input, output and error. One that is still
// running when it goes out of scope (a test that failed before finish()) is killed and reaped.
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string pendingOut;  // what was read from `out` beyond the last line returned

  Child() = default;
  Child(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child& operator=(Child&&) = delete;
  ~Child();
};

// Starts `path` with `args` and with `env` added to (or replacing entries of) this process's
// environment.
Child start(const std::string& path, const std::vector<std::string>& env = {},
            const std::vector<std::string>& args = {});

// Writes all of `bytes` to the child's standard input. False if the child stopped reading.
bool writeTo(Child& child, std::string_view bytes);

// The next line of the child's standard output; empty optional-like false on timeout or end.
bool readLine(Child& child, std::string& line, std::chrono::milliseconds timeout);

void closeInput(Child& child);

struct Finished {
  bool exited = false;  // false: killed because it did not end in time
  int status = -1;      // exit status, or the signal number when it died of one
  bool signaled = false;
  std::string out, err;
};

// Closes the child's input, collects the rest of its output and waits for it to end,
// killing it after `timeout`.
Finished finish(Child& child, std::chrono::milliseconds timeout);

// Runs a program on `input` to the end (input closed after it is written).
Finished runWith(const std::string& path, std::string_view input, const std::vector<std::string>& env = {},
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Splits output text into lines (the final LF does not start an empty line).
std::vector<std::string> splitLines(std::string_view text);

// The server binary under test: $TARNWICK_MCP_BINARY, else the one this build made.
std::string serverBinary();

// The whole answer to one tools/call of `tool` with `arguments`, served in process against
// the app `automation` names.
nlohmann::json callInProcess(const Automation& automation, const std::string& tool,
                             const nlohmann::json& arguments = nlohmann::json::object());

// The text of a tool result's one content item, or "" when there is none.
std::string textOf(const nlohmann::json& result);
