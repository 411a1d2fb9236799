#include "platform/ini/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "common/temp_files.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards (write bits restored first).
class IniFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  static void Put(const std::string& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << path;
  }

  static std::optional<Bytes> Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::size_t EntriesInFolder() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
    return n;
  }

  const testnet::TempFolder folder_{"ini_file_test_"};
  const fs::path dir_ = folder_.path();
};

// ---------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  std::optional<Bytes> file;  // nullopt: no file at all
  Bytes section;
  Bytes key;
  Bytes expected;  // with the default "DEF"
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class IniRead : public IniFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, ReadsValueOrDefault) {
  const ReadCase& c = GetParam();
  const std::string path = PathOf("Parametrage.ini");
  if (c.file) Put(path, *c.file);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString(c.section, c.key, "DEF"), c.expected) << c.name;
  EXPECT_EQ(Get(path), c.file) << "reading changed or created the file";
}

const Bytes kSample =
    "; settings of the tool\r\n"
    "[OTHER]\r\n"
    "IP=10.0.0.1\r\n"
    "\r\n"
    "[TELNET]\r\n"
    "IP=192.168.1.20\r\n"
    "PORT = 2323 \r\n"
    "CAPAMEM=\r\n"
    "  Spaced  =\t value with  inner  blanks \t\r\n"
    "Quoted=\"x\"\r\n"
    ";PORT=1\r\n"
    "no equals sign here\r\n"
    "Eq=a=b\r\n"
    "High=caf\xE9\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    ::testing::Values(
        ReadCase{"missing file", std::nullopt, "TELNET", "IP", "DEF"},
        ReadCase{"empty file", Bytes(""), "TELNET", "IP", "DEF"},
        ReadCase{"missing section", Bytes("[OTHER]\r\nIP=1\r\n"), "TELNET", "IP", "DEF"},
        ReadCase{"missing key", kSample, "TELNET", "HOST", "DEF"},
        ReadCase{"key of the right section", kSample, "TELNET", "IP", "192.168.1.20"},
        ReadCase{"key of the other section", kSample, "OTHER", "IP", "10.0.0.1"},
        ReadCase{"key only in another section", kSample, "OTHER", "PORT", "DEF"},
        ReadCase{"blanks around name and value", kSample, "TELNET", "PORT", "2323"},
        ReadCase{"empty value is not the default", kSample, "TELNET", "CAPAMEM", ""},
        ReadCase{"tabs trimmed, inner blanks kept", kSample, "TELNET", "Spaced",
                 "value with  inner  blanks"},
        ReadCase{"quotes kept", kSample, "TELNET", "Quoted", "\"x\""},
        ReadCase{"value after the first equals sign", kSample, "TELNET", "Eq", "a=b"},
        ReadCase{"Windows-1252 bytes as they are", kSample, "TELNET", "High", "caf\xE9"},
        ReadCase{"names ignore letter case", kSample, "telnet", "capamem", ""},
        ReadCase{"names ignore letter case 2", kSample, "Telnet", "ip", "192.168.1.20"},
        ReadCase{"comment is no key", Bytes("[S]\r\n;K=1\r\n"), "S", ";K", "DEF"},
        ReadCase{"LF line endings", Bytes("[TELNET]\nIP=h\nPORT=81\n"), "TELNET", "PORT", "81"},
        ReadCase{"no final line ending", Bytes("[TELNET]\r\nPORT=81"), "TELNET", "PORT", "81"},
        ReadCase{"blanks around the header", Bytes("  [ TELNET ]  \r\nIP=h\r\n"), "TELNET",
                 "IP", "h"},
        ReadCase{"first of duplicate keys", Bytes("[S]\r\nK=1\r\nK=2\r\n"), "S", "K", "1"},
        ReadCase{"first of duplicate sections", Bytes("[S]\r\nA=1\r\n[S]\r\nK=2\r\n"), "S", "K",
                 "DEF"},
        ReadCase{"keys before any section", Bytes("K=1\r\n[S]\r\n"), "S", "K", "DEF"},
        ReadCase{"section ends at the next header", Bytes("[S]\r\n[T]\r\nK=1\r\n"), "S", "K",
                 "DEF"}));

