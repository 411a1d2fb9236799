// TTelnet against the in-process loopback server. The test's own thread plays the window's
// thread: it runs the queued deliveries itself, in bounded loops.
#include "telnet/telnetclient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/main_pump.h"
#include "common/message_of.h"
#include "common/test_server.h"

namespace {

using testnet::MessageOf;
using testnet::PumpFor;
using testnet::PumpUntil;
using testnet::RefusingPort;
using testnet::TestServer;

constexpr int kWaitMs = 5000;
const Bytes kWillEcho = BytesOf({255, 251, 1});
const Bytes kDoEcho = BytesOf({255, 253, 1});

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class TelnetClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mainthread::Register();
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(server.Port());
    telnet.OnDataAvailable = [this](TTelnet& sender, const Bytes& buffer) {
      EXPECT_EQ(&sender, &telnet);
      EXPECT_TRUE(mainthread::IsCurrent()) << "a delivery ran off the window's thread";
      blocks.push_back(buffer);
      events.push_back("data:" + buffer);
    };
    telnet.OnConnect = [this](TTelnet& sender) {
      EXPECT_EQ(&sender, &telnet);
      events.push_back("connect");
    };
    telnet.OnDisconnect = [this](TTelnet& sender) {
      EXPECT_EQ(&sender, &telnet);
      events.push_back(telnet.HasReadThread() ? "disconnect(reader held)" : "disconnect");
    };
    mainthread::SetWakeHook([this] { ++wakes; });
  }
  void TearDown() override {
    mainthread::SetWakeHook(nullptr);
    TTcpClient::SetResolverForTesting(nullptr);
  }

  Bytes Delivered() const {
    Bytes all;
    for (const auto& b : blocks) all += b;
    return all;
  }
  int Count(const std::string& event) const {
    int n = 0;
    for (const auto& e : events) n += e == event;
    return n;
  }
  // Opens and waits until the server has the connection.
  void Open() {
    const int before = server.Connections();
    telnet.OpenConnection(-1);
    ASSERT_TRUE(server.WaitForConnections(before + 1, kWaitMs));
  }
  // The server offers to echo; once the reply is back, PeerIsTelnet is set.
  void MakePeerTelnet() {
    const std::size_t before = server.Received().size();
    const std::size_t deliveries = blocks.size();
    server.Send(kWillEcho);
    ASSERT_TRUE(server.WaitForReceived(before + 3, kWaitMs));
    // The flag, and the (empty) delivery of that command-only block.
    ASSERT_TRUE(PumpUntil([&] { return telnet.PeerIsTelnet() && blocks.size() > deliveries; }));
  }
  // Waits (without running deliveries) until the reader is blocked in a synchronous call.
  bool WaitForQueuedDelivery(int wakesBefore) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (wakes.load() <= wakesBefore) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  TestServer server;  // declared first: outlives the component
  TTelnet telnet;
  std::vector<Bytes> blocks;         // the window's thread only
  std::vector<std::string> events;   // the window's thread only
  std::atomic<int> wakes{0};
};

TEST(TelnetClientDefaults, NewComponent) {
  TTelnet t;
  EXPECT_EQ(t.Port(), 23);
  EXPECT_EQ(t.Terminal(), "dumb");
  EXPECT_EQ(t.Host(), "");
  EXPECT_FALSE(t.PeerIsTelnet());
  EXPECT_FALSE(t.IsConnected());
  EXPECT_FALSE(t.HasReadThread());
  EXPECT_EQ(t.ParseState(), TTelnetParseState::tpsData);
  EXPECT_EQ(t.ReadTimeout(), 0);
  EXPECT_EQ(t.RecvBufferSize(), 32768);
  EXPECT_FALSE(t.OnDataAvailable);
  EXPECT_FALSE(t.OnConnect);
  EXPECT_FALSE(t.OnDisconnect);
}

