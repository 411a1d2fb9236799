// Tests of the Telnet stream interpreter on its own, with a recording host in place of the
// component: data returned per block, replies and notifications in order, ParseState across
// blocks, PeerIsTelnet, the terminal-type answer and what happens when the host raises.
#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "telnet/support/recording_host.h"
#include "telnet/telnet_interpreter.h"

using S = TTelnetParseState;
using C = TTelnetCommand;
using telnettest::HostEvent;
using telnettest::HostFailure;
using telnettest::RecordingHost;

// Readable failure messages: byte strings as decimal values, states and events by name.
void PrintTo(TTelnetParseState s, std::ostream* os) {
  static const char* const names[] = {"tpsData",  "tpsCommand", "tpsSubOption", "tpsWill",
                                      "tpsDo",    "tpsWont",    "tpsDont",      "tpsSubSkip",
                                      "tpsSubData", "tpsSubCommand"};
  *os << names[static_cast<int>(s)];
}
void PrintTo(TTelnetCommand c, std::ostream* os) {
  static const char* const names[] = {"tcServerEchoes", "tcClientEchoes", "tcClientNoEcho"};
  *os << names[static_cast<int>(c)];
}

namespace {

std::string Dec(const Bytes& b) {
  std::string s;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i) s += ' ';
    s += std::to_string(Byte(b, i));
  }
  return "[" + s + "]";
}

std::vector<std::string> Describe(const std::vector<HostEvent>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) {
    if (e.kind == HostEvent::Kind::Write) {
      out.push_back("write " + Dec(e.reply));
    } else {
      static const char* const names[] = {"tcServerEchoes", "tcClientEchoes", "tcClientNoEcho"};
      out.push_back(std::string("notify ") + names[static_cast<int>(e.status)]);
    }
  }
  return out;
}

Bytes B(std::initializer_list<int> v) { return BytesOf(v); }
HostEvent W(std::initializer_list<int> v) { return HostEvent::Write(BytesOf(v)); }
HostEvent N(C c) { return HostEvent::Notify(c); }

// The terminal-type reply for a given Terminal: IAC SB TERMINAL-TYPE IS <terminal> IAC SE.
Bytes TerminalReply(const Bytes& terminal) { return B({255, 250, 24, 0}) + terminal + B({255, 240}); }
HostEvent Dumb() { return HostEvent::Write(TerminalReply("dumb")); }

Bytes AllBytesBut255() {
  Bytes b;
  for (int v = 0; v < 255; ++v) b.push_back(static_cast<char>(v));
  return b;
}

// ---------------------------------------------------------------------------------------
// Edge cases: each row feeds its blocks in order to one interpreter and one host.

struct Step {
  Bytes block;
  Bytes result;
  std::vector<HostEvent> events;  // written / notified during this call, in order
};

