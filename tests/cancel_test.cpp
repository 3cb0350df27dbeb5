// Cancellation, against the real binary and an app that takes requests and answers only when told:
// a client of the per-request revision that cancels a call must hear nothing more of it, and must
// not wait behind it; a client of the handshake revision is answered whatever it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fcntl.h>
#include <fstream>
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
class StalledApp {
 public:
  StalledApp() : app_([this](int fd) { hold(fd); }) {}
  ~StalledApp() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }

  int port() const { return app_.port(); }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // True once `count` requests in all have arrived.
  bool awaitRequests(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return requests_.size() >= count; });
  }
  // When the client hung up on the request in hand; nothing if it did not within 5 s.
  std::optional<Clock::time_point> awaitHangUp() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, 5s, [&] { return hungUp_.has_value(); })) return std::nullopt;
    return std::exchange(hungUp_, std::nullopt);
  }
  // Answers the request in hand with `body`.
  void answer(std::string body) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(body);
  }

 private:
  void hold(int fd) {
    std::string request = readRequest(fd);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(request));
    }
    changed_.notify_all();
    for (const auto deadline = Clock::now() + 20s; Clock::now() < deadline;) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (answer_) {
          sendAll(fd, httpResponse(200, *std::exchange(answer_, std::nullopt)));
          return;
        }
      }
      pollfd ready{fd, POLLIN, 0};
      char byte = 0;
      if (::poll(&ready, 1, 2) > 0 && ::read(fd, &byte, 1) <= 0) {
        {
          std::lock_guard lock(mutex_);
          hungUp_ = Clock::now();
        }
        changed_.notify_all();
        return;
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> requests_;
  std::optional<Clock::time_point> hungUp_;
  std::optional<std::string> answer_;
  bool stopping_ = false;
  RawApp app_;  // last: it stops, and stops calling hold(), before the rest goes
};

const std::string meta =
    R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28","io.modelcontextprotocol/clientCapabilities":{}})";

std::string modernCall(const std::string& id, const std::string& tool = "status") {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/call","params":{"name":")" + tool +
         R"(","arguments":{},)" + meta + "}}\n";
}
std::string modernList(const std::string& id) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/list","params":{)" + meta + "}}\n";
}
std::string legacyCall(const std::string& id, const std::string& tool = "status") {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/call","params":{"name":")" + tool + "\"}}\n";
}
// A cancellation whose params hold `params` (JSON members, without braces).
std::string cancelWith(const std::string& params) {
  return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{)" + params + "}}\n";
}
std::string cancel(const std::string& id) { return cancelWith(R"("requestId":)" + id + R"(,"reason":"Escape")"); }

std::string portOf(const StalledApp& app) { return "TARNWICK_PORT=" + std::to_string(app.port()); }

// The next answer, parsed; null when none came within 5 s.
json nextAnswer(Server& server) {
  std::string line;
  return readLine(server, line, 5s) ? json::parse(line) : json();
}

// The first line of a request as the app read it: "POST /status HTTP/1.1".
std::string requestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

void expectQuietEnd(Server& server) {
  const Finished run = finish(server);
  EXPECT_TRUE(run.exited && run.status == 0) << run.status;
  EXPECT_EQ(run.out, "") << "answers nobody waits for";
  EXPECT_EQ(run.err, "");
}

}  // namespace

TEST(Cancel, TheCallInFlightIsDroppedAtOnceAndTheRequestBehindItAnswered) {
  StalledApp app;
  Server server({portOf(app)});
  // 0 and "" are ids like any other; numbers are compared as numbers.
  const std::vector<std::pair<std::string, std::string>> ids = {
      {"7", "7"}, {"0", "0"}, {R"("")", R"("")"}, {R"("call-1")", R"("call-1")"}, {"45", "45.0"}};
  std::vector<Clock::duration> delays;
  for (std::size_t round = 0; round < ids.size(); ++round) {
    const auto& [id, named] = ids[round];
    ASSERT_TRUE(writeTo(server, modernCall(id)));
    ASSERT_TRUE(app.awaitRequests(round + 1)) << id;
    const std::string behind = std::to_string(100 + round);
    ASSERT_TRUE(writeTo(server, modernList(behind)));
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

TEST(Cancel, IdsAreMatchedAsTheJsonValuesTheRequestsCarried) {
  StalledApp app;
  Server server({portOf(app)});
  // Each cancellation names a value of the same text but another type, or another value.
  const std::vector<std::pair<std::string, std::string>> misses = {
      {"45", R"("45")"}, {R"("45")", "45"}, {"0", R"("")"}, {R"("")", "0"}, {"0", "false"}, {"1", "1.5"}};
  for (std::size_t round = 0; round < misses.size(); ++round) {
    const auto& [id, named] = misses[round];
    ASSERT_TRUE(writeTo(server, modernCall(id) + cancel(named)));
    ASSERT_TRUE(app.awaitRequests(round + 1));
    // Time for the server to read the cancellation while the call waits.
    std::this_thread::sleep_for(150ms);
    app.answer("answered " + id);
    const json answer = nextAnswer(server);
    EXPECT_EQ(answer["id"], json::parse(id)) << "request " << id << " was dropped by a cancel of " << named;
    EXPECT_EQ(textOf(answer["result"]), "answered " + id);
  }
  expectQuietEnd(server);
}

TEST(Cancel, ARequestCancelledWhileInLineNeverReachesTheAppAndTheRestKeepTheirOrder) {
  StalledApp app;
  Server server({portOf(app)});
  // A request cancelled in the same write as itself is dropped before the app hears of it.
  ASSERT_TRUE(writeTo(server, modernCall("0", "list_targets") + cancel("0") + modernCall("1")));
  ASSERT_TRUE(app.awaitRequests(1));
  // In line behind it: a call of the per-request revision, one of the handshake revision, a list.
  ASSERT_TRUE(writeTo(server, modernCall("2", "list_targets") + legacyCall("3") + modernList("4")));
  ASSERT_TRUE(writeTo(server, cancel("2") + cancel("3") + cancel("1")));
  ASSERT_TRUE(app.awaitHangUp());
  ASSERT_TRUE(app.awaitRequests(2));
  // Input that ends while a call waits: the call and what is in line are still answered.
  closeInput(server);
  app.answer("third");
  const Finished run = finish(server);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0], R"({"jsonrpc":"2.0","id":3,"result":{"content":[{"type":"text","text":"third"}],"isError":false}})");
  EXPECT_EQ(json::parse(lines[1])["id"], 4);
  const std::vector<std::string> requests = app.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const std::string& request : requests) {
    EXPECT_EQ(requestLine(request), "POST /status HTTP/1.1") << "a cancelled list_targets was sent";
  }
  EXPECT_TRUE(run.exited && run.status == 0 && run.err.empty());
}

