#include "upload/payload.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "platform/text/strtoint.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test for the chosen files.
class PayloadTest : public ::testing::Test {
 protected:
  // Writes a file and returns its full name.
  std::string File(const std::string& name, const Bytes& content) {
    const fs::path p = dir_ / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    EXPECT_TRUE(out.good()) << p;
    return p.string();
  }

  std::string Missing(const std::string& name) const { return (dir_ / name).string(); }

  const testnet::TempFolder folder_{"payload_test_"};
  const fs::path dir_ = folder_.path();
};

// The payload computed the plain way, one byte at a time, for comparison.
Bytes Reference(const std::vector<Bytes>& openedFiles) {
  Bytes out;
  for (const Bytes& content : openedFiles) {
    for (char c : content) {
      if (c == '\x1A') break;
      if (c != '\r' && c != '\n') out.push_back(c);
    }
    out.push_back('\0');
  }
  out.push_back('\x1A');
  return out;
}

// ---------------------------------------------------------------------------------------
// Table of chosen files -> payload
// ---------------------------------------------------------------------------------------

struct PayloadCase {
  const char* name;
  std::vector<std::optional<Bytes>> files;  // nullopt: a name that does not open
  Bytes expected;
};

void PrintTo(const PayloadCase& c, std::ostream* os) { *os << c.name; }

class PayloadTable : public PayloadTest, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(PayloadTable, BuildsTheBytes) {
  const PayloadCase& c = GetParam();
  std::vector<std::string> names;
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    const std::string name = "file" + std::to_string(i) + ".htm";
    names.push_back(c.files[i] ? File(name, *c.files[i]) : Missing(name));
  }
  const Bytes payload = BuildPayload(names);
  EXPECT_EQ(payload, c.expected);
  std::vector<Bytes> opened;
  for (const auto& f : c.files) {
    if (f) opened.push_back(*f);
  }
  EXPECT_EQ(payload, Reference(opened));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PayloadTable,
    ::testing::Values(
        // the worked examples
        PayloadCase{"no file (dialog cancelled)", {}, BytesOf({0x1A})},
        PayloadCase{"one file with CR LF",
                    {BytesOf({0x41, 0x42, 0x0D, 0x0A, 0x43, 0x0D, 0x0A})},
                    BytesOf({0x41, 0x42, 0x43, 0x00, 0x1A})},
        PayloadCase{"two files",
                    {BytesOf({0x3C, 0x70, 0x3E, 0x0D, 0x0A}), BytesOf({0x68, 0x69})},
                    BytesOf({0x3C, 0x70, 0x3E, 0x00, 0x68, 0x69, 0x00, 0x1A})},
        PayloadCase{"one empty file", {Bytes()}, BytesOf({0x00, 0x1A})},
        PayloadCase{"stops at 0x1A",
                    {BytesOf({0x61, 0x62, 0x1A, 0x63, 0x64})},
                    BytesOf({0x61, 0x62, 0x00, 0x1A})},
        PayloadCase{"first cannot be opened, second only line breaks",
                    {std::nullopt, BytesOf({0x0A, 0x0D})},
                    BytesOf({0x00, 0x1A})},
        PayloadCase{"one file that cannot be opened", {std::nullopt}, BytesOf({0x1A})},
        // line breaks of every kind vanish and join the words
        PayloadCase{"lone CR", {Bytes("one\rtwo")}, Bytes("onetwo\0\x1A", 8)},
        PayloadCase{"lone LF", {Bytes("one\ntwo")}, Bytes("onetwo\0\x1A", 8)},
        PayloadCase{"CR LF and LF CR", {Bytes("a\r\nb\n\rc\r\r\n\nd")}, Bytes("abcd\0\x1A", 6)},
        PayloadCase{"only line breaks", {Bytes("\r\n\r\n\n\r")}, BytesOf({0x00, 0x1A})},
        // other bytes pass as they are
        PayloadCase{"0x00 inside", {BytesOf({'a', 0x00, 'b'})}, BytesOf({'a', 0, 'b', 0, 0x1A})},
        PayloadCase{"tab and control bytes", {BytesOf({0x09, 0x01, 0x1B, 0x7F, 0x0C})},
                    BytesOf({0x09, 0x01, 0x1B, 0x7F, 0x0C, 0x00, 0x1A})},
        PayloadCase{"Windows-1252 accents", {Bytes("caf\xE9 \xE0 \x80")},
                    Bytes("caf\xE9 \xE0 \x80\0\x1A", 10)},
        PayloadCase{"UTF-8 sequences", {Bytes("é€")}, Bytes("é€\0\x1A", 7)},
        PayloadCase{"0x1A first", {BytesOf({0x1A, 'a'})}, BytesOf({0x00, 0x1A})},
        PayloadCase{"two 0x1A, first one counts", {BytesOf({'a', 0x1A, 'b', 0x1A, 'c'})},
                    BytesOf({'a', 0x00, 0x1A})},
        PayloadCase{"0x1A then line breaks", {BytesOf({'a', 0x1A, 0x0D, 0x0A})},
                    BytesOf({'a', 0x00, 0x1A})},
        PayloadCase{"several, some cannot be opened, dialog order kept",
                    {std::nullopt, Bytes("z"), std::nullopt, Bytes("a"), Bytes("m"), std::nullopt},
                    Bytes("z\0a\0m\0\x1A", 7)}));

