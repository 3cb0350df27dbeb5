#include <gtest/gtest.h>

#include "server/settings.hpp"

TEST(PortRule, AcceptsSignedDecimalAcrossTheWholeRange) {
  EXPECT_EQ(parsePort("8080"), 8080);
  EXPECT_EQ(parsePort("+8080"), 8080);
  EXPECT_EQ(parsePort("007"), 7);
  EXPECT_EQ(parsePort("-1"), -1);
  EXPECT_EQ(parsePort("0"), 0);
  EXPECT_EQ(parsePort("-0"), 0);
  EXPECT_EQ(parsePort("70000"), 70000);
  EXPECT_EQ(parsePort("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parsePort("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(parsePort("000000000000000000000000009223372036854775807"), INT64_MAX);
}

TEST(PortRule, RefusesEverythingElse) {
  for (const char* text : {"", "+", "-", "+-1", "--1", "++1", " 8080", "8080 ", "80 80", "80a", "0x1F", "1e3",
                           "8080\n", "\t1", "9223372036854775808", "-9223372036854775809",
                           "99999999999999999999", "\xD9\xA1", "\xEF\xBC\x91"}) {
    EXPECT_FALSE(parsePort(text).has_value()) << '"' << text << '"';
  }
}

TEST(PortRule, EnvironmentFallsBackTo47300) {
  unsetenv("TARNWICK_PORT");
  EXPECT_EQ(portFromEnvironment(), 47300);
  setenv("TARNWICK_PORT", "", 1);
  EXPECT_EQ(portFromEnvironment(), 47300);
  setenv("TARNWICK_PORT", " 8080", 1);
  EXPECT_EQ(portFromEnvironment(), 47300);
  setenv("TARNWICK_PORT", "-9223372036854775808", 1);
  EXPECT_EQ(portFromEnvironment(), INT64_MIN);
  unsetenv("TARNWICK_PORT");
}