TEST(Cancel, StrayMalformedAndHandshakeCancelsChangeNothing) {
  StalledApp app;
  Server server({portOf(app)});
  ASSERT_TRUE(writeTo(server, modernCall("8")));
  ASSERT_TRUE(app.awaitRequests(1));
  const std::string strays =
      cancel("9") + cancelWith("") + cancelWith(R"("requestId":null)") + cancelWith(R"("requestId":true)") +
      cancelWith(R"("requestId":{"id":8})") + cancelWith(R"("requestId":[8])") + cancelWith(R"("id":8)") +
      R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":8})" "\n" +
      R"({"jsonrpc":"2.0","method":"notifications/cancel","params":{"requestId":8}})" "\n" +
      // With an id, it is a request of a method we do not have, and is answered as one.
      R"({"jsonrpc":"2.0","id":50,"method":"notifications/cancelled","params":{"requestId":8}})" "\n";
  // A call of the handshake revision in line, cancelled by a notification that speaks the newer one.
  ASSERT_TRUE(writeTo(server, strays + legacyCall("5") + cancelWith(R"("requestId":5,)" + meta)));
  std::this_thread::sleep_for(150ms);
  app.answer("eighth");
  const json eighth = nextAnswer(server);
  EXPECT_EQ(eighth["id"], 8);
  EXPECT_EQ(textOf(eighth["result"]), "eighth");
  EXPECT_EQ(nextAnswer(server)["error"]["message"], "Method not found: notifications/cancelled");
  ASSERT_TRUE(app.awaitRequests(2));
  app.answer("fifth");
  std::string line;
  ASSERT_TRUE(readLine(server, line, 5s));
  EXPECT_EQ(line, R"({"jsonrpc":"2.0","id":5,"result":{"content":[{"type":"text","text":"fifth"}],"isError":false}})");

  // The handshake revision's call in flight is answered too, byte for byte.
  ASSERT_TRUE(writeTo(server, legacyCall("6")));
  ASSERT_TRUE(app.awaitRequests(3));
  ASSERT_TRUE(writeTo(server, cancel("6") + cancelWith(R"("requestId":6,)" + meta)));
  std::this_thread::sleep_for(150ms);
  app.answer("sixth");
  ASSERT_TRUE(readLine(server, line, 5s));
  EXPECT_EQ(line, R"({"jsonrpc":"2.0","id":6,"result":{"content":[{"type":"text","text":"sixth"}],"isError":false}})");
  expectQuietEnd(server);
}

TEST(Cancel, WhatIsReadAheadDuringACallIsBoundedUnderAFlood) {
  StalledApp app;
  Server server({portOf(app)});
  ASSERT_TRUE(writeTo(server, modernCall("1")));
  ASSERT_TRUE(app.awaitRequests(1));
  // Pings of 2 KiB each, written as long as the server takes them.
  const std::string flood = ping("2", R"(,"params":{"pad":")" + std::string(2000, 'x') + "\"}}") + "\n";
  ::fcntl(server.in, F_SETFL, ::fcntl(server.in, F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  const std::size_t cap = 64u << 20;
  for (pollfd room{server.in, POLLOUT, 0}; written < cap && ::poll(&room, 1, 300) > 0;) {
    const std::size_t at = written % flood.size();
    const ssize_t sent = ::write(server.in, flood.data() + at, flood.size() - at);
    if (sent > 0) written += static_cast<std::size_t>(sent);
  }
  // What it read ahead, what its read buffer and the pipe hold, and some slack.
  EXPECT_LT(written, readAheadBytes + (512u << 10)) << "the server kept reading while the call waited";
  // Then the call ends, and every ping is answered in its turn.
  ::fcntl(server.in, F_SETFL, ::fcntl(server.in, F_GETFL) & ~O_NONBLOCK);
  app.answer("first");
  const std::size_t partial = written % flood.size();
  std::thread rest([&] { writeTo(server, partial == 0 ? "" : flood.substr(partial)); });
  const json first = nextAnswer(server);
  rest.join();
  EXPECT_EQ(textOf(first["result"]), "first");
  const Finished run = finish(server);
  EXPECT_EQ(splitLines(run.out).size(), (written + flood.size() - 1) / flood.size());
  EXPECT_TRUE(run.exited && run.status == 0 && run.err.empty());
}
