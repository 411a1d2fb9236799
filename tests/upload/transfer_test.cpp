// The transfer against a fake window with a test clock and a fake connection.
#include "upload/transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "upload/support/fake_transfer.h"

namespace {

using uploadtest::BoardBlock;
using uploadtest::FakeLink;
using uploadtest::FakeView;
using uploadtest::Journal;
using uploadtest::TestClock;
using ::testing::ElementsAre;

const std::string kSending = "Transfert en cours...";

// Everything one upload needs: the window module's two values, a fake window and a fake
// board, sharing one journal and one clock.
struct Rig {
  Journal journal;
  TestClock clock;
  Bytes receivedText;
  bool transferTimedOut = false;
  FakeLink link{journal, clock};
  FakeView view{journal, clock, link, Shared()};

  UploadShared Shared() { return {receivedText, transferTimedOut}; }
  TransferOutcome Run(const Bytes& payload, std::int64_t capacity) {
    return RunTransfer(view, link, Shared(), payload, capacity);
  }
  // The window and the connection as every upload must leave them.
  void ExpectFinished() const {
    EXPECT_FALSE(view.animate);
    EXPECT_FALSE(view.timerOn);
    EXPECT_EQ(view.panels[1], "");
    EXPECT_EQ(view.gaugeProgress, 0);
    EXPECT_FALSE(link.connected);
  }
};

std::string TxText(std::int64_t i, std::int64_t n) {
  return "Tx : " + std::to_string(i) + "/" + std::to_string(n);
}

TEST(TransferTest, TwoBytePayloadGoesOutInThisExactOrder) {
  Rig rig;
  EXPECT_EQ(rig.Run(BytesOf({0x00, 0x1A}), 2048), TransferOutcome::Succeeded);

  EXPECT_THAT(rig.journal,
              ElementsAre("GaugeMax 2", "Open -1", "Animate on", "WriteText 50 52 47 0D", "Pause 100",
                          "Panel1 " + kSending, "SendChar 00", "Panel0 Tx : 1/2", "Timer on", "Wait",
                          "Data 00", "Timer off", "Progress 1",  //
                          "Panel1 " + kSending, "SendChar 1A", "Panel0 Tx : 2/2", "Timer on", "Wait",
                          "Data 1A", "Timer off", "Progress 2",  //
                          "Animate off", "Close",
                          "Message Transmission réussie, 2 caractères programmés en eeprom.\r"
                          "0% de la mémoire occupée.",
                          "Panel1 ", "Progress 0"));
  EXPECT_THAT(rig.link.writes, ElementsAre("PRG\r", BytesOf({0x00}), BytesOf({0x1A})));
  EXPECT_EQ(rig.receivedText, "");
  EXPECT_FALSE(rig.transferTimedOut);
  EXPECT_EQ(rig.view.panels[0], "Tx : 2/2");  // panel 0 keeps its last text
  rig.ExpectFinished();
}

TEST(TransferTest, EveryByteValueIsSentAndMatchedAsItIs) {
  Bytes payload;
  for (int v = 0; v < 256; ++v)
    if (v != 13 && v != 10) payload.push_back(static_cast<char>(v));
  payload.push_back(0x1A);
  Rig rig;
  EXPECT_EQ(rig.Run(payload, 8192), TransferOutcome::Succeeded);
  Bytes sent;
  for (std::size_t i = 1; i < rig.link.writes.size(); ++i) sent += rig.link.writes[i];
  EXPECT_EQ(sent, payload);
  ASSERT_EQ(rig.view.messages.size(), 1u);
  EXPECT_EQ(rig.view.messages[0], SuccessMessage(static_cast<std::int64_t>(payload.size()), 8192));
}

TEST(TransferTest, MissingEchoFailsAfterTenSecondsOfTheTestClock) {
  Rig rig;
  rig.link.echo = [](std::int64_t k, char byte) {
    return k == 2 ? std::vector<BoardBlock>{} : std::vector<BoardBlock>{{3, Bytes(1, byte)}};
  };
  EXPECT_EQ(rig.Run("ABC", 2048), TransferOutcome::Failed);

  EXPECT_THAT(rig.link.writes, ElementsAre("PRG\r", "A", "B"));  // nothing after the failed byte
  EXPECT_THAT(rig.view.messages, ElementsAre(kTransferFailedMessage));
  EXPECT_EQ(rig.clock.nowMs - rig.view.timerStartedMs, kEchoTimeoutMs);
  EXPECT_EQ(rig.view.panels[0], TxText(2, 3));
  rig.ExpectFinished();
  // The tick ends the wait; the message comes before ReceivedText is emptied and the timer
  // stopped; then the common end.
  const std::vector<std::string> tail(rig.journal.end() - 9, rig.journal.end());
  EXPECT_THAT(tail, ElementsAre("Timer on", "Wait", "Tick", std::string("Message ") + kTransferFailedMessage,
                                "Timer off", "Animate off", "Close", "Panel1 ", "Progress 0"));
  EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "Progress 2"), 0);
}

