// End-to-end tests of board-sim: the real program, started on a free loopback port,
// driven through a raw socket the way the upload tool drives a board.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "platform/bytes.h"
#include "sim/harness/board_sim_process.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 5s;   // bound for whatever should happen promptly
constexpr auto kQuiet = 200ms;   // how long "nothing arrives" is watched

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char cell[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%02x ", Byte(bytes, i));
    out += cell;
  }
  return out;
}

// The board-sim program with some arguments, its standard error kept for Errors(). It is
// always killed and waited for when the object goes, whatever the test did.
class BoardSim : public BoardSimProcess {
 public:
  explicit BoardSim(const std::vector<std::string>& args)
      : BoardSimProcess(BOARD_SIM_PATH, args, {.freePort = false, .captureErrors = true, .patience = kPatience}) {}
};

// The port of the line "board-sim listening on 127.0.0.1:PORT"; -1 without that line.
int ListeningPort(BoardSim& sim) {
  const int port = sim.Port();
  if (port < 0) ADD_FAILURE() << "no listening line, got: " << sim.ListeningLine();
  return port;
}

// A raw TCP client on 127.0.0.1, as bare as the upload tool's socket.
class Client {
 public:
  enum class State { Open, Closed, Reset };

  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      ADD_FAILURE() << "cannot connect to 127.0.0.1:" << port;
      state_ = State::Closed;
    }
  }
  ~Client() { Close(); }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void Send(const Bytes& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until `count` bytes have come (never more), the connection ends or time is up.
  Bytes Receive(std::size_t count) { return Read(count, Clock::now() + kPatience); }

  // Whatever arrives within `time`, stopping early if the connection ends.
  Bytes ReceiveFor(Clock::duration time) { return Read(SIZE_MAX, Clock::now() + time); }

  // Reads until the connection ends or time is up; data arriving meanwhile goes to `extra`.
  State WaitForEnd(Bytes& extra) {
    extra = Read(SIZE_MAX, Clock::now() + kPatience);
    return state_;
  }

  State state() const { return state_; }

 private:
  Bytes Read(std::size_t count, Clock::time_point deadline) {
    Bytes got;
    char buffer[4096];
    while (got.size() < count && state_ == State::Open) {
      pollfd p{fd_, POLLIN, 0};
      int r = poll(&p, 1, MillisLeft(deadline));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      std::size_t want = std::min(sizeof buffer, count - got.size());
      ssize_t n = recv(fd_, buffer, want, 0);
      if (n > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        state_ = State::Closed;
      } else if (errno != EINTR) {
        state_ = errno == ECONNRESET ? State::Reset : State::Closed;
      }
    }
    return got;
  }

  int fd_ = -1;
  State state_ = State::Open;
};

// --- One connection, byte by byte, for each behaviour of the board ---------------------

const Bytes kIacIac = BytesOf({255, 255});
// What --negotiate sends, and the four answers that the tool's Telnet interpreter gives.
const Bytes kNegotiation = BytesOf({255, 251, 1, 255, 253, 24, 255, 250, 24, 1, 255, 240, 255, 253, 31});
const Bytes kDoEcho = BytesOf({255, 253, 1});
const Bytes kWillTerminalType = BytesOf({255, 251, 24});
const Bytes kTerminalIsDumb = BytesOf({255, 250, 24, 0, 'd', 'u', 'm', 'b', 255, 240});
const Bytes kWont31 = BytesOf({255, 252, 31});
const Bytes kWillEcho = BytesOf({255, 251, 1});

struct Step {
  Bytes send;
  Bytes answer;  // exactly what the board sends back; empty: nothing within kQuiet
};

enum class Ending { ClientCloses, BoardCloses, BoardResets };

struct ConnectionCase {
  const char* name;
  std::vector<std::string> args;
  Bytes onConnect;  // what the board sends before the client sends anything
  std::vector<Step> steps;
  Ending ending;
  Bytes image;      // the image file afterwards
  std::string log;  // the log line after "connection 1: "
};

