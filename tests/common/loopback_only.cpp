// Linked into every test program: the TCP layer may connect to loopback addresses
// (127.0.0.0/8) only, so no test can ever reach a real board or any other host, whatever
// host a window or a component was left with. Anything else fails at once with
// "No route to host." before a socket is made.
#include <arpa/inet.h>

#include <cstdint>

#include "platform/tcp/tcp_client.h"

namespace {
[[maybe_unused]] const bool kInstalled = [] {
  TTcpClient::SetAddressGuardForTesting(
      [](std::uint32_t address) { return (ntohl(address) >> 24) == 127; });
  return true;
}();
}  // namespace
