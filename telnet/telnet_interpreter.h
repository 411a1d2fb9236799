#pragma once
// The Telnet stream interpreter: removes Telnet commands from the bytes a server sends,
// answers option negotiation and terminal-type requests, and reports the ECHO negotiations.
//
// It holds only ParseState between calls; everything else it touches belongs to the
// component that embeds it and reaches it through TelnetInterpreterHost, so it can be
// exercised on its own with a substitute host.
#include <cstdint>

#include "platform/bytes.h"

enum class TTelnetParseState : std::uint8_t {
  tpsData, tpsCommand, tpsSubOption, tpsWill, tpsDo, tpsWont, tpsDont,
  tpsSubSkip, tpsSubData, tpsSubCommand
};

enum class TTelnetCommand : std::uint8_t { tcServerEchoes, tcClientEchoes, tcClientNoEcho };

namespace telnetbytes {
constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t OPT_ECHO = 1, OPT_TERMINAL_TYPE = 24, OPT_END_OF_RECORD = 25;
constexpr std::uint8_t TT_SEND = 1, TT_IS = 0;
}  // namespace telnetbytes

// What the interpreter needs of the component that holds it.
class TelnetInterpreterHost {
 public:
  virtual ~TelnetInterpreterHost() = default;
  // The connection's string write (WriteText): one reply, every byte in order, or raise.
  virtual void WriteReply(const Bytes& reply) = 0;
  // Calls OnTelnetCommand when one is assigned.
  virtual void FireTelnetCommand(TTelnetCommand status) = 0;
  // Sets PeerIsTelnet (an IAC came from the server).
  virtual void SetPeerIsTelnet() = 0;
  // The Terminal string for a terminal-type reply; an empty Terminal becomes "dumb" first
  // and keeps that value.
  virtual Bytes TerminalForReply() = 0;
};

class TTelnetInterpreter {
 public:
  // One block in, its data bytes out. Replies are written and notifications fired through
  // `host` while the block is read. If the host raises, the exception leaves at once:
  // ParseState stays where it was and no data of the block is returned.
  Bytes ProcessTelnetStream(const Bytes& raw, TelnetInterpreterHost& host);

  TTelnetParseState ParseState() const { return parseState_; }
  // For tests that start from a given state.
  void SetParseState(TTelnetParseState s) { parseState_ = s; }

 private:
  TTelnetParseState parseState_ = TTelnetParseState::tpsData;
};
