#include "platform/text/strtoint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace {

struct Case {
  std::string text;
  std::optional<std::int32_t> value;  // nullopt: the text is refused
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
  os << '"';
  for (char ch : c.text) {
    if (static_cast<unsigned char>(ch) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(ch)));
      os << esc;
    } else {
      os << ch;
    }
  }
  return os << '"';
}

class StrToIntTable : public ::testing::TestWithParam<Case> {};

TEST_P(StrToIntTable, ConvertsOrRefuses) {
  const Case& c = GetParam();
  std::int32_t tried = 12345;
  const bool ok = TryStrToInt(c.text, tried);
  if (c.value) {
    ASSERT_TRUE(ok);
    EXPECT_EQ(tried, *c.value);
    EXPECT_EQ(StrToInt(c.text), *c.value);
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(tried, 12345) << "a refused text must leave the value unchanged";
    try {
      StrToInt(c.text);
      ADD_FAILURE() << "no EConvertError";
    } catch (const EConvertError& e) {
      // what() is a C string: a NUL inside the text ends the message there, as it would
      // in any message box.
      const std::string expected = "'" + c.text + "' n'est pas une valeur entière correcte";
      EXPECT_STREQ(e.what(), expected.c_str());
    }
  }
}

const Case kCases[] = {
    // plain decimal
    {"0", 0},
    {"8", 8},
    {"80", 80},
    {"65535", 65535},
    {"007", 7},
    {"+5", 5},
    {"-5", -5},
    {"-0", 0},
    // leading blanks (spaces only)
    {" 2", 2},
    {"    256", 256},
    {"  -12", -12},
    {"\t2", std::nullopt},
    {"\n2", std::nullopt},
    // nothing may follow the digits
    {"2 ", std::nullopt},
    {"2\t", std::nullopt},
    {"8Ko", std::nullopt},
    {"8 Ko", std::nullopt},
    {"1.5", std::nullopt},
    {"1,5", std::nullopt},
    {"1e3", std::nullopt},
    {"12a", std::nullopt},
    {std::string("1\0" "2", 3), std::nullopt},
    // empty, blanks, signs and prefixes alone
    {"", std::nullopt},
    {" ", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {" -", std::nullopt},
    {"$", std::nullopt},
    {"-$", std::nullopt},
    {"0x", std::nullopt},
    {"0X", std::nullopt},
    {"- 5", std::nullopt},
    {"+-5", std::nullopt},
    {"--5", std::nullopt},
    {"abc", std::nullopt},
    {"x10", std::nullopt},
    {"$ 10", std::nullopt},
    // decimal limits
    {"2147483647", 2147483647},
    {"-2147483648", std::numeric_limits<std::int32_t>::min()},
    {"+2147483647", 2147483647},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"99999999999999999999999", std::nullopt},
    {"00000000000000000000042", 42},
    // hexadecimal
    {"$10", 16},
    {"$ff", 255},
    {"$FF", 255},
    {"0x10", 16},
    {"0X1f", 31},
    {"  $10", 16},
    {"-$10", -16},
    {"+$10", 16},
    {"-0x10", -16},
    {"$7FFFFFFF", 2147483647},
    {"$80000000", std::numeric_limits<std::int32_t>::min()},
    {"$FFFFFFFF", -1},
    {"0xFFFFFFFE", -2},
    {"-$FFFFFFFF", 1},
    {"$00000000FFFFFFFF", -1},
    {"$100000000", std::nullopt},
    {"$1FFFFFFFF", std::nullopt},
    {"$1G", std::nullopt},
    {"$10 ", std::nullopt},
    {"0x0x1", std::nullopt},
    {"$$1", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Texts, StrToIntTable, ::testing::ValuesIn(kCases));

// Every 32-bit value survives a round trip through its decimal and hexadecimal text.
TEST(StrToInt, RoundTripsRandomValues) {
  std::mt19937 rng(20240611u);
  std::uniform_int_distribution<std::int32_t> dist(std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max());
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t v = dist(rng);
    ASSERT_EQ(StrToInt(std::to_string(v)), v);
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(static_cast<std::uint32_t>(v)));
    ASSERT_EQ(StrToInt(hex), v) << hex;
  }
}

// Decimal values just beyond the range in either direction are refused, for every
// magnitude from 2^31 up to 2^63, so no intermediate overflow lets one through.
TEST(StrToInt, RefusesEveryOutOfRangeMagnitude) {
  for (int shift = 31; shift < 63; ++shift) {
    const std::int64_t big = std::int64_t{1} << shift;
    std::int32_t v = 0;
    EXPECT_FALSE(TryStrToInt(std::to_string(big), v)) << big;
    EXPECT_FALSE(TryStrToInt(std::to_string(-big - 1), v)) << -big - 1;
  }
}

}  // namespace