TEST_F(IniFileTest, LongValueIsCutTo2047) {
  const std::string path = PathOf("long.ini");
  Bytes longValue;
  for (int i = 0; i < 3000; ++i) longValue.push_back(static_cast<char>('a' + i % 26));
  Put(path, "[S]\r\nK=" + longValue + "\r\nJ=" + longValue.substr(0, 2047) + "\r\nL=" +
                longValue.substr(0, 2048) + "\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "K", "d"), longValue.substr(0, 2047));
  EXPECT_EQ(ini.ReadString("S", "J", "d"), longValue.substr(0, 2047));
  EXPECT_EQ(ini.ReadString("S", "L", "d"), longValue.substr(0, 2047));
  // A default goes through the same buffer.
  EXPECT_EQ(ini.ReadString("S", "missing", longValue), longValue.substr(0, 2047));
}

TEST_F(IniFileTest, ReadingCreatesNothing) {
  const std::string path = PathOf("Parametrage.ini");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("TELNET", "IP", "192.168.0.3"), "192.168.0.3");
  EXPECT_EQ(ini.FileName(), path);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(EntriesInFolder(), 0u);
  // A path in a folder that does not exist reads the default too.
  TIniFile nowhere(PathOf("no/such/folder/Parametrage.ini"));
  EXPECT_EQ(nowhere.ReadString("TELNET", "PORT", "80"), "80");
  EXPECT_EQ(EntriesInFolder(), 0u);
}

TEST_F(IniFileTest, DirectoryInPlaceOfTheFileReadsDefaults) {
  const std::string path = PathOf("Parametrage.ini");
  fs::create_directory(path);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("TELNET", "IP", "DEF"), "DEF");
}

// ---------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------

struct WriteCase {
  const char* name;
  std::optional<Bytes> before;  // nullopt: no file yet
  Bytes section;
  Bytes key;
  Bytes value;
  Bytes after;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class IniWrite : public IniFileTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheKeyLine) {
  const WriteCase& c = GetParam();
  const std::string path = PathOf("Parametrage.ini");
  if (c.before) Put(path, *c.before);
  TIniFile ini(path);
  ini.WriteString(c.section, c.key, c.value);
  EXPECT_EQ(Get(path), std::optional<Bytes>(c.after)) << c.name;
  EXPECT_EQ(EntriesInFolder(), 1u) << "a temporary file was left behind";
  // What was written reads back (blanks around the value aside).
  const Bytes cut = c.value.substr(0, c.value.find_first_of(Bytes("\r\n\0", 3)));
  const std::size_t b = cut.find_first_not_of(" \t");
  const Bytes trimmed =
      b == Bytes::npos ? Bytes() : cut.substr(b, cut.find_last_not_of(" \t") - b + 1);
  EXPECT_EQ(ini.ReadString(c.section, c.key, "DEF"), trimmed) << c.name;
}