struct Case {
  const char* name;
  S start = S::tpsData;
  std::vector<Step> steps = {};
  S end = S::tpsData;
  bool peer = false;
  Bytes terminal = "dumb";
  Bytes terminalAfter = "dumb";
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {.name = "EmptyBlock", .steps = {{Bytes(), Bytes(), {}}}},
    {.name = "EmptyBlockKeepsWillState",
     .start = S::tpsWill, .steps = {{Bytes(), Bytes(), {}}}, .end = S::tpsWill},
    {.name = "EmptyBlockKeepsSubCommandState",
     .start = S::tpsSubCommand, .steps = {{Bytes(), Bytes(), {}}}, .end = S::tpsSubCommand},
    {.name = "BlockWithout255IsUnchanged",
     .steps = {{AllBytesBut255(), AllBytesBut255(), {}}}},
    {.name = "DoubledIacIsOneDataByte",
     .steps = {{B({65, 255, 255, 66}), B({65, 255, 66}), {}}}, .peer = true},
    {.name = "BlockBeginningWithDoubledIac",
     .steps = {{B({255, 255, 97}), B({255, 97}), {}}}, .peer = true},
    {.name = "FourIacsGiveTwo",
     .steps = {{B({255, 255, 255, 255}), B({255, 255}), {}}}, .peer = true},
    {.name = "TrailingIacLeavesCommandState",
     .steps = {{B({97, 255}), B({97}), {}}}, .end = S::tpsCommand, .peer = true},
    {.name = "TrailingIacThenWillEcho",
     .steps = {{B({97, 255}), B({97}), {}},
               {B({251, 1, 98}), B({98}), {N(C::tcServerEchoes), W({255, 253, 1})}}},
     .peer = true},
    {.name = "TrailingIacThenIac",
     .steps = {{B({97, 255}), B({97}), {}}, {B({255, 98}), B({255, 98}), {}}}, .peer = true},
    {.name = "TrailingIacWillLeavesWillState",
     .steps = {{B({97, 255, 251}), B({97}), {}}}, .end = S::tpsWill, .peer = true},
    {.name = "TrailingIacWillThenOption",
     .steps = {{B({97, 255, 251}), B({97}), {}}, {B({3, 98}), B({98}), {W({255, 254, 3})}}},
     .peer = true},
    {.name = "WillEcho",
     .steps = {{B({255, 251, 1}), Bytes(), {N(C::tcServerEchoes), W({255, 253, 1})}}},
     .peer = true},
    {.name = "WillEndOfRecord", .steps = {{B({255, 251, 25}), Bytes(), {W({255, 253, 25})}}},
     .peer = true},
    {.name = "WillOther", .steps = {{B({255, 251, 3}), Bytes(), {W({255, 254, 3})}}},
     .peer = true},
    {.name = "DoTerminalType", .steps = {{B({255, 253, 24}), Bytes(), {W({255, 251, 24})}}},
     .peer = true},
    {.name = "DoEcho",
     .steps = {{B({255, 253, 1}), Bytes(), {N(C::tcClientEchoes), W({255, 251, 1})}}},
     .peer = true},
    {.name = "DoOther", .steps = {{B({255, 253, 31}), Bytes(), {W({255, 252, 31})}}},
     .peer = true},
    {.name = "WontEcho",
     .steps = {{B({255, 252, 1}), Bytes(), {N(C::tcClientEchoes), W({255, 254, 1})}}},
     .peer = true},
    {.name = "DontEcho",
     .steps = {{B({255, 254, 1}), Bytes(), {N(C::tcClientNoEcho), W({255, 252, 1})}}},
     .peer = true},
    {.name = "WontOther", .steps = {{B({255, 252, 7}), Bytes(), {W({255, 254, 7})}}},
     .peer = true},
    {.name = "DontOther", .steps = {{B({255, 254, 7}), Bytes(), {W({255, 252, 7})}}},
     .peer = true},
    {.name = "SameCommandTwiceAnsweredTwice",
     .steps = {{B({255, 251, 1, 255, 251, 1, 255, 253, 5, 255, 253, 5}), Bytes(),
                {N(C::tcServerEchoes), W({255, 253, 1}), N(C::tcServerEchoes), W({255, 253, 1}),
                 W({255, 252, 5}), W({255, 252, 5})}}},
     .peer = true},
    {.name = "OptionCode255",
     .steps = {{B({255, 251, 255, 255, 253, 255, 97}), B({97}),
                {W({255, 254, 255}), W({255, 252, 255})}}},
     .peer = true},
    {.name = "ReplyWrittenDataKept",
     .steps = {{B({97, 98, 255, 253, 24, 99, 100}), B({97, 98, 99, 100}), {W({255, 251, 24})}}},
     .peer = true},
    {.name = "CommandsOnlyGiveEmptyResult",
     .steps = {{B({255, 251, 1, 255, 253, 24, 255, 241, 255, 250, 24, 1, 255, 240}), Bytes(),
                {N(C::tcServerEchoes), W({255, 253, 1}), W({255, 251, 24}), Dumb()}}},
     .peer = true},
    {.name = "UnansweredCommandsDroppedWhole",
     .steps = {{B({97, 255, 241, 98, 255, 249, 99, 255, 246, 100, 255, 240, 101, 255, 239, 102,
                  255, 65, 103}),
                B({97, 98, 99, 100, 101, 102, 103}), {}}},
     .peer = true},
    {.name = "TerminalTypeSend",
     .steps = {{B({255, 250, 24, 1, 255, 240}), Bytes(), {Dumb()}}}, .peer = true},
    {.name = "TerminalTypeSendWithEmptyTerminal",
     .steps = {{B({255, 250, 24, 1, 255, 240}), Bytes(), {Dumb()}}}, .peer = true,
     .terminal = "", .terminalAfter = "dumb"},
    {.name = "TerminalSentAsStored",
     .steps = {{B({255, 250, 24, 1, 255, 240}), Bytes(), {HostEvent::Write(TerminalReply("VT100"))}}},
     .peer = true, .terminal = "VT100", .terminalAfter = "VT100"},
    {.name = "TerminalByte255NotDoubled",
     .steps = {{B({255, 250, 24, 1, 255, 240}), Bytes(),
                {HostEvent::Write(TerminalReply(B({97, 255, 98})))}}},
     .peer = true, .terminal = B({97, 255, 98}), .terminalAfter = B({97, 255, 98})},
    {.name = "SubnegotiationWithIsUnanswered",
     .steps = {{B({255, 250, 24, 0, 255, 240}), Bytes(), {}}}, .peer = true},
    {.name = "SubnegotiationWithoutDataUnanswered",
     .steps = {{B({255, 250, 24, 255, 240}), Bytes(), {}}}, .peer = true},
    {.name = "SubnegotiationOptionNotExamined",
     .steps = {{B({255, 250, 31, 1, 255, 240}), Bytes(), {Dumb()}}}, .peer = true},
    {.name = "LastDataByteSendAnswered",
     .steps = {{B({255, 250, 24, 0, 1, 255, 240}), Bytes(), {Dumb()}}}, .peer = true},
    {.name = "LastDataByteNotSendUnanswered",
     .steps = {{B({255, 250, 24, 1, 0, 255, 240}), Bytes(), {}}}, .peer = true},
    {.name = "LastDataByteDoubledIacUnanswered",
     .steps = {{B({255, 250, 24, 1, 255, 255, 255, 240}), Bytes(), {}}}, .peer = true},
    {.name = "DoubledIacThenSendAnswered",
     .steps = {{B({255, 250, 24, 255, 255, 1, 255, 240}), Bytes(), {Dumb()}}}, .peer = true},
    {.name = "SbEndsSubnegotiationAndOpensNext",
     .steps = {{B({255, 250, 24, 1, 255, 250, 24, 1, 255, 240}), Bytes(), {Dumb(), Dumb()}}},
     .peer = true},
    {.name = "SubnegotiationWithoutDataAfterAnsweredOne",
     .steps = {{B({255, 250, 24, 1, 255, 250, 24, 255, 240}), Bytes(), {Dumb()}}},
     .peer = true},
    {.name = "BrokenSubnegotiationAbandoned",
     .steps = {{B({255, 250, 24, 1, 255, 65, 98, 99}), B({98, 99}), {}}}, .peer = true},
    {.name = "SbIacSkipsNextByte",
     .steps = {{B({255, 250, 255, 240, 97, 98, 99}), B({97, 98, 99}), {}}}, .peer = true},
    {.name = "DataAroundSubnegotiation",
     .steps = {{B({97, 255, 250, 24, 1, 255, 240, 98}), B({97, 98}), {Dumb()}}}, .peer = true},
    {.name = "SubnegotiationEndsInSubData",
     .steps = {{B({255, 250, 24, 1}), Bytes(), {}}}, .end = S::tpsSubData, .peer = true},
    {.name = "SplitAfterOptionCodeAnswered",
     .steps = {{B({255, 250, 24}), Bytes(), {}}, {B({1, 255, 240}), Bytes(), {Dumb()}}},
     .peer = true},
    {.name = "SplitAfterSendUnanswered",
     .steps = {{B({255, 250, 24, 1}), Bytes(), {}}, {B({255, 240}), Bytes(), {}}},
     .peer = true},
    {.name = "SplitBeforeSeUnanswered",
     .steps = {{B({255, 250, 24, 1, 255}), Bytes(), {}}, {B({240}), Bytes(), {}}},
     .peer = true},
    {.name = "SplitAfterSbAnswered",
     .steps = {{B({255, 250}), Bytes(), {}}, {B({24, 1, 255, 240}), Bytes(), {Dumb()}}},
     .peer = true},
    {.name = "TerminalTypeRequestByteAtATimeUnanswered",
     .steps = {{B({255}), Bytes(), {}}, {B({250}), Bytes(), {}}, {B({24}), Bytes(), {}},
               {B({1}), Bytes(), {}}, {B({255}), Bytes(), {}}, {B({240}), Bytes(), {}}},
     .peer = true},
    {.name = "StartInSubDataCountsAsHavingData",
     .start = S::tpsSubData, .steps = {{B({1, 255, 240, 97}), B({97}), {Dumb()}}}},
    {.name = "StartInSubCommandSeWithoutDataUnanswered",
     .start = S::tpsSubCommand, .steps = {{B({240, 97}), B({97}), {}}}},
    {.name = "StartInSubCommandSbWithoutDataUnanswered",
     .start = S::tpsSubCommand, .steps = {{B({250}), Bytes(), {}}}, .end = S::tpsSubOption},
    {.name = "StartInSubOption",
     .start = S::tpsSubOption, .steps = {{B({24, 1, 255, 240}), Bytes(), {Dumb()}}}},
    {.name = "StartInSubSkipDropsIac",
     .start = S::tpsSubSkip, .steps = {{B({255, 97}), B({97}), {}}}},
    {.name = "IacAfterIacDoesNotSetPeer",
     .start = S::tpsCommand, .steps = {{B({255}), B({255}), {}}}},
    {.name = "IacInsideSubnegotiationDoesNotSetPeer",
     .start = S::tpsSubData, .steps = {{B({255, 255, 255, 240}), Bytes(), {}}}},
    {.name = "IacAsOptionCodeDoesNotSetPeer",
     .start = S::tpsWill, .steps = {{B({255}), Bytes(), {W({255, 254, 255})}}}},
};