TEST(PayloadBytes, EveryByteValueOtherThanLineBreaksAndEndPasses) {
  // Not through files: the table above covers reading; here every value in one file.
  const fs::path p = fs::temp_directory_path() /
                     ("payload_all_bytes_" + std::to_string(std::random_device{}()));
  Bytes all;
  for (int b = 0; b < 256; ++b) {
    if (b != 0x1A) all.push_back(static_cast<char>(b));
  }
  {
    std::ofstream out(p, std::ios::binary);
    out.write(all.data(), static_cast<std::streamsize>(all.size()));
  }
  const Bytes payload = BuildPayload({p.string()});
  fs::remove(p);
  ASSERT_EQ(payload.size(), 256u - 3u + 2u);  // 0x0A, 0x0D, 0x1A out; 0x00 and 0x1A added
  EXPECT_EQ(payload, Reference({all}));
  for (int b = 0x80; b < 0x100; ++b) {
    EXPECT_NE(payload.find(static_cast<char>(b)), Bytes::npos) << b;
  }
}

// ---------------------------------------------------------------------------------------
// Names that do not open as files
// ---------------------------------------------------------------------------------------

TEST_F(PayloadTest, NamesThatDoNotOpenAddNothing) {
  fs::create_directory(dir_ / "folder.htm");
  const std::string good = File("good.htm", "ok");
  const std::vector<std::string> names = {
      Missing("nothing.htm"),
      (dir_ / "folder.htm").string(),
      "",
      Missing("no/such/folder/x.htm"),
      good,
      (dir_ / "good.htm" / "below").string(),  // a file used as a folder
  };
  EXPECT_EQ(BuildPayload(names), Bytes("ok\0\x1A", 4));
}

TEST_F(PayloadTest, DeviceIsNotReadAsAFile) {
  if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero here";
  // Reading it would never end; it is not a regular file, so it is skipped.
  EXPECT_EQ(BuildPayload({"/dev/zero", File("a.htm", "a")}), Bytes("a\0\x1A", 3));
}

TEST_F(PayloadTest, LinkToAFileIsFollowed) {
  const std::string target = File("target.htm", "ab\r\n");
  const fs::path link = dir_ / "link.htm";
  fs::create_symlink(target, link);
  EXPECT_EQ(BuildPayload({link.string()}), Bytes("ab\0\x1A", 4));
}

