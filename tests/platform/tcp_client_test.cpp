// TTcpClient against the in-process loopback server: states, the closed mark, messages, and
// the traps of sharing one connection between a reader thread and a writer thread.
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/message_of.h"
#include "common/test_server.h"
#include "platform/tcp/tcp_client.h"

namespace {

using namespace std::chrono_literals;
using testnet::MessageOf;
using testnet::RefusingPort;
using testnet::TestServer;

constexpr int kWaitMs = 5000;

// Reads until `count` bytes have come or the time is up.
Bytes ReadAtLeast(TTcpClient& c, std::size_t count) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) got += c.ReadAvailable();
  return got;
}

// Waits until the given thread of this process is asleep (blocked in a system call).
bool WaitUntilAsleep(pid_t tid) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (FILE* f = std::fopen(path.c_str(), "r")) {
      char line[512] = {};
      const std::size_t n = std::fread(line, 1, sizeof line - 1, f);
      std::fclose(f);
      const char* close = std::strrchr(line, ')');  // "tid (name) S ..."
      if (n > 0 && close != nullptr && close[1] == ' ' && close[2] == 'S') return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

class TcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetReadTimeout(kWaitMs);  // no read in these tests may wait for ever
    client.OnConnected = [this] { ++connected; };
    client.OnDisconnected = [this] { ++disconnected; };
  }
  void TearDown() override { TTcpClient::SetResolverForTesting(nullptr); }

  TestServer server;
  TTcpClient client;
  std::atomic<int> connected{0};
  std::atomic<int> disconnected{0};
};

TEST(TcpClientDefaults, NewClient) {
  TTcpClient c;
  EXPECT_EQ(c.Host(), "");
  EXPECT_EQ(c.ReadTimeout(), 0);
  EXPECT_EQ(c.RecvBufferSize(), 32768);
  EXPECT_FALSE(c.IsConnected());
  EXPECT_NO_THROW(c.CheckForDisconnect());
  EXPECT_EQ(c.ReadAvailable(), "");
  EXPECT_EQ(MessageOf<ETcpNotConnected>([&] { c.WriteText("x"); }), "Not Connected");
  EXPECT_NO_THROW(c.WriteText(""));
  EXPECT_NO_THROW(c.Disconnect());
}

TEST_F(TcpClientTest, ConnectsAndRefusesASecondConnect) {
  client.Connect(-1);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(connected, 1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));

  EXPECT_EQ(MessageOf<ETcpAlreadyConnected>([&] { client.Connect(-1); }), "Already connected.");
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(connected, 1);
  client.WriteText("still");  // the first connection is untouched
  ASSERT_TRUE(server.WaitForReceived(5, kWaitMs));
  EXPECT_EQ(server.Received(), "still");
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(TcpClientTest, ConnectWithAPositiveTimeOutSucceeds) {
  client.Connect(3000);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(server.WaitForConnections(1, kWaitMs));
}

// A refused connect, with each kind of time-out: the error, and the closed mark it leaves.
struct RefusedCase {
  int timeoutMs;
  bool connectException;  // a positive time-out reports ETcpConnectException
};
class RefusedConnect : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedConnect, RaisesRefusedAndLeavesTheClosedMark) {
  RefusingPort port;
  TTcpClient c;
  int connectedCount = 0;
  c.OnConnected = [&] { ++connectedCount; };
  c.SetHost("127.0.0.1");
  c.SetPort(port.Port());
  const std::string expected = "Socket Error # 10061\r\nConnection refused.";
  if (GetParam().connectException) {
    EXPECT_EQ(MessageOf<ETcpConnectException>([&] { c.Connect(GetParam().timeoutMs); }), expected);
  } else {
    try {
      c.Connect(GetParam().timeoutMs);
      ADD_FAILURE() << "connect succeeded";
    } catch (const ETcpSocketError& e) {
      EXPECT_EQ(e.Code(), 10061);
      EXPECT_EQ(std::string(e.what()), expected);
    }
  }
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(connectedCount, 0);
  const std::string closed = "Connection Closed Gracefully.";
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c.WriteText("x"); }), closed);
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c.CheckForDisconnect(); }), closed);
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c.ReadAvailable(); }), closed);
  EXPECT_NO_THROW(c.WriteText(""));
  // The disconnect releases the socket objects: from then on it is "Not Connected".
  c.Disconnect();
  EXPECT_EQ(MessageOf<ETcpNotConnected>([&] { c.WriteText("x"); }), "Not Connected");
  EXPECT_NO_THROW(c.CheckForDisconnect());
}

INSTANTIATE_TEST_SUITE_P(TimeOuts, RefusedConnect,
                         ::testing::Values(RefusedCase{-1, false}, RefusedCase{0, false},
                                           RefusedCase{3000, true}));

