#pragma once
// The byte-by-byte transfer of a payload to the board, and its two small handlers.
//
// The transfer runs on the window's thread inside the send button's handler. It reaches the
// window only through TransferView and the Telnet component only through UploadLink, so a
// test can drive it with a fake window whose clock it controls (the 10-second time-out
// without a 10-second wait) and with a fake or a real connection.
#include <cstdint>
#include <string>

#include "platform/bytes.h"

class TTelnet;

// What the transfer uses of the window. Texts are UTF-8.
class TransferView {
 public:
  virtual ~TransferView() = default;
  virtual void SetGaugeMax(std::int64_t max) = 0;
  virtual void SetGaugeProgress(std::int64_t progress) = 0;  // clamped by the gauge
  virtual std::int64_t GaugeProgress() const = 0;
  virtual void SetPanelText(int panel, const std::string& text) = 0;  // status panels 0 and 1
  virtual void SetAnimate(bool on) = 0;                                 // the logo
  // The 10 000 ms time-out timer: switching it on from off starts a fresh full period;
  // setting the state it already has does nothing. Its tick calls TimerTimer.
  virtual void SetTimerEnabled(bool on) = 0;
  virtual void ShowMessage(const std::string& text) = 0;  // plain modal box; returns when acknowledged
  // Processes the pending events (deliveries from the reader thread, timer ticks, user
  // input); when none is pending, blocks until one arrives and processes it. Never spins.
  virtual void WaitForEvents() = 0;
  virtual void Pause(int milliseconds) = 0;  // without processing events
};

// What the transfer uses of the Telnet component.
class UploadLink {
 public:
  virtual ~UploadLink() = default;
  virtual bool IsConnected() = 0;
  virtual void OpenConnection(int timeoutMs) = 0;
  virtual void WriteText(const Bytes& text) = 0;
  virtual void SendChar(char c) = 0;
  virtual void CloseConnection() = 0;
};

// UploadLink over the real component.
class TelnetUploadLink : public UploadLink {
 public:
  explicit TelnetUploadLink(TTelnet& telnet) : telnet_(telnet) {}
  bool IsConnected() override;
  void OpenConnection(int timeoutMs) override;
  void WriteText(const Bytes& text) override;
  void SendChar(char c) override;
  void CloseConnection() override;

 private:
  TTelnet& telnet_;
};

// The window module's two process-wide values that the upload shares with its handlers.
struct UploadShared {
  Bytes& ReceivedText;
  bool& TransferTimedOut;
};

// The timer's tick: sets TransferTimedOut, nothing else.
void TimerTimer(UploadShared shared);
// The component's data handler: appends the block to ReceivedText.
void BoardTelnetDataAvailable(UploadShared shared, const Bytes& buffer);

enum class TransferOutcome { Succeeded, Failed };

// Sends `payload` (n = its length) after "PRG\r", waiting for each byte's echo; shows the
// failure or the success message. Connects first (time-out -1) when the link is not
// connected. A failed connection attempt leaves as its exception at once: nothing sent,
// the logo not started. A failed write (the start command or a byte) leaves as its
// exception after the transfer has cleaned up: timer off, logo off, connection closed
// (always, so the next upload connects afresh), panel 1 empty, progress 0.
// ReceivedText is not emptied at the start: data already in it spoils the first byte.
TransferOutcome RunTransfer(TransferView& view, UploadLink& link, UploadShared shared,
                            const Bytes& payload, std::int64_t capacity);

// "Transmission réussie, n caractères programmés en eeprom.\rP% de la mémoire occupée."
std::string SuccessMessage(std::int64_t n, std::int64_t capacity);
extern const char* const kTransferFailedMessage;  // "Echec lors de la transmission"
extern const char* const kStartCommand;           // "PRG\r"
constexpr int kEchoTimeoutMs = 10000;
