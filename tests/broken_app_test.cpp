// An app that misbehaves at the HTTP level: every broken exchange must end as the reach-failure
// text with isError true, never as a partial body passed off as the app's answer.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <gtest/gtest.h>

#include "bridge/automation.hpp"
#include "server/settings.hpp"
#include "support/raw_app.hpp"
#include "support/run.hpp"

using nlohmann::json;

namespace {

// The tool result of one list_targets call made in process against the app on `appPort`.
json callTool(int appPort) {
  const json answer = callInProcess(Automation{appPort}, "list_targets");
  return answer.is_object() && answer.contains("result") ? answer["result"] : json::object();
}

// The reach-failure text with libcurl's description after it, and nothing of `partial`.
void expectReachFailure(const json& result, int appPort, std::string_view partial = "") {
  ASSERT_TRUE(result.contains("isError")) << result.dump();
  EXPECT_EQ(result["isError"], true);
  const std::string text = textOf(result);
  const std::string prefix = reachFailure(appPort, "");
  ASSERT_EQ(text.substr(0, prefix.size()), prefix) << text;
  EXPECT_GT(text.size(), prefix.size()) << "libcurl's description is missing";
  if (!partial.empty()) {
    EXPECT_EQ(text.find(partial), std::string::npos) << text;
  }
}

// An app that reads the request and then writes `bytes` raw, then hangs up.
RawApp answering(std::string bytes) {
  return RawApp([bytes](int fd) {
    readRequest(fd);
    sendAll(fd, bytes);
  });
}

}  // namespace

TEST(BrokenApp, HangingUpWithoutAByteIsAReachFailure) {
  RawApp afterReading([](int fd) { readRequest(fd); });
  expectReachFailure(callTool(afterReading.port()), afterReading.port());
  EXPECT_EQ(afterReading.connections(), 1);

  // Closing with the request unread makes the kernel answer with a reset instead of a FIN.
  RawApp unread([](int) {});
  expectReachFailure(callTool(unread.port()), unread.port());
}

// The other side of the checks above: unusual answers that are whole are the app's answer.
TEST(BrokenApp, UnusualButCompleteAnswersAreTheAppsAnswer) {
  const std::string body = "{\"ok\":true}";
  for (const std::string& response : {
           "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body,  // ends where the connection does
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nb\r\n" + body +
               "\r\n0\r\nX-Trailer: 1\r\n\r\n",
           "HTTP/1.1 100 Continue\r\n\r\n" + httpResponse(200, body),
           "HTTP/1.0 200 OK\r\n\r\n" + body,
       }) {
    RawApp app = answering(response);
    SCOPED_TRACE(response);
    const json result = callTool(app.port());
    EXPECT_EQ(textOf(result), body);
    EXPECT_EQ(result["isError"], false);
  }
  RawApp empty = answering("HTTP/1.1 204 No Content\r\n\r\n");
  const json result = callTool(empty.port());
  EXPECT_EQ(textOf(result), "");
  EXPECT_EQ(result["isError"], false);
}

// Each of these breaks off, or is no HTTP answer at all; none may pass for the app's answer.
TEST(BrokenApp, AnswersThatBreakOffAreReachFailures) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (const std::string& broken : {
           // Hung up in the middle of the headers: libcurl alone would take these for 200 and "".
           std::string("HTTP/1.1 200 OK\r\nContent-Le"), std::string("HTTP/1.1 200 OK\r\n"),
           std::string("HTTP/1.1 200"), std::string("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"),
           std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"leaked\":"),
           chunked + "9\r\n{\"leaked\r\nzz\r\nmore\r\n0\r\n\r\n",  // not a hexadecimal size
           chunked + "9\r\n{\"leaked\r\n",                          // ends before the last chunk
           chunked + "ff\r\n{\"leaked\r\n0\r\n\r\n",                // a chunk longer than what follows
           std::string("GARBAGE\r\n\r\n{\"leaked\":1}"),
           std::string("HTTP/1.1 2x0 OK\r\nContent-Length: 12\r\n\r\n{\"leaked\":1}"),
           std::string("\x00\xff\x13\x37leaked\r\n\r\n", 14),
           "HTTP/1.1 200 OK\r\nX-Junk: " + std::string(1 << 20, 'j') + "\r\nContent-Length: 9\r\n\r\n{\"leaked",
       }) {
    RawApp app = answering(broken);
    SCOPED_TRACE(broken.substr(0, 60));
    expectReachFailure(callTool(app.port()), app.port(), "leaked");
  }
}

TEST(BrokenApp, RedirectsAreNotFollowed) {
  RawApp elsewhere([](int fd) { sendAll(fd, httpResponse(200, "followed")); });
  for (const int status : {301, 302, 303, 307, 308}) {
    const std::string location = "http://127.0.0.1:" + std::to_string(elsewhere.port()) + "/targets";
    RawApp app = answering("HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
                           "\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved");
    SCOPED_TRACE(status);
    // The body and the status decide, as for any answer below 400.
    const json result = callTool(app.port());
    EXPECT_EQ(textOf(result), "moved");
    EXPECT_EQ(result["isError"], false);
  }
  EXPECT_EQ(elsewhere.connections(), 0);
}

