// libFuzzer target for the Telnet stream interpreter.
//
// Input: the first byte picks where the rest is cut in two; the rest is what a server sent.
// On every input the interpreter is run several ways and these properties are checked
// (any violation aborts):
//   1. nothing crashes (ASan/UBSan watch memory and undefined behaviour);
//   2. the data returned is never longer than the block;
//   3. a block without a byte 255 comes back unchanged, with no write, no notification,
//      PeerIsTelnet untouched and ParseState still tpsData;
//   4. every write is one well-formed reply: IAC + WILL/WONT/DO/DONT + option (3 bytes), or
//      the terminal-type reply 255 250 24 0 <Terminal> 255 240; there are never more
//      writes than IAC bytes in the input;
//   5. every notification is immediately followed by the reply to its ECHO command, and
//      every 3-byte reply about ECHO (option 1) immediately follows its notification;
//   6. the same input cut in two blocks gives the same data, the same ParseState at the
//      end, the same PeerIsTelnet calls and the same notifications and negotiation replies.
//      Terminal-type replies depend on SubDataCount/SubLastByte, which live for one call
//      only, so a subnegotiation whose data spans the cut may be answered differently:
//      the full list of writes is compared only when the state at the cut is neither
//      tpsSubData nor tpsSubCommand (the cut does not fall among the data bytes of a
//      subnegotiation). Outside those two states the per-call values are reset at the next
//      option code before they can matter, so there the results must be identical;
//   7. fed one byte per call, the data and the negotiation replies are the same and no
//      terminal-type reply is written (an IAC SE alone in its call has no SEND before it);
//   8. a host whose n-th WriteReply raises (n picked from the first byte): the exception
//      comes out, what was written and notified before it is exactly the start of the
//      normal run, and ParseState is the state in which that reply was due.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/bytes.h"
#include "telnet/support/recording_host.h"
#include "telnet/telnet_interpreter.h"