TEST(TelnetClientErrors, ClassesAndMessages) {
  const ETelnetClientConnectError connect("server not responding");
  const ETelnetServerOnDataAvailableIsNil nil("OnDataAvailable event is nil.");
  const ETelnetError& e1 = connect;
  const ETcpException& e2 = nil;
  EXPECT_STREQ(e1.what(), "server not responding");
  EXPECT_STREQ(e2.what(), "OnDataAvailable event is nil.");
}

TEST_F(TelnetClientTest, OpenOnAnOpenConnectionChangesNothing) {
  Open();
  MakePeerTelnet();
  const auto state = telnet.ParseState();
  EXPECT_EQ(MessageOf<ETcpAlreadyConnected>([&] { telnet.OpenConnection(-1); }),
            "Already connected.");
  EXPECT_EQ(Count("connect"), 1);
  EXPECT_TRUE(telnet.IsConnected());
  EXPECT_TRUE(telnet.HasReadThread());
  EXPECT_TRUE(telnet.PeerIsTelnet());
  EXPECT_EQ(telnet.ParseState(), state);
  EXPECT_EQ(server.Connections(), 1);
  server.Send("still");
  EXPECT_TRUE(PumpUntil([&] { return Delivered() == "still"; }));
}

TEST_F(TelnetClientTest, RefusedConnectLeavesNoConnectionAndNoReader) {
  RefusingPort refusing;
  telnet.SetPort(refusing.Port());
  try {
    telnet.OpenConnection(-1);
    ADD_FAILURE() << "connected";
  } catch (const ETcpSocketError& e) {
    EXPECT_EQ(e.Code(), 10061);
    EXPECT_TRUE(EndsWith(e.what(), "Connection refused.")) << e.what();
  }
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_FALSE(telnet.HasReadThread());
  EXPECT_EQ(Count("connect"), 0);
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { telnet.SendChar('A'); }),
            "Connection Closed Gracefully.");
}

TEST_F(TelnetClientTest, UnknownHostsAreNotFound) {
  TTcpClient::SetResolverForTesting(
      [](const std::string&, std::uint32_t&) { return wsa::kHostNotFound; });
  for (const char* host : {"no-such-board.test", ""}) {
    telnet.SetHost(host);
    try {
      telnet.OpenConnection(-1);
      ADD_FAILURE() << "connected to '" << host << "'";
    } catch (const ETcpSocketError& e) {
      EXPECT_TRUE(EndsWith(e.what(), "Host not found.")) << e.what();
    }
    EXPECT_FALSE(telnet.IsConnected());
    EXPECT_FALSE(telnet.HasReadThread());
  }
  EXPECT_EQ(Count("connect"), 0);
}

TEST_F(TelnetClientTest, ResolvedHostNameConnects) {
  TTcpClient::SetResolverForTesting([](const std::string& host, std::uint32_t& out) {
    if (host != "board.test") return wsa::kHostNotFound;
    out = htonl(INADDR_LOOPBACK);
    return 0;
  });
  telnet.SetHost("board.test");
  Open();
  EXPECT_TRUE(telnet.IsConnected());
}

TEST_F(TelnetClientTest, DataIsDeliveredInOrderOnTheWindowsThread) {
  Open();
  EXPECT_EQ(events, std::vector<std::string>{"connect"});
  server.Send(BytesOf({97, 98, 99}));
  ASSERT_TRUE(PumpUntil([&] { return Delivered().size() >= 3; }));
  EXPECT_EQ(Delivered(), "abc");

  // Larger than one receive: several blocks, nothing lost or reordered, no IAC in it.
  Bytes big;
  for (int i = 0; i < 200000; ++i) big.push_back(static_cast<char>(i % 251));
  server.Send(big);
  ASSERT_TRUE(PumpUntil([&] { return Delivered().size() >= 3 + big.size(); }, 20000));
  EXPECT_TRUE(Delivered() == "abc" + big);
  for (const auto& b : blocks) EXPECT_LE(b.size(), 32768u);
}

