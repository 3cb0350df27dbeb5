// A hostile client: bytes that are not JSON, not UTF-8 or far too big must each get exactly the
// answer a well-formed line would get (or the parse error), and never stop the next line.

#include <gtest/gtest.h>

#include "server/settings.hpp"
#include "server/utf8.hpp"
#include "support/fake_app.hpp"
#include "support/messages.hpp"
#include "support/run.hpp"

using nlohmann::json;
using namespace messages;

TEST(HostileClient, RandomLinesEachGetOneParseError) {
  const std::vector<json> answers = answersTo(randomLines(20240601, 5000, 300) + ping("7"));
  ASSERT_EQ(answers.size(), 5001u);
  for (std::size_t i = 0; i < 5000; ++i) ASSERT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers.back(), pong(7));
}

TEST(HostileClient, NulBytesNeitherCutNorPassTheLine) {
  using namespace std::string_literals;
  const std::vector<std::string> broken = {
      "\0"s, "\0\0\0"s, "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\0\"}"s,
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\0"s,
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\0{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}"s,
      "\0{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}"s,
      "{\"jsonrpc\":\"2.0\",\0\"id\":1,\"method\":\"ping\"}"s};
  std::string input;
  for (const std::string& line : broken) input += line + "\n";
  input += ping(R"("a\u0000b")");  // an escaped NUL is an ordinary character
  const std::vector<json> answers = answersTo(input);
  ASSERT_EQ(answers.size(), broken.size() + 1);
  for (std::size_t i = 0; i < broken.size(); ++i) EXPECT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers.back(), pong("a\0b"s));
  EXPECT_NE(serveText(ping(R"("a\u0000b")"))[0].find(R"("a\u0000b")"), std::string::npos);
}

TEST(HostileClient, InvalidUtf8InsideStringsBecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\x80", r},                                // stray continuation byte
      {"\xBF\x80\xBF", r + r + r},                // a run of them
      {"\xC0\xAF", r + r},                        // overlong "/"
      {"\xC1\xBF", r + r},                        // overlong DEL
      {"\xE0\x80\xAF", r + r + r},                // overlong in three bytes
      {"\xF0\x80\x80\xAF", r + r + r + r},        // overlong in four bytes
      {"\xED\xA0\x80", r + r + r},                // encoded high surrogate
      {"\xED\xBF\xBF", r + r + r},                // encoded low surrogate
      {"\xED\xA0\xBD\xED\xB8\x80", r + r + r + r + r + r},  // an encoded pair is two surrogates
      {"\xF4\x90\x80\x80", r + r + r + r},        // past U+10FFFF
      {"\xF5\x80\x80\x80", r + r + r + r},        // lead byte that never occurs
      {"\xFE\xFF", r + r},
      {"\xC3", r},                                // truncated before the closing quote
      {"\xE2\x82", r},
      {"\xF0\x9F\x98", r},
      {"\xE2\x82x", r + "x"},                     // truncated by an ASCII byte
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},   // well-formed stays as it is
  };
  for (const auto& [bad, repaired] : cases) {
    SCOPED_TRACE(json(bad).dump(-1, ' ', true, json::error_handler_t::replace));
    const std::vector<std::string> lines = serveText(ping("\"<" + bad + ">\""));
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_TRUE(isValidUtf8(lines[0]));
    EXPECT_EQ(json::parse(lines[0])["id"], "<" + repaired + ">");
  }
}

TEST(HostileClient, InvalidUtf8OutsideStringsIsAParseError) {
  const std::vector<std::string> broken = {
      "\xFF" + ping("1"),
      "\xC1\xBB\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n",  // an overlong "{" is no "{"
      "{\"jsonrpc\":\"2.0\",\xC3\"id\":1,\"method\":\"ping\"}\n",
      "{\"jsonrpc\":\"2.0\",\"id\":1\xED\xA0\x80,\"method\":\"ping\"}\n",
      "{\"jsonrpc\":\"2.0\",\"id\":\"a\xC0\xA2,\"method\":\"ping\"}\n",  // an overlong quote ends no string
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\x80\n",
      "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\xE2\x80\n",
  };
  std::string input;
  for (const std::string& line : broken) input += line;
  const std::vector<json> answers = answersTo(input + ping("2"));
  ASSERT_EQ(answers.size(), broken.size() + 1);
  for (std::size_t i = 0; i < broken.size(); ++i) EXPECT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers.back(), pong(2));
}

