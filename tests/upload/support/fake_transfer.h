#pragma once
// A stand-in window and a stand-in connection for driving RunTransfer without a network,
// a window toolkit or real time.
//
// Both write to one Journal, so the order of window calls and connection calls can be
// checked together. Time is a TestClock that only the fake window moves: WaitForEvents
// jumps to the next thing that can happen (a scripted block from the board arriving, or
// the 10 000 ms timer's tick) and runs everything due at that moment in one pass, the way
// one pass of message processing would. A 10-second time-out therefore costs no real time.
//
// Self-contained (no GoogleTest): these files are linked into every upload test program.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "upload/transfer.h"

namespace uploadtest {

using Journal = std::vector<std::string>;

struct TestClock {
  std::int64_t nowMs = 0;
};

// "50 52 47 0D" for the bytes "PRG\r".
std::string Hex(const Bytes& bytes);

// What the fake connection raises when told to fail.
class FakeLinkError : public std::runtime_error {
 public:
  explicit FakeLinkError(const std::string& message) : std::runtime_error(message) {}
};

// One block that the board sends, `delayMs` after the client's write that caused it
// (or after the connection opened).
struct BoardBlock {
  std::int64_t delayMs = 0;
  Bytes data;
};

class FakeLink : public UploadLink {
 public:
  FakeLink(Journal& journal, TestClock& clock) : journal_(journal), clock_(clock) {}

  // --- Script -------------------------------------------------------------------------
  bool connected = false;
  std::optional<std::string> connectError;        // OpenConnection raises this message
  std::vector<BoardBlock> greeting;               // sent when the connection opens
  std::vector<BoardBlock> answerToStart;          // sent after the start command
  // The board's answer to the k-th payload byte (k from 1); by default the byte at once.
  std::function<std::vector<BoardBlock>(std::int64_t k, char byte)> echo =
      [](std::int64_t, char byte) { return std::vector<BoardBlock>{{0, Bytes(1, byte)}}; };
  int failOnWrite = 0;              // the k-th write (the start command is write 1) raises
  bool failedWriteDrops = false;    // ...and the socket is closed by it (IsConnected false)
  std::string writeError = "Socket Error # 10054\r\nConnection reset by peer.";

  // --- Record -------------------------------------------------------------------------
  std::vector<Bytes> writes;  // each WriteText / SendChar that went out, in order
  int opens = 0;
  int closes = 0;
  std::int64_t bytesSent = 0;  // SendChar calls that went out

  // --- UploadLink ---------------------------------------------------------------------
  bool IsConnected() override { return connected; }
  void OpenConnection(int timeoutMs) override;
  void WriteText(const Bytes& text) override;
  void SendChar(char c) override;
  void CloseConnection() override;

  // --- For the fake window ------------------------------------------------------------
  // Arrival time of the next block still on its way, if any.
  std::optional<std::int64_t> NextArrival() const;
  // Removes and returns the blocks that have arrived by `nowMs`, in order of arrival.
  std::vector<Bytes> TakeArrived(std::int64_t nowMs);

 private:
  struct InFlight {
    std::int64_t arrivalMs;
    std::uint64_t order;
    Bytes data;
  };
  void Write(const Bytes& bytes);
  void Schedule(const std::vector<BoardBlock>& blocks);

  Journal& journal_;
  TestClock& clock_;
  int writeCount_ = 0;
  std::uint64_t nextOrder_ = 0;
  std::vector<InFlight> inFlight_;
};

class FakeView : public TransferView {
 public:
  FakeView(Journal& journal, TestClock& clock, FakeLink& link, UploadShared shared)
      : journal_(journal), clock_(clock), link_(link), shared_(shared) {}

  // --- Script -------------------------------------------------------------------------
  std::int64_t messageDurationMs = 0;  // how long the user takes to acknowledge a message
  int maxPasses = 100000;              // WaitForEvents raises beyond this (a hung wait)

  // --- State --------------------------------------------------------------------------
  std::int64_t gaugeMax = 0;
  std::int64_t gaugeProgress = 0;
  std::string panels[2] = {"Tx : ", ""};
  bool animate = false;
  bool timerOn = false;
  std::int64_t timerStartedMs = -1;  // when the timer was last switched on from off
  std::vector<std::string> messages;
  int passes = 0;

  // --- TransferView -------------------------------------------------------------------
  void SetGaugeMax(std::int64_t max) override;
  void SetGaugeProgress(std::int64_t progress) override;
  std::int64_t GaugeProgress() const override { return gaugeProgress; }
  void SetPanelText(int panel, const std::string& text) override;
  void SetAnimate(bool on) override;
  void SetTimerEnabled(bool on) override;
  void ShowMessage(const std::string& text) override;
  void WaitForEvents() override;
  void Pause(int milliseconds) override;

 private:
  void DeliverArrived();

  Journal& journal_;
  TestClock& clock_;
  FakeLink& link_;
  UploadShared shared_;
  std::int64_t nextTickMs_ = 0;
};

}  // namespace uploadtest
