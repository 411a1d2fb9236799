// The Telnet stream interpreter (RFC 854 / RFC 855 command removal, RFC 1091 terminal type).
//
// One pass over each block: every byte costs one switch on ParseState and at most one
// append, one notification and one reply write. Nothing but ParseState is carried from one
// block to the next; the subnegotiation counters and the output live for one call.
//
// Failure rule: a host call that raises leaves ProcessTelnetStream at once. ParseState is
// the member itself and is moved on only after the reply of a command has been written, so
// it keeps the state in which the failure arose (tpsWill/tpsDo/tpsWont/tpsDont for a
// negotiation, tpsSubCommand for a terminal-type reply). The output is a local and is lost
// with the exception, so no data of that block reaches the caller.
#include "telnet/telnet_interpreter.h"

#include <cstdint>
#include <limits>

namespace {

using namespace telnetbytes;

using State = TTelnetParseState;

inline void AppendByte(Bytes& out, std::uint8_t b) { out.push_back(static_cast<char>(b)); }

// Answers WILL/DO/WONT/DONT `option` (the state names which of the four it was): the ECHO
// notification first when there is one, then the 3-byte reply in one write.
void AnswerNegotiation(State state, std::uint8_t option, TelnetInterpreterHost& host) {
  const bool echo = option == OPT_ECHO;
  std::uint8_t reply = 0;
  switch (state) {
    case State::tpsWill:
      if (echo) host.FireTelnetCommand(TTelnetCommand::tcServerEchoes);
      reply = (echo || option == OPT_END_OF_RECORD) ? DO : DONT;
      break;
    case State::tpsDo:
      if (echo) host.FireTelnetCommand(TTelnetCommand::tcClientEchoes);
      reply = (echo || option == OPT_TERMINAL_TYPE) ? WILL : WONT;
      break;
    case State::tpsWont:
      if (echo) host.FireTelnetCommand(TTelnetCommand::tcClientEchoes);
      reply = DONT;
      break;
    case State::tpsDont:
      if (echo) host.FireTelnetCommand(TTelnetCommand::tcClientNoEcho);
      reply = WONT;
      break;
    default:
      return;  // not reached: only called in the four negotiation states
  }
  Bytes out;
  out.reserve(3);
  AppendByte(out, IAC);
  AppendByte(out, reply);
  AppendByte(out, option);
  host.WriteReply(out);
}

// Run when IAC SE or IAC SB ends a subnegotiation. Only a subnegotiation whose last data
// byte (as seen in this call) is SEND is answered, whatever its option code.
void AnswerSubnegotiation(std::int32_t subDataCount, int subLastByte,
                          TelnetInterpreterHost& host) {
  if (subDataCount < 1 || subLastByte != TT_SEND) return;
  const Bytes terminal = host.TerminalForReply();  // the host turns an empty Terminal into "dumb"
  Bytes out;
  out.reserve(6 + terminal.size());
  AppendByte(out, IAC);
  AppendByte(out, SB);
  AppendByte(out, OPT_TERMINAL_TYPE);
  AppendByte(out, TT_IS);
  out += terminal;  // exactly as stored: no byte doubled, no change of case
  AppendByte(out, IAC);
  AppendByte(out, SE);
  host.WriteReply(out);
}

}  // namespace

Bytes TTelnetInterpreter::ProcessTelnetStream(const Bytes& raw, TelnetInterpreterHost& host) {
  constexpr int kAbsent = -1;
  Bytes output;
  output.reserve(raw.size());  // the output is never longer than the block
  // Per call: 1 at the start so that a subnegotiation continued from the previous block
  // counts as having data; 0 at SB and at the option code; +1 per data byte.
  std::int32_t subDataCount = 1;
  int subLastByte = kAbsent;  // the last data byte of the subnegotiation seen in this call

  const auto countSubData = [&](std::uint8_t b) {
    // Saturating: only "at least 1" matters, and a huge block must not wrap it negative.
    if (subDataCount < std::numeric_limits<std::int32_t>::max()) ++subDataCount;
    subLastByte = b;
  };

  for (const char c : raw) {
    const auto b = static_cast<std::uint8_t>(c);
    switch (parseState_) {
      case State::tpsData:
        if (b == IAC) {
          host.SetPeerIsTelnet();
          parseState_ = State::tpsCommand;
        } else {
          AppendByte(output, b);
        }
        break;

      case State::tpsCommand:
        switch (b) {
          case SB:
            subDataCount = 0;
            parseState_ = State::tpsSubOption;
            break;
          case WILL: parseState_ = State::tpsWill; break;
          case WONT: parseState_ = State::tpsWont; break;
          case DO: parseState_ = State::tpsDo; break;
          case DONT: parseState_ = State::tpsDont; break;
          case IAC:
            AppendByte(output, IAC);  // doubled IAC: one data byte 255
            parseState_ = State::tpsData;
            break;
          default:
            // 0..249 (SE, NOP, DM, BRK, IP, AO, AYT, EC, EL, GA and anything else):
            // the IAC and this byte are both dropped.
            parseState_ = State::tpsData;
            break;
        }
        break;

      case State::tpsWill:
      case State::tpsDo:
      case State::tpsWont:
      case State::tpsDont:
        // Any byte, 255 included, is the option code. The state moves on only after the
        // reply has been written.
        AnswerNegotiation(parseState_, b, host);
        parseState_ = State::tpsData;
        break;

      case State::tpsSubOption:
        if (b == IAC) {
          parseState_ = State::tpsSubSkip;
        } else {
          subDataCount = 0;  // b is the option code; it is not kept
          parseState_ = State::tpsSubData;
        }
        break;

      case State::tpsSubSkip:
        parseState_ = State::tpsData;  // IAC SB IAC x: x is dropped
        break;

      case State::tpsSubData:
        if (b == IAC) {
          parseState_ = State::tpsSubCommand;
        } else {
          countSubData(b);
        }
        break;

      case State::tpsSubCommand:
        switch (b) {
          case SE:
            AnswerSubnegotiation(subDataCount, subLastByte, host);
            parseState_ = State::tpsData;
            break;
          case SB:
            // Ends this subnegotiation and opens the next one.
            AnswerSubnegotiation(subDataCount, subLastByte, host);
            parseState_ = State::tpsSubOption;
            break;
          case IAC:
            countSubData(IAC);  // doubled IAC inside a subnegotiation
            parseState_ = State::tpsSubData;
            break;
          default:
            parseState_ = State::tpsData;  // abandoned without an answer; b dropped
            break;
        }
        break;
    }
  }
  return output;
}