const std::vector<ConnectionCase> kConnectionCases = {
    {"EchoesOnlyAfterPrgAndDoublesFF", {}, "",
     {{"hello PR", ""}, {"G\r", ""}, {"A", "A"}, {"\0"s, "\0"s}, {"\xff", kIacIac}, {"\x1a", "\x1a"}},
     Ending::ClientCloses, "A\0\xff\x1a"s, "prg=yes received=4 stored=4 result=closed"},
    {"TelnetCommandsBeforePrgAreRemoved", {}, "",
     {{"x\xff\xffPR\xff\xf1G\r"s, ""}, {"\xff", kIacIac}},
     Ending::ClientCloses, "\xff", "prg=yes received=1 stored=1 commands=1 result=closed"},
    {"PayloadInTheSameBlockAsPrg", {}, "",
     {{"PRG\rAB\xff", "AB" + kIacIac}},
     Ending::ClientCloses, "AB\xff", "prg=yes received=3 stored=3 result=closed"},
    {"BytesBeyondTheEepromAreEchoedButNotStored", {"--eeprom-kb", "1"}, "",
     {{"PRG\r", ""}, {Bytes(1030, 'x'), Bytes(1030, 'x')}},
     Ending::ClientCloses, Bytes(1024, 'x'),
     "prg=yes received=1030 stored=1024 beyond-eeprom=6 result=closed"},
    {"Greeting", {"--greeting", "Hello\\r\\n\\xfe"}, "Hello\r\n\xfe",
     {{"PRG\r", ""}, {"A", "A"}},
     Ending::ClientCloses, "A", "prg=yes received=1 stored=1 result=closed"},
    {"Crlf", {"--crlf"}, "",
     {{"PRG\r", ""}, {"A", "A\r\n"}, {"\xff", kIacIac + "\r\n"}},
     Ending::ClientCloses, "A\xff", "prg=yes received=2 stored=2 result=closed"},
    {"CrlfSeparate", {"--crlf-separate"}, "",
     {{"PRG\r", ""}, {"A", "A\r\n"}, {"B", "B\r\n"}},
     Ending::ClientCloses, "AB", "prg=yes received=2 stored=2 result=closed"},
    {"DelayedEcho", {"--delay-ms", "30"}, "",
     {{"PRG\r", ""}, {"\0"s, "\0"s}, {"A", "A"}},
     Ending::ClientCloses, "\0A"s, "prg=yes received=2 stored=2 result=closed"},
    {"SilentAfterKeepsReadingAndStoring", {"--silent-after", "1"}, "",
     {{"PRG\r", ""}, {"A", "A"}, {"B", ""}, {"C", ""}},
     Ending::ClientCloses, "ABC", "prg=yes received=3 stored=3 result=closed"},
    {"CloseAfter", {"--close-after", "2"}, "",
     {{"PRG\r", ""}, {"A", "A"}, {"B", "B"}},
     Ending::BoardCloses, "AB", "prg=yes received=2 stored=2 result=board-closed"},
    {"CloseAfterZeroClosesAtPrg", {"--close-after", "0"}, "",
     {{"PRG\r", ""}},
     Ending::BoardCloses, "", "prg=yes received=0 stored=0 result=board-closed"},
    {"ResetAfter", {"--reset-after", "1"}, "",
     {{"PRG\r", ""}, {"A", "A"}},
     Ending::BoardResets, "A", "prg=yes received=1 stored=1 result=board-reset"},
    {"NegotiateWithRepliesAfterPrg", {"--negotiate"}, kNegotiation,
     {{"PRG\r" + kDoEcho + kWillTerminalType, ""}, {kTerminalIsDumb + kWont31, ""},
      {"\xff", kIacIac}, {"A", "A"}},
     Ending::ClientCloses, "\xff" "A", "prg=yes received=2 stored=2 commands=4 result=closed"},
    {"NegotiateWithRepliesBeforePrg", {"--negotiate-only"}, kNegotiation,
     {{kDoEcho + kWillTerminalType + kTerminalIsDumb + kWont31 + "PRG\r", ""}, {"\xff", kIacIac}},
     Ending::ClientCloses, "\xff", "prg=yes received=1 stored=1 commands=4 result=closed"},
    {"NegotiateNeverAnsweredEndsAtFirstPayloadByte", {"--negotiate"}, kNegotiation,
     {{"PRG\r", ""}, {"A", "A"}, {"\xff", kIacIac}},
     Ending::ClientCloses, "A\xff", "prg=yes received=2 stored=2 result=closed"},
    {"NegotiateEveryOtherEcho", {"--negotiate-every", "2"}, "",
     {{"PRG\r", ""}, {"A", "A"}, {"B", kWillEcho + "B"}, {kDoEcho + "\xff", kIacIac},
      {"C", kWillEcho + "C"}, {kDoEcho, ""}},
     Ending::ClientCloses, "AB\xff" "C", "prg=yes received=4 stored=4 commands=2 result=closed"},
};