const Bytes kBefore =
    "; kept comment\r\n"
    "[OTHER]\r\n"
    "IP=10.0.0.1\r\n"
    "\r\n"
    "[TELNET]\r\n"
    "  IP = old host \r\n"
    "PORT=80\r\n"
    "; trailing comment\r\n"
    "\r\n"
    "[LAST]\r\n"
    "X=1\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    ::testing::Values(
        WriteCase{"new file", std::nullopt, "TELNET", "IP", "192.168.0.3",
                  "[TELNET]\r\nIP=192.168.0.3\r\n"},
        WriteCase{"empty file", Bytes(""), "TELNET", "IP", "h", "[TELNET]\r\nIP=h\r\n"},
        WriteCase{"replace a value, all else kept", kBefore, "TELNET", "IP", "192.168.0.9",
                  "; kept comment\r\n[OTHER]\r\nIP=10.0.0.1\r\n\r\n[TELNET]\r\n"
                  "IP=192.168.0.9\r\nPORT=80\r\n; trailing comment\r\n\r\n[LAST]\r\nX=1\r\n"},
        WriteCase{"replace ignoring letter case", kBefore, "telnet", "port", "81",
                  "; kept comment\r\n[OTHER]\r\nIP=10.0.0.1\r\n\r\n[TELNET]\r\n"
                  "  IP = old host \r\nport=81\r\n; trailing comment\r\n\r\n[LAST]\r\nX=1\r\n"},
        WriteCase{"add a key after the last key of its section", kBefore, "TELNET", "CAPAMEM",
                  "4",
                  "; kept comment\r\n[OTHER]\r\nIP=10.0.0.1\r\n\r\n[TELNET]\r\n"
                  "  IP = old host \r\nPORT=80\r\nCAPAMEM=4\r\n; trailing comment\r\n\r\n"
                  "[LAST]\r\nX=1\r\n"},
        WriteCase{"add a key to the first section", kBefore, "OTHER", "PORT", "23",
                  "; kept comment\r\n[OTHER]\r\nIP=10.0.0.1\r\nPORT=23\r\n\r\n[TELNET]\r\n"
                  "  IP = old host \r\nPORT=80\r\n; trailing comment\r\n\r\n[LAST]\r\nX=1\r\n"},
        WriteCase{"add a section at the end", kBefore, "NEW", "K", "v",
                  kBefore + "[NEW]\r\nK=v\r\n"},
        WriteCase{"empty value", kBefore, "TELNET", "IP", "",
                  "; kept comment\r\n[OTHER]\r\nIP=10.0.0.1\r\n\r\n[TELNET]\r\n"
                  "IP=\r\nPORT=80\r\n; trailing comment\r\n\r\n[LAST]\r\nX=1\r\n"},
        WriteCase{"section without keys", Bytes("[TELNET]\r\n; c\r\n\r\n[B]\r\n"), "TELNET",
                  "IP", "h", "[TELNET]\r\nIP=h\r\n; c\r\n\r\n[B]\r\n"},
        WriteCase{"LF file keeps LF", Bytes("[TELNET]\nIP=a\n"), "TELNET", "PORT", "80",
                  "[TELNET]\nIP=a\nPORT=80\n"},
        WriteCase{"LF file, new section", Bytes("[A]\nK=1\n"), "TELNET", "IP", "h",
                  "[A]\nK=1\n[TELNET]\nIP=h\n"},
        WriteCase{"mixed endings, each line keeps its own", Bytes("[TELNET]\nIP=a\r\nPORT=1\n"),
                  "TELNET", "IP", "b", "[TELNET]\nIP=b\r\nPORT=1\n"},
        WriteCase{"last line without ending", Bytes("[TELNET]\r\nIP=a"), "TELNET", "PORT", "80",
                  "[TELNET]\r\nIP=a\r\nPORT=80\r\n"},
        WriteCase{"replaced last line keeps having no ending", Bytes("[TELNET]\r\nIP=a"),
                  "TELNET", "IP", "b", "[TELNET]\r\nIP=b"},
        WriteCase{"header without ending", Bytes("[TELNET]"), "TELNET", "IP", "h",
                  "[TELNET]\r\nIP=h\r\n"},
        WriteCase{"only the first duplicate key changes", Bytes("[S]\r\nK=1\r\nK=2\r\n"), "S",
                  "K", "3", "[S]\r\nK=3\r\nK=2\r\n"},
        WriteCase{"commented key is not replaced", Bytes("[S]\r\n;K=1\r\n"), "S", "K", "2",
                  "[S]\r\nK=2\r\n;K=1\r\n"},
        WriteCase{"Windows-1252 bytes as they are", Bytes("[S]\r\n"), "S", "K", "\xE9\x80\xFF",
                  "[S]\r\nK=\xE9\x80\xFF\r\n"},
        WriteCase{"a line break cannot add lines", Bytes("[S]\r\n"), "S", "K",
                  "a\r\n[EVIL]\r\nX=1", "[S]\r\nK=a\r\n"},
        WriteCase{"a NUL ends the value", Bytes("[S]\r\n"), "S", "K", Bytes("ab\0cd", 5),
                  "[S]\r\nK=ab\r\n"},
        WriteCase{"blanks written as given", Bytes("[S]\r\n"), "S", "K", " v ",
                  "[S]\r\nK= v \r\n"},
        WriteCase{"lines before any section kept", Bytes("top=1\r\n\r\n"), "S", "K", "v",
                  "top=1\r\n\r\n[S]\r\nK=v\r\n"}));

TEST_F(IniFileTest, FreshStartWritesTheThreeKeysInOrder) {
  const std::string path = PathOf("Parametrage.ini");
  TIniFile ini(path);
  ini.WriteString("TELNET", "IP", "192.168.0.3");
  ini.WriteString("TELNET", "PORT", "80");
  ini.WriteString("TELNET", "CAPAMEM", "4");
  EXPECT_EQ(Get(path), Bytes("[TELNET]\r\nIP=192.168.0.3\r\nPORT=80\r\nCAPAMEM=4\r\n"));
  // Writing them again changes nothing.
  ini.WriteString("TELNET", "IP", "192.168.0.3");
  ini.WriteString("TELNET", "PORT", "80");
  ini.WriteString("TELNET", "CAPAMEM", "4");
  EXPECT_EQ(Get(path), Bytes("[TELNET]\r\nIP=192.168.0.3\r\nPORT=80\r\nCAPAMEM=4\r\n"));
  EXPECT_EQ(ini.ReadString("TELNET", "PORT", "x"), "80");
  EXPECT_EQ(EntriesInFolder(), 1u);
}

TEST_F(IniFileTest, KeepsPermissionsOfTheReplacedFile) {
  const std::string path = PathOf("Parametrage.ini");
  Put(path, "[S]\r\nK=1\r\n");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, mode);
  TIniFile(path).WriteString("S", "K", "2");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  EXPECT_EQ(Get(path), Bytes("[S]\r\nK=2\r\n"));
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
  const std::string real = PathOf("real.ini");
  const std::string link = PathOf("Parametrage.ini");
  Put(real, "[S]\r\nK=1\r\n");
  fs::create_symlink(real, link);
  TIniFile(link).WriteString("S", "K", "2");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(real), Bytes("[S]\r\nK=2\r\n"));
}

