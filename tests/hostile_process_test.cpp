// A hostile client seen from outside: the real process, fed through pipes that it cannot
// choose, must answer everything in order, stay silent on standard error and exit with 0.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/fake_app.hpp"
#include "support/messages.hpp"
#include "support/run.hpp"

using nlohmann::json;
using namespace messages;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

// The peak resident size of a running process in bytes, from /proc where there is one; -1
// elsewhere. Taken from the process itself: the rusage of children also counts the memory of
// the parent they were spawned from.
long long peakResident(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
  }
  return -1;
}

}  // namespace

TEST(HostileClientProcess, SixtyFourMebibyteLineIsAnswered) {
  const std::size_t size = 64u << 20;
  std::string input = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")";
  input.append(size - input.size() - 3, 'x');
  input += "\"}}\n" + ping("2");
  Child child = start(serverBinary());
  ASSERT_GT(child.pid, 0);
  // The answers are short, so the whole input can be written before reading them.
  const bool written = writeTo(child, input);
  std::string first, second;
  const bool answered = readLine(child, first, std::chrono::seconds(20)) && readLine(child, second, std::chrono::seconds(20));
  // Still running, waiting for more input: its peak so far is the peak of the long line.
  const long long peak = peakResident(child.pid);
  const Finished run = finish(child, std::chrono::seconds(10));
  ASSERT_TRUE(written && answered);
  EXPECT_EQ(json::parse(first), pong(1));
  EXPECT_EQ(json::parse(second), pong(2));
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  if (peak < 0) GTEST_SKIP() << "no /proc to read the peak from";
  const double multiple = static_cast<double>(peak) / static_cast<double>(size);
  std::printf("peak resident size for a 64 MiB line: %.2f times the line\n", multiple);
  // Sanitizers keep freed memory in quarantine; the bound holds for plain builds only.
  if (!sanitized) {
    EXPECT_LT(multiple, 6.0);
  }
}

TEST(HostileClientProcess, HundredThousandPipelinedPingsAreAnsweredInOrder) {
  std::string input;
  for (int i = 0; i < 100'000; ++i) input += ping(std::to_string(i));
  const Finished run = runWith(serverBinary(), input);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 100'000u);
  for (int i = 0; i < 100'000; ++i) {
    ASSERT_EQ(json::parse(lines[static_cast<std::size_t>(i)])["id"], i) << "answer " << i;
  }
}

TEST(HostileClientProcess, ClosedOutputEndsTheProcessQuietly) {
  Child child = start(serverBinary());
  ASSERT_GT(child.pid, 0);
  std::string line;
  const bool answered = writeTo(child, ping("1")) && readLine(child, line, std::chrono::seconds(10));
  ::close(child.out);
  child.out = -1;
  // The server must notice on its next answer and end by itself while requests still come:
  // our writes start failing once it has gone.
  bool gone = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!gone && std::chrono::steady_clock::now() < deadline) {
    gone = !writeTo(child, ping("2"));
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const Finished run = finish(child, std::chrono::seconds(10));
  EXPECT_TRUE(answered);
  EXPECT_TRUE(gone) << "the server kept reading after its output was closed";
  ASSERT_TRUE(run.exited);
  EXPECT_FALSE(run.signaled) << "signal " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

TEST(HostileClientProcess, InputClosingDuringAToolCallStillGetsTheAnswer) {
  std::atomic<bool> release{false};
  FakeApp app;
  app.answerWith([&release](const httplib::Request&, httplib::Response& response) {
    for (int i = 0; i < 1000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    response.set_content("late answer", "application/json");
  });
  // Lets the app answer on every way out of this test, or its server thread would not stop.
  struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = true; }
  } releaseOnExit{release};

  Child child = start(serverBinary(), {"TARNWICK_PORT=" + std::to_string(app.port())});
  ASSERT_GT(child.pid, 0);
  writeTo(child, R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"status"}})"
                 "\n");
  for (int i = 0; i < 1000 && app.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool inFlight = !app.requests().empty();
  closeInput(child);
  release = true;
  const Finished run = finish(child, std::chrono::seconds(10));
  ASSERT_TRUE(inFlight);
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 1u);
  const json answer = json::parse(lines[0]);
  EXPECT_EQ(answer["id"], 9);
  EXPECT_EQ(answer["result"]["content"][0]["text"], "late answer");
  EXPECT_EQ(answer["result"]["isError"], false);
}
