// The message loop: lines in, one answer (or none) per line out, whatever the client sends.
#include <gtest/gtest.h>

#include "server/message.hpp"
#include "support/serve.hpp"

using nlohmann::json;
using namespace std::string_literals;

namespace {

std::string arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(MessageLoop, LinesEndAtLineFeedsWithOneCarriageReturnDroppedAndEmptyOnesSkipped) {
  EXPECT_TRUE(serveText("").empty());
  EXPECT_TRUE(serveText("\n\r\n\n{}\n").empty());  // {} has no id: a notification
  // A CR before the LF belongs to the line end, others are JSON white space; the last line
  // needs no LF.
  const auto lines = serveText(ping("1") + "\r\n\n\r\n" + "{\"id\":1,\r\"method\":\"ping\"}\r\r\n" + ping("1"));
  EXPECT_EQ(lines, std::vector<std::string>(3, R"({"jsonrpc":"2.0","id":1,"result":{}})"));
}

TEST(MessageLoop, EveryLineThatIsNotExactlyOneObjectGetsOneParseError) {
  const std::size_t deep = 1'000'000;
  std::string objects;
  for (std::size_t i = 0; i < deep; ++i) objects += "{\"a\":";
  objects += "1" + std::string(deep, '}');
  const std::string digits400 = "1" + std::string(399, '7');
  const std::vector<std::string> broken = {
      // Not one object.
      "   ", "\t", "[]", "[" + ping("1") + "]", R"("text")", "42", "true", "null", "{", R"({"id":5,"method":"ping")",
      ping("1") + ping("2"), ping("1") + " x", "{'id':1}", ping("1", ","), ping("1", ",/*c*/\"x\":1"),
      // Raw NUL bytes: the parser would stop at them and take what came before for the line.
      "\0"s, ping("1") + "\0"s, ping("1") + "\0"s + ping("2"), ping("1").insert(10, "\0"s), ping("\"a\0b\""s),
      // Invalid UTF-8 outside strings: repaired to U+FFFD, which is no JSON token either.
      "\xFF" + ping("1"), ping("1").insert(17, "\xC3"), ping("1\xED\xA0\x80"), ping("1") + "\xE2\x80",
      // Escapes of lone surrogates.
      ping(R"("\ud800")"), ping(R"("\udc00\ud800")"), ping(R"("\ud800\u0041")"),
      // Numbers beyond the range of a double, as the id and deeper down.
      ping("1e400"), ping("-" + digits400), ping("3", ",\"params\":{\"n\":[1e400]}"),
      // Nesting: a million levels must not exhaust the stack, and the bound is exact.
      arrays(deep), objects, std::string(deep, '{'), ping("1", ",\"params\":" + arrays(deep)),
      ping(arrays(maxNesting)), ping(R"("\\")", ",\"params\":" + arrays(maxNesting)),
  };
  std::string input;
  for (const std::string& line : broken) input += line + "\n";
  const std::vector<std::string> lines = serveText(input + ping("7") + "\n" + ping(arrays(maxNesting - 1)));
  ASSERT_EQ(lines.size(), broken.size() + 2);
  for (std::size_t i = 0; i < broken.size(); ++i) {
    EXPECT_EQ(lines[i], R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}})") << i;
  }
  // The loop goes on afterwards, and nesting up to the bound is served.
  EXPECT_EQ(lines[broken.size()], R"({"jsonrpc":"2.0","id":7,"result":{}})");
  EXPECT_EQ(json::parse(lines.back())["id"], json::parse(arrays(maxNesting - 1)));
}
