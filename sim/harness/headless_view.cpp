#include "sim/harness/headless_view.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "platform/thread/loop_thread.h"

namespace {

// Whole milliseconds until `t` (rounded up, so that the wait does not end just before it).
std::int64_t MillisUntil(std::chrono::steady_clock::time_point t) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - std::chrono::steady_clock::now()).count();
  return std::max<std::int64_t>(left, 0);
}

}  // namespace

void HeadlessTransferView::SetGaugeProgress(std::int64_t progress) {
  gaugeProgress = std::clamp<std::int64_t>(progress, 0, std::max<std::int64_t>(gaugeMax, 0));
}

void HeadlessTransferView::SetPanelText(int panel, const std::string& text) {
  if (panel == 0 || panel == 1) panels[panel] = text;
}

void HeadlessTransferView::SetTimerEnabled(bool on) {
  if (on && !timerOn) deadline_ = Now() + std::chrono::milliseconds(kEchoTimeoutMs);
  timerOn = on;
}

void HeadlessTransferView::ShowMessage(const std::string& text) {
  messages.push_back(text);
  mainthread::RunQueuedCalls();
}

void HeadlessTransferView::Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void HeadlessTransferView::WaitForEvents() {
  const auto started = Clock::now();
  for (;;) {
    // Block until a delivery comes or the next moment that matters: the timer's deadline,
    // the point where the silence is skipped, the point where the wait gives up.
    std::optional<std::int64_t> waitMs;
    auto until = [&waitMs](std::int64_t ms) { waitMs = waitMs ? std::min(*waitMs, ms) : ms; };
    if (timerOn) until(MillisUntil(deadline_ - skipped));
    if (timerOn && fastForwardAfter) until(MillisUntil(started + *fastForwardAfter));
    if (giveUpAfter) until(MillisUntil(started + *giveUpAfter));
    const int ran = mainthread::WaitAndRunQueuedCalls(waitMs ? static_cast<int>(*waitMs) : -1);

    const bool ticked = timerOn && Now() >= deadline_;
    if (ticked) {
      ++ticks;
      deadline_ += std::chrono::milliseconds(kEchoTimeoutMs);
      TimerTimer(shared_);
    }
    if (ran > 0 || ticked) return;
    if (timerOn && fastForwardAfter && Clock::now() - started >= *fastForwardAfter && Now() < deadline_) {
      skipped += deadline_ - Now();
    }
    if (giveUpAfter && Clock::now() - started >= *giveUpAfter) throw std::runtime_error("no event for too long");
  }
}
