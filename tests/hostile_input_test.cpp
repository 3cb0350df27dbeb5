// A hostile client: bytes that are not JSON, not UTF-8 or far too big must each get exactly the
// answer a well-formed line would get (or the parse error), and never stop the next line.

#include <gtest/gtest.h>

#include "server/message.hpp"
#include "server/settings.hpp"
#include "support/fake_app.hpp"
#include "support/messages.hpp"
#include "support/run.hpp"

using nlohmann::json;
using namespace messages;
using namespace std::string_literals;

namespace {

// A ping line without its line feed.
std::string bare(std::string_view idText, std::string_view extra = "") {
  std::string line = ping(idText, extra);
  line.pop_back();
  return line;
}

std::string arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(HostileClient, EveryLineThatIsNotExactlyOneObjectGetsOneParseError) {
  const std::size_t deep = 1'000'000;
  std::string objects;
  for (std::size_t i = 0; i < deep; ++i) objects += "{\"a\":";
  objects += "1" + std::string(deep, '}');
  const std::string digits400 = "1" + std::string(399, '7');

  const std::vector<std::string> broken = {
      // Not one object.
      "   ", "\t", "[]", "[" + bare("1") + "]", R"("text")", "42", "true", "null", "{", R"({"id":5,"method":"ping")",
      bare("1") + bare("2"), bare("1") + " x", "{'id':1}", bare("1", ","), bare("1", ",/*c*/\"x\":1"),
      // Raw NUL bytes: the parser would stop at them and take what came before for the line.
      "\0"s, "\0\0\0"s, bare("1") + "\0"s, bare("1") + "\0"s + bare("2"), "\0"s + bare("1"),
      bare("1").insert(10, "\0"s), bare("\"a\0b\""s),
      // Invalid UTF-8 outside strings: repaired to U+FFFD, which is no JSON token either.
      "\xFF" + bare("1"), "\xC1\xBB" + bare("1").substr(1), bare("1").insert(17, "\xC3"),
      bare("1\xED\xA0\x80"), bare("\"a\xC0\xA2"), bare("1") + "\x80", bare("1") + "\xE2\x80",
      // Escapes of lone surrogates.
      bare(R"("\ud800")"), bare(R"("\udfff")"), bare(R"("\udc00\ud800")"), bare(R"("\ud800x")"),
      bare(R"("\ud800\u0041")"), bare(R"("\ud800\ud800")"),
      // Numbers beyond the range of a double, as the id and deeper down.
      bare("1e400"), bare("-1e400"), bare("1E+99999999999"), bare(digits400), bare("-" + digits400),
      bare("3", ",\"params\":{\"n\":[1e400]}"), bare("3", ",\"params\":{\"n\":[" + digits400 + "]}"),
      // Nesting: a million levels must not exhaust the stack, and the bound is exact.
      arrays(deep), objects, std::string(deep, '{'), bare("1", ",\"params\":" + arrays(deep)),
      bare(arrays(maxNesting)), bare(R"("\\")", ",\"params\":" + arrays(maxNesting)),
  };
  std::string input;
  for (const std::string& line : broken) input += line + "\n";
  input += randomLines(20240601, 5000, 300) + ping("7");
  const std::vector<json> answers = answersTo(input);
  ASSERT_EQ(answers.size(), broken.size() + 5001);
  for (std::size_t i = 0; i < broken.size(); ++i) EXPECT_EQ(answers[i], parseError) << "case " << i;
  for (std::size_t i = broken.size(); i + 1 < answers.size(); ++i) ASSERT_EQ(answers[i], parseError) << "line " << i;
  EXPECT_EQ(answers.back(), pong(7));  // the loop goes on afterwards
}

TEST(HostileClient, IdsComeBackExactlyAsWritten) {
  const std::string r = "\xEF\xBF\xBD";
  const std::string ascii(1000, 'q');
  const std::string unclosed(1'000'000, '{');
  const std::string pastTheBound(maxNesting + 1, '[');
  const auto q = [](const std::string& text) { return '"' + text + '"'; };
  // The id as written, and the text the answer must carry where it differs (strings whose
  // bytes were repaired or escapes decoded); numbers always come back as written.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"null", ""}, {"7", ""}, {"-3", ""}, {"1.5", ""}, {R"("abc")", ""}, {R"("")", ""}, {"[1,[2]]", ""},
      {R"({"k":{"v":null}})", ""}, {"true", ""},
      // Beyond 64 bits, beyond a double's precision, or in a form of the client's own choosing.
      {"18446744073709551615", ""}, {"18446744073709551616", ""}, {"-9223372036854775808", ""},
      {"-9223372036854775809", ""}, {"123456789012345678901234567890", ""}, {"1.50", ""}, {"1E+2", ""},
      {"1e-400", ""}, {"0.1000000000000000055511151231257827", ""},
      {R"("a\u0000b")", ""}, {R"("\ud83d\ude00")", q("\xF0\x9F\x98\x80")}, {R"("\u002F")", R"("/")"},
      // Brackets inside strings are text, however many, and so is an escaped quote.
      {'"' + unclosed + '"', ""}, {"\"\\\"" + pastTheBound + '"', ""}, {arrays(maxNesting - 1), ""},
      // Invalid UTF-8 inside strings: each maximal invalid sequence becomes one U+FFFD.
      {"\"<\x80>\"", q("<" + r + ">")},                                  // stray continuation byte
      {"\"<\xBF\x80\xBF>\"", q("<" + r + r + r + ">")},                  // a run of them
      {"\"<\xC0\xAF>\"", q("<" + r + r + ">")},                          // overlong "/"
      {"\"<\xE0\x80\xAF>\"", q("<" + r + r + r + ">")},                  // overlong in three bytes
      {"\"<\xF0\x80\x80\xAF>\"", q("<" + r + r + r + r + ">")},          // overlong in four bytes
      {"\"<\xED\xA0\x80>\"", q("<" + r + r + r + ">")},                  // encoded surrogate
      {"\"<\xED\xA0\xBD\xED\xB8\x80>\"", q("<" + r + r + r + r + r + r + ">")},  // an encoded pair
      {"\"<\xF4\x90\x80\x80>\"", q("<" + r + r + r + r + ">")},          // past U+10FFFF
      {"\"<\xF5\x80\x80\x80\xFE\xFF>\"", q("<" + r + r + r + r + r + r + ">")},  // bytes that never occur
      {"\"<\xC3>\"", q("<" + r + ">")},                                  // truncated sequences
      {"\"<\xF0\x9F\x98>\"", q("<" + r + ">")},
      {"\"<\xE2\x82x>\"", q("<" + r + "x>")},
      {'"' + ascii + "\xC3" + ascii + "\xC3\xA9\"", q(ascii + r + ascii + "\xC3\xA9")},
      {"\"\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xED\x9F\xBF\"", ""},
  };
  std::string input;
  for (const auto& [idText, expected] : cases) input += ping(idText);
  const std::vector<std::string> lines = serveText(input);
  ASSERT_EQ(lines.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [written, repaired] = cases[i];
    SCOPED_TRACE(written.substr(0, 60));
    const std::string& id = repaired.empty() ? written : repaired;
    EXPECT_TRUE(lines[i] == R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":{}})") << lines[i].substr(0, 200);
  }
}