TEST_F(TcpClientTest, PositiveTimeOutGivesUp) {
  // A listener that never accepts and whose queue is full drops further connection requests,
  // so a connect to it stays pending.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 0), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);

  std::vector<std::unique_ptr<TTcpClient>> fillers;
  bool timedOut = false;
  for (int i = 0; i < 8 && !timedOut; ++i) {
    auto c = std::make_unique<TTcpClient>();
    c->SetHost("127.0.0.1");
    c->SetPort(ntohs(a.sin_port));
    try {
      c->Connect(300);
    } catch (const ETcpConnectTimeout& e) {
      EXPECT_STREQ(e.what(), "Connect timed out.");
      EXPECT_FALSE(c->IsConnected());
      EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c->WriteText("x"); }),
                "Connection Closed Gracefully.");
      timedOut = true;
    }
    fillers.push_back(std::move(c));
  }
  EXPECT_TRUE(timedOut);
  fillers.clear();
  ::close(fd);
}

TEST_F(TcpClientTest, HostNamesGoThroughTheResolver) {
  std::atomic<int> calls{0};
  TTcpClient::SetResolverForTesting([&](const std::string& host, std::uint32_t& out) {
    ++calls;
    if (host != "board.test") return wsa::kHostNotFound;
    out = htonl(INADDR_LOOPBACK);
    return 0;
  });

  client.SetHost("board.test");
  client.Connect(-1);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(calls, 1);
  client.Disconnect();

  // A dotted address is used as it is.
  client.SetHost("127.0.0.1");
  client.Connect(-1);
  EXPECT_EQ(calls, 1);
  client.Disconnect();
}

TEST_F(TcpClientTest, UnknownAndEmptyHostsAreNotFound) {
  std::atomic<int> calls{0};
  TTcpClient::SetResolverForTesting([&](const std::string&, std::uint32_t&) {
    ++calls;
    return wsa::kHostNotFound;
  });
  for (const char* host : {"no-such-board.test", ""}) {
    client.SetHost(host);
    try {
      client.Connect(-1);
      ADD_FAILURE() << "connected to '" << host << "'";
    } catch (const ETcpSocketError& e) {
      EXPECT_EQ(e.Code(), 11001);
      EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { client.WriteText("x"); }),
              "Connection Closed Gracefully.");
  }
  EXPECT_EQ(calls, 1);  // the empty host never reaches a lookup
  EXPECT_EQ(connected, 0);
}

// Every test program allows loopback only (tests/common/loopback_only.cpp): an address
// elsewhere (here a documentation-only one) fails before any socket is made.
TEST_F(TcpClientTest, TestProgramsNeverLeaveLoopback) {
  client.SetHost("192.0.2.1");
  EXPECT_EQ(MessageOf<ETcpSocketError>([&] { client.Connect(-1); }),
            "Socket Error # 10065\r\nNo route to host.");
  EXPECT_FALSE(client.IsConnected());
  client.SetHost("127.0.0.1");  // loopback still connects
  client.Connect(-1);
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(TcpClientTest, PortOutOfRangeIsRefusedBeforeAnyConnect) {
  for (int port : {-1, 65536, 70000}) {
    client.SetPort(port);
    try {
      client.Connect(-1);
      ADD_FAILURE() << port;
    } catch (const ETcpSocketError& e) {
      EXPECT_EQ(e.Code(), 10049) << port;
    }
  }
  EXPECT_EQ(server.Connections(), 0);
}

TEST_F(TcpClientTest, EveryByteValueGoesThroughUnchangedBothWays) {
  Bytes all;
  for (int v = 0; v < 256; ++v) all.push_back(static_cast<char>(v));
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  client.WriteText(all);
  ASSERT_TRUE(server.WaitForReceived(all.size(), kWaitMs));
  EXPECT_EQ(server.Received(), all);

  server.Send(all);
  EXPECT_EQ(ReadAtLeast(client, all.size()), all);
}

TEST_F(TcpClientTest, EmptyWriteSendsNothing) {
  client.Connect(-1);
  client.WriteText("");
  client.WriteText("a");
  ASSERT_TRUE(server.WaitForReceived(1, kWaitMs));
  EXPECT_EQ(server.Received(), "a");
}

TEST_F(TcpClientTest, OneReceiveIsAtMostRecvBufferSize) {
  client.SetRecvBufferSize(4);
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  server.Send("0123456789");
  Bytes got;
  while (got.size() < 10) {
    const Bytes piece = client.ReadAvailable();
    ASSERT_FALSE(piece.empty());
    EXPECT_LE(piece.size(), 4u);
    got += piece;
  }
  EXPECT_EQ(got, "0123456789");
}

TEST_F(TcpClientTest, ServerCloseIsNoticedByTheRead) {
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  server.Close();

  // The read notices on its own thread: empty result, no error, OnDisconnected there.
  std::thread::id readerId, notifiedOn;
  client.OnDisconnected = [&] {
    ++disconnected;
    notifiedOn = std::this_thread::get_id();
  };
  Bytes result = "unset";
  std::thread reader([&] {
    readerId = std::this_thread::get_id();
    result = client.ReadAvailable();
  });
  reader.join();
  EXPECT_EQ(result, "");
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(notifiedOn, readerId);
  EXPECT_FALSE(client.IsConnected());
  const std::string closed = "Connection Closed Gracefully.";
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { client.CheckForDisconnect(); }), closed);
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { client.WriteText("x"); }), closed);

  // A new connect clears the mark.
  client.Connect(-1);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_NO_THROW(client.CheckForDisconnect());
}