TEST_F(PayloadTest, ReadErrorAfterOpeningEndsTheContent) {
  // /proc/self/mem opens as a regular file but reading at its start fails (the first page
  // of the address space is never mapped): the content ends there, the 0x00 follows.
  if (!fs::is_regular_file("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem here";
  EXPECT_EQ(BuildPayload({"/proc/self/mem", File("a.htm", "a")}), Bytes("\0a\0\x1A", 4));
}

TEST_F(PayloadTest, SameFileTwiceCountsTwice) {
  const std::string f = File("twice.htm", "x\r\n");
  EXPECT_EQ(BuildPayload({f, f}), Bytes("x\0x\0\x1A", 5));
}

// ---------------------------------------------------------------------------------------
// Larger files, against the plain byte-at-a-time computation
// ---------------------------------------------------------------------------------------

TEST_F(PayloadTest, LargeFileWithLineBreaksAndLateEndMarker) {
  const std::size_t size = 5u * 1024u * 1024u;
  Bytes big;
  big.reserve(size);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 100 == 98) {
      big.push_back('\r');
    } else if (i % 100 == 99) {
      big.push_back('\n');
    } else {
      big.push_back(static_cast<char>(printable(rng)));
    }
  }
  const std::size_t marker = size - 1000;
  big[marker] = '\x1A';
  const Bytes payload = BuildPayload({File("big.htm", big), File("small.htm", "end")});
  EXPECT_EQ(payload, Reference({big, Bytes("end")}));
  // Of the first `marker` bytes, 2 in every 100 were line breaks.
  const std::size_t breaks = (marker / 100) * 2 + (marker % 100 > 98 ? 1 : 0);
  EXPECT_EQ(payload.size(), (marker - breaks) + 1 + 3 + 1 + 1);
}

// Markers and line breaks on and around the 64 KiB read boundaries.
TEST_F(PayloadTest, ReadBoundaries) {
  const std::size_t chunk = 64 * 1024;
  struct Edit {
    std::size_t at;
    char byte;
  };
  const std::vector<std::vector<Edit>> layouts = {
      {{chunk - 1, '\r'}, {chunk, '\n'}},
      {{chunk - 1, '\x1A'}},
      {{chunk, '\x1A'}},
      {{chunk + 1, '\x1A'}},
      {{2 * chunk - 1, '\n'}, {2 * chunk, '\x1A'}},
      {{0, '\n'}, {chunk - 1, '\n'}, {chunk, '\r'}, {chunk + 1, '\r'}},
  };
  for (std::size_t length : {chunk - 1, chunk, chunk + 1, 2 * chunk, 2 * chunk + 5, 3 * chunk}) {
    for (std::size_t l = 0; l < layouts.size(); ++l) {
      Bytes content(length, 'a');
      for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
      for (const Edit& e : layouts[l]) {
        if (e.at < length) content[e.at] = e.byte;
      }
      const std::string name = File("edge.htm", content);
      EXPECT_EQ(BuildPayload({name}), Reference({content}))
          << "length " << length << " layout " << l;
    }
  }
}

TEST_F(PayloadTest, RandomFilesMatchTheReference) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<int> sizes(0, 200000);
  std::uniform_int_distribution<int> kind(0, 9);
  for (int round = 0; round < 12; ++round) {
    std::vector<std::string> names;
    std::vector<Bytes> opened;
    for (int f = 0; f < 3; ++f) {
      const std::string fileName = "r" + std::to_string(round) + "_" + std::to_string(f);
      if (kind(rng) == 0) {
        names.push_back(Missing(fileName));
        continue;
      }
      Bytes content(static_cast<std::size_t>(sizes(rng)), '\0');
      // Mostly printable, with frequent line breaks; a 0x1A only now and then.
      for (char& c : content) {
        const int k = kind(rng);
        c = k == 0 ? '\r' : k == 1 ? '\n' : static_cast<char>(anyByte(rng));
        if (c == '\x1A' && kind(rng) != 0) c = 'x';
      }
      names.push_back(File(fileName, content));
      opened.push_back(content);
    }
    EXPECT_EQ(BuildPayload(names), Reference(opened)) << "round " << round;
  }
}

// ---------------------------------------------------------------------------------------
// Capacity and the decision
// ---------------------------------------------------------------------------------------

struct CapacityCase {
  std::string text;
  std::optional<std::int64_t> bytes;  // nullopt: conversion error
};

