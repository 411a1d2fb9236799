// The upload end to end: RunTransfer over the real Telnet component and its reader thread,
// against the real board-sim program started on a free loopback port.
//
// The window is the small non-Qt view of the harness: its wait runs the reader thread's
// queued deliveries on this (the main) thread. In uploads to a board that is meant to fail,
// once the board has been silent for a second during an echo's wait, the view moves its
// clock on to the timer's deadline, so a missing echo fails at once instead of after 10
// seconds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "common/test_server.h"
#include "platform/bytes.h"
#include "platform/tcp/tcp_client.h"
#include "platform/thread/loop_thread.h"
#include "sim/harness/board_sim_process.h"
#include "sim/harness/headless_view.h"
#include "telnet/telnetclient.h"
#include "upload/transfer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr auto kPatience = 10s;  // bound for whatever should happen promptly

// board-sim on a free port; killed and waited for when the object goes.
class BoardSim : public BoardSimProcess {
 public:
  explicit BoardSim(const std::vector<std::string>& args) : BoardSimProcess(BOARD_SIM_PATH, args) {}
};

Bytes Filler(std::size_t n) {  // n - 1 bytes of text, then the end marker
  Bytes payload;
  for (std::size_t i = 0; i + 1 < n; ++i) payload.push_back(static_cast<char>('a' + i % 26));
  payload.push_back(0x1A);
  return payload;
}

// The value of "key=" in a board-sim connection line.
std::string Field(const std::string& line, const std::string& key) {
  const auto at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const auto start = at + key.size() + 2;
  return line.substr(start, line.find(' ', start) - start);
}

// --- The tests ----------------------------------------------------------------------------

class UploadE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mainthread::Register();
    view.giveUpAfter = kPatience;
    telnet.SetHost("127.0.0.1");
    telnet.OnDataAvailable = [this](TTelnet&, const Bytes& buffer) { BoardTelnetDataAvailable(Shared(), buffer); };
  }
  void TearDown() override { telnet.CloseConnection(); }

  UploadShared Shared() { return {receivedText, transferTimedOut}; }

  // To a board that echoes every byte: the view keeps the real clock, so only a real
  // 10-second silence could fail a byte.
  TransferOutcome Upload(int port, const Bytes& payload, std::int64_t capacity) {
    view.fastForwardAfter = std::nullopt;
    telnet.SetPort(port);
    return RunTransfer(view, link, Shared(), payload, capacity);
  }
  // To a board that leaves an echo missing: a second of silence makes the 10 seconds pass.
  TransferOutcome UploadToFailingBoard(int port, const Bytes& payload, std::int64_t capacity) {
    view.fastForwardAfter = std::chrono::seconds(1);
    telnet.SetPort(port);
    return RunTransfer(view, link, Shared(), payload, capacity);
  }

  // The window and the connection as every upload leaves them. (A connection that the
  // board dropped is not closed by the transfer: its ended reader thread stays held until
  // the next connection.)
  void ExpectFinished() {
    EXPECT_FALSE(view.animate);
    EXPECT_FALSE(view.timerOn);
    EXPECT_EQ(view.panels[1], "");
    EXPECT_EQ(view.gaugeProgress, 0);
    EXPECT_FALSE(telnet.IsConnected());
  }
  // ...and the reader thread gone, after an upload that closed the connection itself.
  void ExpectClosedByTheTransfer() {
    ExpectFinished();
    EXPECT_FALSE(telnet.HasReadThread());
  }

  Bytes receivedText;
  bool transferTimedOut = false;
  HeadlessTransferView view{Shared()};
  TTelnet telnet;
  TelnetUploadLink link{telnet};
};

TEST_F(UploadE2eTest, TwoBytePayloadReachesTheBoard) {
  testnet::TempFile image("upload_e2e_");
  BoardSim board({"--image", image.path()});
  ASSERT_GT(board.Port(), 0);
  const Bytes payload = BytesOf({0x00, 0x1A});
  EXPECT_EQ(Upload(board.Port(), payload, 8192), TransferOutcome::Succeeded);
  EXPECT_THAT(view.messages,
              ElementsAre("Transmission réussie, 2 caractères programmés en eeprom.\r0% de la mémoire occupée."));
  EXPECT_EQ(view.panels[0], "Tx : 2/2");
  EXPECT_EQ(view.ticks, 0);
  EXPECT_EQ(receivedText, "");
  ExpectClosedByTheTransfer();

  const auto line = board.ReadLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(Field(*line, "prg"), "yes") << *line;
  EXPECT_EQ(Field(*line, "received"), "2") << *line;
  EXPECT_EQ(Field(*line, "result"), "closed") << *line;
  EXPECT_EQ(image.Read(), payload);
}

