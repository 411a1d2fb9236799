// The byte-by-byte transfer of a payload to the board and its two small handlers.
#include "upload/transfer.h"

#include <exception>
#include <string>

const char* const kTransferFailedMessage = "Echec lors de la transmission";
const char* const kStartCommand = "PRG\r";

namespace {

constexpr const char* kSendingText = "Transfert en cours...";
constexpr int kStartPauseMs = 100;

// n * 100 / capacity brought to the nearest integer, an exact half going to the even
// neighbour (12.5 -> 12, 37.5 -> 38). Done on integers, so the result does not depend on
// the floating-point rounding mode and n * 100 cannot overflow for any payload the tool
// can hold. A capacity of 0 or less never reaches here (the payload would not fit); it
// gives 0 instead of a division by zero.
std::int64_t Percentage(std::int64_t n, std::int64_t capacity) {
  if (capacity <= 0) return 0;
  const std::int64_t numerator = n * 100;
  std::int64_t quotient = numerator / capacity;
  const std::int64_t twiceRemainder = 2 * (numerator % capacity);
  if (twiceRemainder > capacity || (twiceRemainder == capacity && quotient % 2 != 0)) ++quotient;
  return quotient;
}

// The end of every transfer that got past the connection attempt: the logo stops, the
// connection is closed, and the status text and the gauge are reset.
void StopAnimationAndDisconnect(TransferView& view, UploadLink& link) {
  view.SetAnimate(false);
  if (link.IsConnected()) link.CloseConnection();
}

void ResetProgressDisplay(TransferView& view) {
  view.SetPanelText(1, "");
  view.SetGaugeProgress(0);
}

// A write (or anything else) raised in the middle of the transfer: leave the window and
// the connection as after a finished upload, so that the next upload connects afresh to
// whatever host and port the window shows then, and let the error go on to the caller.
void CleanUpAfterError(TransferView& view, UploadLink& link) noexcept {
  try {
    view.SetTimerEnabled(false);
    view.SetAnimate(false);
  } catch (...) {
  }
  try {
    link.CloseConnection();
  } catch (...) {
  }
  try {
    ResetProgressDisplay(view);
  } catch (...) {
  }
}

}  // namespace

void TimerTimer(UploadShared shared) { shared.TransferTimedOut = true; }

void BoardTelnetDataAvailable(UploadShared shared, const Bytes& buffer) {
  shared.ReceivedText.append(buffer);
}

std::string SuccessMessage(std::int64_t n, std::int64_t capacity) {
  return "Transmission réussie, " + std::to_string(n) + " caractères programmés en eeprom.\r" +
         std::to_string(Percentage(n, capacity)) + "% de la mémoire occupée.";
}

TransferOutcome RunTransfer(TransferView& view, UploadLink& link, UploadShared shared,
                            const Bytes& payload, std::int64_t capacity) {
  const auto n = static_cast<std::int64_t>(payload.size());
  view.SetGaugeMax(n);
  // A failed attempt leaves at once: nothing sent, the logo not started.
  if (!link.IsConnected()) link.OpenConnection(-1);

  view.SetAnimate(true);
  bool failed = false;
  try {
    link.WriteText(kStartCommand);
    view.Pause(kStartPauseMs);
    for (std::int64_t i = 1; i <= n; ++i) {
      const char byte = payload[static_cast<std::size_t>(i - 1)];
      view.SetPanelText(1, kSendingText);
      link.SendChar(byte);
      view.SetPanelText(0, "Tx : " + std::to_string(i) + "/" + std::to_string(n));
      shared.TransferTimedOut = false;
      view.SetTimerEnabled(true);

      // The received data must be exactly the one byte; the comparison comes before any
      // event is processed, so an echo already collected is seen at once.
      while (!(shared.ReceivedText.size() == 1 && shared.ReceivedText[0] == byte) &&
             !shared.TransferTimedOut) {
        view.WaitForEvents();
      }

      // The time-out wins even when the echo came in the same pass as the tick.
      if (shared.TransferTimedOut) {
        view.ShowMessage(kTransferFailedMessage);
        shared.ReceivedText.clear();
        view.SetTimerEnabled(false);
        failed = true;
        break;
      }
      shared.ReceivedText.clear();
      view.SetTimerEnabled(false);
      view.SetGaugeProgress(view.GaugeProgress() + 1);
    }
  } catch (...) {
    CleanUpAfterError(view, link);
    throw;
  }

  StopAnimationAndDisconnect(view, link);
  if (!failed) view.ShowMessage(SuccessMessage(n, capacity));
  ResetProgressDisplay(view);
  return failed ? TransferOutcome::Failed : TransferOutcome::Succeeded;
}