TEST(HostileClient, DuplicateKeysTakeTheLastValue) {
  const std::vector<json> answers = answersTo(
      bare("1", ",\"id\":2") + "\n" + R"({"id":3,"method":"nope","method":"ping"})" "\n" +
      R"({"id":4,"method":"tools/call","params":{"name":"status"},"params":{"name":"x"}})");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0], pong(2));
  EXPECT_EQ(answers[1]["result"], json::object());
  EXPECT_EQ(answers[2]["error"]["message"], "Unknown tool.");
}

TEST(HostileClient, HugeArgumentsReachTheAppIntact) {
  FakeApp app;
  app.answerWith(200, "stored");
  const auto callWith = [&app](const json& arguments) {
    const json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                          {"params", {{"name", "set_network"}, {"arguments", arguments}}}};
    std::vector<json> answers = answersTo(request.dump() + "\n", Automation{app.port()});
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers.empty() ? json() : answers[0]["result"]["content"][0]["text"], "stored");
    const auto requests = app.requests();
    return requests.empty() ? json() : json::parse(requests.back().body);
  };

  json members = json::object();
  for (int i = 0; i < 200'000; ++i) members["k" + std::to_string(i)] = i;
  EXPECT_TRUE(callWith(members) == members);

  // 64 MiB with slashes, quotes and non-ASCII throughout: each is escaped or encoded on the way.
  const std::string piece = "caf\xC3\xA9 / \"q\" \xF0\x9F\x90\x8C ";
  std::string value;
  value.reserve(64u << 20);
  while (value.size() + piece.size() <= (64u << 20)) value += piece;
  const json received = callWith({{"app", value}});
  EXPECT_TRUE(received["app"] == value);  // not EXPECT_EQ: no 64 MiB printout
}
