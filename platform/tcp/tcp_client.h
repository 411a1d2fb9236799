#pragma once
// A TCP client connection with the behaviour and the messages that the Telnet component
// relies on. POSIX sockets underneath (tcp_posix.cpp); everything system-specific stays in
// that file, so a Winsock build could slot in beside it.
//
// Threads: one thread (the window's) connects, writes, tests IsConnected and disconnects;
// a second one (the reader) may sit in ReadAvailable() and CheckForDisconnect() and may
// write too. Each WriteText goes out whole under one lock, never interleaved with another.
// Disconnect() wakes a blocked read (shutdown) but the descriptor is only closed once no
// read uses it any more, so it can never be reused under a waiting reader.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bytes.h"

// --- Errors -----------------------------------------------------------------------------
class ETcpException : public std::runtime_error {
 public:
  explicit ETcpException(const std::string& message) : std::runtime_error(message) {}
};
#define BRELVIN_TCP_ERROR(Name)                                              \
  class Name : public ETcpException {                                        \
   public:                                                                   \
    explicit Name(const std::string& message) : ETcpException(message) {}    \
  };
BRELVIN_TCP_ERROR(ETcpAlreadyConnected)      // "Already connected."
BRELVIN_TCP_ERROR(ETcpInvalidSocket)         // "Cannot allocate socket."
BRELVIN_TCP_ERROR(ETcpConnectTimeout)        // "Connect timed out."
BRELVIN_TCP_ERROR(ETcpConnectException)      // the socket error's message
BRELVIN_TCP_ERROR(ETcpNotConnected)          // "Not Connected"
BRELVIN_TCP_ERROR(ETcpConnClosedGracefully)  // "Connection Closed Gracefully."
BRELVIN_TCP_ERROR(ETcpClosedSocket)          // "Disconnected."
BRELVIN_TCP_ERROR(ETcpReadTimeout)           // "Read Timeout"
#undef BRELVIN_TCP_ERROR

// "Socket Error # %d\r\n%s" with the Windows Sockets number and its text.
class ETcpSocketError : public ETcpException {
 public:
  ETcpSocketError(int code, const std::string& message) : ETcpException(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// Windows Sockets numbers, used on every system so that messages read the same everywhere.
namespace wsa {
constexpr int kAccess = 10013, kInvalid = 10022, kWouldBlock = 10035, kAddrInUse = 10048,
              kAddrNotAvail = 10049, kNetDown = 10050, kNetUnreach = 10051, kConnAborted = 10053,
              kConnReset = 10054, kNoBufs = 10055, kNotConn = 10057, kShutdown = 10058,
              kTimedOut = 10060, kConnRefused = 10061, kHostUnreach = 10065, kHostNotFound = 11001;
}
// The text paired with a Windows Sockets number; empty for a number without one.
std::string SocketErrorText(int wsaCode);
// The full message "Socket Error # %d\r\n%s".
std::string SocketErrorMessage(int wsaCode);
// Maps a system error code (errno here) to its Windows Sockets number.
int WsaFromSystemError(int systemError);

// --- The client -------------------------------------------------------------------------
class TTcpClient {
 public:
  TTcpClient();
  virtual ~TTcpClient();  // closes the socket; fires no notification
  TTcpClient(const TTcpClient&) = delete;
  TTcpClient& operator=(const TTcpClient&) = delete;

  // Target of the connect; the setters only store the value. Set on the window's thread.
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host) { host_ = host; }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  int ReadTimeout() const { return readTimeout_; }        // ms, 0 = no limit
  void SetReadTimeout(int ms) { readTimeout_ = ms; }
  int RecvBufferSize() const { return recvBufferSize_; }  // bytes per receive
  void SetRecvBufferSize(int bytes) { recvBufferSize_ = bytes; }

  // The TCP client's own notifications (distinct from the Telnet component's events).
  // OnDisconnected may fire on a reader thread: assign both before connecting.
  std::function<void()> OnConnected;     // inside Connect, on success
  std::function<void()> OnDisconnected;  // inside Disconnect when open, or where a server close is noticed

  // Connects to Host:Port. timeoutMs -1 or 0: no limit of our own. Raises
  // ETcpAlreadyConnected when open; ETcpSocketError for a failed lookup/socket/connect;
  // ETcpConnectTimeout / ETcpConnectException with a positive time-out.
  void Connect(int timeoutMs);
  // True while the socket is open. Raises nothing; safe from any thread.
  bool IsConnected() const;
  // Waits for data (ReadTimeout), receives once, at most RecvBufferSize bytes, all 8 bits
  // of every byte unchanged. Returns empty at once when there are no socket objects (never
  // connected, or released by Disconnect), and empty when the server closed (the socket is
  // then closed on this side and OnDisconnected fires on the calling thread). Raises
  // ETcpConnClosedGracefully when the socket is already closed; ETcpReadTimeout when the
  // wait ends with nothing to read (ReadTimeout elapsed, or this side closed the socket);
  // ETcpClosedSocket when the socket was closed between the wait and the receive;
  // ETcpSocketError when the receive fails (after 10053 or 10058 the socket is closed too).
  // ReadTimeout and RecvBufferSize are read here: set them before connecting.
  Bytes ReadAvailable();
  // Raises ETcpConnClosedGracefully when the closed mark is set or the socket is gone;
  // returns quietly once Disconnect() has released the socket objects.
  void CheckForDisconnect();
  // Sends every byte of `text` (nothing for an empty string). See the error list above.
  void WriteText(const Bytes& text);
  // Shuts down and closes the socket when open (fires OnDisconnected then), and releases
  // the socket objects in every case. Raises nothing. Wakes a read waiting on the socket.
  void Disconnect();

  // Host-name lookup seam for tests: returns 0 and the IPv4 address in network order, or a
  // Windows Sockets error number. The default asks the system resolver.
  using Resolver = std::function<int(const std::string& host, std::uint32_t& addressOut)>;
  static void SetResolverForTesting(Resolver resolver);
  // Address guard for tests: consulted with every resolved IPv4 address (network order)
  // before a socket is made; when it answers false the connect fails with 10065 "No route to
  // host." and no packet leaves. The test programs install one that allows loopback only.
  using AddressGuard = std::function<bool(std::uint32_t address)>;
  static void SetAddressGuardForTesting(AddressGuard guard);

  struct State;  // the connection's socket objects and marks (tcp_posix.cpp)

 protected:
  // What the destructor does, for a derived class that must close the socket before it
  // waits for its own reader: shuts down and releases the socket objects, fires nothing.
  void CloseSocketQuietly();

 private:
  std::string host_;
  int port_ = 0;
  int readTimeout_ = 0;
  int recvBufferSize_ = 32768;
  std::vector<char> readBuffer_;  // the receive buffer, kept between reads; reading thread only
  std::unique_ptr<State> state_;
};
