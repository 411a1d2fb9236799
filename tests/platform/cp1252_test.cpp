#include "platform/text/cp1252.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// Every byte string survives the trip to UTF-8 and back.
TEST(Cp1252, EveryByteRoundTrips) {
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
  // ... and one byte at a time, each giving a distinct UTF-8 text.
  std::set<std::string> seen;
  for (int b = 0; b < 256; ++b) {
    const Bytes one(1, static_cast<char>(b));
    const std::string u = Cp1252ToUtf8(one);
    EXPECT_TRUE(seen.insert(u).second) << "byte " << b << " maps like another one";
    EXPECT_EQ(Utf8ToCp1252(u), one) << "byte " << b;
  }
}

// ASCII is unchanged both ways; Latin-1 letters are the two-byte UTF-8 form of the byte.
TEST(Cp1252, AsciiAndLatin1Ranges) {
  for (int b = 0; b < 0x80; ++b) {
    const Bytes one(1, static_cast<char>(b));
    EXPECT_EQ(Cp1252ToUtf8(one), one);
  }
  for (int b = 0xA0; b < 0x100; ++b) {
    const Bytes one(1, static_cast<char>(b));
    std::string expected;
    expected.push_back(static_cast<char>(0xC0 | (b >> 6)));
    expected.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    EXPECT_EQ(Cp1252ToUtf8(one), expected) << "byte " << b;
  }
}

struct Pair {
  int byte;
  std::string utf8;
};

class Cp1252Table : public ::testing::TestWithParam<Pair> {};

TEST_P(Cp1252Table, BothDirections) {
  const Pair& p = GetParam();
  const Bytes one(1, static_cast<char>(p.byte));
  EXPECT_EQ(Cp1252ToUtf8(one), p.utf8);
  EXPECT_EQ(Utf8ToCp1252(p.utf8), one);
}

INSTANTIATE_TEST_SUITE_P(
    Spots, Cp1252Table,
    ::testing::Values(Pair{0x80, "€"}, Pair{0x82, "‚"}, Pair{0x83, "ƒ"}, Pair{0x85, "…"},
                      Pair{0x8A, "Š"}, Pair{0x8C, "Œ"}, Pair{0x8E, "Ž"}, Pair{0x91, "‘"},
                      Pair{0x92, "’"}, Pair{0x93, "“"}, Pair{0x94, "”"}, Pair{0x96, "–"},
                      Pair{0x97, "—"}, Pair{0x99, "™"}, Pair{0x9C, "œ"}, Pair{0x9F, "Ÿ"},
                      // the five bytes Windows leaves undefined: C1 controls U+0081 etc.
                      Pair{0x81, "\xC2\x81"}, Pair{0x8D, "\xC2\x8D"}, Pair{0x8F, "\xC2\x8F"},
                      Pair{0x90, "\xC2\x90"}, Pair{0x9D, "\xC2\x9D"},
                      Pair{0xA0, "\xC2\xA0"}, Pair{0xE9, "é"}, Pair{0xE0, "à"},
                      Pair{0xE7, "ç"}, Pair{0xC9, "É"}, Pair{0xFF, "ÿ"}, Pair{0x41, "A"}));

TEST(Cp1252, FrenchTextBothWays) {
  const std::string utf8 = "ATTENTION :\r\rTaille fichier(s) > capacité eeprom";
  const Bytes cp = Utf8ToCp1252(utf8);
  EXPECT_EQ(cp, BytesOf({'A', 'T', 'T', 'E', 'N', 'T', 'I', 'O', 'N', ' ', ':', 13, 13, 'T', 'a',
                         'i', 'l', 'l', 'e', ' ', 'f', 'i', 'c', 'h', 'i', 'e', 'r', '(', 's',
                         ')', ' ', '>', ' ', 'c', 'a', 'p', 'a', 'c', 'i', 't', 0xE9, ' ', 'e',
                         'e', 'p', 'r', 'o', 'm'}));
  EXPECT_EQ(Cp1252ToUtf8(cp), utf8);
  EXPECT_EQ(Utf8ToCp1252(std::string("a\0b", 3)), std::string("a\0b", 3));
}

struct Unmappable {
  const char* name;
  std::string utf8;
  Bytes expected;
};

class Cp1252Unmappable : public ::testing::TestWithParam<Unmappable> {};

TEST_P(Cp1252Unmappable, BecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252(GetParam().utf8), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cp1252Unmappable,
    ::testing::Values(
        // characters without a Windows-1252 byte
        Unmappable{"A macron, no best fit", "Ā", "?"},
        Unmappable{"CJK", "x中y", "x?y"},
        Unmappable{"emoji, one character", "😀", "?"},
        Unmappable{"C1 U+0080 is not the euro byte", "\xC2\x80", "?"},
        Unmappable{"C1 U+009F", "\xC2\x9F", "?"},
        Unmappable{"Cyrillic word", "été мир", "\xE9t\xE9 ???"},
        // malformed UTF-8
        Unmappable{"lone continuation", "a\x80z", "a?z"},
        Unmappable{"two lone continuations", "\x80\xBF", "??"},
        Unmappable{"truncated at the end", "ab\xC3", "ab?"},
        Unmappable{"truncated euro", "\xE2\x82", "?"},
        Unmappable{"truncated euro before ASCII", "\xE2\x82z", "?z"},
        Unmappable{"truncated 4-byte", "\xF0\x9F\x98", "?"},
        Unmappable{"lead then lead", "\xC3\xC3\xA9", "?\xE9"},
        Unmappable{"overlong slash", "\xC0\xAF", "??"},
        Unmappable{"overlong 3-byte", "\xE0\x80\xAF", "???"},
        Unmappable{"surrogate", "\xED\xA0\x80", "???"},
        Unmappable{"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
        Unmappable{"F5 and FF", "\xF5\xFF", "??"}));

}  // namespace
