#include <gtest/gtest.h>

#include "server/loop.hpp"
#include "support/run.hpp"

using nlohmann::json;

namespace {

const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";

}  // namespace

TEST(MessageLoop, LinesEndAtLineFeedsWithOneCarriageReturnDroppedAndEmptyOnesSkipped) {
  EXPECT_TRUE(serveText("").empty());
  EXPECT_TRUE(serveText("\n\r\n\n{}\n").empty());  // {} has no id: a notification
  // A CR before the LF belongs to the line end, others are JSON white space; the last line
  // needs no LF.
  const auto answers = answersTo(ping + "\r\n\n\r\n" + "{\"id\":1,\r\"method\":\"ping\"}\r\r\n" + ping);
  ASSERT_EQ(answers.size(), 3u);
  for (const json& answer : answers) EXPECT_EQ(answer, json::parse(R"({"jsonrpc":"2.0","id":1,"result":{}})"));
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
  serve(endless, gone, Automation{});
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(reads, 1u);
}