class EdgeCase : public ::testing::TestWithParam<Case> {};

TEST_P(EdgeCase, Behaves) {
  const Case& c = GetParam();
  TTelnetInterpreter interp;
  interp.SetParseState(c.start);
  RecordingHost host;
  host.terminal = c.terminal;
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i) + " " + Dec(c.steps[i].block));
    const std::size_t before = host.log.size();
    const Bytes result = interp.ProcessTelnetStream(c.steps[i].block, host);
    EXPECT_EQ(Dec(result), Dec(c.steps[i].result));
    const std::vector<HostEvent> during(host.log.begin() + static_cast<std::ptrdiff_t>(before),
                                        host.log.end());
    EXPECT_EQ(Describe(during), Describe(c.steps[i].events));
  }
  EXPECT_EQ(interp.ParseState(), c.end);
  EXPECT_EQ(host.peerIsTelnet, c.peer);
  EXPECT_EQ(Dec(host.terminal), Dec(c.terminalAfter));
}

INSTANTIATE_TEST_SUITE_P(Interpreter, EdgeCase, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) {
                           return std::string(p.param.name);
                         });

// ---------------------------------------------------------------------------------------
// Every byte value after each kind of prefix, checked against the rule it falls under.

struct Outcome {
  Bytes result;
  std::vector<HostEvent> events;
  S end;
};

