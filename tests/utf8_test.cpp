#include <gtest/gtest.h>

#include "server/utf8.hpp"

namespace {

std::string repaired(std::string bytes) {
  repairUtf8(bytes);
  return bytes;
}

const std::string fffd = "\xEF\xBF\xBD";

}  // namespace

TEST(Utf8Repair, WellFormedTextIsLeftAlone) {
  for (const std::string& text : std::vector<std::string>{"", "plain ascii", "caf\xC3\xA9", "\xE2\x80\xBA", "\xF0\x9F\x98\x80",
                                 "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF", std::string("nul\0inside", 10)}) {
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_EQ(repaired(text), text);
  }
}

TEST(Utf8Repair, EachMaximalIllFormedSubsequenceBecomesOneReplacement) {
  // Stray continuation bytes and bytes that never start a sequence: one each.
  EXPECT_EQ(repaired("a\x80\x80z"), "a" + fffd + fffd + "z");
  EXPECT_EQ(repaired("\xC0\xAF"), fffd + fffd);  // overlong "/"
  EXPECT_EQ(repaired("\xFF\xFE"), fffd + fffd);
  // Overlong three- and four-byte forms, encoded surrogates and values past U+10FFFF break at
  // their second byte, so the lead stands alone.
  EXPECT_EQ(repaired("\xE0\x80\xAF"), fffd + fffd + fffd);
  EXPECT_EQ(repaired("\xED\xA0\x80"), fffd + fffd + fffd);
  EXPECT_EQ(repaired("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);
  // A truncated sequence is one replacement however much of it there was.
  EXPECT_EQ(repaired("\xE2\x80z"), fffd + "z");
  EXPECT_EQ(repaired("\xF0\x9F\x98"), fffd);
  EXPECT_EQ(repaired("x\xF0\x9F"), "x" + fffd);
  EXPECT_EQ(repaired("\xE2\x80\xE2\x80\xBA"), fffd + "\xE2\x80\xBA");
}

TEST(Utf8Repair, RepairAfterLongAsciiRunKeepsEverythingAround) {
  const std::string ascii(1000, 'q');
  EXPECT_EQ(repaired(ascii + "\xC3" + ascii + "\xC3\xA9"), ascii + fffd + ascii + "\xC3\xA9");
}
