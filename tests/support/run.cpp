#include "support/run.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/raw_app.hpp"
#include "support/serve_text.hpp"

extern char** environ;

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::vector<std::string> serveText(std::string_view input, const Automation& automation) {
  return splitLines(serveCaptured(input, 4093, automation));
}

std::vector<json> answersTo(std::string_view input, const Automation& automation) {
  std::vector<json> answers;
  for (const std::string& line : serveText(input, automation)) answers.push_back(json::parse(line));
  return answers;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    lines.emplace_back(text.substr(0, feed));
    text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
  }
  return lines;
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

Child::Child(Child&& other) noexcept
    : pid(other.pid), in(other.in), out(other.out), err(other.err), pendingOut(std::move(other.pendingOut)) {
  other.pid = other.in = other.out = other.err = -1;
}

Child::~Child() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  for (const int fd : {in, out, err}) {
    if (fd >= 0) ::close(fd);
  }
}

Child start(const std::string& path, const std::vector<std::string>& env, const std::vector<std::string>& args) {
  // The child's environment: ours, with the test's entries in place of same-named ones.
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view existing(*entry);
    const std::string_view name = existing.substr(0, existing.find('='));
    bool replaced = false;
    for (const std::string& wanted : env) replaced |= wanted.substr(0, wanted.find('=')) == name;
    if (!replaced) entries.emplace_back(existing);
  }
  entries.insert(entries.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // A child that stops reading must show as a failed write, not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (!pipeFor(in) || !pipeFor(out) || !pipeFor(err)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> words = {path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Child child;
  if (posix_spawn(&child.pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  child.in = in[1];
  child.out = out[0];
  child.err = err[0];
  return child;
}

bool writeTo(Child& child, std::string_view bytes) { return sendAll(child.in, bytes); }

bool readLine(Child& child, std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::size_t feed = child.pendingOut.find('\n');
    if (feed != std::string::npos) {
      line = child.pendingOut.substr(0, feed);
      child.pendingOut.erase(0, feed + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{child.out, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[65536];
    const ssize_t got = ::read(child.out, buffer, sizeof buffer);
    if (got == 0) return false;
    if (got > 0) child.pendingOut.append(buffer, static_cast<std::size_t>(got));
  }
}

void closeInput(Child& child) {
  if (child.in >= 0) ::close(child.in);
  child.in = -1;
}

Finished finish(Child& child, std::chrono::milliseconds timeout) {
  Finished result;
  closeInput(child);
  // Without a child there is nothing to wait for; waitpid(-1) and kill(-1) would reach every
  // process we may signal.
  if (child.pid <= 0) return result;
  result.out = std::move(child.pendingOut);
  const auto deadline = Clock::now() + timeout;
  std::vector<pollfd> open{{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  while ((open[0].fd >= 0 || open[1].fd >= 0) && Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (::poll(open.data(), open.size(), static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
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
  while ((done = ::waitpid(child.pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    ::kill(child.pid, SIGKILL);
    ::waitpid(child.pid, &status, 0);
  } else {
    result.exited = true;
    result.signaled = WIFSIGNALED(status);
    result.status = result.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  }
  if (child.out >= 0) ::close(child.out);
  if (child.err >= 0) ::close(child.err);
  child.out = child.err = -1;
  child.pid = -1;
  return result;
}

Finished runWith(const std::string& path, std::string_view input, const std::vector<std::string>& env,
                 std::chrono::milliseconds timeout) {
  Child child = start(path, env);
  // Written from a second thread so that a large input cannot deadlock against a full stdout.
  const int in = child.in;
  child.in = -1;
  std::thread writer([in, input] {
    sendAll(in, input);
    ::close(in);
  });
  Finished result = finish(child, timeout);
  writer.join();
  return result;
}

namespace {

std::string fromEnvironment(const char* name, const char* built) {
  const char* chosen = std::getenv(name);
  return chosen != nullptr && *chosen != '\0' ? chosen : built;
}

}  // namespace

std::string serverBinary() { return fromEnvironment("TARNWICK_MCP_BINARY", TARNWICK_MCP_BINARY); }

json callInProcess(const Automation& automation, const std::string& tool, const json& arguments) {
  const json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                        {"params", {{"name", tool}, {"arguments", arguments}}}};
  const std::vector<json> answers = answersTo(request.dump() + "\n", automation);
  return answers.size() == 1 ? answers[0] : json();
}

std::string textOf(const json& result) {
  const auto pointer = "/content/0/text"_json_pointer;
  if (!result.is_object() || !result.contains(pointer)) return "";
  const json& text = result.at(pointer);
  return text.is_string() ? text.get<std::string>() : "";
}