// When the echo arrives decides the outcome; an echo handled in the same pass as the
// tick still counts as a failure.
TEST(TransferTest, EchoTimingAgainstTheTick) {
  struct Case {
    std::int64_t echoDelayMs;
    TransferOutcome expected;
  } const cases[] = {
      {0, TransferOutcome::Succeeded},
      {9999, TransferOutcome::Succeeded},
      {10000, TransferOutcome::Failed},  // same pass as the tick
      {25000, TransferOutcome::Failed},  // long after it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("echo after " + std::to_string(c.echoDelayMs) + " ms");
    Rig rig;
    rig.link.echo = [&](std::int64_t, char byte) { return std::vector<BoardBlock>{{c.echoDelayMs, Bytes(1, byte)}}; };
    EXPECT_EQ(rig.Run("AB", 2048), c.expected);
    if (c.expected == TransferOutcome::Failed) {
      EXPECT_THAT(rig.view.messages, ElementsAre(kTransferFailedMessage));
      EXPECT_THAT(rig.link.writes, ElementsAre("PRG\r", "A"));
    } else {
      EXPECT_THAT(rig.view.messages, ElementsAre(SuccessMessage(2, 2048)));
    }
    if (c.echoDelayMs == 10000) {
      // Delivered and ticked in one pass, the echo having matched.
      const auto data = std::find(rig.journal.begin(), rig.journal.end(), "Data 41");
      ASSERT_NE(data, rig.journal.end());
      EXPECT_EQ(*(data - 1), "Wait");
      EXPECT_EQ(*(data + 1), "Tick");
    }
    EXPECT_EQ(rig.receivedText, "");
    rig.ExpectFinished();
  }
}