void PrintTo(const ConnectionCase& c, std::ostream* os) { *os << c.name; }

class BoardSimConnection : public ::testing::TestWithParam<ConnectionCase> {};

TEST_P(BoardSimConnection, AnswersAsTheBoardWould) {
  const ConnectionCase& c = GetParam();
  testnet::TempFile image("board_sim_");
  std::vector<std::string> args{"--port", "0", "--image", image.path(), "--max-connections", "1"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  BoardSim sim(args);
  ASSERT_TRUE(sim.Started());
  int port = ListeningPort(sim);
  ASSERT_GT(port, 0);
  {
    Client client(port);
    EXPECT_EQ(Hex(client.Receive(c.onConnect.size())), Hex(c.onConnect)) << "on connect";
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      client.Send(step.send);
      Bytes got = step.answer.empty() ? client.ReceiveFor(kQuiet) : client.Receive(step.answer.size());
      EXPECT_EQ(Hex(got), Hex(step.answer)) << "step " << i << ", sent " << Hex(step.send);
    }
    Bytes extra;
    switch (c.ending) {
      case Ending::ClientCloses:
        EXPECT_EQ(Hex(client.ReceiveFor(kQuiet)), "") << "after the last step";
        EXPECT_EQ(client.state(), Client::State::Open) << "the board must keep the connection open";
        break;
      case Ending::BoardCloses:
        EXPECT_EQ(client.WaitForEnd(extra), Client::State::Closed);
        EXPECT_EQ(Hex(extra), "");
        break;
      case Ending::BoardResets:
        EXPECT_EQ(client.WaitForEnd(extra), Client::State::Reset);
        EXPECT_EQ(Hex(extra), "");
        break;
    }
  }
  EXPECT_EQ(sim.ReadLine().value_or("(no line)"), "connection 1: " + c.log);
  EXPECT_EQ(Hex(image.Read()), Hex(c.image));
  EXPECT_EQ(sim.WaitExit(), 0) << "--max-connections 1 ends the program";
}