TEST_F(TelnetClientTest, NegotiationIsAnsweredAndACommandOnlyBlockDeliversNothing) {
  std::atomic<int> commands{0};
  std::atomic<bool> commandOnReader{false};
  telnet.SetOnTelnetCommand([&](TTelnet& sender, TTelnetCommand status) {
    EXPECT_EQ(&sender, &telnet);
    EXPECT_EQ(status, TTelnetCommand::tcServerEchoes);
    commandOnReader = !mainthread::IsCurrent();
    ++commands;
  });
  Open();
  server.Send(kWillEcho);
  ASSERT_TRUE(server.WaitForReceived(3, kWaitMs));
  EXPECT_EQ(server.Received(), kDoEcho);
  ASSERT_TRUE(PumpUntil([&] { return !blocks.empty(); }));
  EXPECT_EQ(blocks, std::vector<Bytes>{""});
  EXPECT_TRUE(telnet.PeerIsTelnet());
  EXPECT_EQ(commands, 1);
  EXPECT_TRUE(commandOnReader);
}

TEST_F(TelnetClientTest, TerminalTypeReplyUsesTerminal) {
  const Bytes send = BytesOf({255, 250, 24, 1, 255, 240});
  auto reply = [](const Bytes& terminal) {
    return BytesOf({255, 250, 24, 0}) + terminal + BytesOf({255, 240});
  };
  telnet.SetTerminal("vt100");
  Open();
  server.Send(send);
  ASSERT_TRUE(server.WaitForReceived(reply("vt100").size(), kWaitMs));
  EXPECT_EQ(server.Received(), reply("vt100"));

  telnet.SetTerminal("");  // an empty Terminal goes out, and stays, as "dumb"
  server.Send(send);
  const Bytes both = reply("vt100") + reply("dumb");
  // (The reader reads the second block once the first one's delivery has run.)
  ASSERT_TRUE(PumpUntil([&] { return server.Received().size() >= both.size(); }));
  EXPECT_EQ(server.Received(), both);
  EXPECT_EQ(telnet.Terminal(), "dumb");
}

TEST_F(TelnetClientTest, WithoutOnDataAvailableTheFirstBlockEndsTheReader) {
  telnet.OnDataAvailable = nullptr;
  Open();
  server.Send("abc");
  ASSERT_TRUE(PumpUntil([&] { return telnet.ReadThreadEnded(); }));
  EXPECT_TRUE(telnet.IsConnected());
  EXPECT_TRUE(telnet.HasReadThread());
  // Later data stays unread, even once a handler is set.
  telnet.OnDataAvailable = [&](TTelnet&, const Bytes& b) { blocks.push_back(b); };
  server.Send("later");
  PumpFor(200);
  EXPECT_TRUE(blocks.empty());
  // The error ended the thread without a word; CloseConnection still closes everything.
  telnet.CloseConnection();
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_FALSE(telnet.HasReadThread());
  EXPECT_TRUE(server.WaitForPeerClosed(kWaitMs));
}

TEST_F(TelnetClientTest, AHandlerThatRaisesEndsTheReader) {
  telnet.OnDataAvailable = [&](TTelnet&, const Bytes& b) {
    blocks.push_back(b);
    throw std::runtime_error("handler failed");
  };
  Open();
  server.Send("one");
  ASSERT_TRUE(PumpUntil([&] { return telnet.ReadThreadEnded(); }));
  EXPECT_EQ(Delivered(), "one");
  server.Send("two");
  PumpFor(200);
  EXPECT_EQ(Delivered(), "one");
  EXPECT_TRUE(telnet.IsConnected());
  telnet.CloseConnection();
  EXPECT_FALSE(telnet.HasReadThread());
}

