#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bridge/automation.hpp"
#include "catalogue/catalogue.hpp"
#include "server/settings.hpp"
#include "support/fake_app.hpp"
#include "support/run.hpp"

using nlohmann::json;

namespace {

// A port on which nothing listens: bound but never listening, so connections are refused.
struct DeadPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int number = 0;
  DeadPort() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    number = ntohs(address.sin_port);
  }
  ~DeadPort() { ::close(fd); }
};

json callTool(const std::string& params, std::int64_t appPort) {
  const auto answers =
      answersTo(R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":)" + params + "}", Automation{appPort});
  EXPECT_EQ(answers.size(), 1u);
  return answers.empty() ? json() : answers[0];
}

json toolResult(const std::string& text, bool isError) {
  return {{"content", json::array({{{"type", "text"}, {"text", text}}})}, {"isError", isError}};
}

class Bridge : public ::testing::Test {
 protected:
  json callTool(const std::string& params) { return ::callTool(params, app.port()); }
  FakeApp app;
};

}  // namespace

TEST_F(Bridge, EveryToolPostsItsCommandWithMarkerAndJsonBody) {
  for (const Tool& tool : tools) callTool(R"({"name":")" + tool.name + R"(","arguments":{}})");
  const auto requests = app.requests();
  ASSERT_EQ(requests.size(), tools.size());
  for (std::size_t i = 0; i < tools.size(); ++i) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].path, "/" + tools[i].command);
    EXPECT_EQ(requests[i].body, "{}");
    EXPECT_EQ(requests[i].headers.find("X-Tarnwick")->second, "mcp");
    EXPECT_EQ(requests[i].headers.find("Content-Type")->second, "application/json");
    EXPECT_EQ(requests[i].headers.count("Expect"), 0u);
  }
}

TEST_F(Bridge, ArgumentsArePassedOnUncheckedWithSlashesEscaped) {
  callTool(R"({"name":"set_network","arguments":{"hosts":"a/b","failure":"sideways","extra":[1,{"x":null}]}})");
  callTool(R"({"name":"fail_endpoint","arguments":{"kind":"nope"}})");
  for (const char* arguments : {"null", "[1,2]", R"("text")", "3"}) {
    callTool(std::string(R"({"name":"status","arguments":)") + arguments + "}");
  }
  callTool(R"({"name":"status"})");
  const auto requests = app.requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_NE(requests[0].body.find(R"("hosts":"a\/b")"), std::string::npos) << requests[0].body;
  EXPECT_EQ(json::parse(requests[0].body),
            json::parse(R"({"hosts":"a/b","failure":"sideways","extra":[1,{"x":null}]})"));
  EXPECT_EQ(requests[0].body.find(' '), std::string::npos);
  EXPECT_EQ(json::parse(requests[1].body), json::parse(R"({"kind":"nope"})"));
  for (std::size_t i = 2; i < requests.size(); ++i) EXPECT_EQ(requests[i].body, "{}");
}

TEST_F(Bridge, UnusableToolNamesAreRefusedWithoutContactingTheApp) {
  const json unknown = {{"code", -32602}, {"message", "Unknown tool."}};
  for (const char* params : {"{}", "[]", R"({"name":12})", R"({"name":""})", R"({"name":"List_Targets"})",
                             R"({"name":"targets"})", R"({"arguments":{}})"}) {
    const json answer = callTool(params);
    EXPECT_EQ(answer["error"], unknown) << params;
    EXPECT_EQ(answer["id"], 9);
  }
  EXPECT_TRUE(app.requests().empty());
}

TEST_F(Bridge, StatusDecidesTheErrorFlagAndTheBodyIsTheText) {
  const std::vector<std::tuple<int, std::string, bool>> cases = {
      {200, R"({"rules": [ 1, 2 ],"url":"http://x/y"})", false},
      {200, "", false},
      {204, "", false},
      {302, "moved", false},
      {399, "almost", false},
      {400, "bad argument: failure", true},
      {500, "broken", true}};
  for (const auto& [status, body, isError] : cases) {
    app.answerWith(status, body);
    EXPECT_EQ(callTool(R"({"name":"status"})")["result"], toolResult(body, isError)) << status;
  }
}

TEST_F(Bridge, InvalidUtf8FromTheAppIsRepaired) {
  app.answerWith(500, "ok\xFF\xC3");
  EXPECT_EQ(callTool(R"({"name":"status"})")["result"], toolResult("ok\xEF\xBF\xBD\xEF\xBF\xBD", true));
  app.answerWith(200, "caf\xC3\xA9 \xE2\x80\xBA");
  EXPECT_EQ(callTool(R"({"name":"status"})")["result"], toolResult("caf\xC3\xA9 \xE2\x80\xBA", false));
}

TEST(BridgeUnreachable, NothingListeningGivesTheReachFailureAsAToolResult) {
  DeadPort dead;
  const json answer = callTool(R"({"name":"list_targets"})", dead.number);
  EXPECT_FALSE(answer.contains("error"));
  EXPECT_EQ(answer["result"]["isError"], true);
  const std::string text = answer["result"]["content"][0]["text"].get<std::string>();
  const std::string prefix = reachFailure(dead.number, "");
  ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
  EXPECT_GT(text.size(), prefix.size()) << "the cause follows";
}

TEST(BridgeUnreachable, PortsThatFormNoUrlStillGiveAnAnswer) {
  for (std::int64_t odd : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{70000}, INT64_MIN, INT64_MAX}) {
    const AutomationResult result = call(Automation{odd}, "status", json::object());
    EXPECT_TRUE(result.isError);
    EXPECT_EQ(result.text.rfind(reachFailure(odd, ""), 0), 0u) << result.text;
  }
}

TEST(BridgeText, ReachFailureIsExactByteForByte) {
  EXPECT_EQ(reachFailure(47300, ""),
            "Couldn't reach Tarnwick on 127.0.0.1:47300. Open the app and turn on Allow Automation (menu bar icon "
            "\xE2\x80\xBA Automation). ");
  EXPECT_EQ(reachFailure(-5, "why").substr(36), ":-5. Open the app and turn on Allow Automation (menu bar icon "
                                                 "\xE2\x80\xBA Automation). why");
  EXPECT_EQ(commandBody(json::parse(R"({"u":"http://a/b","k/":"\/"})")), R"({"k\/":"\/","u":"http:\/\/a\/b"})");
}

