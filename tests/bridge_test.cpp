// Tool calls against an app on loopback: what is posted, and how each kind of answer, or of
// failing to answer, comes back as a tool result.
#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include <curl/curl.h>

#include "bridge/automation.hpp"
#include "catalogue/catalogue.hpp"
#include "support/app.hpp"
#include "support/serve.hpp"

using nlohmann::json;

namespace {

// The answer to one tools/call with `params` as written, served against the app on `port`.
json answerTo(const std::string& params, std::int64_t port) {
  const auto answers = answersTo(R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":)" + params + "}",
                                 Automation{port});
  EXPECT_EQ(answers.size(), 1u);
  return answers.empty() ? json() : answers[0];
}

// The reach-failure text with libcurl's description after it, and nothing of `partial`.
void expectReachFailure(const json& result, int port, std::string_view partial = "leaked") {
  EXPECT_EQ(result["isError"], true) << result.dump();
  const std::string text = textOf(result);
  const std::string prefix = reachFailure(port, "");
  ASSERT_EQ(text.substr(0, prefix.size()), prefix) << text;
  EXPECT_GT(text.size(), prefix.size()) << "libcurl's description is missing";
  EXPECT_EQ(text.find(partial), std::string::npos) << text;
}

// An app that reads the request, then writes `bytes` raw and hangs up.
RawApp::Behaviour writing(std::string bytes) {
  return [bytes](int fd) {
    readRequest(fd);
    sendAll(fd, bytes);
  };
}

}  // namespace

TEST(Bridge, EveryToolPostsItsCommandWithMarkerAndJsonBody) {
  const std::vector<std::string> commands = {"targets", "status", "set", "reset", "stop", "relaunch", "requests",
                                             "fail-endpoint", "mock-endpoint", "clear-endpoints"};
  RawApp fake(200, "ok");
  // Called by a name, libcurl may try [::1] first, where the app does not listen or another
  // program does; the Host header shows the address that was called.
  const std::string host = "\r\nHost: 127.0.0.1:" + std::to_string(fake.port()) + "\r\n";
  for (const Tool& tool : tools) answerTo(R"({"name":")" + tool.name + R"(","arguments":{}})", fake.port());
  const auto requests = fake.requests();
  ASSERT_EQ(requests.size(), commands.size());
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const std::string& request = requests[i];
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /" + commands[i] + " HTTP/1.1");
    EXPECT_NE(request.find(host), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nX-Tarnwick: mcp\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << request;
    EXPECT_TRUE(request.ends_with("\r\n\r\n{}")) << request;
  }
}

TEST(Bridge, ArgumentsArePassedOnUncheckedWithSlashesEscaped) {
  RawApp fake(200, "ok");
  answerTo(R"({"name":"set_network","arguments":{"hosts":"a/b","failure":"sideways","extra":[1,{"x":null}]}})",
           fake.port());
  for (const char* arguments : {"null", "[1,2]", R"("text")"}) {
    answerTo(std::string(R"({"name":"status","arguments":)") + arguments + "}", fake.port());
  }
  answerTo(R"({"name":"status"})", fake.port());
  // Large enough for libcurl to ask for a 100 Continue that an app need not send.
  const std::string large(2u << 20, 'x');
  answerTo(R"({"name":"status","arguments":{"large":")" + large + R"("}})", fake.port());
  const auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_TRUE(requests[0].ends_with(R"({"extra":[1,{"x":null}],"failure":"sideways","hosts":"a\/b"})"))
      << requests[0];
  for (std::size_t i = 1; i < 5; ++i) EXPECT_TRUE(requests[i].ends_with("\r\n\r\n{}")) << i;
  EXPECT_TRUE(requests[5].ends_with("\r\n\r\n{\"large\":\"" + large + "\"}"));
  EXPECT_EQ(requests[5].find("Expect:"), std::string::npos) << requests[5].substr(0, 300);
}

TEST(Bridge, UnusableToolNamesAreRefusedWithoutContactingTheApp) {
  RawApp fake(200, "ok");
  for (const char* params : {"{}", "[]", R"({"name":12})", R"({"name":""})", R"({"name":"List_Targets"})",
                             R"({"name":"targets"})", R"({"arguments":{}})"}) {
    const json answer = answerTo(params, fake.port());
    EXPECT_EQ(answer["error"], json::parse(R"({"code":-32602,"message":"Unknown tool."})")) << params;
    EXPECT_EQ(answer["id"], 9);
  }
  EXPECT_EQ(fake.connections(), 0);
}

TEST(Bridge, StatusDecidesTheErrorFlagAndTheBodyIsTheText) {
  const std::string r = "\xEF\xBF\xBD";
  // Status, body, the text the client gets when it is not the body, and the error flag.
  const std::vector<std::tuple<int, std::string, std::string, bool>> cases = {
      {200, R"({"rules": [ 1, 2 ],"url":"http://x/y"})", "", false}, {200, "", "", false}, {302, "moved", "", false},
      {399, "almost", "", false}, {400, "bad argument: failure", "", true}, {500, "broken", "", true},
      // The app's bytes are repaired, never refused.
      {500, "ok\xFF\xC3", "ok" + r + r, true}, {200, "caf\xC3\xA9 \xE2\x80\xBA", "", false}};
  for (const auto& [status, body, repaired, isError] : cases) {
    RawApp fake(status, body);
    const std::string& text = repaired.empty() ? body : repaired;
    EXPECT_EQ(serveText(R"({"id":1,"method":"tools/call","params":{"name":"status"}})", Automation{fake.port()}),
              std::vector<std::string>{R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"type":"text","text":)" +
                                       json(text).dump() + "}],\"isError\":" + (isError ? "true" : "false") +
                                       "}}"})
        << status << " " << body;
  }
}