TEST_F(TelnetClientTest, ServerCloseDropsTheConnectionAndAReconnectKeepsPeerIsTelnet) {
  Open();
  MakePeerTelnet();
  server.Send("hi");
  ASSERT_TRUE(PumpUntil([&] { return Delivered() == "hi"; }));
  const std::size_t before = blocks.size();
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !telnet.IsConnected() && telnet.ReadThreadEnded(); }));
  ASSERT_EQ(blocks.size(), before + 1);
  EXPECT_EQ(blocks.back(), "");  // the empty delivery after the close
  EXPECT_TRUE(telnet.HasReadThread());  // held until released
  EXPECT_EQ(Count("disconnect"), 0);
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { telnet.SendChar('A'); }),
            "Connection Closed Gracefully.");

  Open();  // a new reader; PeerIsTelnet is kept from the first connection
  EXPECT_TRUE(telnet.IsConnected());
  EXPECT_TRUE(telnet.HasReadThread());
  EXPECT_FALSE(telnet.ReadThreadEnded());
  EXPECT_TRUE(telnet.PeerIsTelnet());
  telnet.SendChar('\r');
  ASSERT_TRUE(server.WaitForReceived(1, kWaitMs));
  EXPECT_EQ(server.Received(), "\r");
  server.Send("again");
  EXPECT_TRUE(PumpUntil([&] { return EndsWith(Delivered(), "again"); }));
}

TEST_F(TelnetClientTest, ReopenAfterADropRunsTheLastDeliveryFirst) {
  Open();
  server.Close();
  // The reader sees the close and then waits in its last (empty) delivery: nobody runs it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (telnet.IsConnected() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(telnet.IsConnected());
  Open();
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "data:", "connect"}));
  server.Send("new");
  EXPECT_TRUE(PumpUntil([&] { return Delivered() == "new"; }));
}

TEST_F(TelnetClientTest, CloseWithoutAConnection) {
  telnet.CloseConnection();
  EXPECT_EQ(events, std::vector<std::string>{"disconnect"});
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_FALSE(telnet.HasReadThread());
  EXPECT_EQ(MessageOf<ETcpNotConnected>([&] { telnet.SendChar('A'); }), "Not Connected");
}

TEST_F(TelnetClientTest, CloseWhileTheReaderWaits) {
  Open();
  MakePeerTelnet();
  events.clear();
  telnet.CloseConnection();
  // OnDisconnect ran before the wait, while the reader was still held. (Had the reader been
  // between two reads, an empty delivery may follow inside the wait; nothing else may.)
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0], "disconnect(reader held)");
  for (std::size_t i = 1; i < events.size(); ++i) EXPECT_EQ(events[i], "data:");
  EXPECT_FALSE(telnet.PeerIsTelnet());
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_FALSE(telnet.HasReadThread());
  EXPECT_TRUE(server.WaitForPeerClosed(kWaitMs));
  EXPECT_EQ(MessageOf<ETcpNotConnected>([&] { telnet.SendChar('A'); }), "Not Connected");
  // The next connection starts with CR LF again.
  Open();
  telnet.SendChar('\r');
  ASSERT_TRUE(server.WaitForReceived(2, kWaitMs));
  EXPECT_EQ(server.Received(), "\r\n");
}

TEST_F(TelnetClientTest, CloseWhileADeliveryIsQueuedRunsItInsideTheWait) {
  Open();
  events.clear();
  const int wakesBefore = wakes;
  server.Send("late");
  ASSERT_TRUE(WaitForQueuedDelivery(wakesBefore));
  telnet.CloseConnection();
  EXPECT_EQ(events, (std::vector<std::string>{"disconnect(reader held)", "data:late"}));
  EXPECT_FALSE(telnet.HasReadThread());
  EXPECT_FALSE(telnet.IsConnected());
}

// SendChar's carriage-return rule, for both values of PeerIsTelnet.
struct SendCharCase {
  int c;
  bool peerIsTelnet;
  std::vector<int> written;
};
class SendCharRule : public TelnetClientTest, public ::testing::WithParamInterface<SendCharCase> {};

