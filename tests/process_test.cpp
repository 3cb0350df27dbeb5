// The real binary, started as an MCP client starts it and fed through pipes it cannot choose:
// it must answer everything in order, stay silent on standard error and exit with 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "support/app.hpp"
#include "support/process.hpp"
#include "support/serve.hpp"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string statusCall = R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":"status"}})";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

std::string portOf(const RawApp& app) { return "TARNWICK_PORT=" + std::to_string(app.port()); }

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

TEST(Process, HandshakeThenExitZeroAtEndOfInputWithSilentStderr) {
  // Arguments that are no options are ignored, as clients may pass some.
  const Finished run = runToEnd(R"({"jsonrpc":"2.0","id":0,"method":"initialize"})" "\r\n"
                                R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n\n"
                                R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})" "\n"
                                "not json\n" + ping("2"),
                                {}, {"stdio", "x"});
  ASSERT_TRUE(run.exited);
  EXPECT_FALSE(run.signaled);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_EQ(json::parse(lines[0])["result"]["serverInfo"]["name"], "tarnwick");
  EXPECT_EQ(json::parse(lines[1])["result"]["tools"].size(), 10u);
  EXPECT_EQ(json::parse(lines[2]), parseError);
  EXPECT_EQ(lines[3], R"({"jsonrpc":"2.0","id":2,"result":{}})");

  const Finished empty = runToEnd("");
  EXPECT_TRUE(empty.exited && empty.status == 0 && empty.out.empty() && empty.err.empty());
}

TEST(Process, APingWrittenDuringASlowToolCallIsAnsweredAfterIt) {
  RawApp slow([](int fd) {
    readRequest(fd);
    std::this_thread::sleep_for(300ms);
    sendAll(fd, httpResponse(200, "late answer"));
  });
  // Input that ends while the call is in flight still lets it finish and be answered.
  const Finished run = runToEnd(statusCall + "\n" + ping("2") + "\n", {portOf(slow)});
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(textOf(json::parse(lines[0])["result"]), "late answer");
  EXPECT_EQ(lines[1], R"({"jsonrpc":"2.0","id":2,"result":{}})");
  EXPECT_EQ(run.status, 0);
}

TEST(Process, SixtyFourMebibyteLineIsAnsweredInBoundedMemory) {
  const std::size_t size = 64u << 20;
  std::string input = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"pad":")";
  input.append(size - input.size() - 3, 'x');
  input += "\"}}\n" + ping("2") + "\n";
  Server server;
  // The answers are short, so the whole input can be written before reading them.
  const bool written = writeTo(server, input);
  std::string first, second;
  const bool answered = readLine(server, first, 20s) && readLine(server, second, 20s);
  // Still running, waiting for more input: its peak so far is the peak of the long line.
  const long long peak = peakResident(server.pid);
  const Finished run = finish(server);
  ASSERT_TRUE(written && answered);
  EXPECT_EQ(first, R"({"jsonrpc":"2.0","id":1,"result":{}})");
  EXPECT_EQ(second, R"({"jsonrpc":"2.0","id":2,"result":{}})");
  EXPECT_TRUE(run.exited && run.status == 0 && run.err.empty());
  if (peak < 0) GTEST_SKIP() << "no /proc to read the peak from";
  std::printf("peak resident size for a 64 MiB line: %.2f times the line\n", double(peak) / double(size));
  // The JSON parser alone holds a long string about three times over while it reads it; one
  // more copy of the line anywhere shows. Sanitizers keep freed memory in quarantine, so the
  // bound holds for plain builds only.
  if (!sanitized) {
    EXPECT_LT(double(peak) / double(size), 4.5);
  }
}

TEST(Process, ClosedOutputEndsTheProcessQuietly) {
  Server server;
  std::string line;
  const bool answered = writeTo(server, ping("1") + "\n") && readLine(server, line, 10s);
  ::close(server.out);
  server.out = -1;
  // The server must notice on its next answer and end by itself while requests still come:
  // our writes start failing once it has gone.
  bool gone = false;
  for (int i = 0; i < 10'000 && !gone; ++i) {
    gone = !writeTo(server, ping("2") + "\n");
    if (!gone) std::this_thread::sleep_for(1ms);
  }
  const Finished run = finish(server);
  EXPECT_TRUE(answered);
  EXPECT_TRUE(gone) << "the server kept reading after its output was closed";
  ASSERT_TRUE(run.exited);
  EXPECT_FALSE(run.signaled) << "signal " << run.status;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

TEST(Process, ALongAnswerReachesAClientThatReadsSlowlyWhole) {
  const std::string body(4u << 20, 'a');
  RawApp app(200, body);
  // A pipe that takes what fits and says so, as some clients hand over.
  Server server({portOf(app)}, {}, true);
  ASSERT_TRUE(writeTo(server, statusCall + "\n" + ping("2") + "\n"));
  std::this_thread::sleep_for(200ms);  // the pipe fills, and the server must wait for room
  const Finished run = finish(server);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(textOf(json::parse(lines[0])["result"]) == body);
  EXPECT_EQ(lines[1], R"({"jsonrpc":"2.0","id":2,"result":{}})");
  EXPECT_EQ(run.status, 0);
}
