#include <gtest/gtest.h>

#include "server/settings.hpp"
#include "support/run.hpp"

using nlohmann::json;

namespace {

json only(const std::string& line) {
  const auto answers = answersTo(line);
  EXPECT_EQ(answers.size(), 1u) << line;
  return answers.empty() ? json() : answers[0];
}

json methodNotFound(const json& id, const std::string& method) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", -32601}, {"message", "Method not found: " + method}}}};
}

}  // namespace

TEST(Dispatch, NotificationsGetNoAnswerWhateverTheMethod) {
  EXPECT_TRUE(serveText(R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
                        "\n"
                        R"({"method":"ping"})"
                        "\n"
                        R"({"method":"tools/call","params":{"name":"status"}})"
                        "\n"
                        R"({"method":"nonsense"})")
                  .empty());
}

TEST(Dispatch, InitializeCarriesIdentityCapabilitiesAndInstructions) {
  const json result = only(R"({"id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})")["result"];
  EXPECT_EQ(result.size(), 4u);
  EXPECT_EQ(result["protocolVersion"], "2024-11-05");
  EXPECT_EQ(result["capabilities"], json::parse(R"({"tools":{"listChanged":false}})"));
  EXPECT_EQ(result["serverInfo"], json::parse(R"({"name":"tarnwick","version":"1.0.0"})"));
  EXPECT_EQ(result["instructions"], std::string(instructions));
  const std::string text(instructions);
  EXPECT_EQ(text.size(), 1308u);
  EXPECT_EQ(text.find("\n\n"), text.find("Typical flow") - 2);
  EXPECT_NE(text.back(), '\n');
}

TEST(Dispatch, InitializeEchoesOnlyAStringRevision) {
  EXPECT_EQ(only(R"({"id":1,"method":"initialize","params":{"protocolVersion":""}})")["result"]["protocolVersion"], "");
  for (const char* params : {R"(,"params":{"protocolVersion":3})", R"(,"params":{})", "", R"(,"params":[1])",
                             R"(,"params":"x")"}) {
    const json answer = only(std::string(R"({"id":1,"method":"initialize")") + params + "}");
    EXPECT_EQ(answer["result"]["protocolVersion"], "2025-06-18") << params;
  }
}

TEST(Dispatch, UnknownOrMissingMethodIsNamedInTheError) {
  EXPECT_EQ(only(R"({"id":7})"), methodNotFound(7, ""));
  EXPECT_EQ(only(R"({"id":7,"method":12})"), methodNotFound(7, ""));
  EXPECT_EQ(only(R"({"id":"x","method":"Ping"})"), methodNotFound("x", "Ping"));
  EXPECT_EQ(only(R"({"id":null,"method":"notifications/initialized"})"),
            methodNotFound(nullptr, "notifications/initialized"));
  EXPECT_EQ(only(R"({"id":1,"method":"resources/list"})"), methodNotFound(1, "resources/list"));
  // "jsonrpc" is neither required nor checked, and the answer always carries "2.0".
  EXPECT_EQ(only(R"({"jsonrpc":"1.0","id":1,"method":"nope"})"), methodNotFound(1, "nope"));
  EXPECT_EQ(only(R"({"id":1,"method":"a/b \"q\"\u00e9"})"), methodNotFound(1, "a/b \"q\"\xC3\xA9"));
}

TEST(Dispatch, ToolsAreServedBeforeAnyInitialize) {
  const auto answers = answersTo(R"({"id":1,"method":"tools/list","params":{"cursor":"abc"}})"
                                 "\n"
                                 R"({"id":2,"method":"tools/call","params":{"name":"no_such_tool"}})");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0]["result"].size(), 1u);  // no paging member
  EXPECT_EQ(answers[0]["result"]["tools"].size(), 10u);
  EXPECT_EQ(answers[1]["error"], json::parse(R"({"code":-32602,"message":"Unknown tool."})"));
}

TEST(Output, AnswersAreCompactAndEscapedOnlyWhereJsonMust) {
  const auto lines = serveText(R"({"id":"a/b\n\"c\"\u00e9\u2028\u0001","method":"ping"})");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], R"({"jsonrpc":"2.0","id":"a/b\n\"c\")"
                      "\xC3\xA9\xE2\x80\xA8"
                      R"(\u0001","result":{}})");
}
