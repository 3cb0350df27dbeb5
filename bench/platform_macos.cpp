// macOS: no affinity, the kernel's own accounting through libproc, sysctl for the machine.
#include "platform.hpp"

#include <fcntl.h>
#include <libproc.h>
#include <mach-o/dyld.h>
#include <sys/proc.h>
#include <sys/proc_info.h>
#include <sys/resource.h>
#include <sys/sysctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

std::string sysctlText(const char* name) {
  std::size_t size = 0;
  if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0 || size == 0) return "";
  std::string value(size, '\0');
  if (sysctlbyname(name, value.data(), &size, nullptr, 0) != 0) return "";
  value.resize(strnlen(value.c_str(), size));
  return value;
}

long sysctlNumber(const char* name) {
  int value = 0;
  std::size_t size = sizeof value;
  return sysctlbyname(name, &value, &size, nullptr, 0) == 0 ? value : -1;
}

long kib(std::uint64_t bytes) { return static_cast<long>(bytes / 1024); }

}  // namespace

// Thread affinity on macOS is a hint between threads of one task, and Apple silicon ignores it.
bool pinToCpu(pid_t, int) { return false; }

MemoryMeasures memoryMeasures() {
  return {"ri_resident_size of proc_pid_rusage",
          "ri_lifetime_max_phys_footprint of proc_pid_rusage", "peak physical footprint"};
}

Memory processMemory(pid_t pid) {
  // proc_pid_rusage answers for a zombie too, with the figures of a process that holds nothing.
  proc_bsdshortinfo info{};
  if (proc_pidinfo(pid, PROC_PIDT_SHORTBSDINFO, 0, &info, sizeof info) != static_cast<int>(sizeof info) ||
      info.pbsi_status == SZOMB) {
    throw std::runtime_error("process " + std::to_string(pid) + " has ended");
  }
  rusage_info_v4 usage{};
  if (proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) != 0) {
    throw std::runtime_error("no memory figures for process " + std::to_string(pid) + ": " + std::strerror(errno));
  }
  return {kib(usage.ri_resident_size), kib(usage.ri_lifetime_max_phys_footprint)};
}

std::vector<pid_t> childrenOf(pid_t pid) {
  // Read into a zeroed buffer and keep what is not 0: that holds whether the count returned is
  // of processes or, as some releases had it, of bytes.
  for (std::size_t room = 64; room <= 65536; room *= 8) {
    std::vector<pid_t> pids(room, 0);
    int got = proc_listchildpids(pid, pids.data(), static_cast<int>(room * sizeof(pid_t)));
    if (got <= 0) return {};
    if (static_cast<std::size_t>(got) >= room) continue;  // perhaps more than fit
    pids.resize(static_cast<std::size_t>(got));
    pids.erase(std::remove(pids.begin(), pids.end(), 0), pids.end());
    return pids;
  }
  throw std::runtime_error("process " + std::to_string(pid) + " has too many children to list");
}

std::string programFolder() {
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string path(size, '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) throw std::runtime_error("cannot find the running program");
  path.resize(std::strlen(path.c_str()));
  return std::filesystem::canonical(path).parent_path().string();
}

bool cloexecPipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
}

// Apple's flag closes everything the actions do not name, standard error included.
void closeOthersOnSpawn(posix_spawn_file_actions_t& actions, short& flags) {
  posix_spawn_file_actions_addinherit_np(&actions, 2);
  flags = static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT);
}

nlohmann::json machine() {
  utsname u{};
  uname(&u);
  // The product and build versions that sw_vers prints, as the kernel holds them.
  const std::string version = sysctlText("kern.osproductversion"), build = sysctlText("kern.osversion");
  nlohmann::json about = {{"cores", sysctlNumber("hw.ncpu")},
                          {"cpu", sysctlText("machdep.cpu.brand_string")},
                          {"model", sysctlText("hw.model")},
                          {"os", version.empty() ? "" : "macOS " + version + (build.empty() ? "" : " (" + build + ")")},
                          {"kernel", std::string(u.release)},
                          {"arch", std::string(u.machine)}};
  if (sysctlNumber("sysctl.proc_translated") == 1) about["translated"] = "Rosetta 2";
  return about;
}