TEST_F(IniFileTest, UnusableNamesAreRefused) {
  const std::string path = PathOf("Parametrage.ini");
  TIniFile ini(path);
  for (const Bytes& section : {Bytes(""), Bytes("A]"), Bytes("A\nB"), Bytes(" A")}) {
    EXPECT_THROW(ini.WriteString(section, "K", "v"), std::invalid_argument) << section;
  }
  for (const Bytes& key : {Bytes(""), Bytes("K=1"), Bytes("[K"), Bytes(";K"), Bytes("K\r"),
                           Bytes("K "), Bytes("K\0", 2)}) {
    EXPECT_THROW(ini.WriteString("S", key, "v"), std::invalid_argument) << key;
  }
  EXPECT_FALSE(fs::exists(path));
}

// ---------------------------------------------------------------------------------------
// Failed writes: the error names the full path, and nothing on disk changes.
// ---------------------------------------------------------------------------------------

struct FailCase {
  const char* name;
  // Prepares the folder; returns the path to write to.
  std::string (*prepare)(const fs::path& dir);
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class IniWriteFails : public IniFileTest, public ::testing::WithParamInterface<FailCase> {};

std::string Snapshot(const fs::path& dir) {
  std::string s;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
       ++it) {
    s += it->path().string() + "|";
    if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      s += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    s += "\n";
  }
  return s;
}

TEST_P(IniWriteFails, RaisesWithTheFullPath) {
  const std::string path = GetParam().prepare(dir_);
  const std::string before = Snapshot(dir_);
  TIniFile ini(path);
  try {
    ini.WriteString("TELNET", "IP", "192.168.0.3");
    ADD_FAILURE() << GetParam().name << ": no error";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Impossible d'écrire dans " + path) << GetParam().name;
  }
  EXPECT_EQ(Snapshot(dir_), before) << GetParam().name << ": the folder changed";
}

void WriteFile(const fs::path& p, const Bytes& content) {
  std::ofstream out(p, std::ios::binary);
  out << content;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteFails,
    ::testing::Values(
        FailCase{"read-only file",
                 [](const fs::path& dir) {
                   const fs::path p = dir / "Parametrage.ini";
                   WriteFile(p, "[TELNET]\r\nIP=old\r\n");
                   fs::permissions(p, fs::perms::owner_read | fs::perms::group_read |
                                          fs::perms::others_read);
                   return p.string();
                 }},
        FailCase{"read-only folder, no file yet",
                 [](const fs::path& dir) {
                   const fs::path sub = dir / "ro";
                   fs::create_directory(sub);
                   fs::permissions(sub, fs::perms::owner_read | fs::perms::owner_exec);
                   return (sub / "Parametrage.ini").string();
                 }},
        FailCase{"read-only folder, writable file",
                 [](const fs::path& dir) {
                   const fs::path sub = dir / "ro";
                   fs::create_directory(sub);
                   WriteFile(sub / "Parametrage.ini", "[TELNET]\r\nIP=old\r\n");
                   fs::permissions(sub, fs::perms::owner_read | fs::perms::owner_exec |
                                            fs::perms::group_read | fs::perms::group_exec);
                   return (sub / "Parametrage.ini").string();
                 }},
        FailCase{"missing folder",
                 [](const fs::path& dir) {
                   return (dir / "missing" / "Parametrage.ini").string();
                 }},
        FailCase{"a file where the folder should be",
                 [](const fs::path& dir) {
                   WriteFile(dir / "plain", "x");
                   return (dir / "plain" / "Parametrage.ini").string();
                 }},
        FailCase{"a folder in place of the file", [](const fs::path& dir) {
                   fs::create_directory(dir / "Parametrage.ini");
                   return (dir / "Parametrage.ini").string();
                 }}));

// After a failed write the file can be written again once the cause is gone.
TEST_F(IniFileTest, WriteSucceedsAgainOnceWritable) {
  const std::string path = PathOf("Parametrage.ini");
  Put(path, "[TELNET]\r\nIP=old\r\n");
  fs::permissions(path, fs::perms::owner_read);
  TIniFile ini(path);
  EXPECT_THROW(ini.WriteString("TELNET", "PORT", "80"), EIniFileException);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  ini.WriteString("TELNET", "PORT", "80");
  EXPECT_EQ(Get(path), Bytes("[TELNET]\r\nIP=old\r\nPORT=80\r\n"));
}

}  // namespace
