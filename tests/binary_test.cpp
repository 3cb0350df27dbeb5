// The real binary, started as an MCP client starts it.
#include <gtest/gtest.h>

#include <thread>

#include "support/fake_app.hpp"
#include "support/run.hpp"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string initialize = R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})";

json lineAt(const Finished& run, std::size_t index) {
  const auto lines = splitLines(run.out);
  return index < lines.size() ? json::parse(lines[index]) : json();
}

json toolCall(int id, const std::string& name, const json& arguments = json::object()) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"},
          {"params", {{"name", name}, {"arguments", arguments}}}};
}

}  // namespace

TEST(Binary, HandshakeThenExitZeroAtEndOfInputWithSilentStderr) {
  const Finished run = runWith(serverBinary(),
                               initialize + "\r\n" + R"({"jsonrpc":"2.0","method":"notifications/initialized"})" +
                                   "\n\n" + R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})" + "\n" +
                                   "not json\n" + R"({"jsonrpc":"2.0","id":2,"method":"ping"})");
  ASSERT_TRUE(run.exited);
  EXPECT_FALSE(run.signaled);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(splitLines(run.out).size(), 4u) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  EXPECT_EQ(lineAt(run, 0)["result"]["serverInfo"]["name"], "tarnwick");
  EXPECT_EQ(lineAt(run, 1)["result"]["tools"].size(), 10u);
  EXPECT_EQ(lineAt(run, 2)["error"]["code"], -32700);
  EXPECT_EQ(lineAt(run, 3), json::parse(R"({"jsonrpc":"2.0","id":2,"result":{}})"));
}

TEST(Binary, EmptyInputEndsAtOnce) {
  const Finished run = runWith(serverBinary(), "", {}, 10s);
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST(Binary, PortComesFromTheEnvironmentAndArgumentsAreIgnored) {
  FakeApp app;
  app.answerWith(200, R"({"rules":[]})");
  const Finished run = runWith(serverBinary(), toolCall(1, "status").dump() + "\n",
                               {"TARNWICK_PORT=+" + std::to_string(app.port())});
  EXPECT_EQ(lineAt(run, 0)["result"]["content"][0]["text"], R"({"rules":[]})");
  ASSERT_EQ(app.requests().size(), 1u);

  // An invalid value falls back to 47300, which the reach-failure text names.
  const Finished fallback = runWith(serverBinary(), toolCall(1, "status").dump() + "\n", {"TARNWICK_PORT=0x1F"});
  const std::string text = lineAt(fallback, 0)["result"]["content"][0]["text"].get<std::string>();
  if (lineAt(fallback, 0)["result"]["isError"] == true) {
    EXPECT_EQ(text.rfind("Couldn't reach Tarnwick on 127.0.0.1:47300. ", 0), 0u) << text;
  }
  EXPECT_EQ(fallback.status, 0);
}

TEST(Binary, APingWrittenDuringASlowToolCallIsAnsweredAfterIt) {
  FakeApp app;
  app.answerWith([](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(400ms);
    response.set_content("done", "text/plain");
  });
  Child child = start(serverBinary(), {"TARNWICK_PORT=" + std::to_string(app.port())});
  ASSERT_TRUE(writeTo(child, toolCall(1, "status").dump() + "\n"));
  std::this_thread::sleep_for(50ms);  // the call is in flight
  ASSERT_TRUE(writeTo(child, R"({"jsonrpc":"2.0","id":2,"method":"ping"})" "\n"));
  std::string first, second;
  const bool gotFirst = readLine(child, first, 10s);
  const bool gotSecond = readLine(child, second, 10s);
  const Finished end = finish(child, 10s);
  ASSERT_TRUE(gotFirst && gotSecond) << end.out;
  EXPECT_EQ(json::parse(first)["id"], 1);
  EXPECT_EQ(json::parse(first)["result"]["content"][0]["text"], "done");
  EXPECT_EQ(json::parse(second)["id"], 2);
  EXPECT_EQ(end.status, 0);
}