Outcome RunOne(const Bytes& block, S start = S::tpsData) {
  TTelnetInterpreter interp;
  interp.SetParseState(start);
  RecordingHost host;
  Outcome r;
  r.result = interp.ProcessTelnetStream(block, host);
  r.events = host.log;
  r.end = interp.ParseState();
  return r;
}

Bytes One(int b) { return B({b}); }

TEST(InterpreterSweep, EveryByteAfterIac) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({97, 255, b, 98}));
    EXPECT_TRUE(r.events.empty() || (b >= 251 && b <= 254));
    switch (b) {
      case 250:  // SB: 98 is the option code of a subnegotiation
        EXPECT_EQ(Dec(r.result), Dec(B({97})));
        EXPECT_EQ(r.end, S::tpsSubData);
        break;
      case 251: case 252: case 253: case 254:  // negotiation: 98 is its option code
        EXPECT_EQ(Dec(r.result), Dec(B({97})));
        ASSERT_EQ(r.events.size(), 1u);
        EXPECT_EQ(r.end, S::tpsData);
        break;
      case 255:  // doubled IAC
        EXPECT_EQ(Dec(r.result), Dec(B({97, 255, 98})));
        EXPECT_EQ(r.end, S::tpsData);
        break;
      default:  // 0..249: IAC and b dropped, what follows is data
        EXPECT_EQ(Dec(r.result), Dec(B({97, 98})));
        EXPECT_TRUE(r.events.empty());
        EXPECT_EQ(r.end, S::tpsData);
    }
  }
}

TEST(InterpreterSweep, IacAndCommandByteAtEndOfBlockSelectNextState) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({255, b}));
    S expected = S::tpsData;
    if (b == 250) expected = S::tpsSubOption;
    if (b == 251) expected = S::tpsWill;
    if (b == 252) expected = S::tpsWont;
    if (b == 253) expected = S::tpsDo;
    if (b == 254) expected = S::tpsDont;
    EXPECT_EQ(r.end, expected);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(Dec(r.result), Dec(b == 255 ? One(255) : Bytes()));
  }
}

