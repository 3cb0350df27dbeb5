// Linux: affinity, /proc for memory, children and the program, glibc's spawn extension.
#include "platform.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

// The value after "KEY:" or "KEY=" on the first line that starts with KEY, unquoted.
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

}  // namespace

bool pinToCpu(pid_t pid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(pid, sizeof set, &set) == 0;
}

MemoryMeasures memoryMeasures() {
  return {"VmRSS of /proc/PID/status", "VmHWM of /proc/PID/status", "peak resident set"};
}

Memory processMemory(pid_t pid) {
  // A zombie's status has no memory fields at all.
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  Memory memory{-1, -1};
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) memory.residentKiB = std::stol(line.substr(6));
    if (line.compare(0, 6, "VmHWM:") == 0) memory.peakKiB = std::stol(line.substr(6));
  }
  if (memory.residentKiB < 0 || memory.peakKiB < 0) {
    throw std::runtime_error("no memory figures for process " + std::to_string(pid));
  }
  return memory;
}

std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  // Each thread lists the children it forked itself, so every task must be read.
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (fs::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
    std::ifstream list(it->path() / "children");
    for (pid_t child; list >> child;) children.push_back(child);
  }
  return children;
}

std::string programFolder() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

bool cloexecPipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

void closeOthersOnSpawn(posix_spawn_file_actions_t& actions, short&) {
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

nlohmann::json machine() {
  utsname u{};
  uname(&u);
  return {{"cores", sysconf(_SC_NPROCESSORS_ONLN)},
          {"cpu", firstValue("/proc/cpuinfo", "model name")},
          {"os", firstValue("/etc/os-release", "PRETTY_NAME")},
          {"kernel", std::string(u.release)},
          {"arch", std::string(u.machine)}};
}