TEST_P(SendCharRule, WritesTheExpectedBytes) {
  const SendCharCase& c = GetParam();
  Open();
  Bytes prefix;
  if (c.peerIsTelnet) {
    MakePeerTelnet();
    prefix = kDoEcho;
  }
  Bytes expected;
  for (int b : c.written) expected.push_back(static_cast<char>(b));
  telnet.SendChar(static_cast<char>(c.c));
  ASSERT_TRUE(server.WaitForReceived(prefix.size() + expected.size(), kWaitMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // nothing more follows
  EXPECT_EQ(server.Received(), prefix + expected);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, SendCharRule,
    ::testing::Values(SendCharCase{65, false, {65}}, SendCharCase{65, true, {65}},
                      SendCharCase{13, false, {13, 10}}, SendCharCase{13, true, {13}},
                      SendCharCase{10, false, {10}}, SendCharCase{10, true, {10}},
                      SendCharCase{0, false, {0}}, SendCharCase{0, true, {0}},
                      SendCharCase{26, false, {26}}, SendCharCase{26, true, {26}},
                      SendCharCase{255, false, {255}}, SendCharCase{255, true, {255}}));

TEST_F(TelnetClientTest, EmptyWriteTextDoesNothing) {
  EXPECT_NO_THROW(telnet.WriteText(""));  // not connected
  Open();
  telnet.WriteText("");
  telnet.WriteText("PRG\r");
  ASSERT_TRUE(server.WaitForReceived(4, kWaitMs));
  EXPECT_EQ(server.Received(), "PRG\r");
  telnet.CloseConnection();
  EXPECT_NO_THROW(telnet.WriteText(""));  // closed again
}

// An OnConnect that raises: the connection stays open without a reader.
struct ConnectFailureCase {
  const char* name;
  bool socketError;
};
class OnConnectRaises : public TelnetClientTest,
                        public ::testing::WithParamInterface<ConnectFailureCase> {};

TEST_P(OnConnectRaises, LeavesTheConnectionOpenWithoutReader) {
  telnet.OnConnect = [&](TTelnet&) {
    if (GetParam().socketError) {
      throw ETcpSocketError(wsa::kConnReset, SocketErrorMessage(wsa::kConnReset));
    }
    throw std::runtime_error("handler's own error");
  };
  if (GetParam().socketError) {
    EXPECT_EQ(MessageOf<ETelnetClientConnectError>([&] { telnet.OpenConnection(-1); }),
              "server not responding");
  } else {
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { telnet.OpenConnection(-1); }),
              "handler's own error");
  }
  EXPECT_TRUE(telnet.IsConnected());
  EXPECT_FALSE(telnet.HasReadThread());
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  server.Send("unread");
  PumpFor(150);
  EXPECT_TRUE(blocks.empty());
  EXPECT_EQ(MessageOf<ETcpAlreadyConnected>([&] { telnet.OpenConnection(-1); }),
            "Already connected.");
  telnet.CloseConnection();
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_TRUE(server.WaitForPeerClosed(kWaitMs));
}

INSTANTIATE_TEST_SUITE_P(Errors, OnConnectRaises,
                         ::testing::Values(ConnectFailureCase{"SocketError", true},
                                           ConnectFailureCase{"OtherError", false}),
                         [](const ::testing::TestParamInfo<ConnectFailureCase>& p) {
                           return std::string(p.param.name);
                         });

TEST_F(TelnetClientTest, ReadTimeoutEndsTheReaderOnASilentServer) {
  telnet.SetReadTimeout(200);
  Open();
  ASSERT_TRUE(PumpUntil([&] { return telnet.ReadThreadEnded(); }));
  EXPECT_TRUE(blocks.empty());
  EXPECT_TRUE(telnet.IsConnected());
  server.Send("late");
  PumpFor(200);
  EXPECT_TRUE(blocks.empty());
  telnet.CloseConnection();
}

TEST_F(TelnetClientTest, PeerResetMidStream) {
  Open();
  server.Send("abc");
  ASSERT_TRUE(PumpUntil([&] { return Delivered() == "abc"; }));
  server.Reset();

  int code = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (code == 0 && std::chrono::steady_clock::now() < deadline) {
    try {
      telnet.SendChar('x');
      PumpFor(2);
    } catch (const ETcpSocketError& e) {
      code = e.Code();
      EXPECT_EQ(std::string(e.what()), SocketErrorMessage(code));
    }
  }
  EXPECT_TRUE(code == 10053 || code == 10054 || code == 10058) << code;
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { telnet.SendChar('x'); }),
            "Connection Closed Gracefully.");
  EXPECT_TRUE(PumpUntil([&] { return telnet.ReadThreadEnded(); }));
  telnet.CloseConnection();
  EXPECT_FALSE(telnet.HasReadThread());
}

