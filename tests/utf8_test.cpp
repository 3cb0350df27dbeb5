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

TEST(Utf8Repair, RepairAfterLongAsciiRunKeepsEverythingAround) {
  const std::string ascii(1000, 'q');
  EXPECT_EQ(repaired(ascii + "\xC3" + ascii + "\xC3\xA9"), ascii + fffd + ascii + "\xC3\xA9");
}