namespace {

using S = TTelnetParseState;
using telnettest::HostEvent;
using telnettest::HostFailure;
using telnettest::RecordingHost;

#define FUZZ_CHECK(cond)                                                             \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "property violated at line %d: %s\n", __LINE__, #cond); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

const Bytes kTerminal = "dumb";

bool IsTerminalReply(const Bytes& w) {
  const Bytes expected = BytesOf({255, 250, 24, 0}) + kTerminal + BytesOf({255, 240});
  return w == expected;
}

bool IsNegotiationReply(const Bytes& w) {
  return w.size() == 3 && Byte(w, 0) == 255 && Byte(w, 1) >= 251 && Byte(w, 1) <= 254;
}

Bytes EchoReplyFor(TTelnetCommand c, bool alternative) {
  switch (c) {
    case TTelnetCommand::tcServerEchoes: return BytesOf({255, 253, 1});
    case TTelnetCommand::tcClientEchoes:
      return alternative ? BytesOf({255, 254, 1}) : BytesOf({255, 251, 1});
    case TTelnetCommand::tcClientNoEcho: return BytesOf({255, 252, 1});
  }
  return Bytes();
}

std::vector<HostEvent> WithoutTerminalReplies(const std::vector<HostEvent>& log) {
  std::vector<HostEvent> out;
  for (const auto& e : log)
    if (!(e.kind == HostEvent::Kind::Write && e.reply.size() != 3)) out.push_back(e);
  return out;
}

void CheckLog(const std::vector<HostEvent>& log) {
  for (std::size_t i = 0; i < log.size(); ++i) {
    const HostEvent& e = log[i];
    if (e.kind == HostEvent::Kind::Write) {
      FUZZ_CHECK(IsNegotiationReply(e.reply) || IsTerminalReply(e.reply));
      if (e.reply.size() == 3 && Byte(e.reply, 2) == 1) {
        FUZZ_CHECK(i > 0 && log[i - 1].kind == HostEvent::Kind::Notify);
      }
    } else {
      FUZZ_CHECK(i + 1 < log.size() && log[i + 1].kind == HostEvent::Kind::Write);
      const Bytes& reply = log[i + 1].reply;
      FUZZ_CHECK(reply == EchoReplyFor(e.status, false) || reply == EchoReplyFor(e.status, true));
    }
  }
}

// The states in which a failing reply may leave the interpreter, by the reply's command.
bool StateMatchesReply(S state, const Bytes& reply) {
  if (reply.size() != 3) return state == S::tpsSubCommand;
  switch (Byte(reply, 1)) {
    case 253: return state == S::tpsWill;                       // DO: to WILL
    case 254: return state == S::tpsWill || state == S::tpsWont;  // DONT: to WILL or WONT
    case 251: return state == S::tpsDo;                         // WILL: to DO
    case 252: return state == S::tpsDo || state == S::tpsDont;  // WONT: to DO or DONT
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const unsigned selector = size > 0 ? data[0] : 0u;
  const Bytes input = size > 0 ? Bytes(reinterpret_cast<const char*>(data) + 1, size - 1) : Bytes();
  std::size_t iacs = 0;
  for (const char c : input)
    if (static_cast<std::uint8_t>(c) == 255) ++iacs;

  // One block.
  TTelnetInterpreter whole;
  RecordingHost wholeHost;
  wholeHost.terminal = kTerminal;
  const Bytes out = whole.ProcessTelnetStream(input, wholeHost);
  FUZZ_CHECK(out.size() <= input.size());
  if (iacs == 0) {
    FUZZ_CHECK(out == input);
    FUZZ_CHECK(wholeHost.log.empty());
    FUZZ_CHECK(wholeHost.peerCalls == 0);
    FUZZ_CHECK(whole.ParseState() == S::tpsData);
  }
  FUZZ_CHECK(wholeHost.writeAttempts <= iacs);
  FUZZ_CHECK(wholeHost.terminal == kTerminal);
  CheckLog(wholeHost.log);
  const std::vector<HostEvent> negotiation = WithoutTerminalReplies(wholeHost.log);

  // Two blocks, cut where the selector says.
  {
    const std::size_t cut = selector % (input.size() + 1);
    TTelnetInterpreter split;
    RecordingHost splitHost;
    splitHost.terminal = kTerminal;
    Bytes joined = split.ProcessTelnetStream(input.substr(0, cut), splitHost);
    const S atCut = split.ParseState();
    joined += split.ProcessTelnetStream(input.substr(cut), splitHost);
    CheckLog(splitHost.log);
    FUZZ_CHECK(joined == out);
    FUZZ_CHECK(split.ParseState() == whole.ParseState());
    FUZZ_CHECK(splitHost.peerCalls == wholeHost.peerCalls);
    FUZZ_CHECK(WithoutTerminalReplies(splitHost.log) == negotiation);
    if (atCut != S::tpsSubData && atCut != S::tpsSubCommand) {
      FUZZ_CHECK(splitHost.log == wholeHost.log);
    }
  }

  // One byte per call.
  {
    TTelnetInterpreter single;
    RecordingHost singleHost;
    singleHost.terminal = kTerminal;
    Bytes joined;
    for (const char c : input) joined += single.ProcessTelnetStream(Bytes(1, c), singleHost);
    FUZZ_CHECK(joined == out);
    FUZZ_CHECK(single.ParseState() == whole.ParseState());
    FUZZ_CHECK(singleHost.log == negotiation);
  }

  // A host whose n-th write raises.
  const std::vector<Bytes> writes = wholeHost.Writes();
  if (!writes.empty()) {
    const std::size_t n = selector % writes.size();
    TTelnetInterpreter failing;
    RecordingHost failingHost;
    failingHost.terminal = kTerminal;
    failingHost.failWriteAt = n;
    bool raised = false;
    try {
      failing.ProcessTelnetStream(input, failingHost);
    } catch (const HostFailure&) {
      raised = true;
    }
    FUZZ_CHECK(raised);
    FUZZ_CHECK(failingHost.writeAttempts == n + 1);
    // What got through is the normal run up to (not including) the n-th write.
    std::size_t seenWrites = 0, end = 0;
    while (end < wholeHost.log.size()) {
      if (wholeHost.log[end].kind == HostEvent::Kind::Write && seenWrites++ == n) break;
      ++end;
    }
    FUZZ_CHECK(failingHost.log ==
               std::vector<HostEvent>(wholeHost.log.begin(),
                                      wholeHost.log.begin() + static_cast<std::ptrdiff_t>(end)));
    FUZZ_CHECK(StateMatchesReply(failing.ParseState(), writes[n]));
  }
  return 0;
}