INSTANTIATE_TEST_SUITE_P(Cases, BoardSimConnection, ::testing::ValuesIn(kConnectionCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- The program around the connections ------------------------------------------------

TEST(BoardSim, ServesConnectionsOneAfterTheOtherUpToMaxConnections) {
  testnet::TempFile image("board_sim_");
  BoardSim sim({"--port", "0", "--image", image.path(), "--max-connections", "2"});
  int port = ListeningPort(sim);
  ASSERT_GT(port, 0);
  {
    Client first(port);
    first.Send("PRG\rAB");
    EXPECT_EQ(first.Receive(2), "AB");
  }
  EXPECT_EQ(sim.ReadLine().value_or("(no line)"), "connection 1: prg=yes received=2 stored=2 result=closed");
  EXPECT_EQ(image.Read(), "AB");
  {
    Client second(port);
    second.Send("no start command");
    EXPECT_EQ(Hex(second.ReceiveFor(kQuiet)), "");
  }
  EXPECT_EQ(sim.ReadLine().value_or("(no line)"), "connection 2: prg=no received=0 stored=0 result=closed");
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_EQ(image.Read(), "AB") << "a connection without PRG leaves the image alone";
}

class BoardSimSignal : public ::testing::TestWithParam<int> {};

TEST_P(BoardSimSignal, EndsTheConnectionSavesTheImageAndExitsZero) {
  testnet::TempFile image("board_sim_");
  BoardSim sim({"--port", "0", "--image", image.path()});
  int port = ListeningPort(sim);
  ASSERT_GT(port, 0);
  Client client(port);
  client.Send("PRG\rA");
  ASSERT_EQ(client.Receive(1), "A");
  sim.Signal(GetParam());
  EXPECT_EQ(sim.ReadLine().value_or("(no line)"), "connection 1: prg=yes received=1 stored=1 result=stopped");
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_EQ(image.Read(), "A");
  Bytes extra;
  EXPECT_EQ(client.WaitForEnd(extra), Client::State::Closed);
}

INSTANTIATE_TEST_SUITE_P(Signals, BoardSimSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& param_info) { return param_info.param == SIGTERM ? "SIGTERM"s : "SIGINT"s; });

TEST(BoardSim, ExitsZeroOnSignalWhileWaitingForAConnection) {
  BoardSim sim({"--port", "0"});
  ASSERT_GT(ListeningPort(sim), 0);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_EQ(sim.RestOfOutput(), "");
}

TEST(BoardSim, ListensOnLocalhostAsLoopback) {
  BoardSim sim({"--port", "0", "--listen", "localhost", "--max-connections", "1"});
  int port = ListeningPort(sim);
  ASSERT_GT(port, 0);
  { Client client(port); }
  EXPECT_EQ(sim.ReadLine().value_or("(no line)"), "connection 1: prg=no received=0 stored=0 result=closed");
  EXPECT_EQ(sim.WaitExit(), 0);
}

// None of these is ever listened on: the address is refused before any socket exists.
class BoardSimRefusedAddress : public ::testing::TestWithParam<const char*> {};

TEST_P(BoardSimRefusedAddress, IsRefusedWithoutAllowNonLoopback) {
  BoardSim sim({"--port", "0", "--listen", GetParam()});
  auto code = sim.WaitExit();
  ASSERT_TRUE(code.has_value()) << "it must exit by itself";
  EXPECT_EQ(*code, 2);
  EXPECT_EQ(sim.RestOfOutput(), "") << "nothing may claim to listen";
  EXPECT_NE(sim.Errors().find("refusing to listen on " + std::string(GetParam())), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Addresses, BoardSimRefusedAddress,
                         ::testing::Values("192.0.2.1", "0.0.0.0", "::", "::ffff:192.0.2.1"),
                         [](const auto& param_info) {
                           std::string name = "a";
                           for (const char* p = param_info.param; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

struct BadCommandLine {
  std::vector<std::string> args;
  const char* message;
};

TEST(BoardSim, RefusesBadCommandLinesAndExplainsThem) {
  const BadCommandLine cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--port", "65536"}, "--port: '65536' is not a number from 0 to 65535"},
      {{"--port"}, "--port needs a value"},
      {{"--max-connections", "-1"}, "--max-connections: '-1' is not a number"},
      {{"--greeting", "\\q"}, "--greeting: bad escape"},
      {{"--greeting", "\\x4"}, "--greeting: bad escape"},
      {{"--eeprom-kb", "0"}, "--eeprom-kb must be at least 1"},
      {{"--crlf=yes"}, "--crlf takes no value"},
      {{"--listen", "example.com"}, "is not a numeric address or localhost"},
  };
  for (const auto& c : cases) {
    BoardSim sim(c.args);
    EXPECT_EQ(sim.WaitExit(), 2) << c.args[0];
    EXPECT_NE(sim.Errors().find(c.message), std::string::npos) << c.args[0];
    EXPECT_EQ(sim.RestOfOutput(), "") << c.args[0];
  }
}

TEST(BoardSim, HelpListsEveryOption) {
  BoardSim sim({"--help"});
  EXPECT_EQ(sim.WaitExit(), 0);
  std::string help = sim.RestOfOutput();
  for (const char* option :
       {"--port", "--listen", "--allow-non-loopback", "--max-connections", "--eeprom-kb", "--image",
        "--negotiate", "--negotiate-only", "--negotiate-every", "--delay-ms", "--crlf",
        "--crlf-separate", "--greeting", "--silent-after", "--close-after", "--reset-after"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace
