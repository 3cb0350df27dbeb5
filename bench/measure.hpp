#pragma once
// What every measurement needs: the programs under test, the fake app, and the wire messages.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "child.hpp"
#include "fake_app.hpp"
#include "platform.hpp"
#include "report.hpp"

// Another way to start the server (a package's bin, npx), compared with starting it directly.
struct Launcher {
  std::string name;
  std::vector<std::string> argv;   // argv[0] is looked up in PATH
  std::vector<std::string> env;    // "NAME=value", over ours
  // Targets, as extras over the native binary; none when empty.
  std::optional<double> startWithinMs;
  std::optional<double> residentWithinMiB;
};

// Reads `NAME={"argv":[...],"env":{...},"startWithinMs":N,"residentWithinMiB":N}`, where only
// argv is required. Throws std::exception when it is not that.
Launcher parseLauncher(const std::string& arg);

struct Setup {
  std::string server;      // the tarnwick-mcp binary
  std::string bare;        // does nothing, loads only the C library
  std::string bareLinked;  // does nothing, loads what the server loads
  std::string jsonFloor;   // answers pings with the server's JSON library, nothing else
  std::string echo = "/bin/cat";
  std::string native{};    // what the launchers start, started directly to compare with them
  std::vector<Launcher> launchers{};
  std::string baseline{};  // another build of the server to measure beside it; empty for none
  FakeApp* app = nullptr;
  double scale = 1;        // below 1 for a quick run with fewer samples
  // The CPU that the benchmark and every child share; -1 leaves placement to the system.
  // Unpinned, a wake-up lands on the same CPU (a few µs) or on another one (tens of µs in a
  // VM) by chance, and the chance differs from process to process, so interleaving alone
  // would not make comparisons fair. On one CPU every exchange is a plain switch.
  int childCpu = -1;
};

// `n` scaled for a quick run, never below `least`.
std::size_t scaled(const Setup& setup, std::size_t n, std::size_t least = 3);

std::string initializeLine(long id);
std::string pingLine(long id);
std::string callLine(long id, const std::string& tool, const std::string& argumentsJson);

// Starts `program` on the children's CPU, with TARNWICK_PORT naming the fake app.
Child startChild(const Setup& setup, const std::string& program);
// Starts the server and completes the "initialize" exchange.
Child startServer(const Setup& setup);

// Takes the answer to initialize, then ends `child` as a client does, by closing its input.
// Throws unless that answer is a result and `name` exits with status 0 before `deadline`.
void expectStartedAndEnd(Child& child, const std::string& name, Clock::time_point deadline);

// Throws unless `line` answers request `id` with a tool result of `text` and isError false.
void expectToolText(const std::string& line, long id, const std::string& text);
// Throws unless `line` answers request `id` with an empty result, as a ping is answered.
void expectEmptyResult(const std::string& line, long id);

// Text of `bytes` bytes, valid UTF-8, heavy in what the output serialiser must handle:
// quotes, backslashes, line feeds, tabs, "/" and characters outside ASCII.
std::string awkwardText(std::size_t bytes);
// The same kind of text written as a JSON string body (no quotes around it), `bytes` long.
std::string awkwardJsonString(std::size_t bytes);

std::vector<Row> measureStart(const Setup& setup);
std::vector<Row> measurePings(const Setup& setup);
std::vector<Row> measureCalls(const Setup& setup);
std::vector<Row> measureBigAnswer(const Setup& setup);
std::vector<Row> measureEras(const Setup& setup);
std::vector<Row> measureMemory(const Setup& setup);
std::vector<Row> measureLaunchers(const Setup& setup);
std::vector<Row> measureBaseline(const Setup& setup);
