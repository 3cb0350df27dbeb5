// Requests and their answers: what is answered, with what, and exactly how it is written.
#include <gtest/gtest.h>

#include "server/message.hpp"
#include "support/serve.hpp"

using nlohmann::json;

namespace {

std::string only(const std::string& line) {
  const auto lines = serveText(line);
  EXPECT_EQ(lines.size(), 1u) << line;
  return lines.empty() ? "" : lines[0];
}

std::string notFound(const std::string& id, const std::string& message) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":-32601,"message":"Method not found: )" + message +
         R"("}})";
}

std::string arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

}  // namespace

TEST(Dispatch, NotificationsGetNoAnswerWhateverTheMethod) {
  EXPECT_TRUE(serveText(R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n"
                        R"({"method":"ping"})" "\n"
                        R"({"method":"tools/call","params":{"name":"status"}})" "\n"
                        R"({"method":"nonsense"})")
                  .empty());
}

TEST(Dispatch, InitializeEchoesOnlyAStringRevision) {
  const auto revision = [](const std::string& params) {
    return json::parse(only(R"({"id":1,"method":"initialize")" + params + "}"))["result"]["protocolVersion"];
  };
  EXPECT_EQ(revision(R"(,"params":{"protocolVersion":"2024-11-05"})"), "2024-11-05");
  EXPECT_EQ(revision(R"(,"params":{"protocolVersion":""})"), "");
  for (const char* params : {R"(,"params":{"protocolVersion":3})", "", R"(,"params":[1])"}) {
    EXPECT_EQ(revision(params), "2025-06-18") << params;
  }
}

TEST(Dispatch, UnknownOrMissingMethodIsNamedInTheError) {
  EXPECT_EQ(only(R"({"id":7})"), notFound("7", ""));
  EXPECT_EQ(only(R"({"id":7,"method":12})"), notFound("7", ""));
  EXPECT_EQ(only(R"({"id":"x","method":"Ping"})"), notFound(R"("x")", "Ping"));
  EXPECT_EQ(only(R"({"id":null,"method":"notifications/initialized"})"),
            notFound("null", "notifications/initialized"));
  // "jsonrpc" is neither required nor checked, and the answer always carries "2.0".
  EXPECT_EQ(only(R"({"jsonrpc":"1.0","id":1,"method":"a/b \"q\"\u00e9"})"), notFound("1", "a/b \\\"q\\\"\xC3\xA9"));
}

TEST(Dispatch, DuplicateKeysTakeTheLastValue) {
  const std::vector<json> answers = answersTo(ping("1", ",\"id\":2") + "\n" +
                                              R"({"id":3,"method":"nope","method":"ping"})" "\n" +
                                              R"({"id":4,"method":"tools/call","params":{"name":"status"},)"
                                              R"("params":{"name":"x"}})");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0]["id"], 2);
  EXPECT_EQ(answers[1]["result"], json::object());
  EXPECT_EQ(answers[2]["error"]["message"], "Unknown tool.");
}

TEST(Dispatch, IdsComeBackExactlyAsWritten) {
  const std::string r = "\xEF\xBF\xBD";
  const std::string ascii(1000, 'q');
  const std::string unclosed(1'000'000, '{');
  const auto q = [](const std::string& text) { return '"' + text + '"'; };
  // The id as written, and the text the answer must carry where it differs (strings whose
  // bytes were repaired or escapes decoded); numbers always come back as written.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"null", ""}, {"7", ""}, {"-3", ""}, {R"("abc")", ""}, {R"("")", ""}, {"[1,[2]]", ""},
      {R"({"k":{"v":null}})", ""}, {"true", ""},
      // Beyond 64 bits, beyond a double's precision, or in a form of the client's own choosing.
      {"18446744073709551615", ""}, {"18446744073709551616", ""}, {"-9223372036854775808", ""},
      {"-9223372036854775809", ""}, {"123456789012345678901234567890", ""}, {"1.50", ""}, {"1E+2", ""},
      {"1e-400", ""}, {R"(7,"params":{"id":1.50})", "7"},  // only the message's own id counts
      {R"("a\u0000b/")", ""}, {R"("\ud83d\ude00")", q("\xF0\x9F\x98\x80")}, {R"("\u002F\n")", R"("/\n")"},
      // Brackets inside strings are text, however many, and so is an escaped quote.
      {q(unclosed), ""}, {q("\\\"" + arrays(maxNesting + 1)), ""},
      // Invalid UTF-8 inside strings: each maximal invalid sequence becomes one U+FFFD.
      {"\"<\x80>\"", q("<" + r + ">")},                                  // stray continuation byte
      {"\"<\xC0\xAF>\"", q("<" + r + r + ">")},                          // overlong "/"
      {"\"<\xE0\x80\xAF>\"", q("<" + r + r + r + ">")},                  // overlong in three bytes
      {"\"<\xF0\x80\x80\xAF>\"", q("<" + r + r + r + r + ">")},          // overlong in four bytes
      {"\"<\xED\xA0\x80>\"", q("<" + r + r + r + ">")},                  // encoded surrogate
      {"\"<\xF4\x90\x80\x80>\"", q("<" + r + r + r + r + ">")},          // past U+10FFFF
      {"\"<\xF5\x80\xFE\xFF>\"", q("<" + r + r + r + r + ">")},          // bytes that never occur
      {"\"<\xF0\x9F\x98>\"", q("<" + r + ">")},                          // truncated sequences
      {"\"<\xE2\x82x>\"", q("<" + r + "x>")},
      {q(ascii + "\xC3" + ascii + "\xC3\xA9"), q(ascii + r + ascii + "\xC3\xA9")},
      {"\"\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \xED\x9F\xBF\"", ""},
  };
  std::string input;
  for (const auto& [idText, expected] : cases) input += ping(idText) + "\n";
  const std::vector<std::string> lines = serveText(input);
  ASSERT_EQ(lines.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [written, repaired] = cases[i];
    const std::string& id = repaired.empty() ? written : repaired;
    EXPECT_TRUE(lines[i] == R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":{}})") << lines[i].substr(0, 200);
  }
}
