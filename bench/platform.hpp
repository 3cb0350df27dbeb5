#pragma once
// What the benchmark needs of the system that Linux and macOS offer in different ways. The two
// implementations sit side by side, platform_linux.cpp and platform_macos.cpp; CMake builds the
// one for the system, so the measurements read the same on both.

#include <spawn.h>
#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// Keeps process `pid` (0: the calling thread) on one CPU. False when the system refuses, and
// always on macOS, which offers no affinity.
bool pinToCpu(pid_t pid, int cpu);

// What a live process holds, in KiB. `peakKiB` is the most it has held since it started.
struct Memory {
  long residentKiB = 0;
  long peakKiB = 0;
};

// How this system's kernel counts what Memory reports, for the report's header and for the
// figures that name it.
struct MemoryMeasures {
  const char* resident;    // e.g. "VmRSS of /proc/PID/status"
  const char* peak;
  const char* peakFigure;  // the start of a peak row's figure, e.g. "peak resident set"
};
MemoryMeasures memoryMeasures();

// Throws std::runtime_error when `pid` has ended, is a zombie, or cannot be read.
Memory processMemory(pid_t pid);

// The processes whose parent is `pid`, zombies perhaps among them; empty when it has none or
// has ended.
std::vector<pid_t> childrenOf(pid_t pid);

// The folder that holds the running program. Throws when the system cannot tell.
std::string programFolder();

// Fills `fds` like pipe(2), both ends closed on exec. Returns false with errno set on failure.
bool cloexecPipe(int fds[2]);

// Makes a spawn with these actions and attributes leave the child nothing open but 0, 1 and 2,
// whatever this process holds without close-on-exec (a library's socket, say). Called once,
// after the actions that place 0 and 1; `flags` are those the caller gives the attributes.
void closeOthersOnSpawn(posix_spawn_file_actions_t& actions, short& flags);

// The machine for the report's header: "cores", "cpu", "os", "kernel", "arch", and more where
// the system tells it. Values it cannot read are empty.
nlohmann::json machine();
