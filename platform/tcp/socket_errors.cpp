// Texts of the Windows Sockets error numbers and the message built from them. The numbers are
// the same on every system (tcp_posix.cpp maps errno onto them), so a message reads the same
// whatever the machine.
#include <cstdio>
#include <string>

#include "platform/tcp/tcp_client.h"

namespace {
struct SocketErrorEntry {
  int code;
  const char* text;
};

constexpr SocketErrorEntry kSocketErrorTexts[] = {
    {wsa::kAccess, "Permission denied."},
    {wsa::kInvalid, "Invalid argument."},
    {wsa::kWouldBlock, "Resource temporarily unavailable."},
    {wsa::kAddrInUse, "Address already in use."},
    {wsa::kAddrNotAvail, "Cannot assign requested address."},
    {wsa::kNetDown, "Network is down."},
    {wsa::kNetUnreach, "Network is unreachable."},
    {wsa::kConnAborted, "Software caused connection abort."},
    {wsa::kConnReset, "Connection reset by peer."},
    {wsa::kNoBufs, "No buffer space available."},
    {wsa::kNotConn, "Socket is not connected."},
    {wsa::kShutdown, "Cannot send or receive after socket is closed."},
    {wsa::kTimedOut, "Connection timed out."},
    {wsa::kConnRefused, "Connection refused."},
    {wsa::kHostUnreach, "No route to host."},
    {wsa::kHostNotFound, "Host not found."},
};
}  // namespace

std::string SocketErrorText(int wsaCode) {
  for (const auto& entry : kSocketErrorTexts) {
    if (entry.code == wsaCode) return entry.text;
  }
  return {};
}

std::string SocketErrorMessage(int wsaCode) {
  return "Socket Error # " + std::to_string(wsaCode) + "\r\n" + SocketErrorText(wsaCode);
}