void PrintTo(const CapacityCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Capacity : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(Capacity, KilobytesToBytes) {
  const CapacityCase& c = GetParam();
  if (c.bytes) {
    EXPECT_EQ(CapacityBytes(c.text), *c.bytes);
  } else {
    try {
      CapacityBytes(c.text);
      ADD_FAILURE() << "no EConvertError";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.text + "' n'est pas une valeur entière correcte");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Capacity,
    ::testing::Values(CapacityCase{"2", 2048}, CapacityCase{"4", 4096}, CapacityCase{"256", 262144},
                      CapacityCase{" 2", 2048}, CapacityCase{"$10", 16384},
                      CapacityCase{"0", 0}, CapacityCase{"-1", -1024},
                      CapacityCase{"3000000", 3072000000LL},
                      CapacityCase{"2147483647", 2147483647LL * 1024},
                      CapacityCase{"-2147483648", -2147483648LL * 1024},
                      CapacityCase{"2 ", std::nullopt}, CapacityCase{"8 Ko", std::nullopt},
                      CapacityCase{"8Ko", std::nullopt}, CapacityCase{"2.5", std::nullopt},
                      CapacityCase{"", std::nullopt}, CapacityCase{"abc", std::nullopt},
                      CapacityCase{"2147483648", std::nullopt}));

struct CheckCase {
  std::int64_t length;
  std::int64_t capacity;
  PayloadCheck expected;
};

class Check : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Check, Decides) {
  EXPECT_EQ(CheckPayload(GetParam().length, GetParam().capacity), GetParam().expected)
      << GetParam().length << " bytes for " << GetParam().capacity;
}

const std::int64_t kTwoKo = 2048;

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Check,
    ::testing::Values(CheckCase{1, kTwoKo, PayloadCheck::Stop},
                      CheckCase{0, kTwoKo, PayloadCheck::Stop},
                      CheckCase{1, 0, PayloadCheck::Stop},
                      CheckCase{1, -1024, PayloadCheck::Stop},
                      CheckCase{2, kTwoKo, PayloadCheck::Send},
                      CheckCase{2047, kTwoKo, PayloadCheck::Send},
                      CheckCase{2048, kTwoKo, PayloadCheck::Send},
                      CheckCase{2049, kTwoKo, PayloadCheck::TooLarge},
                      CheckCase{2, 0, PayloadCheck::TooLarge},
                      CheckCase{2, -1024, PayloadCheck::TooLarge},
                      CheckCase{2, 2, PayloadCheck::Send},
                      CheckCase{3, 2, PayloadCheck::TooLarge},
                      // beyond 32 bits, nothing wraps
                      CheckCase{3072000000LL, 3072000000LL, PayloadCheck::Send},
                      CheckCase{3072000001LL, 3072000000LL, PayloadCheck::TooLarge},
                      CheckCase{5000000000LL, 2147483647LL * 1024, PayloadCheck::Send},
                      CheckCase{4294967297LL, kTwoKo, PayloadCheck::TooLarge}));

// The decision applied to real payloads and capacity texts together.
TEST_F(PayloadTest, TwoKilobytesBoundaryWithRealFiles) {
  const std::int64_t capacity = CapacityBytes("2");
  // 2046 content bytes + 0x00 + 0x1A = 2048: fits. One more byte: too large.
  const Bytes fits = BuildPayload({File("fits.htm", Bytes(2046, 'a') + "\r\n")});
  const Bytes over = BuildPayload({File("over.htm", Bytes(2047, 'a') + "\r\n")});
  ASSERT_EQ(fits.size(), 2048u);
  ASSERT_EQ(over.size(), 2049u);
  EXPECT_EQ(CheckPayload(static_cast<std::int64_t>(fits.size()), capacity), PayloadCheck::Send);
  EXPECT_EQ(CheckPayload(static_cast<std::int64_t>(over.size()), capacity),
            PayloadCheck::TooLarge);
  EXPECT_EQ(CheckPayload(static_cast<std::int64_t>(BuildPayload({}).size()), capacity),
            PayloadCheck::Stop);
  EXPECT_EQ(CheckPayload(static_cast<std::int64_t>(BuildPayload({File("e.htm", "")}).size()),
                         capacity),
            PayloadCheck::Send);
}

TEST(PayloadTexts, TooLargeWarning) {
  EXPECT_EQ(std::string(kTooLargeWarning),
            "ATTENTION :\r\rTaille fichier(s) > capacit\xC3\xA9 eeprom");
}

}  // namespace