TEST_F(TelnetClientTest, AnErrorInOnDisconnectLeavesTheReaderHeldUntilTheNextClose) {
  Open();
  telnet.OnDisconnect = [](TTelnet&) { throw std::runtime_error("from OnDisconnect"); };
  EXPECT_EQ(MessageOf<std::runtime_error>([&] { telnet.CloseConnection(); }), "from OnDisconnect");
  EXPECT_FALSE(telnet.IsConnected());
  EXPECT_TRUE(telnet.HasReadThread());
  ASSERT_TRUE(PumpUntil([&] { return telnet.ReadThreadEnded(); }));
  telnet.OnDisconnect = nullptr;
  telnet.CloseConnection();
  EXPECT_FALSE(telnet.HasReadThread());
}

// Destroying the component never hangs and never calls the application's handlers, whatever
// its reader is doing.
enum class ReaderAt { WaitingForData, InADelivery, Dropped, EndedByAnError };
std::string ReaderAtName(const ::testing::TestParamInfo<ReaderAt>& info) {
  const char* const names[] = {"WaitingForData", "InADelivery", "Dropped", "EndedByAnError"};
  return names[static_cast<int>(info.param)];
}
class DestroyWithReader : public ::testing::TestWithParam<ReaderAt> {};

TEST_P(DestroyWithReader, EndsAndReleasesIt) {
  mainthread::Register();
  TestServer server;
  std::atomic<int> wakes{0};
  mainthread::SetWakeHook([&] { ++wakes; });
  int delivered = 0, disconnects = 0;
  auto telnet = std::make_unique<TTelnet>();
  telnet->SetHost("127.0.0.1");
  telnet->SetPort(server.Port());
  telnet->OnDataAvailable = [&](TTelnet&, const Bytes&) { ++delivered; };
  telnet->OnDisconnect = [&](TTelnet&) { ++disconnects; };
  telnet->OpenConnection(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  switch (GetParam()) {
    case ReaderAt::WaitingForData:
      break;
    case ReaderAt::InADelivery: {
      const int before = wakes;
      server.Send("pending");
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (wakes == before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_GT(wakes, before);
      break;
    }
    case ReaderAt::Dropped:
      server.Close();
      ASSERT_TRUE(PumpUntil([&] { return telnet->ReadThreadEnded(); }));
      break;
    case ReaderAt::EndedByAnError:
      telnet->OnDataAvailable = nullptr;
      server.Send("x");
      ASSERT_TRUE(PumpUntil([&] { return telnet->ReadThreadEnded(); }));
      break;
  }
  const int deliveredBefore = delivered;
  telnet.reset();
  EXPECT_EQ(delivered, deliveredBefore);
  EXPECT_EQ(disconnects, 0);
  if (GetParam() != ReaderAt::Dropped) {
    EXPECT_TRUE(server.WaitForPeerClosed(kWaitMs));
  }
  mainthread::SetWakeHook(nullptr);
  EXPECT_EQ(mainthread::RunQueuedCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(States, DestroyWithReader,
                         ::testing::Values(ReaderAt::WaitingForData, ReaderAt::InADelivery,
                                           ReaderAt::Dropped, ReaderAt::EndedByAnError),
                         ReaderAtName);

TEST_F(TelnetClientTest, RepeatedOpenAndCloseUnderTraffic) {
  // The server keeps sending while the component connects and disconnects: every close
  // returns, every reader is released, and deliveries only ever run on this thread.
  server.SetResponder([](const std::string& chunk) { return chunk; });  // echo
  for (int round = 0; round < 15; ++round) {
    Open();
    for (int i = 0; i < 5; ++i) telnet.SendChar(static_cast<char>('a' + i));
    if (round % 3 == 1) PumpFor(2);
    telnet.CloseConnection();
    EXPECT_FALSE(telnet.HasReadThread());
    EXPECT_FALSE(telnet.IsConnected());
  }
  EXPECT_EQ(Count("disconnect(reader held)"), 15);
}

}  // namespace
