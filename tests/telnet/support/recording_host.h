#pragma once
// A stand-in for the component around the Telnet interpreter: it records every reply write
// and every notification in the order they happen (one log, so their relative order can be
// checked), keeps the PeerIsTelnet flag and the Terminal string, and can be told to raise
// from the n-th WriteReply or FireTelnetCommand.
//
// Header-only and free of GoogleTest so that the fuzz target can use it as well.
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/bytes.h"
#include "telnet/telnet_interpreter.h"

namespace telnettest {

// What a failing host raises.
class HostFailure : public std::runtime_error {
 public:
  explicit HostFailure(const char* what) : std::runtime_error(what) {}
};

struct HostEvent {
  enum class Kind { Write, Notify } kind;
  Bytes reply;                 // Kind::Write
  TTelnetCommand status{};     // Kind::Notify

  static HostEvent Write(Bytes bytes) { return {Kind::Write, std::move(bytes), {}}; }
  static HostEvent Notify(TTelnetCommand s) { return {Kind::Notify, {}, s}; }
  bool operator==(const HostEvent& o) const {
    return kind == o.kind && (kind == Kind::Write ? reply == o.reply : status == o.status);
  }
};

class RecordingHost : public TelnetInterpreterHost {
 public:
  static constexpr std::size_t kNever = static_cast<std::size_t>(-1);

  Bytes terminal = "dumb";
  bool peerIsTelnet = false;
  std::size_t peerCalls = 0;
  std::vector<HostEvent> log;           // successful writes and notifications, in order
  std::size_t writeAttempts = 0;        // including the one that raised
  std::size_t fireAttempts = 0;
  std::size_t failWriteAt = kNever;     // 0-based index of the WriteReply call that raises
  std::size_t failFireAt = kNever;      // 0-based index of the FireTelnetCommand call that raises

  void WriteReply(const Bytes& reply) override {
    if (writeAttempts++ == failWriteAt) throw HostFailure("write failed");
    log.push_back(HostEvent::Write(reply));
  }
  void FireTelnetCommand(TTelnetCommand status) override {
    if (fireAttempts++ == failFireAt) throw HostFailure("handler raised");
    log.push_back(HostEvent::Notify(status));
  }
  void SetPeerIsTelnet() override {
    peerIsTelnet = true;
    ++peerCalls;
  }
  // As the component: an empty Terminal becomes "dumb" and keeps that value.
  Bytes TerminalForReply() override {
    if (terminal.empty()) terminal = "dumb";
    return terminal;
  }

  std::vector<Bytes> Writes() const {
    std::vector<Bytes> out;
    for (const auto& e : log)
      if (e.kind == HostEvent::Kind::Write) out.push_back(e.reply);
    return out;
  }
  std::vector<TTelnetCommand> Notifications() const {
    std::vector<TTelnetCommand> out;
    for (const auto& e : log)
      if (e.kind == HostEvent::Kind::Notify) out.push_back(e.status);
    return out;
  }
};

}  // namespace telnettest