TEST(BrokenApp, FiftyMebibyteBodyComesBackIntact) {
  // Non-ASCII and JSON-looking text throughout, so that any re-encoding would show.
  std::string body;
  const std::string piece = "{\"caf\xC3\xA9\":\"\xF0\x9F\x90\x8C \\/ \\\"\"}\n";
  body.reserve(50u << 20);
  while (body.size() + piece.size() <= (50u << 20)) body += piece;
  body.resize(50u << 20, 'x');
  RawApp app = answering(httpResponse(200, body));
  const json result = callTool(app.port());
  EXPECT_EQ(result["isError"], false);
  const std::string text = textOf(result);
  EXPECT_EQ(text.size(), body.size());
  EXPECT_TRUE(text == body);  // not EXPECT_EQ: a failure must not print 50 MiB
}

// The time limit is an idle limit, shortened here; the server itself waits 60 seconds.
constexpr std::chrono::milliseconds idleLimit{2000};

TEST(BrokenApp, AnAppThatKeepsSendingIsWaitedForHoweverSlowly) {
  // Every pause is short of the limit; together they are well beyond it.
  RawApp dripping([](int fd) {
    readRequest(fd);
    const auto pause = [] { std::this_thread::sleep_for(idleLimit * 3 / 5); };
    pause();
    sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n");
    for (const char c : std::string("123")) {
      pause();
      if (!sendAll(fd, std::string_view(&c, 1))) return;
    }
  });
  const json answer = callInProcess(Automation{dripping.port(), idleLimit}, "list_targets");
  EXPECT_EQ(textOf(answer["result"]), "123");
  EXPECT_EQ(answer["result"]["isError"], false);
}

TEST(BrokenApp, AnAppThatStandsStillForTheWholeLimitIsCutOff) {
  RawApp stalling([](int fd) {
    readRequest(fd);
    sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{\"leaked");
    pollfd gone{fd, POLLIN, 0};
    ::poll(&gone, 1, 10'000);  // until the server hangs up, at most 10 seconds
  });
  const json cut = callInProcess(Automation{stalling.port(), idleLimit}, "list_targets");
  expectReachFailure(cut["result"], stalling.port(), "leaked");
  EXPECT_TRUE(textOf(cut["result"]).ends_with("Timeout was reached")) << textOf(cut["result"]);
}

namespace {

// How many file descriptors this process has open, found with POSIX calls only.
int openDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 4096; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return count;
}

// Bytes in use on the heap, where the C library can tell; 0 elsewhere (sanitizers check leaks).
std::size_t heapInUse() {
#if defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

}  // namespace

TEST(BrokenApp, ThousandCallsLeaveNoDescriptorOrMemoryBehind) {
  RawApp app([](int fd) {
    readRequest(fd);
    sendAll(fd, httpResponse(200, "[]"));
  });
  const std::string request =
      R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"status","arguments":{"app":"x"}}})"
      "\n";
  auto calls = [&request, &app](int count) {
    std::string input;
    for (int i = 0; i < count; ++i) input += request;
    return serveText(input, Automation{app.port()}).size();
  };
  ASSERT_EQ(calls(50), 50u);  // libcurl's and the C library's one-time set-up happen here
  const int descriptors = openDescriptors();
  const std::size_t heap = heapInUse();
  ASSERT_EQ(calls(1000), 1000u);
  EXPECT_EQ(openDescriptors(), descriptors);
  const std::size_t grown = heapInUse() > heap ? heapInUse() - heap : 0;
  std::printf("heap growth over 1000 calls: %zu bytes\n", grown);
  EXPECT_LT(grown, 16u * 1024);
}

TEST(BrokenAppProcess, ProxyVariablesAreIgnored) {
  RawApp proxy([](int fd) {
    readRequest(fd);
    sendAll(fd, httpResponse(200, "proxied"));
  });
  RawApp app([](int fd) {
    readRequest(fd);
    sendAll(fd, httpResponse(200, "direct"));
  });
  const std::string via = "http://127.0.0.1:" + std::to_string(proxy.port());
  const Finished run = runWith(
      serverBinary(),
      R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"list_targets"}})"
      "\n",
      {"TARNWICK_PORT=" + std::to_string(app.port()), "http_proxy=" + via, "HTTP_PROXY=" + via,
       "ALL_PROXY=" + via, "all_proxy=" + via, "no_proxy=", "NO_PROXY="});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = splitLines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  const json answer = json::parse(lines[0]);
  EXPECT_EQ(textOf(answer["result"]), "direct");
  EXPECT_EQ(app.connections(), 1);
  EXPECT_EQ(proxy.connections(), 0);
}