// Boards that work: every byte confirmed, the image equals the payload, the message gives
// the share of the EEPROM.
TEST_F(UploadE2eTest, WorkingBoards) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Bytes payload;
    int capacityKb;
    const char* percent;
    const char* commands;  // Telnet commands board-sim saw from the client ("" for none)
  } const cases[] = {
      {"every byte value but CR and LF, 0xFF doubled by the board", {}, [] {
         Bytes p;
         for (int v = 0; v < 256; ++v)
           if (v != 13 && v != 10) p.push_back(static_cast<char>(v));
         p.push_back(0x00);
         p.push_back(0x1A);
         return p;
       }(), 8, "3", ""},
      {"negotiation only", {"--negotiate-only"}, Filler(19), 8, "0", "4"},
      {"negotiation on connect", {"--negotiate"}, Filler(40), 8, "0", "4"},
      {"12.5 percent", {"--eeprom-kb", "2"}, Filler(256), 2, "12", ""},
      {"37.5 percent", {"--eeprom-kb", "2"}, Filler(768), 2, "38", ""},
      {"exactly the capacity", {"--eeprom-kb", "2"}, Filler(2048), 2, "100", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testnet::TempFile image("upload_e2e_");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--image", image.path()});
    BoardSim board(args);
    ASSERT_GT(board.Port(), 0);
    const auto n = static_cast<std::int64_t>(c.payload.size());
    view.messages.clear();
    EXPECT_EQ(Upload(board.Port(), c.payload, c.capacityKb * 1024), TransferOutcome::Succeeded);
    EXPECT_THAT(view.messages, ElementsAre("Transmission réussie, " + std::to_string(n) +
                                           " caractères programmés en eeprom.\r" + c.percent +
                                           "% de la mémoire occupée."));
    EXPECT_EQ(view.panels[0], "Tx : " + std::to_string(n) + "/" + std::to_string(n));
    ExpectClosedByTheTransfer();
    const auto line = board.ReadLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(Field(*line, "received"), std::to_string(n)) << *line;
    EXPECT_EQ(Field(*line, "commands"), c.commands) << *line;
    EXPECT_EQ(Field(*line, "result"), "closed") << *line;
    EXPECT_EQ(image.Read(), c.payload);
  }
}

// Boards that spoil an echo or never send it: the upload fails with the message, sends
// nothing after the failed byte, and ends closed. The view's clock makes the 10 seconds pass.
TEST_F(UploadE2eTest, BoardsThatFail) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::int64_t failingByte;
  } const cases[] = {
      {"line break with each echo", {"--crlf"}, 1},
      {"line break after each echo, in its own send", {"--crlf-separate"}, 2},
      {"greeting on connection", {"--greeting", "Brelvin\\r\\n"}, 1},
      {"silent after three bytes", {"--silent-after", "3"}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSim board(c.args);
    ASSERT_GT(board.Port(), 0);
    view.messages.clear();
    const auto started = Clock::now();
    EXPECT_EQ(UploadToFailingBoard(board.Port(), Filler(10), 8192), TransferOutcome::Failed);
    EXPECT_LT(Clock::now() - started, 6s);
    EXPECT_THAT(view.messages, ElementsAre(kTransferFailedMessage));
    EXPECT_EQ(view.panels[0], "Tx : " + std::to_string(c.failingByte) + "/10");
    EXPECT_EQ(receivedText, "");
    ExpectClosedByTheTransfer();
    const auto line = board.ReadLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(Field(*line, "received"), std::to_string(c.failingByte)) << *line;
  }
}

TEST_F(UploadE2eTest, RefusedConnectionLeavesWithTheSocketError) {
  testnet::RefusingPort refusing;
  ASSERT_GT(refusing.Port(), 0);
  try {
    Upload(refusing.Port(), Filler(5), 8192);
    FAIL() << "no error";
  } catch (const ETcpSocketError& e) {
    EXPECT_THAT(e.what(), EndsWith("Connection refused."));
    EXPECT_THAT(e.what(), HasSubstr("10061"));
  }
  EXPECT_FALSE(view.animate);
  EXPECT_EQ(view.gaugeMax, 5);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(telnet.IsConnected());
}