TEST_F(TcpClientTest, DisconnectEndsTheStreamAndReleasesEverything) {
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  client.Disconnect();
  EXPECT_EQ(disconnected, 1);
  EXPECT_TRUE(server.WaitForPeerClosed(kWaitMs));
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(MessageOf<ETcpNotConnected>([&] { client.WriteText("x"); }), "Not Connected");
  EXPECT_NO_THROW(client.CheckForDisconnect());
  EXPECT_EQ(client.ReadAvailable(), "");
  client.Disconnect();  // nothing open: no notification, no error
  EXPECT_EQ(disconnected, 1);
}

TEST_F(TcpClientTest, ReadTimeoutEndsASilentWait) {
  client.SetReadTimeout(200);
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  EXPECT_EQ(MessageOf<ETcpReadTimeout>([&] { client.ReadAvailable(); }), "Read Timeout");
  EXPECT_TRUE(client.IsConnected());
  server.Send("late");
  EXPECT_EQ(ReadAtLeast(client, 4), "late");
}

// The reader blocked in its wait must be woken by Disconnect (close() alone would not), and
// must never read from a socket that took over its descriptor's number.
TEST_F(TcpClientTest, DisconnectWakesABlockedReaderWhichNeverSeesTheNextConnection) {
  server.KeepReplacedConnectionsOpen(true);  // only our own disconnect may end the wait
  for (int round = 0; round < 20; ++round) {
    client.SetReadTimeout(0);  // the wait has no limit of its own: only the disconnect ends it
    client.Connect(-1);
    ASSERT_TRUE(server.WaitForConnections(2 * round + 1, kWaitMs));
    std::promise<std::string> outcome;
    auto result = outcome.get_future();
    std::atomic<pid_t> readerTid{0};
    std::thread reader([&] {
      readerTid = static_cast<pid_t>(::syscall(SYS_gettid));
      try {
        outcome.set_value("data:" + client.ReadAvailable());
      } catch (const ETcpException& e) {
        outcome.set_value(std::string("error:") + e.what());
      }
    });
    // The reader has to be inside its wait (it would rightly read the next connection if it
    // only started after the reconnect).
    while (readerTid == 0) std::this_thread::yield();
    ASSERT_TRUE(WaitUntilAsleep(readerTid)) << "round " << round;
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
    client.Disconnect();
    client.Connect(-1);  // may take the old descriptor number
    ASSERT_TRUE(server.WaitForConnections(2 * round + 2, kWaitMs));
    server.Send("NEW");
    const bool woke = result.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
    EXPECT_TRUE(woke) << "round " << round;
    if (!woke) server.CloseReplacedConnections();  // end it by other means
    reader.join();
    const std::string r = result.get();
    EXPECT_TRUE(r == "data:" || r == "error:Read Timeout" || r == "error:Disconnected.")
        << "round " << round << ": " << r;
    client.SetReadTimeout(kWaitMs);
    EXPECT_EQ(ReadAtLeast(client, 3), "NEW");  // the new connection's data is all there
    client.Disconnect();
    if (!woke) break;
  }
}

TEST_F(TcpClientTest, ConnectAndDisconnectLeakNoDescriptor) {
  RefusingPort refusing;
  const int baseline = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    client.SetPort(server.Port());
    client.Connect(-1);
    std::thread reader([&] {
      try {
        client.ReadAvailable();
      } catch (const ETcpException&) {
      }
    });
    client.Disconnect();
    reader.join();
    client.SetPort(refusing.Port());
    EXPECT_THROW(client.Connect(-1), ETcpSocketError);
  }
  client.Disconnect();
  ASSERT_TRUE(server.WaitForPeerClosed(kWaitMs));
  EXPECT_EQ(OpenDescriptors(), baseline);
}

// A peer that has gone: the write must fail with an error, not kill the process with SIGPIPE;
// the error that closes the socket is followed by "Connection Closed Gracefully.".
struct GonePeerCase {
  const char* name;
  bool reset;
};
class GonePeer : public ::testing::TestWithParam<GonePeerCase> {};

