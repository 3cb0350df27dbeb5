// Cancellation, against the real binary and an app that takes requests and answers only when told:
// a client of the per-request revision that cancels a call must hear nothing more of it, and must
// not wait behind it; a client of the handshake revision is answered whatever it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "server/read_ahead.hpp"
#include "support/app.hpp"
#include "support/process.hpp"
#include "support/serve.hpp"

using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Takes one request at a time and holds it until told to answer, noting when the client hangs
// up on it first. Every wait is bounded.
struct StalledApp {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> requests;
  std::optional<Clock::time_point> hungUp;
  std::optional<std::string> answer;
  bool stopping = false;
  RawApp app{[this](int fd) { hold(fd); }};  // last: it stops calling hold() before the rest goes

  ~StalledApp() { update([&] { stopping = true; }); }

  void update(const std::function<void()>& change) {
    {
      std::lock_guard lock(mutex);
      change();
    }
    changed.notify_all();
  }
  // True once `holds` is, within 5 s.
  bool await(const std::function<bool()>& holds) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 5s, holds);
  }
  bool awaitRequests(std::size_t count) { return await([&] { return requests.size() >= count; }); }
  std::optional<Clock::time_point> awaitHangUp() {
    if (!await([&] { return hungUp.has_value(); })) return std::nullopt;
    std::lock_guard lock(mutex);
    return std::exchange(hungUp, std::nullopt);
  }
  void answerWith(std::string body) { update([&] { answer = std::move(body); }); }

  void hold(int fd) {
    std::string request = readRequest(fd);
    update([&] { requests.push_back(std::move(request)); });
    for (const auto deadline = Clock::now() + 20s; Clock::now() < deadline;) {
      {
        std::lock_guard lock(mutex);
        if (stopping) return;
        if (answer) return void(sendAll(fd, httpResponse(200, *std::exchange(answer, std::nullopt))));
      }
      pollfd ready{fd, POLLIN, 0};
      char byte = 0;
      if (::poll(&ready, 1, 2) > 0 && ::read(fd, &byte, 1) <= 0) return update([&] { hungUp = Clock::now(); });
    }
  }
};

const std::string meta =
    R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28","io.modelcontextprotocol/clientCapabilities":{}})";

// A tools/call of `tool` with id `id` (JSON text), of the per-request revision or the handshake one.
std::string call(const std::string& id, bool modern = true, const std::string& tool = "status") {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/call","params":{"name":")" + tool + "\"" +
         (modern ? "," + meta : "") + "}}\n";
}
std::string modernList(const std::string& id) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/list","params":{)" + meta + "}}\n";
}
// A cancellation whose params hold `params` (JSON members, without braces).
std::string cancelWith(const std::string& params) {
  return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{)" + params + "}}\n";
}
std::string cancel(const std::string& id) { return cancelWith(R"("requestId":)" + id + R"(,"reason":"Escape")"); }
std::string legacyResult(const std::string& id, const std::string& text) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":{"content":[{"type":"text","text":")" + text +
         R"("}],"isError":false}})";
}

std::string portOf(const StalledApp& app) { return "TARNWICK_PORT=" + std::to_string(app.app.port()); }

// The next answer, parsed; null when none came within 5 s.
json nextAnswer(Server& server) {
  std::string line;
  return readLine(server, line, 5s) ? json::parse(line) : json();
}

void expectQuietEnd(Server& server) {
  const Finished run = finish(server);
  EXPECT_TRUE(run.exited && run.status == 0) << run.status;
  EXPECT_EQ(run.out, "") << "answers nobody waits for";
  EXPECT_EQ(run.err, "");
}

}  // namespace

TEST(Cancel, TheCallInFlightIsDroppedAtOnceByItsOwnIdAloneAndTheRequestBehindItAnswered) {
  StalledApp app;
  Server server({portOf(app)});
  // The id, one of the same text or value but another type (ignored), and the one that cancels:
  // 0 and "" are ids like any other, and numbers are compared as numbers.
  const std::vector<std::vector<std::string>> rounds = {
      {"7", R"("7")", "7"}, {"0", R"("")", "0"}, {R"("")", "0", R"("")"}, {R"("45")", "45", R"("45")"},
      {"45", "false", "45.0"}};
  std::vector<Clock::duration> delays;
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    const std::string &id = rounds[round][0], &other = rounds[round][1], &named = rounds[round][2];
    const std::string behind = std::to_string(100 + round);
    ASSERT_TRUE(writeTo(server, call(id)));
    ASSERT_TRUE(app.awaitRequests(round + 1)) << id;
    ASSERT_TRUE(writeTo(server, modernList(behind) + cancel(other)));
    // Time for the server to read the wrong cancellation while the call waits; short, so that
    // the right one comes well before libcurl would wake by itself.
    std::this_thread::sleep_for(50ms);
    {
      std::lock_guard lock(app.mutex);
      ASSERT_FALSE(app.hungUp) << "request " << id << " was dropped by a cancellation of " << other;
    }
    const auto sent = Clock::now();
    ASSERT_TRUE(writeTo(server, cancel(named)));
    const std::optional<Clock::time_point> hungUp = app.awaitHangUp();
    ASSERT_TRUE(hungUp) << "the connection of request " << id << " stayed open";
    delays.push_back(*hungUp - sent);
    // The first line after the cancellation is the answer to the request behind it.
    const json answer = nextAnswer(server);
    EXPECT_EQ(answer["id"], json::parse(behind)) << answer.dump();
    EXPECT_EQ(answer["result"]["resultType"], "complete");
  }
  // At once: libcurl wakes by itself every 200 ms or so while it waits, and once a second at
  // the least, so a cancellation heard only then would show in every round. The median keeps
  // a round slowed by a busy machine from deciding.
  std::sort(delays.begin(), delays.end());
  EXPECT_LT(delays[delays.size() / 2], 100ms) << "the cancellation waited for libcurl to wake";
  EXPECT_LT(delays.back(), 900ms);
  expectQuietEnd(server);
}

