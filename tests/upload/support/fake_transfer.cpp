#include "upload/support/fake_transfer.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace uploadtest {

std::string Hex(const Bytes& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char cell[4];
    std::snprintf(cell, sizeof cell, "%02X", static_cast<unsigned>(Byte(bytes, i)));
    if (i != 0) out += ' ';
    out += cell;
  }
  return out;
}

// --- FakeLink -------------------------------------------------------------------------

void FakeLink::OpenConnection(int timeoutMs) {
  journal_.push_back("Open " + std::to_string(timeoutMs));
  ++opens;
  if (connectError) throw FakeLinkError(*connectError);
  connected = true;
  Schedule(greeting);
}

void FakeLink::Write(const Bytes& bytes) {
  ++writeCount_;
  if (writeCount_ == failOnWrite) {
    journal_.push_back("WriteFails " + Hex(bytes));
    if (failedWriteDrops) connected = false;
    throw FakeLinkError(writeError);
  }
  if (!connected) throw FakeLinkError("Not Connected");
  writes.push_back(bytes);
}

void FakeLink::WriteText(const Bytes& text) {
  if (text.empty()) return;
  Write(text);
  journal_.push_back("WriteText " + Hex(text));
  Schedule(answerToStart);
}

void FakeLink::SendChar(char c) {
  Write(Bytes(1, c));
  journal_.push_back("SendChar " + Hex(Bytes(1, c)));
  ++bytesSent;
  Schedule(echo(bytesSent, c));
}

void FakeLink::CloseConnection() {
  journal_.push_back("Close");
  ++closes;
  connected = false;
  inFlight_.clear();  // what the board still had on its way goes with the connection
}

void FakeLink::Schedule(const std::vector<BoardBlock>& blocks) {
  for (const BoardBlock& b : blocks) inFlight_.push_back({clock_.nowMs + b.delayMs, nextOrder_++, b.data});
}

std::optional<std::int64_t> FakeLink::NextArrival() const {
  std::optional<std::int64_t> next;
  for (const InFlight& f : inFlight_)
    if (!next || f.arrivalMs < *next) next = f.arrivalMs;
  return next;
}

std::vector<Bytes> FakeLink::TakeArrived(std::int64_t nowMs) {
  std::vector<InFlight> arrived;
  std::vector<InFlight> later;
  for (InFlight& f : inFlight_) (f.arrivalMs <= nowMs ? arrived : later).push_back(std::move(f));
  inFlight_ = std::move(later);
  std::sort(arrived.begin(), arrived.end(), [](const InFlight& a, const InFlight& b) {
    return a.arrivalMs != b.arrivalMs ? a.arrivalMs < b.arrivalMs : a.order < b.order;
  });
  std::vector<Bytes> out;
  for (InFlight& f : arrived) out.push_back(std::move(f.data));
  return out;
}

// --- FakeView -------------------------------------------------------------------------

void FakeView::SetGaugeMax(std::int64_t max) {
  journal_.push_back("GaugeMax " + std::to_string(max));
  gaugeMax = max;
  gaugeProgress = std::clamp<std::int64_t>(gaugeProgress, 0, std::max<std::int64_t>(gaugeMax, 0));
}

void FakeView::SetGaugeProgress(std::int64_t progress) {
  journal_.push_back("Progress " + std::to_string(progress));
  gaugeProgress = std::clamp<std::int64_t>(progress, 0, std::max<std::int64_t>(gaugeMax, 0));
}

void FakeView::SetPanelText(int panel, const std::string& text) {
  if (panel < 0 || panel > 1) throw std::out_of_range("no status panel " + std::to_string(panel));
  journal_.push_back("Panel" + std::to_string(panel) + " " + text);
  panels[panel] = text;
}

void FakeView::SetAnimate(bool on) {
  journal_.push_back(on ? "Animate on" : "Animate off");
  animate = on;
}

void FakeView::SetTimerEnabled(bool on) {
  journal_.push_back(on ? "Timer on" : "Timer off");
  if (on && !timerOn) {  // from off: a fresh full period
    timerStartedMs = clock_.nowMs;
    nextTickMs_ = clock_.nowMs + kEchoTimeoutMs;
  }
  timerOn = on;
}

void FakeView::ShowMessage(const std::string& text) {
  journal_.push_back("Message " + text);
  messages.push_back(text);
  // A modal box keeps processing events while the user reads it.
  clock_.nowMs += messageDurationMs;
  DeliverArrived();
}

void FakeView::DeliverArrived() {
  for (const Bytes& block : link_.TakeArrived(clock_.nowMs)) {
    journal_.push_back("Data " + Hex(block));
    BoardTelnetDataAvailable(shared_, block);
  }
}

void FakeView::WaitForEvents() {
  if (++passes > maxPasses) throw std::logic_error("the wait never ends");
  journal_.push_back("Wait");
  // Nothing is pending at the moment, so block until the next event: a block's arrival
  // or the timer's tick, whichever comes first, and run everything due then.
  std::int64_t next = std::numeric_limits<std::int64_t>::max();
  if (auto arrival = link_.NextArrival()) next = *arrival;
  if (timerOn) next = std::min(next, nextTickMs_);
  if (next == std::numeric_limits<std::int64_t>::max())
    throw std::logic_error("waiting with nothing that could ever happen");
  clock_.nowMs = std::max(clock_.nowMs, next);
  DeliverArrived();
  if (timerOn && clock_.nowMs >= nextTickMs_) {
    journal_.push_back("Tick");
    nextTickMs_ += kEchoTimeoutMs;
    TimerTimer(shared_);
  }
}

void FakeView::Pause(int milliseconds) {
  journal_.push_back("Pause " + std::to_string(milliseconds));
  clock_.nowMs += milliseconds;  // no events are processed meanwhile
}

}  // namespace uploadtest