TEST_P(GonePeer, WritesFailCleanly) {
  TestServer server;
  TTcpClient c;
  c.SetHost("127.0.0.1");
  c.SetPort(server.Port());
  c.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  c.WriteText("before");
  ASSERT_TRUE(server.WaitForReceived(6, kWaitMs));
  if (GetParam().reset) {
    server.Reset();
  } else {
    server.Close();
  }

  int code = 0;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (code == 0 && std::chrono::steady_clock::now() < deadline) {
    try {
      c.WriteText("after");
      std::this_thread::sleep_for(2ms);
    } catch (const ETcpSocketError& e) {
      code = e.Code();
      EXPECT_EQ(std::string(e.what()), SocketErrorMessage(code));
    }
  }
  EXPECT_TRUE(code == 10053 || code == 10054 || code == 10058) << code;
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c.WriteText("again"); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<ETcpConnClosedGracefully>([&] { c.CheckForDisconnect(); }),
            "Connection Closed Gracefully.");
}

INSTANTIATE_TEST_SUITE_P(Peers, GonePeer,
                         ::testing::Values(GonePeerCase{"Closed", false}, GonePeerCase{"Reset", true}),
                         [](const ::testing::TestParamInfo<GonePeerCase>& p) { return std::string(p.param.name); });

TEST_F(TcpClientTest, ResetUnderAWaitingReadIsASocketError) {
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  auto read = std::async(std::launch::async, [&]() -> int {
    try {
      client.ReadAvailable();
      return 0;
    } catch (const ETcpSocketError& e) {
      return e.Code();
    }
  });
  std::this_thread::sleep_for(20ms);
  server.Reset();
  ASSERT_EQ(read.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
  EXPECT_EQ(read.get(), 10054);
  // A reset seen by a receive leaves the socket open; the next write finds it broken.
  EXPECT_TRUE(client.IsConnected());
  EXPECT_THROW(client.WriteText("x"), ETcpSocketError);
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(TcpClientTest, LargeWriteArrivesWholeAndInOrder) {
  Bytes big(6 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  server.PauseReading(true);  // the send has to wait for room several times
  auto writer = std::async(std::launch::async, [&] { client.WriteText(big); });
  std::this_thread::sleep_for(50ms);
  server.PauseReading(false);
  ASSERT_EQ(writer.wait_for(20s), std::future_status::ready);
  writer.get();
  ASSERT_TRUE(server.WaitForReceived(big.size(), 20000));
  EXPECT_TRUE(server.Received() == big);
}

TEST_F(TcpClientTest, WritesFromTwoThreadsNeverInterleave) {
  constexpr std::size_t kBlock = 256 * 1024;
  constexpr int kBlocksEach = 24;
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  std::atomic<int> finished{0};
  auto writeBlocks = [&](char fill) {
    const Bytes block(kBlock, fill);
    for (int i = 0; i < kBlocksEach; ++i) client.WriteText(block);
    ++finished;
  };
  std::thread a(writeBlocks, 'A');
  std::thread b(writeBlocks, 'B');
  // Stalling the reader again and again makes both writers block half-way through a send,
  // the moment an unguarded send lets the other one in.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (finished < 2 && std::chrono::steady_clock::now() < deadline) {
    server.PauseReading(true);
    std::this_thread::sleep_for(15ms);
    server.PauseReading(false);
    std::this_thread::sleep_for(2ms);
  }
  a.join();
  b.join();
  const std::size_t total = 2 * kBlock * kBlocksEach;
  ASSERT_TRUE(server.WaitForReceived(total, 20000));
  const std::string got = server.Received();
  ASSERT_EQ(got.size(), total);
  // Every run of one letter is a whole number of blocks.
  std::size_t runStart = 0;
  for (std::size_t i = 1; i <= got.size(); ++i) {
    if (i == got.size() || got[i] != got[runStart]) {
      ASSERT_EQ((i - runStart) % kBlock, 0u) << "a write was split at byte " << i;
      runStart = i;
    }
  }
}

TEST_F(TcpClientTest, DisconnectUnderABlockedWriteEndsItWithDisconnected) {
  client.Connect(-1);
  ASSERT_TRUE(server.WaitForConnections(1, kWaitMs));
  server.PauseReading(true);
  const Bytes huge(64 * 1024 * 1024, 'x');  // far more than the socket buffers hold
  auto writer = std::async(std::launch::async, [&]() -> std::string {
    try {
      client.WriteText(huge);
      return "written";
    } catch (const ETcpException& e) {
      return e.what();
    }
  });
  std::this_thread::sleep_for(100ms);
  client.Disconnect();
  const bool ended = writer.wait_for(std::chrono::milliseconds(kWaitMs)) == std::future_status::ready;
  EXPECT_TRUE(ended);
  if (!ended) server.Reset();  // end it by other means so that the test can end
  EXPECT_EQ(writer.get(), "Disconnected.");
}

}  // namespace