TEST(Cancel, ARequestCancelledWhileInLineNeverReachesTheAppAndTheRestKeepTheirOrder) {
  StalledApp app;
  Server server({portOf(app)});
  // A request cancelled in the same write as itself is dropped before the app hears of it.
  ASSERT_TRUE(writeTo(server, call("0", true, "list_targets") + cancel("0") + call("1")));
  ASSERT_TRUE(app.awaitRequests(1));
  // In line behind it: a call of the per-request revision, one of the handshake revision, a list.
  ASSERT_TRUE(writeTo(server, call("2", true, "list_targets") + call("3", false) + modernList("4")));
  ASSERT_TRUE(writeTo(server, cancel("2") + cancel("3") + cancel("1")));
  ASSERT_TRUE(app.awaitHangUp());
  ASSERT_TRUE(app.awaitRequests(2));
  // Input that ends while a call waits: the call and what is in line are still answered.
  closeInput(server);
  app.answerWith("third");
  const Finished run = finish(server);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0], legacyResult("3", "third"));
  EXPECT_EQ(json::parse(lines[1])["id"], 4);
  std::lock_guard lock(app.mutex);
  ASSERT_EQ(app.requests.size(), 2u);
  for (const std::string& request : app.requests) {
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /status HTTP/1.1") << "a cancelled list_targets was sent";
  }
  EXPECT_TRUE(run.exited && run.status == 0 && run.err.empty());
}

TEST(Cancel, StrayMalformedAndHandshakeCancelsChangeNothing) {
  StalledApp app;
  Server server({portOf(app)});
  ASSERT_TRUE(writeTo(server, call("8")));
  ASSERT_TRUE(app.awaitRequests(1));
  const std::string strays =
      cancel("9") + cancelWith("") + cancelWith(R"("requestId":null)") + cancelWith(R"("requestId":{"id":8})") +
      cancelWith(R"("requestId":[8])") + cancelWith(R"("id":8)") +
      R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":8})" "\n" +
      R"({"jsonrpc":"2.0","method":"notifications/cancel","params":{"requestId":8}})" "\n" +
      // With an id, it is a request of a method we do not have, and is answered as one.
      R"({"jsonrpc":"2.0","id":50,"method":"notifications/cancelled","params":{"requestId":8}})" "\n";
  // A call of the handshake revision in line, cancelled by a notification that speaks the newer one.
  ASSERT_TRUE(writeTo(server, strays + call("5", false) + cancelWith(R"("requestId":5,)" + meta)));
  std::this_thread::sleep_for(150ms);
  app.answerWith("eighth");
  EXPECT_EQ(textOf(nextAnswer(server)["result"]), "eighth");
  EXPECT_EQ(nextAnswer(server)["error"]["message"], "Method not found: notifications/cancelled");
  std::string line;
  ASSERT_TRUE(app.awaitRequests(2));
  app.answerWith("fifth");
  ASSERT_TRUE(readLine(server, line, 5s));
  EXPECT_EQ(line, legacyResult("5", "fifth"));
  // The handshake revision's call in flight is answered too, byte for byte.
  ASSERT_TRUE(writeTo(server, call("6", false)));
  ASSERT_TRUE(app.awaitRequests(3));
  ASSERT_TRUE(writeTo(server, cancel("6") + cancelWith(R"("requestId":6,)" + meta)));
  std::this_thread::sleep_for(150ms);
  app.answerWith("sixth");
  ASSERT_TRUE(readLine(server, line, 5s));
  EXPECT_EQ(line, legacyResult("6", "sixth"));
  expectQuietEnd(server);
}

TEST(Cancel, WhatIsReadAheadDuringACallIsBoundedUnderAFlood) {
  StalledApp app;
  Server server({portOf(app)});
  ASSERT_TRUE(writeTo(server, call("1")));
  ASSERT_TRUE(app.awaitRequests(1));
  // Pings of 2 KiB each, written as long as the server takes them.
  const std::string flood = ping("2", R"(,"params":{"pad":")" + std::string(2000, 'x') + "\"}}") + "\n";
  ::fcntl(server.in, F_SETFL, ::fcntl(server.in, F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  for (pollfd room{server.in, POLLOUT, 0}; written < (64u << 20) && ::poll(&room, 1, 300) > 0;) {
    const std::size_t at = written % flood.size();
    const ssize_t sent = ::write(server.in, flood.data() + at, flood.size() - at);
    if (sent > 0) written += static_cast<std::size_t>(sent);
  }
  // What it read ahead, what its read buffer and the pipe hold, and some slack.
  EXPECT_LT(written, readAheadBytes + (512u << 10)) << "the server kept reading while the call waited";
  // Then the call ends, and every ping is answered in its turn.
  ::fcntl(server.in, F_SETFL, ::fcntl(server.in, F_GETFL) & ~O_NONBLOCK);
  app.answerWith("first");
  const std::size_t partial = written % flood.size();
  std::thread rest([&] { writeTo(server, partial == 0 ? "" : flood.substr(partial)); });
  const json first = nextAnswer(server);
  rest.join();
  EXPECT_EQ(textOf(first["result"]), "first");
  const Finished run = finish(server);
  EXPECT_EQ(splitLines(run.out).size(), (written + flood.size() - 1) / flood.size());
  EXPECT_TRUE(run.exited && run.status == 0 && run.err.empty());
}