// One negotiation command over every option code: the reply byte for the ECHO option, the
// one other accepted option (if any) and everything else, and the ECHO notification.
struct NegotiationRule {
  const char* name;
  int command;
  int acceptedOption;  // the one option besides ECHO that is accepted, or -1
  int acceptReply;     // reply command for ECHO / the accepted option
  int refuseReply;     // reply command for every other option
  C echoStatus;
};

void SweepNegotiation(const NegotiationRule& rule) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(std::string(rule.name) + " option " + std::to_string(b));
    const Outcome r = RunOne(B({97, 255, rule.command, b, 98}));
    std::vector<HostEvent> expected;
    if (b == 1) expected.push_back(N(rule.echoStatus));
    const bool accepted = b == 1 || b == rule.acceptedOption;
    expected.push_back(W({255, accepted ? rule.acceptReply : rule.refuseReply, b}));
    EXPECT_EQ(Describe(r.events), Describe(expected));
    EXPECT_EQ(Dec(r.result), Dec(B({97, 98})));
    EXPECT_EQ(r.end, S::tpsData);
  }
}

TEST(InterpreterSweep, EveryOptionAfterWill) {
  SweepNegotiation({"WILL", 251, 25, 253, 254, C::tcServerEchoes});
}
TEST(InterpreterSweep, EveryOptionAfterDo) {
  SweepNegotiation({"DO", 253, 24, 251, 252, C::tcClientEchoes});
}
TEST(InterpreterSweep, EveryOptionAfterWont) {
  SweepNegotiation({"WONT", 252, -1, 254, 254, C::tcClientEchoes});
}
TEST(InterpreterSweep, EveryOptionAfterDont) {
  SweepNegotiation({"DONT", 254, -1, 252, 252, C::tcClientNoEcho});
}

TEST(InterpreterSweep, EveryByteAfterIacSb) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({97, 255, 250, b, 1, 255, 240, 98}));
    if (b == 255) {
      // IAC SB IAC: the 1 is dropped, IAC SE outside a subnegotiation is dropped.
      EXPECT_TRUE(r.events.empty());
    } else {
      // Any other byte is the option code, never examined.
      EXPECT_EQ(Describe(r.events), Describe({Dumb()}));
    }
    EXPECT_EQ(Dec(r.result), Dec(B({97, 98})));
    EXPECT_EQ(r.end, S::tpsData);
  }
}

TEST(InterpreterSweep, EveryByteAfterIacSbIacIsDropped) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({255, 250, 255, b, 97}));
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(Dec(r.result), Dec(B({97})));
    EXPECT_EQ(r.end, S::tpsData);
  }
}

TEST(InterpreterSweep, EveryLastSubnegotiationDataByte) {
  for (int b = 0; b < 255; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({255, 250, 24, 7, b, 255, 240}));
    EXPECT_EQ(Describe(r.events), Describe(b == 1 ? std::vector<HostEvent>{Dumb()}
                                                  : std::vector<HostEvent>{}));
    EXPECT_TRUE(r.result.empty());
    EXPECT_EQ(r.end, S::tpsData);
  }
}

TEST(InterpreterSweep, EveryByteAfterIacInsideSubnegotiation) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({255, 250, 24, 1, 255, b, 97}));
    switch (b) {
      case 240:  // SE: answered, then data
        EXPECT_EQ(Describe(r.events), Describe({Dumb()}));
        EXPECT_EQ(Dec(r.result), Dec(B({97})));
        EXPECT_EQ(r.end, S::tpsData);
        break;
      case 250:  // SB: answered, and 97 is the option code of the next one
        EXPECT_EQ(Describe(r.events), Describe({Dumb()}));
        EXPECT_TRUE(r.result.empty());
        EXPECT_EQ(r.end, S::tpsSubData);
        break;
      case 255:  // doubled IAC: a data byte of the subnegotiation, and so is 97
        EXPECT_TRUE(r.events.empty());
        EXPECT_TRUE(r.result.empty());
        EXPECT_EQ(r.end, S::tpsSubData);
        break;
      default:  // abandoned without an answer, b dropped, 97 is data
        EXPECT_TRUE(r.events.empty());
        EXPECT_EQ(Dec(r.result), Dec(B({97})));
        EXPECT_EQ(r.end, S::tpsData);
    }
  }
}

