// The socket error table: system error -> Windows Sockets number -> text -> message.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/tcp/tcp_client.h"

namespace {

struct ErrorCase {
  int systemError;
  int wsaCode;
  const char* text;
};

// The errors that occur on the road of a connect and of a write, with their texts.
const ErrorCase kCases[] = {
    {ECONNREFUSED, 10061, "Connection refused."},
    {EHOSTUNREACH, 10065, "No route to host."},
    {ENETUNREACH, 10051, "Network is unreachable."},
    {ETIMEDOUT, 10060, "Connection timed out."},
    {ENETDOWN, 10050, "Network is down."},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
    {ECONNRESET, 10054, "Connection reset by peer."},
    {ECONNABORTED, 10053, "Software caused connection abort."},
    {EPIPE, 10058, "Cannot send or receive after socket is closed."},
    {ENOTCONN, 10057, "Socket is not connected."},
    {EADDRINUSE, 10048, "Address already in use."},
    {ENOBUFS, 10055, "No buffer space available."},
};

class SocketErrorTable : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SocketErrorTable, MapsToTheWindowsNumberAndText) {
  const ErrorCase& c = GetParam();
  EXPECT_EQ(WsaFromSystemError(c.systemError), c.wsaCode);
  EXPECT_EQ(SocketErrorText(c.wsaCode), c.text);
  EXPECT_EQ(SocketErrorMessage(c.wsaCode),
            "Socket Error # " + std::to_string(c.wsaCode) + "\r\n" + c.text);
}

INSTANTIATE_TEST_SUITE_P(Errors, SocketErrorTable, ::testing::ValuesIn(kCases));

TEST(SocketErrorText, HostNotFoundHasItsText) {
  EXPECT_EQ(SocketErrorMessage(wsa::kHostNotFound), "Socket Error # 11001\r\nHost not found.");
}

TEST(SocketErrorText, RefusedMessageIsExact) {
  EXPECT_EQ(SocketErrorMessage(10061), "Socket Error # 10061\r\nConnection refused.");
}

TEST(SocketErrorText, NumberWithoutTextEndsWithTheLineBreak) {
  for (int code : {0, 10099, 12345, -1}) {
    EXPECT_EQ(SocketErrorText(code), "") << code;
    EXPECT_EQ(SocketErrorMessage(code), "Socket Error # " + std::to_string(code) + "\r\n") << code;
  }
}

TEST(SocketErrorText, UnlistedSystemErrorKeepsItsNumberVisible) {
  // An error outside the table still yields a distinct number in the Windows range.
  const int code = WsaFromSystemError(EMFILE);
  EXPECT_GE(code, 10000);
  EXPECT_NE(code, WsaFromSystemError(ECONNREFUSED));
}

TEST(SocketError, CarriesItsNumberAndMessage) {
  const ETcpSocketError e(10054, SocketErrorMessage(10054));
  EXPECT_EQ(e.Code(), 10054);
  EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
  const ETcpException& base = e;  // every TCP error is an ETcpException
  EXPECT_STREQ(base.what(), e.what());
}

}  // namespace
