#include <gtest/gtest.h>

#include "server/loop.hpp"
#include "support/messages.hpp"
#include "support/run.hpp"

using nlohmann::json;

using messages::parseError;

namespace {

const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";

}  // namespace

TEST(MessageLoop, EmptyLinesAndLoneCarriageReturnsAreSkipped) {
  EXPECT_TRUE(serveText("\n\r\n\n").empty());
  EXPECT_TRUE(serveText("").empty());
  EXPECT_TRUE(serveText("{}\n").empty());  // no id: a notification
}

TEST(MessageLoop, CrLfLinesAndAFinalLineWithoutFeedAreHandled) {
  const auto answers = answersTo(ping + "\r\n" + ping + "\n" + ping);
  ASSERT_EQ(answers.size(), 3u);
  for (const json& answer : answers) EXPECT_EQ(answer, json::parse(R"({"jsonrpc":"2.0","id":1,"result":{}})"));
}

TEST(MessageLoop, EveryLineThatIsNotOneObjectGetsOneParseErrorWithNullId) {
  const std::vector<std::string> lines = {
      "   ",      "[]",   R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", R"("text")", "42", "true", "false",
      "null",     "{",    R"({"id":5,"method":"ping")",                   ping + ping, ping + " x",
      "{'id':1}", "\t",   R"({"id":1,"method":"ping",})",                 "{\"id\":1,/*c*/\"method\":\"ping\"}"};
  std::string input;
  for (const std::string& line : lines) input += line + "\n";
  input += ping + "\n";
  const auto answers = answersTo(input);
  ASSERT_EQ(answers.size(), lines.size() + 1);
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(answers[i], parseError) << lines[i];
  EXPECT_EQ(answers.back()["result"], json::object());  // the loop goes on afterwards
}

TEST(MessageLoop, CarriageReturnInsideALineIsNotALineEnd) {
  const auto answers = answersTo("{\"id\":1,\r\"method\":\"ping\"}\r\r\n");
  ASSERT_EQ(answers.size(), 1u);
  // Only the CR before the LF belongs to the line end; the others are JSON white space.
  EXPECT_EQ(answers[0]["result"], json::object());
}

TEST(MessageLoop, NestingIsBoundedAndRefusedWithParseError) {
  const auto nested = [](std::size_t depth) {
    return R"({"id":1,"method":"ping","params":{"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}}";
  };
  EXPECT_EQ(answersTo(nested(maxNesting - 2))[0]["result"], json::object());
  EXPECT_EQ(answersTo(nested(maxNesting - 1))[0], parseError);
  // Brackets inside strings do not count, and escaped quotes do not end a string.
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"\"[[[[[[[[[["})", 2));
  EXPECT_TRUE(nestsDeeperThan(R"({"a":"\\",[[[]]]})", 2));
}

TEST(MessageLoop, LargeIntegerIdsComeBackExactly) {
  const auto answers = answersTo(
      R"({"id":18446744073709551615,"method":"ping"})"
      "\n"
      R"({"id":-9223372036854775808,"method":"ping"})");
  ASSERT_EQ(answers.size(), 2u);
  const auto lines = serveText(R"({"id":18446744073709551615,"method":"ping"})");
  EXPECT_NE(lines[0].find(R"("id":18446744073709551615)"), std::string::npos);
  EXPECT_EQ(answers[1]["id"].get<std::int64_t>(), INT64_MIN);
}

TEST(MessageLoop, StopsReadingOnceTheClientIsGone) {
  std::size_t reads = 0;
  const std::string input = ping + "\n" + ping + "\n";
  ReadSome endless = [&](char* buffer, std::size_t size) {
    ++reads;
    const std::size_t count = std::min(size, input.size());
    std::copy_n(input.data(), count, buffer);
    return reads > 1000 ? 0 : count;
  };
  int writes = 0;
  Output gone{[&](std::string_view) {
    ++writes;
    return false;
  }};
  serve(endless, gone);
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(reads, 1u);
}