// Received data that is not exactly the byte never matches; the byte fails at the time-out.
TEST(TransferTest, DataOtherThanExactlyTheByteFails) {
  using Echo = std::function<std::vector<BoardBlock>(std::int64_t, char)>;
  struct Case {
    const char* name;
    Bytes payload;
    Echo echo;
    std::int64_t failingByte;
  } const cases[] = {
      {"echo and line break in one block", "AB",
       [](std::int64_t, char b) { return std::vector<BoardBlock>{{1, Bytes(1, b) + "\r\n"}}; }, 1},
      {"line break in its own block after the echo", "AB",
       [](std::int64_t, char b) { return std::vector<BoardBlock>{{1, Bytes(1, b)}, {2, "\r\n"}}; }, 2},
      {"echo preceded by another byte", "AB",
       [](std::int64_t, char b) { return std::vector<BoardBlock>{{1, "x" + Bytes(1, b)}}; }, 1},
      {"the byte echoed twice", "AB",
       [](std::int64_t, char b) { return std::vector<BoardBlock>{{1, Bytes(1, b)}, {1, Bytes(1, b)}}; }, 1},
      {"another byte echoed", "AB", [](std::int64_t, char) { return std::vector<BoardBlock>{{1, "Z"}}; }, 1},
      {"an empty block for 0x00", BytesOf({0x00, 0x1A}),
       [](std::int64_t k, char b) {
         return std::vector<BoardBlock>{{1, k == 1 ? Bytes() : Bytes(1, b)}};
       },
       1},
      {"0x1A echoed where 0x00 was sent", BytesOf({0x00, 0x1A}),
       [](std::int64_t, char) { return std::vector<BoardBlock>{{1, BytesOf({0x1A})}}; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.link.echo = c.echo;
    const auto n = static_cast<std::int64_t>(c.payload.size());
    EXPECT_EQ(rig.Run(c.payload, 2048), TransferOutcome::Failed);
    EXPECT_EQ(rig.link.bytesSent, c.failingByte);
    EXPECT_EQ(rig.view.panels[0], TxText(c.failingByte, n));
    EXPECT_THAT(rig.view.messages, ElementsAre(kTransferFailedMessage));
    EXPECT_EQ(rig.clock.nowMs - rig.view.timerStartedMs, kEchoTimeoutMs);
    EXPECT_EQ(rig.receivedText, "");
    rig.ExpectFinished();
  }
}

// ReceivedText is not emptied when an upload starts: whatever reached it before the first
// byte's wait spoils that byte.
TEST(TransferTest, DataBeforeTheFirstByteFailsIt) {
  struct Case {
    const char* name;
    Bytes leftOver;
    std::vector<BoardBlock> greeting;
    std::vector<BoardBlock> answerToStart;
  } const cases[] = {
      {"left from before the upload", "\r\n", {}, {}},
      {"greeting when the connection opens", "", {{0, "Welcome\r\n"}}, {}},
      {"answer to the start command", "", {}, {{20, "OK"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.receivedText = c.leftOver;
    rig.link.greeting = c.greeting;
    rig.link.answerToStart = c.answerToStart;
    EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Failed);
    EXPECT_EQ(rig.link.bytesSent, 1);
    EXPECT_THAT(rig.view.messages, ElementsAre(kTransferFailedMessage));
    EXPECT_EQ(rig.receivedText, "");
    rig.ExpectFinished();
  }
}

TEST(TransferTest, EchoArrivingWhileTheFailureMessageIsShownIsDropped) {
  Rig rig;
  rig.view.messageDurationMs = 5000;
  rig.link.echo = [](std::int64_t, char b) { return std::vector<BoardBlock>{{12000, Bytes(1, b)}}; };
  EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Failed);
  const auto message = std::find(rig.journal.begin(), rig.journal.end(),
                                 std::string("Message ") + kTransferFailedMessage);
  ASSERT_NE(message, rig.journal.end());
  EXPECT_EQ(*(message + 1), "Data 41");
  EXPECT_EQ(*(message + 2), "Timer off");
  EXPECT_EQ(rig.receivedText, "");
}

// A failed upload leaves the timer off, so the next upload's first byte has the full period.
TEST(TransferTest, UploadAfterAFailureStartsAFreshPeriod) {
  Rig rig;
  rig.link.echo = [](std::int64_t, char) { return std::vector<BoardBlock>{}; };
  EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Failed);
  EXPECT_TRUE(rig.transferTimedOut);  // nothing reads it until the next byte's wait

  rig.link.echo = [](std::int64_t, char b) { return std::vector<BoardBlock>{{9999, Bytes(1, b)}}; };
  rig.link.bytesSent = 0;
  rig.view.messages.clear();
  EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Succeeded);
  EXPECT_THAT(rig.view.messages, ElementsAre(SuccessMessage(2, 2048)));
  EXPECT_EQ(rig.link.opens, 2);
  EXPECT_EQ(rig.link.closes, 2);
  rig.ExpectFinished();
}

TEST(TransferTest, ConnectsOnlyWhenNotConnected) {
  for (bool connectedBefore : {false, true}) {
    SCOPED_TRACE(connectedBefore ? "already connected" : "not connected");
    Rig rig;
    rig.link.connected = connectedBefore;
    EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Succeeded);
    EXPECT_EQ(rig.link.opens, connectedBefore ? 0 : 1);
    EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "Open -1"), connectedBefore ? 0 : 1);
    EXPECT_EQ(rig.link.closes, 1);
    rig.ExpectFinished();
  }
}