TEST(InterpreterSweep, EveryByteButIacIsData) {
  // Every value but 255 passes as data, also right after a completed command.
  for (int b = 0; b < 255; ++b) {
    SCOPED_TRACE("byte " + std::to_string(b));
    const Outcome r = RunOne(B({b, 255, 251, 3, b}));
    EXPECT_EQ(Dec(r.result), Dec(B({b, b})));
    EXPECT_EQ(r.end, S::tpsData);
  }
}

// ---------------------------------------------------------------------------------------
// PeerIsTelnet

TEST(InterpreterPeer, SetAtEveryIacInDataOnly) {
  TTelnetInterpreter interp;
  RecordingHost host;
  // IACs met in tpsData: the first of 255 255, the one before WILL, the one before SB.
  // Not: the second of 255 255, the option code 255, the IACs inside the subnegotiation.
  interp.ProcessTelnetStream(B({255, 255, 255, 251, 255, 255, 250, 24, 255, 255, 1, 255, 240}),
                             host);
  EXPECT_EQ(host.peerCalls, 3u);
  EXPECT_TRUE(host.peerIsTelnet);
}

TEST(InterpreterPeer, NotSetWithoutIac) {
  TTelnetInterpreter interp;
  RecordingHost host;
  interp.ProcessTelnetStream(AllBytesBut255(), host);
  interp.ProcessTelnetStream(Bytes(), host);
  EXPECT_EQ(host.peerCalls, 0u);
  EXPECT_FALSE(host.peerIsTelnet);
}

// ---------------------------------------------------------------------------------------
// The same stream cut into blocks.

// Feeds `blocks` in order to a fresh interpreter; returns concatenated data and the log,
// and the state after each block but the last.
struct Fed {
  Bytes data;
  std::vector<HostEvent> events;
  std::vector<S> statesBetween;
};

Fed Feed(const std::vector<Bytes>& blocks) {
  TTelnetInterpreter interp;
  RecordingHost host;
  Fed f;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    f.data += interp.ProcessTelnetStream(blocks[i], host);
    if (i + 1 < blocks.size()) f.statesBetween.push_back(interp.ParseState());
  }
  f.events = host.log;
  return f;
}

bool InsideSubnegotiationData(S s) { return s == S::tpsSubData || s == S::tpsSubCommand; }

std::vector<HostEvent> WithoutTerminalReplies(const std::vector<HostEvent>& events) {
  std::vector<HostEvent> out;
  for (const auto& e : events)
    if (!(e.kind == HostEvent::Kind::Write && e.reply.size() > 3)) out.push_back(e);
  return out;
}

// Data, doubled IACs, all four negotiations with and without ECHO, dropped commands, a
// terminal-type request, an IS subnegotiation, a broken one and IAC SB IAC.
const Bytes kMixedStream =
    B({97,  255, 251, 1,   98,  255, 255, 99,  255, 253, 24,  255, 241, 100, 255, 250, 24,
       1,   255, 240, 101, 255, 252, 1,   255, 254, 1,   255, 253, 1,   102, 255, 250, 24,
       0,   255, 255, 255, 240, 103, 255, 251, 25,  255, 254, 9,   255, 250, 24,  1,   255,
       65,  104, 255, 250, 255, 66,  105, 255, 251, 255, 255, 250, 31,  255, 255, 1,   255,
       250, 24,  1,   255, 240, 106, 255});

TEST(InterpreterSplit, EveryCutOutsideSubnegotiationDataGivesTheSameResult) {
  const Fed whole = Feed({kMixedStream});
  // The stream holds three answered terminal-type requests.
  ASSERT_EQ(whole.events.size() - WithoutTerminalReplies(whole.events).size(), 3u);
  std::size_t compared = 0;
  for (std::size_t cut = 0; cut <= kMixedStream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Fed split = Feed({kMixedStream.substr(0, cut), kMixedStream.substr(cut)});
    // Data and negotiation never depend on the per-call subnegotiation values.
    EXPECT_EQ(Dec(split.data), Dec(whole.data));
    EXPECT_EQ(Describe(WithoutTerminalReplies(split.events)),
              Describe(WithoutTerminalReplies(whole.events)));
    if (!InsideSubnegotiationData(split.statesBetween[0])) {
      EXPECT_EQ(Describe(split.events), Describe(whole.events));
      ++compared;
    }
  }
  EXPECT_GT(compared, kMixedStream.size() / 2);
}

