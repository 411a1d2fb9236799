// The upload end to end: RunTransfer over the real Telnet component and its reader thread,
// against the real board-sim program started on a free loopback port.
//
// The window is a small non-Qt view: its wait runs the reader thread's queued deliveries on
// this (the main) thread. Its clock is the steady clock plus whatever it has skipped: in
// uploads to a board that is meant to fail, once the board has been silent for a second
// during an echo's wait, the view moves its clock on to the timer's deadline, so a missing
// echo fails at once instead of after 10 seconds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/bytes.h"
#include "platform/tcp/tcp_client.h"
#include "platform/thread/loop_thread.h"
#include "telnet/telnetclient.h"
#include "upload/transfer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr auto kPatience = 10s;  // bound for whatever should happen promptly

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// --- The window ---------------------------------------------------------------------------

class LoopbackView : public TransferView {
 public:
  explicit LoopbackView(UploadShared shared) : shared_(shared) {}

  // Silence during an echo's wait after which the view's clock jumps to the deadline.
  std::chrono::milliseconds fastForwardAfter = kNeverSkip;
  static constexpr std::chrono::milliseconds kNeverSkip{std::chrono::hours(1)};

  std::int64_t gaugeMax = 0;
  std::int64_t gaugeProgress = 0;
  std::string panels[2] = {"Tx : ", ""};
  bool animate = false;
  bool timerOn = false;
  std::vector<std::string> messages;
  int ticks = 0;
  Clock::duration skipped{};  // how far the view's clock is ahead of the steady clock

  void SetGaugeMax(std::int64_t max) override { gaugeMax = max; }
  void SetGaugeProgress(std::int64_t progress) override {
    gaugeProgress = std::clamp<std::int64_t>(progress, 0, std::max<std::int64_t>(gaugeMax, 0));
  }
  std::int64_t GaugeProgress() const override { return gaugeProgress; }
  void SetPanelText(int panel, const std::string& text) override { panels[panel] = text; }
  void SetAnimate(bool on) override { animate = on; }
  void SetTimerEnabled(bool on) override {
    if (on && !timerOn) deadline_ = Now() + std::chrono::milliseconds(kEchoTimeoutMs);
    timerOn = on;
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    mainthread::RunQueuedCalls();  // a modal box keeps processing events
  }
  void Pause(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

  // One pass: returns once at least one delivery has run or the timer has ticked.
  void WaitForEvents() override {
    const auto started = Clock::now();
    for (;;) {
      const int ran = mainthread::WaitAndRunQueuedCalls(20);
      const bool ticked = timerOn && Now() >= deadline_;
      if (ticked) {
        ++ticks;
        deadline_ += std::chrono::milliseconds(kEchoTimeoutMs);
        TimerTimer(shared_);
      }
      if (ran > 0 || ticked) return;
      if (timerOn && Clock::now() - started >= fastForwardAfter && Now() < deadline_) skipped += deadline_ - Now();
      if (Clock::now() - started > kPatience) throw std::runtime_error("no event for too long");
    }
  }

 private:
  Clock::time_point Now() const { return Clock::now() + skipped; }

  UploadShared shared_;
  Clock::time_point deadline_{};
};

// --- board-sim ----------------------------------------------------------------------------

class BoardSim {
 public:
  explicit BoardSim(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{BOARD_SIM_PATH, "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, BOARD_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    const std::string prefix = "board-sim listening on 127.0.0.1:";
    if (auto line = ReadLine(); line && line->rfind(prefix, 0) == 0) port_ = std::stoi(line->substr(prefix.size()));
  }
  ~BoardSim() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    if (out_ >= 0) close(out_);
  }
  BoardSim(const BoardSim&) = delete;
  BoardSim& operator=(const BoardSim&) = delete;

  int port() const { return port_; }

  // The next line it prints, such as "connection 1: prg=yes received=2 stored=2 result=closed".
  std::optional<std::string> ReadLine() {
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
      if (auto end = text_.find('\n'); end != std::string::npos) {
        std::string line = text_.substr(0, end);
        text_.erase(0, end + 1);
        return line;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, MillisLeft(deadline)) <= 0) return std::nullopt;
      char buffer[512];
      ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      text_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = -1;
  std::string text_;
};

// A loopback port where nothing listens: bound, never listening, held until the end.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~RefusingPort() {
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = -1;
};

