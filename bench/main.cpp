// Measures the server from outside, as a client sees it, each figure beside a floor measured
// in the same run. Usage: tarnwick-bench [--json FILE] [--markdown FILE] [--quick] [--no-pin]
//   [--only start|pings|calls|big|eras|memory|launchers|baseline] [--server PATH] [--bare PATH]
//   [--bare-linked PATH] [--start-command NAME=JSON]... [--start-native PATH] [--baseline PATH]
// Each --start-command is another way to start the server, measured against --start-native
// (default: --server); see parseLauncher for the JSON. With --baseline, the last part measures
// the server beside that other build of it. The table goes to standard output; --markdown
// appends the machine's description and the table to FILE (a CI job's summary, say).
#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "measure.hpp"

namespace {

int usage() {
  std::cerr << "usage: tarnwick-bench [--json FILE] [--markdown FILE] [--quick] [--no-pin]"
               " [--only start|pings|calls|big|eras|memory|launchers|baseline] [--server PATH] [--bare PATH]"
               " [--bare-linked PATH] [--start-command NAME=JSON]... [--start-native PATH] [--baseline PATH]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) try {
  // A child that dies mid-write must become an error we report, not the end of the benchmark.
  signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path bin = programFolder();
  Setup setup{(bin / "tarnwick-mcp").string(), (bin / "bench-bare").string(),
              (bin / "bench-bare-linked").string(), (bin / "bench-json-floor").string()};
  std::string jsonPath, markdownPath;
  std::set<std::string> only;
  const std::set<std::string> partNames{"start", "pings", "calls", "big", "eras", "memory", "launchers", "baseline"};
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--quick") setup.scale = 0.1;
    else if (arg == "--no-pin") pin = false;
    else if (arg == "--json" && hasValue) jsonPath = argv[++i];
    else if (arg == "--markdown" && hasValue) markdownPath = argv[++i];
    else if (arg == "--only" && hasValue && partNames.count(argv[i + 1]) == 1) only.insert(argv[++i]);
    else if (arg == "--server" && hasValue) setup.server = argv[++i];
    else if (arg == "--bare" && hasValue) setup.bare = argv[++i];
    else if (arg == "--bare-linked" && hasValue) setup.bareLinked = argv[++i];
    else if (arg == "--start-command" && hasValue) setup.launchers.push_back(parseLauncher(argv[++i]));
    else if (arg == "--start-native" && hasValue) setup.native = argv[++i];
    else if (arg == "--baseline" && hasValue) setup.baseline = argv[++i];
    else return usage();
  }
  if (setup.native.empty()) setup.native = setup.server;
  if (only.count("baseline") == 1 && setup.baseline.empty()) return usage();
  for (const auto& p : {setup.server, setup.bare, setup.bareLinked, setup.jsonFloor, setup.native, setup.baseline}) {
    if (!p.empty() && access(p.c_str(), X_OK) != 0) {
      std::cerr << "tarnwick-bench: cannot run " << p << "\n";
      return 2;
    }
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  // The fake app stands for another process: it gets a CPU of its own where there is one.
  // Where the system offers no affinity (macOS), the run is unpinned, as with --no-pin.
  pin = pin && pinToCpu(0, 0);
  const int appCpu = pin ? (sysconf(_SC_NPROCESSORS_ONLN) > 1 ? 1 : 0) : -1;
  FakeApp app(appCpu);
  setup.app = &app;
  if (pin) setup.childCpu = 0;

  nlohmann::json about = machine();
  about["pinned"] = pin;
  about["placement"] = pin ? "pinned: the benchmark and its children on CPU 0, the fake app on CPU " +
                                 std::to_string(appCpu)
                           : "unpinned";
  const MemoryMeasures measures = memoryMeasures();
  about["memory"] = {{"resident", measures.resident}, {"peak", measures.peak}};
  about["quick"] = setup.scale < 1;
  std::cerr << "tarnwick-bench: " << describe(about) << "\n";

  struct Part {
    const char* name;
    const char* title;
    std::vector<Row> (*run)(const Setup&);
  };
  const Part parts[] = {{"start", "cold start", measureStart},
                        {"pings", "pings", measurePings},
                        {"calls", "tools/call", measureCalls},
                        {"big", "4 MiB answer", measureBigAnswer},
                        {"eras", "modern requests beside legacy ones", measureEras},
                        {"memory", "64 MiB lines", measureMemory},
                        {"launchers", "start through launchers", measureLaunchers},
                        {"baseline", "beside the baseline", measureBaseline}};
  std::vector<Row> rows;
  for (const Part& part : parts) {
    if (!only.empty() && !only.count(part.name)) continue;
    if (part.run == measureLaunchers && setup.launchers.empty()) continue;  // none were given
    if (part.run == measureBaseline && setup.baseline.empty()) continue;
    std::cerr << "measuring " << part.title << "...\n";
    auto got = part.run(setup);
    rows.insert(rows.end(), got.begin(), got.end());
  }
  printTable(std::cout, rows);
  if (!jsonPath.empty()) {
    std::ofstream out(jsonPath);
    out << toJson(rows, about).dump(2) << "\n";
    if (!out) {
      std::cerr << "tarnwick-bench: cannot write " << jsonPath << "\n";
      return 1;
    }
  }
  if (!markdownPath.empty()) {
    std::ofstream out(markdownPath, std::ios::app);
    printMarkdown(out, rows, about);
    if (!out) {
      std::cerr << "tarnwick-bench: cannot append to " << markdownPath << "\n";
      return 1;
    }
  }
  return 0;
} catch (const std::exception& e) {
  std::cerr << "tarnwick-bench: " << e.what() << "\n";
  return 1;
}
