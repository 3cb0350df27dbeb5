#include "child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform.hpp"

extern char** environ;

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

int msUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
}

void countLines(Child& child) {
  const char* base = child.received.data();
  std::size_t size = child.received.size();
  while (child.scanned < size) {
    auto* nl = static_cast<const char*>(
        std::memchr(base + child.scanned, '\n', size - child.scanned));
    if (!nl) {
      child.scanned = size;
      break;
    }
    ++child.linesReady;
    child.scanned = static_cast<std::size_t>(nl - base) + 1;
  }
}

// Returns false at end of output.
bool readSome(Child& child) {
  static char buf[1 << 16];
  ssize_t n = read(child.out, buf, sizeof buf);
  if (n == 0) return false;
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return true;
    fail("read from child");
  }
  child.received.append(buf, static_cast<std::size_t>(n));
  countLines(child);
  return true;
}

}  // namespace

Child::Child(Child&& other) noexcept
    : pid(other.pid), in(other.in), out(other.out), received(std::move(other.received)),
      scanned(other.scanned), linesReady(other.linesReady) {
  other.pid = -1;
  other.in = other.out = -1;
}

Child::~Child() {
  closeFd(in);
  closeFd(out);
  if (pid > 0) {
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

Child spawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int toChild[2], fromChild[2];
  if (!cloexecPipe(toChild)) fail("pipe");
  if (!cloexecPipe(fromChild)) {
    close(toChild[0]);
    close(toChild[1]);
    fail("pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  // The fake app's sockets must not leak into the child and outlive the benchmark's view.
  short flags = POSIX_SPAWN_SETPGROUP;
  closeOthersOnSpawn(actions, flags);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Ours, with the benchmark's entries in place of same-named ones: the first of two wins, and
  // an exported TARNWICK_PORT must not send the server to another app.
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) {
    const std::string_view name(*e, std::strcspn(*e, "="));
    bool replaced = false;
    for (const auto& wanted : env) replaced |= std::string_view(wanted).substr(0, wanted.find('=')) == name;
    if (!replaced) envp.push_back(*e);
  }
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // A group of its own, so that what a launcher (npx, a shell) starts can be found and stopped.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, flags);

  Child child;
  int rc = posix_spawnp(&child.pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  child.in = toChild[1];
  child.out = fromChild[0];
  if (rc != 0) {
    child.pid = -1;
    errno = rc;
    fail("spawn " + argv[0]);
  }
  fcntl(child.in, F_SETFL, O_NONBLOCK);
  fcntl(child.out, F_SETFL, O_NONBLOCK);
  return child;
}

void pump(Child& child, std::string_view data, std::size_t lines, Clock::time_point deadline) {
  std::size_t off = 0;
  while (off < data.size() || child.linesReady < lines) {
    if (off < data.size()) {
      std::size_t chunk = std::min<std::size_t>(data.size() - off, 1 << 20);
      ssize_t n = write(child.in, data.data() + off, chunk);
      if (n > 0) {
        off += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) fail("write to child");
    }
    pollfd fds[2] = {{child.out, POLLIN, 0}, {child.in, POLLOUT, 0}};
    nfds_t count = off < data.size() ? 2 : 1;
    int ready = poll(fds, count, msUntil(deadline));
    if (ready < 0 && errno != EINTR) fail("poll");
    if (ready == 0) throw std::runtime_error("child did not answer in time");
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!readSome(child)) throw std::runtime_error("child closed its output");
    }
  }
}

std::string takeLine(Child& child) {
  auto nl = child.received.find('\n');
  if (child.linesReady == 0 || nl == std::string::npos) throw std::logic_error("no line ready");
  std::string line = child.received.substr(0, nl);
  child.received.erase(0, nl + 1);
  child.scanned -= nl + 1;
  --child.linesReady;
  return line;
}

void dropLines(Child& child) {
  auto last = child.received.rfind('\n');
  if (last == std::string::npos) return;
  child.received.erase(0, last + 1);
  child.scanned = child.received.size();
  child.linesReady = 0;
  countLines(child);
}

Exit finish(Child& child, Clock::time_point deadline) {
  closeFd(child.in);
  while (child.out >= 0) {
    pollfd fd{child.out, POLLIN, 0};
    if (poll(&fd, 1, msUntil(deadline)) <= 0) break;
    child.received.clear();
    child.scanned = child.linesReady = 0;
    if (!readSome(child)) closeFd(child.out);
  }
  Exit exit;
  const pid_t group = child.pid;
  while (Clock::now() < deadline) {
    if (child.pid > 0 && wait4(child.pid, &exit.status, WNOHANG, &exit.usage) == child.pid) {
      child.pid = -1;
      closeFd(child.out);
    }
    // Until the last of the group is gone, which the kernel tells without a wait.
    if (child.pid < 0 && kill(-group, 0) != 0) return exit;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  if (child.pid < 0) {
    kill(-group, SIGKILL);
    throw std::runtime_error("child exited but left processes running");
  }
  throw std::runtime_error("child did not exit in time");  // the destructor kills the group
}
