#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <utility>

#include "server/settings.hpp"

TEST(PortRule, AcceptsSignedDecimalAcrossTheWholeRangeAndNothingElse) {
  const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases = {
      {"8080", 8080}, {"+8080", 8080}, {"007", 7}, {"-1", -1}, {"-0", 0}, {"70000", 70000},
      {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
      {"000000000000000000000000009223372036854775807", INT64_MAX},
      {"", {}}, {"+", {}}, {"-", {}}, {"+-1", {}}, {"++1", {}}, {" 8080", {}}, {"8080 ", {}}, {"80a", {}},
      {"0x1F", {}}, {"1e3", {}}, {"8080\n", {}}, {"9223372036854775808", {}}, {"-9223372036854775809", {}},
      {"99999999999999999999", {}}, {"\xD9\xA1", {}}, {"\xEF\xBC\x91", {}}};
  for (const auto& [text, port] : cases) EXPECT_EQ(parsePort(text), port) << '"' << text << '"';

  ::unsetenv("TARNWICK_PORT");
  EXPECT_EQ(portFromEnvironment(), 47300);
  ::setenv("TARNWICK_PORT", " 8080", 1);
  EXPECT_EQ(portFromEnvironment(), 47300);
  ::setenv("TARNWICK_PORT", "-9223372036854775808", 1);
  EXPECT_EQ(portFromEnvironment(), INT64_MIN);
  ::unsetenv("TARNWICK_PORT");
}