// A board that closes as soon as the start command arrives: the close is seen during the
// 100 ms pause, so the first byte's write fails. The transfer cleans up and closes the
// connection, the error goes on to the caller, and the next upload connects to the board
// the window names then.
TEST_F(UploadE2eTest, WriteFailingAfterTheBoardClosedThenAGoodBoard) {
  BoardSim closing({"--close-after", "0"});
  BoardSim good({});
  ASSERT_GT(closing.Port(), 0);
  ASSERT_GT(good.Port(), 0);
  try {
    UploadToFailingBoard(closing.Port(), Filler(10), 8192);
    FAIL() << "no error";
  } catch (const ETcpConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.panels[0], "Tx : ");
  ExpectClosedByTheTransfer();
  const auto line = closing.ReadLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(Field(*line, "prg"), "yes") << *line;
  EXPECT_EQ(Field(*line, "received"), "0") << *line;

  EXPECT_EQ(Upload(good.Port(), Filler(10), 8192), TransferOutcome::Succeeded);
  EXPECT_THAT(view.messages, ElementsAre(SuccessMessage(10, 8192)));
  ExpectClosedByTheTransfer();
}

// A board that goes away in the middle: depending on whether the close has been noticed
// before the next byte is written, the write fails (the error leaves the transfer after
// it has cleaned up) or the byte's echo never comes. Either way nothing hangs, and the
// next upload connects to the board the window names then.
TEST_F(UploadE2eTest, BoardGoingAwayMidUploadThenAGoodBoard) {
  for (const char* fault : {"--close-after", "--reset-after"}) {
    SCOPED_TRACE(fault);
    BoardSim failing({fault, "3"});
    BoardSim good({});
    ASSERT_GT(failing.Port(), 0);
    ASSERT_GT(good.Port(), 0);
    view.messages.clear();
    const auto started = Clock::now();
    try {
      EXPECT_EQ(UploadToFailingBoard(failing.Port(), Filler(10), 8192), TransferOutcome::Failed);
      EXPECT_THAT(view.messages, ElementsAre(kTransferFailedMessage));
    } catch (const ETcpException& e) {
      EXPECT_TRUE(view.messages.empty()) << e.what();
      EXPECT_FALSE(telnet.HasReadThread());  // the transfer closed the connection
    }
    EXPECT_LT(Clock::now() - started, 6s);
    // Byte 3 was echoed before the board went; byte 4 may have gone out before that was seen.
    EXPECT_THAT(view.panels[0], ::testing::AnyOf("Tx : 3/10", "Tx : 4/10"));
    ExpectFinished();

    view.messages.clear();
    EXPECT_EQ(Upload(good.Port(), Filler(10), 8192), TransferOutcome::Succeeded);
    EXPECT_THAT(view.messages, ElementsAre(SuccessMessage(10, 8192)));
    const auto line = good.ReadLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(Field(*line, "received"), "10") << *line;
    ExpectClosedByTheTransfer();
  }
}

// A failed upload leaves the timer off, so the next one's first byte gets a full period
// (the second upload runs on the real clock), and the second board sees a fresh
// connection with the whole payload.
TEST_F(UploadE2eTest, FailedUploadThenAGoodOne) {
  testnet::TempFile image("upload_e2e_");
  BoardSim board({"--silent-after", "1"});
  BoardSim second({"--image", image.path()});
  ASSERT_GT(board.Port(), 0);
  ASSERT_GT(second.Port(), 0);
  EXPECT_EQ(UploadToFailingBoard(board.Port(), Filler(4), 8192), TransferOutcome::Failed);
  EXPECT_EQ(view.panels[0], "Tx : 2/4");
  ExpectClosedByTheTransfer();
  const auto failed = board.ReadLine();
  ASSERT_TRUE(failed);
  EXPECT_EQ(Field(*failed, "received"), "2") << *failed;

  view.messages.clear();
  const Bytes payload = Filler(30);
  EXPECT_EQ(Upload(second.Port(), payload, 8192), TransferOutcome::Succeeded);
  EXPECT_EQ(view.ticks, 1);  // the first upload's only
  EXPECT_THAT(view.messages, ElementsAre(SuccessMessage(30, 8192)));
  ExpectClosedByTheTransfer();
  const auto line = second.ReadLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(Field(*line, "received"), "30") << *line;
  EXPECT_EQ(image.Read(), payload);
}

}  // namespace
