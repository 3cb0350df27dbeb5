// The JSON writer against the library's dump(), which wrote every answer before it: clients
// must not see one byte change.
#include <gtest/gtest.h>

#include "server/json_writer.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

std::string written(std::string_view text) {
  std::string line;
  appendJsonString(line, text);
  return line;
}

std::string dumped(const std::string& text) { return json(text).dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

TEST(JsonWriter, EveryAsciiByteIsWrittenAsTheLibraryWritesIt) {
  const std::string others = "\xC3\xA9/\x7F \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80";
  for (int byte = 0; byte < 0x80; ++byte) {
    const std::string c(1, static_cast<char>(byte));
    // Alone, inside the words the writer reads, at their edges, and in the bytes left after them.
    for (const std::string& text : {c, "abcdefg" + c + "hijklmnop", "abcdefghijklmno" + c, c + others + c + c}) {
      EXPECT_EQ(written(text), dumped(text)) << "byte " << byte;
    }
  }
}

TEST(JsonWriter, LongTextsComeOutWholeWhereverTheirBytesFall) {
  // Runs of plain bytes and of escapes, shifted a byte at a time, so that each kind of byte
  // meets every place where written text is passed on in pieces.
  const std::string piece = "{\"path\": \"/a?q=caf\xC3\xA9\", \"n\": \"\\\\ \x01\x1F\",\t\"ok\": true}\n";
  for (std::size_t shift = 0; shift < 24; ++shift) {
    std::string text(shift, 'x');
    while (text.size() < 3000) text += piece;
    text.append(5000 + shift * 7, 'y');
    while (text.size() < 14000) text += piece;
    const std::string expected = dumped(text);
    const std::string got = written(text);
    ASSERT_EQ(got.size(), expected.size()) << "shift " << shift;
    EXPECT_TRUE(got == expected) << "shift " << shift;
  }
}

TEST(JsonWriter, ValuesAreWrittenAsDumpWritesThemAfterWhatIsThere) {
  const std::string text =
      R"({"z":[1,-2,0,18446744073709551615,-9223372036854775808,0.1,1e300,-0.0,5e-324,1.5,2.0,1E+2,)"
      R"(true,false,null,"s\u0001/\u007f\ud83d\ude80"],"a":{},"m":[],"":{"b":[{},[[]],""],"a":"\u00e9"}})";
  // Ordered objects keep their members as built, the others sort them: both as dump() does.
  const ordered_json ordered = ordered_json::parse(text);
  const json sorted = json::parse(text);
  std::string line = "prefix";
  appendJson(line, ordered);
  EXPECT_EQ(line, "prefix" + ordered.dump());
  line = "prefix";
  appendJson(line, sorted);
  EXPECT_EQ(line, "prefix" + sorted.dump());
}

#ifndef NDEBUG
TEST(JsonWriterDeathTest, InvalidUtf8StopsDebugBuilds) {
  EXPECT_DEATH(written("ok\xC3"), "isValidUtf8");
}
#endif