class TempFile {
 public:
  TempFile() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ::testing::TempDir() + "upload_e2e_" + std::to_string(getpid()) + "_" + info->name() + ".bin";
    Remove();
  }
  ~TempFile() { Remove(); }
  const std::string& path() const { return path_; }
  Bytes Read() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Remove() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_ + ".tmp", ignored);
  }
  std::string path_;
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
    telnet.SetHost("127.0.0.1");
    telnet.OnDataAvailable = [this](TTelnet&, const Bytes& buffer) { BoardTelnetDataAvailable(Shared(), buffer); };
  }
  void TearDown() override { telnet.CloseConnection(); }

  UploadShared Shared() { return {receivedText, transferTimedOut}; }

  // To a board that echoes every byte: the view keeps the real clock, so only a real
  // 10-second silence could fail a byte.
  TransferOutcome Upload(int port, const Bytes& payload, std::int64_t capacity) {
    view.fastForwardAfter = LoopbackView::kNeverSkip;
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
  LoopbackView view{Shared()};
  TTelnet telnet;
  TelnetUploadLink link{telnet};
};

TEST_F(UploadE2eTest, TwoBytePayloadReachesTheBoard) {
  TempFile image;
  BoardSim board({"--image", image.path()});
  ASSERT_GT(board.port(), 0);
  const Bytes payload = BytesOf({0x00, 0x1A});
  EXPECT_EQ(Upload(board.port(), payload, 8192), TransferOutcome::Succeeded);
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
    TempFile image;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--image", image.path()});
    BoardSim board(args);
    ASSERT_GT(board.port(), 0);
    const auto n = static_cast<std::int64_t>(c.payload.size());
    view.messages.clear();
    EXPECT_EQ(Upload(board.port(), c.payload, c.capacityKb * 1024), TransferOutcome::Succeeded);
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
    ASSERT_GT(board.port(), 0);
    view.messages.clear();
    const auto started = Clock::now();
    EXPECT_EQ(UploadToFailingBoard(board.port(), Filler(10), 8192), TransferOutcome::Failed);
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
  RefusingPort refusing;
  ASSERT_GT(refusing.port(), 0);
  try {
    Upload(refusing.port(), Filler(5), 8192);
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
  ASSERT_GT(closing.port(), 0);
  ASSERT_GT(good.port(), 0);
  try {
    UploadToFailingBoard(closing.port(), Filler(10), 8192);
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

  EXPECT_EQ(Upload(good.port(), Filler(10), 8192), TransferOutcome::Succeeded);
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
    ASSERT_GT(failing.port(), 0);
    ASSERT_GT(good.port(), 0);
    view.messages.clear();
    const auto started = Clock::now();
    try {
      EXPECT_EQ(UploadToFailingBoard(failing.port(), Filler(10), 8192), TransferOutcome::Failed);
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
    EXPECT_EQ(Upload(good.port(), Filler(10), 8192), TransferOutcome::Succeeded);
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
  TempFile image;
  BoardSim board({"--silent-after", "1"});
  BoardSim second({"--image", image.path()});
  ASSERT_GT(board.port(), 0);
  ASSERT_GT(second.port(), 0);
  EXPECT_EQ(UploadToFailingBoard(board.port(), Filler(4), 8192), TransferOutcome::Failed);
  EXPECT_EQ(view.panels[0], "Tx : 2/4");
  ExpectClosedByTheTransfer();
  const auto failed = board.ReadLine();
  ASSERT_TRUE(failed);
  EXPECT_EQ(Field(*failed, "received"), "2") << *failed;

  view.messages.clear();
  const Bytes payload = Filler(30);
  EXPECT_EQ(Upload(second.port(), payload, 8192), TransferOutcome::Succeeded);
  EXPECT_EQ(view.ticks, 1);  // the first upload's only
  EXPECT_THAT(view.messages, ElementsAre(SuccessMessage(30, 8192)));
  ExpectClosedByTheTransfer();
  const auto line = second.ReadLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(Field(*line, "received"), "30") << *line;
  EXPECT_EQ(image.Read(), payload);
}

}  // namespace
