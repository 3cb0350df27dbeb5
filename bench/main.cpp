// Measures the server from outside, as a client sees it, each figure beside a floor measured
// in the same run. Usage: tarnwick-bench [--json FILE] [--quick] [--no-pin]
//   [--only start|pings|calls|big|eras|memory|launchers|baseline] [--server PATH] [--bare PATH]
//   [--bare-linked PATH] [--start-command NAME=JSON]... [--start-native PATH] [--baseline PATH]
// Each --start-command is another way to start the server, measured against --start-native
// (default: --server); see parseLauncher for the JSON. With --baseline, the last part measures
// the server beside that other build of it.
#include <curl/curl.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "measure.hpp"

namespace {

std::string firstValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) != 0) continue;
    auto at = line.find_first_of(":=", key.size());
    if (at == std::string::npos) continue;
    std::string value = line.substr(at + 1);
    value.erase(0, value.find_first_not_of(" \t\""));
    while (!value.empty() && (value.back() == '"' || value.back() == ' ')) value.pop_back();
    return value;
  }
  return "";
}

nlohmann::json machine() {
  utsname u{};
  uname(&u);
  return {{"cores", sysconf(_SC_NPROCESSORS_ONLN)},
          {"cpu", firstValue("/proc/cpuinfo", "model name")},
          {"os", firstValue("/etc/os-release", "PRETTY_NAME")},
          {"kernel", std::string(u.release)}};
}

int usage() {
  std::cerr << "usage: tarnwick-bench [--json FILE] [--quick] [--no-pin]"
               " [--only start|pings|calls|big|eras|memory|launchers|baseline] [--server PATH] [--bare PATH]"
               " [--bare-linked PATH] [--start-command NAME=JSON]... [--start-native PATH] [--baseline PATH]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) try {
  // A child that dies mid-write must become an error we report, not the end of the benchmark.
  signal(SIGPIPE, SIG_IGN);
  auto bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  Setup setup{(bin / "tarnwick-mcp").string(), (bin / "bench-bare").string(),
              (bin / "bench-bare-linked").string(), (bin / "bench-json-floor").string()};
  std::string jsonPath;
  std::set<std::string> only;
  const std::set<std::string> partNames{"start", "pings", "calls", "big", "eras", "memory", "launchers", "baseline"};
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--quick") setup.scale = 0.1;
    else if (arg == "--no-pin") pin = false;
    else if (arg == "--json" && hasValue) jsonPath = argv[++i];
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
  pin = pin && pinToCpu(0, 0);
  FakeApp app(pin ? (sysconf(_SC_NPROCESSORS_ONLN) > 1 ? 1 : 0) : -1);
  setup.app = &app;
  if (pin) setup.childCpu = 0;

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
    nlohmann::json about = machine();
    about["pinned"] = setup.childCpu >= 0;
    out << toJson(rows, about).dump(2) << "\n";
    if (!out) {
      std::cerr << "tarnwick-bench: cannot write " << jsonPath << "\n";
      return 1;
    }
  }
  curl_global_cleanup();
  return 0;
} catch (const std::exception& e) {
  std::cerr << "tarnwick-bench: " << e.what() << "\n";
  return 1;
}
