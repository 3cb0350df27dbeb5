#include "support/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/app.hpp"

extern char** environ;

using Clock = std::chrono::steady_clock;

std::string serverBinary() {
  const char* chosen = std::getenv("TARNWICK_MCP_BINARY");
  return chosen != nullptr && *chosen != '\0' ? chosen : TARNWICK_MCP_BINARY;
}

namespace {

// A pipe whose ends other children do not inherit (pipe2 is not on every POSIX system).
bool pipeFor(int ends[2]) {
  if (::pipe(ends) != 0) return false;
  ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  return true;
}

}  // namespace

Server::~Server() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  for (const int fd : {in, out, err}) {
    if (fd >= 0) ::close(fd);
  }
}

Server::Server(const std::vector<std::string>& env, const std::vector<std::string>& args, bool nonBlockingOutput) {
  // The test's entries come first: getenv() takes the first of same-named ones.
  std::vector<std::string> entries = env;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  std::vector<std::string> words = {serverBinary()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> envp, argv;
  for (std::string& entry : entries) envp.push_back(entry.data());
  for (std::string& word : words) argv.push_back(word.data());
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  // A server that stops reading must show here as a failed write, not kill the test; the
  // server itself starts with the default, as clients start it.
  std::signal(SIGPIPE, SIG_IGN);
  int input[2], output[2], error[2];
  if (!pipeFor(input) || !pipeFor(output) || !pipeFor(error)) return;
  if (nonBlockingOutput) ::fcntl(output[1], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, error[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  ::close(error[1]);
  in = input[1];
  out = output[0];
  err = error[0];
}

bool writeTo(Server& server, std::string_view bytes) { return sendAll(server.in, bytes); }

bool readLine(Server& server, std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t feed = server.pendingOut.find('\n');
    if (feed != std::string::npos) {
      line = server.pendingOut.substr(0, feed);
      server.pendingOut.erase(0, feed + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{server.out, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    const ssize_t got = ::read(server.out, buffer, sizeof buffer);
    if (got == 0) return false;
    if (got > 0) server.pendingOut.append(buffer, static_cast<std::size_t>(got));
  }
}

void closeInput(Server& server) {
  if (server.in >= 0) ::close(server.in);
  server.in = -1;
}

Finished finish(Server& server, std::chrono::milliseconds timeout) {
  Finished result;
  closeInput(server);
  // Without a process there is nothing to wait for; waitpid(-1) and kill(-1) would reach every
  // process we may signal.
  if (server.pid <= 0) return result;
  result.out = std::move(server.pendingOut);
  const auto deadline = Clock::now() + timeout;
  std::vector<pollfd> open{{server.out, POLLIN, 0}, {server.err, POLLIN, 0}};
  while ((open[0].fd >= 0 || open[1].fd >= 0) && Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    // nfds_t is unsigned long with glibc but unsigned int on macOS, where size_t would narrow.
    const auto count = static_cast<nfds_t>(open.size());
    if (::poll(open.data(), count, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd < 0 || open[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(open[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        open[i].fd = -1;
      }
    }
  }
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(server.pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    ::kill(server.pid, SIGKILL);
    ::waitpid(server.pid, &status, 0);
  } else {
    result.exited = true;
    result.signaled = WIFSIGNALED(status);
    result.status = result.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  }
  server.pid = -1;
  return result;
}

Finished runToEnd(std::string_view input, const std::vector<std::string>& env,
                  const std::vector<std::string>& args) {
  Server server(env, args);
  const int in = server.in;
  server.in = -1;
  std::thread writer([in, input] {
    sendAll(in, input);
    ::close(in);
  });
  Finished result = finish(server);
  writer.join();
  return result;
}