TEST(HostileClient, LoneSurrogateEscapesAreAParseError) {
  std::string input;
  for (const char* id : {R"("\ud800")", R"("\udfff")", R"("\udc00\ud800")", R"("\ud800x")", R"("\ud800\u0041")",
                         R"("\ud800\ud800")"}) {
    input += ping(id);
  }
  input += ping(R"("\ud83d\ude00")");  // a proper pair is one character
  const std::vector<json> answers = answersTo(input);
  ASSERT_EQ(answers.size(), 7u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers[6], pong("\xF0\x9F\x98\x80"));
}

TEST(HostileClient, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  const std::size_t levels = 1'000'000;
  std::string arrays = std::string(levels, '[') + std::string(levels, ']');
  std::string objects;
  for (std::size_t i = 0; i < levels; ++i) objects += "{\"a\":";
  objects += "1" + std::string(levels, '}');
  const std::string unclosed(levels, '{');
  const std::string asParams = ping("1", ",\"params\":{\"x\":" + arrays + "}");
  const std::vector<json> answers =
      answersTo(arrays + "\n" + objects + "\n" + unclosed + "\n" + asParams + ping("2"));
  ASSERT_EQ(answers.size(), 5u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers[4], pong(2));

  // Brackets inside a string are text, however many there are; moderate nesting is answered.
  EXPECT_EQ(answersTo(ping('"' + unclosed + '"')), std::vector<json>{pong(unclosed)});
  const std::string moderate = std::string(400, '[') + std::string(400, ']');
  EXPECT_EQ(answersTo(ping(moderate)), std::vector<json>{pong(json::parse(moderate))});
}

TEST(HostileClient, ObjectWithTwoHundredThousandMembersIsAnswered) {
  std::string params = "{";
  for (int i = 0; i < 200'000; ++i) params += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
  params += "}";
  EXPECT_EQ(answersTo(ping("1", ",\"params\":" + params)), std::vector<json>{pong(1)});

  FakeApp app;
  port = app.port();
  const std::string call = R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"status","arguments":)" +
                           params + "}}\n";
  const std::vector<json> answers = answersTo(call);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["result"]["isError"], false);
  ASSERT_EQ(app.requests().size(), 1u);
  EXPECT_EQ(json::parse(app.requests()[0].body), json::parse(params));
}

TEST(HostileClient, NumbersBeyondDoubleAreAParseErrorAndNothingElse) {
  const std::string digits400 = "1" + std::string(399, '7');
  std::string input;
  for (const std::string& number : {std::string("1e400"), std::string("-1e400"), std::string("1E+99999999999"),
                                    digits400, "-" + digits400}) {
    input += ping(number);
    input += ping("3", ",\"params\":{\"n\":[" + number + "]}");
  }
  input += ping("18446744073709551615") + ping("-9223372036854775808") + ping("1e-400");
  const std::vector<std::string> lines = serveText(input);
  ASSERT_EQ(lines.size(), 13u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(json::parse(lines[i]), parseError) << "line " << i;
  // The largest integers come back digit for digit; an underflow is a plain zero, never NaN.
  EXPECT_NE(lines[10].find(R"("id":18446744073709551615,)"), std::string::npos) << lines[10];
  EXPECT_NE(lines[11].find(R"("id":-9223372036854775808,)"), std::string::npos) << lines[11];
  EXPECT_EQ(json::parse(lines[12]), pong(0.0));
}

TEST(HostileClient, DuplicateKeysTakeTheLastValue) {
  const std::vector<json> answers = answersTo(
      R"({"jsonrpc":"2.0","id":1,"id":2,"method":"ping"})"
      "\n"
      R"({"jsonrpc":"2.0","id":3,"method":"nope","method":"ping"})"
      "\n"
      R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"status"},"params":{"name":"x"}})"
      "\n");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0], pong(2));
  EXPECT_EQ(answers[1], pong(3));
  EXPECT_EQ(answers[2]["error"]["message"], "Unknown tool.");
}

TEST(HostileClient, SixtyFourMebibyteArgumentReachesTheAppIntact) {
  // Slashes, quotes and non-ASCII throughout: each is escaped or encoded on the way.
  const std::string piece = "caf\xC3\xA9 / \"q\" \xF0\x9F\x90\x8C ";
  std::string value;
  value.reserve(64u << 20);
  while (value.size() + piece.size() <= (64u << 20)) value += piece;
  FakeApp app;
  app.answerWith(200, "stored");
  port = app.port();
  const json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                        {"params", {{"name", "set_network"}, {"arguments", {{"app", value}}}}}};
  const std::vector<json> answers = answersTo(request.dump() + "\n");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["result"]["content"][0]["text"], "stored");
  ASSERT_EQ(app.requests().size(), 1u);
  const json received = json::parse(app.requests()[0].body);
  EXPECT_TRUE(received["app"].get<std::string>() == value);  // not EXPECT_EQ: no 64 MiB printout
}