TEST(Bridge, AnAppThatCannotBeReachedGivesTheReachFailureAsAToolResult) {
  int closed = 0;
  {
    RawApp gone(200, "");
    closed = gone.port();
  }
  const json answer = answerTo(R"({"name":"list_targets"})", closed);
  EXPECT_FALSE(answer.contains("error"));
  expectReachFailure(answer["result"], closed);
  EXPECT_EQ(reachFailure(47300, "cause"),
            "Couldn't reach Tarnwick on 127.0.0.1:47300. Open the app and turn on Allow Automation (menu bar icon "
            "\xE2\x80\xBA Automation). cause");
}

// Unusual answers that are whole are the app's answer.
TEST(Bridge, UnusualButCompleteAnswersAreTheAppsAnswer) {
  const std::string body = "{\"ok\":true}";
  for (const std::string& response : {
           "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body,  // ends where the connection does
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nb\r\n" + body + "\r\n0\r\nX-Trailer: 1\r\n\r\n",
           "HTTP/1.1 100 Continue\r\n\r\n" + httpResponse(200, body),
           "HTTP/1.0 200 OK\r\n\r\n" + body,
           "HTTP/1.1 200 OK\nContent-Length: 11\n\n" + body,  // line feeds alone
           std::string("HTTP/1.1 204 No Content\r\n\r\n"),
       }) {
    RawApp fake(writing(response));
    const json result = callTool(Automation{fake.port()}, "list_targets");
    EXPECT_EQ(textOf(result), response.find("204") == std::string::npos ? body : "") << response;
    EXPECT_EQ(result["isError"], false) << response;
  }
}

// Each of these breaks off, or is no HTTP answer at all; none may pass for the app's answer.
TEST(Bridge, AnswersThatBreakOffAreReachFailures) {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (const std::string& broken : {
           std::string(),  // hung up without a byte
           // Hung up in the middle of the headers: libcurl alone would take these for 200 and "".
           std::string("HTTP/1.1 200 OK\r\nContent-Le"), std::string("HTTP/1.1 200"),
           std::string("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Le"),
           std::string("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"leaked\":"),
           chunked + "9\r\n{\"leaked\r\nzz\r\nmore\r\n0\r\n\r\n",  // not a hexadecimal size
           chunked + "9\r\n{\"leaked\r\n",                          // ends before the last chunk
           std::string("GARBAGE\r\n\r\n{\"leaked\":1}"),
           std::string("HTTP/1.1 2x0 OK\r\nContent-Length: 12\r\n\r\n{\"leaked\":1}"),
       }) {
    RawApp fake(writing(broken));
    expectReachFailure(callTool(Automation{fake.port()}, "list_targets"), fake.port());
  }
  // Closing with the request unread makes the kernel answer with a reset instead of a FIN.
  RawApp unread([](int) {});
  expectReachFailure(callTool(Automation{unread.port()}, "list_targets"), unread.port());
}

TEST(Bridge, RedirectsAndProxiesAreNotFollowed) {
  RawApp elsewhere(200, "followed");
  const std::string location = "http://127.0.0.1:" + std::to_string(elsewhere.port());
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::setenv(name, location.c_str(), 1);
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  for (const int status : {301, 307, 308}) {
    RawApp fake(writing("HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
                       "/targets\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved"));
    // The body and the status decide, as for any answer below 400.
    const json result = callTool(Automation{fake.port()}, "list_targets");
    EXPECT_EQ(textOf(result), "moved");
    EXPECT_EQ(result["isError"], false);
  }
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);
  EXPECT_EQ(elsewhere.connections(), 0);
}

// Whichever option this libcurl takes, the limit holds: a handle that would read a local file
// refuses to once limited (file:// needs no network, and every libcurl here has it).
TEST(Bridge, ALimitedHandleReachesNoOtherProtocol) {
  ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
  for (const bool limited : {false, true}) {
    std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), curl_easy_cleanup);
    ASSERT_NE(handle, nullptr);
    if (limited) {
      ASSERT_TRUE(restrictToHttp(handle.get()));
    }
    curl_easy_setopt(handle.get(), CURLOPT_URL, "file:///dev/null");
    EXPECT_EQ(curl_easy_perform(handle.get()), limited ? CURLE_UNSUPPORTED_PROTOCOL : CURLE_OK) << "limited: " << limited;
  }
}

// The time limit is an idle limit, shortened here; the server itself waits 60 seconds.
constexpr std::chrono::milliseconds idleLimit{2000};

TEST(Bridge, AnAppThatKeepsSendingIsWaitedForHoweverSlowly) {
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
  const json result = callTool(Automation{dripping.port(), idleLimit}, "list_targets");
  EXPECT_EQ(textOf(result), "123");
  EXPECT_EQ(result["isError"], false);
}

TEST(Bridge, AnAppThatStandsStillForTheWholeLimitIsCutOff) {
  RawApp stalling([](int fd) {
    readRequest(fd);
    sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{\"leaked");
    pollfd gone{fd, POLLIN, 0};
    ::poll(&gone, 1, 10'000);  // until the server hangs up, at most 10 seconds
  });
  const json result = callTool(Automation{stalling.port(), idleLimit}, "list_targets");
  expectReachFailure(result, stalling.port());
  EXPECT_TRUE(textOf(result).ends_with("Timeout was reached")) << textOf(result);
}