TEST(InterpreterSplit, EveryPairOfCutsOutsideSubnegotiationDataGivesTheSameResult) {
  const Fed whole = Feed({kMixedStream});
  const std::size_t n = kMixedStream.size();
  for (std::size_t i = 0; i <= n; ++i) {
    for (std::size_t j = i; j <= n; ++j) {
      const Fed split =
          Feed({kMixedStream.substr(0, i), kMixedStream.substr(i, j - i), kMixedStream.substr(j)});
      ASSERT_EQ(Dec(split.data), Dec(whole.data)) << "cuts " << i << " " << j;
      if (!InsideSubnegotiationData(split.statesBetween[0]) &&
          !InsideSubnegotiationData(split.statesBetween[1])) {
        ASSERT_EQ(Describe(split.events), Describe(whole.events)) << "cuts " << i << " " << j;
      } else {
        ASSERT_EQ(Describe(WithoutTerminalReplies(split.events)),
                  Describe(WithoutTerminalReplies(whole.events)))
            << "cuts " << i << " " << j;
      }
    }
  }
}

TEST(InterpreterSplit, ByteAtATimeKeepsDataAndNegotiationButLosesTerminalReplies) {
  std::vector<Bytes> bytes;
  for (char c : kMixedStream) bytes.emplace_back(1, c);
  const Fed whole = Feed({kMixedStream});
  const Fed single = Feed(bytes);
  EXPECT_EQ(Dec(single.data), Dec(whole.data));
  // An IAC SE alone in its call never has a SEND byte of the same call before it.
  EXPECT_EQ(Describe(single.events), Describe(WithoutTerminalReplies(whole.events)));
}

// Each cut of a terminal-type request in the middle of a stream: the reply comes only when
// the SEND byte and the closing IAC SE arrive in the same call, or the cut is before the
// subnegotiation's data.
TEST(InterpreterSplit, TerminalTypeRequestAtEveryCut) {
  const Bytes stream = B({97, 255, 250, 24, 1, 255, 240, 98});
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Fed split = Feed({stream.substr(0, cut), stream.substr(cut)});
    EXPECT_EQ(Dec(split.data), Dec(B({97, 98})));
    const bool answered = cut <= 4 || cut >= 7;  // not between SEND and SE
    EXPECT_EQ(Describe(split.events),
              Describe(answered ? std::vector<HostEvent>{Dumb()} : std::vector<HostEvent>{}));
  }
}

// ---------------------------------------------------------------------------------------
// A host that raises: the exception leaves at once, ParseState stays where it arose.

