#pragma once
// A window without a toolkit for the upload, for the end-to-end tests and upload-bench.
//
// Its wait runs the reader thread's queued deliveries on this (the main) thread, and its
// 10 000 ms timer runs on the steady clock plus whatever the view has skipped: with
// fastForwardAfter set, once the board has been silent that long during one wait while the
// timer runs, the view moves its clock on to the timer's deadline, so a missing echo fails
// at once instead of after 10 seconds. Nothing is skipped by default.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "upload/transfer.h"

class HeadlessTransferView : public TransferView {
 public:
  using Clock = std::chrono::steady_clock;

  explicit HeadlessTransferView(UploadShared shared) : shared_(shared) {}

  // Silence during one wait, with the timer on, after which the view's clock jumps to the
  // timer's deadline; none: the real clock only.
  std::optional<std::chrono::milliseconds> fastForwardAfter;
  // A wait in which nothing at all happens for this long throws std::runtime_error; none:
  // a wait with the timer off may last for ever.
  std::optional<std::chrono::milliseconds> giveUpAfter;

  // What the window shows, as the transfer left it.
  std::int64_t gaugeMax = 0;
  std::int64_t gaugeProgress = 0;
  std::string panels[2] = {"Tx : ", ""};
  bool animate = false;
  bool timerOn = false;
  std::vector<std::string> messages;
  int ticks = 0;
  Clock::duration skipped{};  // how far the view's clock is ahead of the steady clock

  void SetGaugeMax(std::int64_t max) override { gaugeMax = max; }
  void SetGaugeProgress(std::int64_t progress) override;
  std::int64_t GaugeProgress() const override { return gaugeProgress; }
  void SetPanelText(int panel, const std::string& text) override;
  void SetAnimate(bool on) override { animate = on; }
  void SetTimerEnabled(bool on) override;
  // Records the text; like a modal box, it keeps processing events meanwhile.
  void ShowMessage(const std::string& text) override;
  void Pause(int milliseconds) override;
  // One pass: returns once at least one delivery has run or the timer has ticked.
  void WaitForEvents() override;

 private:
  Clock::time_point Now() const { return Clock::now() + skipped; }

  UploadShared shared_;
  Clock::time_point deadline_{};
};
