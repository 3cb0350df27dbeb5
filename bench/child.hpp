#pragma once
// A child process on two pipes, driven the way an MCP client drives the server.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

using Clock = std::chrono::steady_clock;

// Owns the process, which leads a process group of its own: a Child that goes out of scope
// still running is killed with all it started, so no failure path leaves a process behind.
struct Child {
  pid_t pid = -1;
  int in = -1;           // our end of its standard input
  int out = -1;          // our end of its standard output
  std::string received;  // output read but not yet taken as lines
  std::size_t scanned = 0;     // bytes of `received` already searched for line feeds
  std::size_t linesReady = 0;  // complete lines in `received`

  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) = delete;
  ~Child();
};

struct Exit {
  int status = -1;   // as from wait4
  rusage usage{};    // CPU time of the whole life of the process
};

// Starts `argv` with extra `env` entries ("NAME=value") added to ours. Throws on failure.
Child spawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

// Writes all of `data` while collecting output, until `lines` complete lines are ready.
// Throws when `deadline` passes or the child closes its output first.
void pump(Child& child, std::string_view data, std::size_t lines, Clock::time_point deadline);

// Removes and returns the first complete line, without its line feed. Call after pump.
std::string takeLine(Child& child);

// Drops every complete line ready so far.
void dropLines(Child& child);

// Closes its input, waits for it and the rest of its process group to exit, and reports how it
// exited. Kills the group at `deadline`, then throws.
Exit finish(Child& child, Clock::time_point deadline);

inline Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds));
}