struct FailCase {
  const char* name;
  Bytes block;
  std::size_t failWriteAt = RecordingHost::kNever;
  std::size_t failFireAt = RecordingHost::kNever;
  std::vector<HostEvent> eventsBefore = {};  // what got through before the failure
  std::size_t writeAttempts = 0;
  std::size_t fireAttempts = 0;
  S stateAfter = S::tpsData;
  // The next block, with a healthy host, continues from stateAfter.
  Bytes next = {};
  Bytes nextResult = {};
  std::vector<HostEvent> nextEvents = {};
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

const FailCase kFailCases[] = {
    {.name = "WriteFailsOnWill", .block = B({97, 255, 251, 3, 98, 255, 251, 1}),
     .failWriteAt = 0, .writeAttempts = 1, .stateAfter = S::tpsWill,
     .next = B({3, 99}), .nextResult = B({99}), .nextEvents = {W({255, 254, 3})}},
    {.name = "WriteFailsOnWillEchoAfterNotification", .block = B({255, 251, 1, 97}),
     .failWriteAt = 0, .eventsBefore = {N(C::tcServerEchoes)}, .writeAttempts = 1,
     .fireAttempts = 1, .stateAfter = S::tpsWill,
     .next = B({1}), .nextResult = Bytes(),
     .nextEvents = {N(C::tcServerEchoes), W({255, 253, 1})}},
    {.name = "WriteFailsOnDo", .block = B({255, 253, 24, 97}), .failWriteAt = 0,
     .writeAttempts = 1, .stateAfter = S::tpsDo,
     .next = B({24, 97}), .nextResult = B({97}), .nextEvents = {W({255, 251, 24})}},
    {.name = "WriteFailsOnWont", .block = B({255, 252, 5, 97}), .failWriteAt = 0,
     .writeAttempts = 1, .stateAfter = S::tpsWont,
     .next = B({5}), .nextResult = Bytes(), .nextEvents = {W({255, 254, 5})}},
    {.name = "WriteFailsOnDont", .block = B({255, 254, 5, 97}), .failWriteAt = 0,
     .writeAttempts = 1, .stateAfter = S::tpsDont,
     .next = B({5}), .nextResult = Bytes(), .nextEvents = {W({255, 252, 5})}},
    {.name = "WriteFailsOnSecondReply", .block = B({97, 255, 253, 24, 98, 255, 254, 5, 99}),
     .failWriteAt = 1, .eventsBefore = {W({255, 251, 24})}, .writeAttempts = 2,
     .stateAfter = S::tpsDont,
     .next = B({5, 100}), .nextResult = B({100}), .nextEvents = {W({255, 252, 5})}},
    {.name = "WriteFailsOnTerminalReplyAtSe",
     .block = B({97, 255, 250, 24, 1, 255, 240, 98, 255, 251, 1}), .failWriteAt = 0,
     .writeAttempts = 1, .stateAfter = S::tpsSubCommand,
     // The next call starts without SubLastByte: IAC SE there is not answered again.
     .next = B({240, 99}), .nextResult = B({99}), .nextEvents = {}},
    {.name = "WriteFailsOnTerminalReplyAtSb",
     .block = B({255, 250, 24, 1, 255, 250, 24, 1, 255, 240}), .failWriteAt = 0,
     .writeAttempts = 1, .stateAfter = S::tpsSubCommand,
     .next = B({250, 24, 1, 255, 240}), .nextResult = Bytes(), .nextEvents = {Dumb()}},
    {.name = "HandlerFailsOnWillEcho", .block = B({97, 255, 251, 1, 98}), .failFireAt = 0,
     .fireAttempts = 1, .stateAfter = S::tpsWill,
     .next = B({1, 99}), .nextResult = B({99}),
     .nextEvents = {N(C::tcServerEchoes), W({255, 253, 1})}},
    {.name = "HandlerFailsOnDoEcho", .block = B({255, 253, 1, 98}), .failFireAt = 0,
     .fireAttempts = 1, .stateAfter = S::tpsDo,
     .next = B({31}), .nextResult = Bytes(), .nextEvents = {W({255, 252, 31})}},
    {.name = "HandlerFailsOnWontEcho", .block = B({255, 252, 1, 98}), .failFireAt = 0,
     .fireAttempts = 1, .stateAfter = S::tpsWont,
     .next = B({1}), .nextResult = Bytes(),
     .nextEvents = {N(C::tcClientEchoes), W({255, 254, 1})}},
    {.name = "HandlerFailsOnDontEcho", .block = B({255, 254, 1, 98}), .failFireAt = 0,
     .fireAttempts = 1, .stateAfter = S::tpsDont,
     .next = B({1}), .nextResult = Bytes(),
     .nextEvents = {N(C::tcClientNoEcho), W({255, 252, 1})}},
    {.name = "HandlerFailsOnSecondNotification",
     .block = B({255, 251, 1, 97, 255, 254, 1, 255, 253, 1}), .failFireAt = 1,
     .eventsBefore = {N(C::tcServerEchoes), W({255, 253, 1})}, .writeAttempts = 1,
     .fireAttempts = 2, .stateAfter = S::tpsDont,
     .next = B({7}), .nextResult = Bytes(), .nextEvents = {W({255, 252, 7})}},
};

class HostFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(HostFails, LeavesAtOnceKeepingTheState) {
  const FailCase& c = GetParam();
  TTelnetInterpreter interp;
  RecordingHost host;
  host.failWriteAt = c.failWriteAt;
  host.failFireAt = c.failFireAt;
  EXPECT_THROW(interp.ProcessTelnetStream(c.block, host), HostFailure);
  EXPECT_EQ(Describe(host.log), Describe(c.eventsBefore));
  EXPECT_EQ(host.writeAttempts, c.writeAttempts);  // nothing after the failure was tried
  EXPECT_EQ(host.fireAttempts, c.fireAttempts);
  EXPECT_EQ(interp.ParseState(), c.stateAfter);

  RecordingHost healthy;
  EXPECT_EQ(Dec(interp.ProcessTelnetStream(c.next, healthy)), Dec(c.nextResult));
  EXPECT_EQ(Describe(healthy.log), Describe(c.nextEvents));
  EXPECT_EQ(interp.ParseState(), S::tpsData);
}

INSTANTIATE_TEST_SUITE_P(Interpreter, HostFails, ::testing::ValuesIn(kFailCases),
                         [](const ::testing::TestParamInfo<FailCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