TEST(TransferTest, FailedConnectionAttemptLeavesWithItsErrorAndSendsNothing) {
  Rig rig;
  rig.link.connectError = "Socket Error # 10061\r\nConnection refused.";
  try {
    rig.Run("ABC", 2048);
    FAIL() << "no error";
  } catch (const uploadtest::FakeLinkError& e) {
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_THAT(rig.journal, ElementsAre("GaugeMax 3", "Open -1"));
  EXPECT_TRUE(rig.link.writes.empty());
  EXPECT_FALSE(rig.view.animate);
  EXPECT_EQ(rig.view.gaugeMax, 3);
}

// A write that fails ends the upload as a finished one would end it, disconnected, and
// the error then goes on to the caller; the next upload connects again.
TEST(TransferTest, FailedWriteCleansUpThenRaisesAndTheNextUploadConnectsAgain) {
  struct Case {
    int failOnWrite;  // 1: the start command, k + 1: payload byte k
    bool writeDropsTheSocket;
    const char* panel0After;
  } const cases[] = {
      {1, false, "Tx : "},       {1, true, "Tx : "},       {2, false, "Tx : "},
      {4, false, "Tx : 2/5"},    {4, true, "Tx : 2/5"},    {6, false, "Tx : 4/5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("write " + std::to_string(c.failOnWrite) + (c.writeDropsTheSocket ? ", socket dropped" : ""));
    Rig rig;
    rig.link.failOnWrite = c.failOnWrite;
    rig.link.failedWriteDrops = c.writeDropsTheSocket;
    try {
      rig.Run("ABCDE", 2048);
      ADD_FAILURE() << "no error";
    } catch (const uploadtest::FakeLinkError& e) {
      EXPECT_EQ(std::string(e.what()), rig.link.writeError);
    }
    EXPECT_EQ(rig.link.writes.size(), static_cast<std::size_t>(c.failOnWrite - 1));
    EXPECT_TRUE(rig.view.messages.empty());
    EXPECT_EQ(rig.view.panels[0], c.panel0After);
    EXPECT_EQ(rig.link.closes, 1);
    EXPECT_EQ(rig.journal.back(), "Progress 0");
    rig.ExpectFinished();

    rig.link.failOnWrite = 0;
    rig.link.bytesSent = 0;
    EXPECT_EQ(rig.Run("AB", 2048), TransferOutcome::Succeeded);
    EXPECT_EQ(rig.link.opens, 2);
    EXPECT_THAT(rig.view.messages, ElementsAre(SuccessMessage(2, 2048)));
    rig.ExpectFinished();
  }
}

TEST(TransferTest, SuccessMessageThroughTheTransfer) {
  struct Case {
    std::int64_t n;
    int capacityKb;
    const char* message;
  } const cases[] = {
      {19, 8, "Transmission réussie, 19 caractères programmés en eeprom.\r0% de la mémoire occupée."},
      {256, 2, "Transmission réussie, 256 caractères programmés en eeprom.\r12% de la mémoire occupée."},
      {768, 2, "Transmission réussie, 768 caractères programmés en eeprom.\r38% de la mémoire occupée."},
      {8192, 8, "Transmission réussie, 8192 caractères programmés en eeprom.\r100% de la mémoire occupée."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    Rig rig;
    Bytes payload(static_cast<std::size_t>(c.n - 1), 'a');
    payload.push_back(0x1A);
    EXPECT_EQ(rig.Run(payload, c.capacityKb * 1024), TransferOutcome::Succeeded);
    EXPECT_THAT(rig.view.messages, ElementsAre(c.message));
    EXPECT_EQ(rig.view.panels[0], TxText(c.n, c.n));
    EXPECT_EQ(rig.view.gaugeMax, c.n);
    EXPECT_EQ(std::count(rig.journal.begin(), rig.journal.end(), "Progress " + std::to_string(c.n)), 1);
  }
}

TEST(TransferTest, SuccessMessagePercentages) {
  struct Case {
    std::int64_t n, capacity, percent;
  } const cases[] = {
      {19, 8192, 0},       {256, 2048, 12},    {768, 2048, 38},   {8192, 8192, 100},
      {1, 8, 12},          {3, 8, 38},         {5, 8, 62},        {7, 8, 88},
      {1, 200, 0},         {3, 200, 2},        {1, 3, 33},        {2, 3, 67},
      {0, 2048, 0},
      // n * 100 beyond 32 bits: 30 000 000 bytes on 32 768 KB (89.4 %), and an exact half.
      {30000000, 32768LL * 1024, 89}, {21474837, 2 * 21474837LL, 50}, {21474837, 4 * 21474837LL, 25},
      {2147483647, 2147483647, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + " on " + std::to_string(c.capacity));
    EXPECT_EQ(SuccessMessage(c.n, c.capacity), "Transmission réussie, " + std::to_string(c.n) +
                                                   " caractères programmés en eeprom.\r" +
                                                   std::to_string(c.percent) + "% de la mémoire occupée.");
  }
}

TEST(TransferTest, HandlersTouchOnlyTheirOwnValue) {
  Bytes received = "ab";
  bool timedOut = false;
  const UploadShared shared{received, timedOut};

  TimerTimer(shared);
  EXPECT_TRUE(timedOut);
  EXPECT_EQ(received, "ab");
  TimerTimer(shared);
  EXPECT_TRUE(timedOut);

  timedOut = false;
  BoardTelnetDataAvailable(shared, "");
  EXPECT_EQ(received, "ab");
  BoardTelnetDataAvailable(shared, BytesOf({0x00, 0xFF}));
  EXPECT_EQ(received, Bytes("ab") + BytesOf({0x00, 0xFF}));
  EXPECT_FALSE(timedOut);
}

TEST(TransferTest, FixedTexts) {
  EXPECT_STREQ(kTransferFailedMessage, "Echec lors de la transmission");
  EXPECT_EQ(Bytes(kStartCommand), BytesOf({0x50, 0x52, 0x47, 0x0D}));
  EXPECT_EQ(kEchoTimeoutMs, 10000);
}

}  // namespace
