// TTcpClient over POSIX sockets. Everything system-specific of the TCP layer lives here; a
// Winsock build would replace this one file.
//
// The socket objects of one connection (descriptor, open flag, write lock) sit in a Socket
// held by a shared_ptr. Whoever uses the descriptor — a read, a write — holds a copy for the
// time of the call, so the descriptor is closed only when the last user has let go: closing
// "on this side" is a shutdown() that wakes every waiter (close() alone does not wake a
// thread blocked in poll()/recv() on Linux), and the number can never be handed to a new
// socket while a reader still waits on the old one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/tcp/tcp_client.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // systems without it have SO_NOSIGPIPE, set on every socket below
#endif

namespace {

struct Socket {
  int fd = -1;
  std::atomic<bool> open{false};
  std::mutex writeMutex;  // one whole WriteText at a time

  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  // Closes the connection on this side: marks it closed and wakes every waiter. Returns true
  // for the one call that did it. The descriptor itself goes with the last reference.
  bool Close() {
    if (!open.exchange(false)) return false;
    ::shutdown(fd, SHUT_RDWR);
    return true;
  }
};

// The test seams. Built on first use, so a test program may install them from a static
// initializer of its own whatever the order in which static objects are built.
struct TestSeams {
  std::mutex mutex;
  TTcpClient::Resolver resolver;       // empty: the system resolver
  TTcpClient::AddressGuard guard;      // empty: every address allowed
};
TestSeams& Seams() {
  static TestSeams seams;
  return seams;
}

int SystemResolve(const std::string& host, std::uint32_t& addressOut) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return wsa::kHostNotFound;
  }
  addressOut = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return 0;
}

// Returns 0 and the address in network order, or a Windows Sockets error number.
int Resolve(const std::string& host, std::uint32_t& addressOut) {
  if (host.empty()) return wsa::kHostNotFound;
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    addressOut = dotted.s_addr;
    return 0;
  }
  TTcpClient::Resolver resolver;
  {
    std::lock_guard<std::mutex> lock(Seams().mutex);
    resolver = Seams().resolver;
  }
  return resolver ? resolver(host, addressOut) : SystemResolve(host, addressOut);
}

[[noreturn]] void RaiseSocketError(int wsaCode) {
  throw ETcpSocketError(wsaCode, SocketErrorMessage(wsaCode));
}

bool ClosesTheSocket(int wsaCode) {
  return wsaCode == wsa::kConnAborted || wsaCode == wsa::kConnReset || wsaCode == wsa::kShutdown;
}

// poll() on one descriptor, repeated after a signal with what is left of the time.
int PollOne(int fd, short events, int timeoutMs, short& revents) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    revents = p.revents;
    return r;
  }
}

}  // namespace

int WsaFromSystemError(int systemError) {
  switch (systemError) {
    case ECONNREFUSED: return wsa::kConnRefused;
    case EHOSTUNREACH: return wsa::kHostUnreach;
    case ENETUNREACH: return wsa::kNetUnreach;
    case ETIMEDOUT: return wsa::kTimedOut;
    case ENETDOWN: return wsa::kNetDown;
    case EADDRNOTAVAIL: return wsa::kAddrNotAvail;
    case ECONNRESET: return wsa::kConnReset;
    case ECONNABORTED: return wsa::kConnAborted;
    case EPIPE: return wsa::kShutdown;
#if defined(ESHUTDOWN) && ESHUTDOWN != EPIPE
    case ESHUTDOWN: return wsa::kShutdown;
#endif
    case EACCES: return wsa::kAccess;
    case EINVAL: return wsa::kInvalid;
    case EAGAIN: return wsa::kWouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return wsa::kWouldBlock;
#endif
    case EADDRINUSE: return wsa::kAddrInUse;
    case ENOBUFS: return wsa::kNoBufs;
    case ENOTCONN: return wsa::kNotConn;
    default:
      // Windows Sockets numbers are 10000 plus the BSD number; below 35 Linux agrees with it.
      return 10000 + systemError;
  }
}

struct TTcpClient::State {
  std::mutex mutex;               // guards `socket` (the pointer, not the socket)
  std::shared_ptr<Socket> socket;  // the last connection's socket objects, or none

  std::shared_ptr<Socket> Current() {
    std::lock_guard<std::mutex> lock(mutex);
    return socket;
  }
  std::shared_ptr<Socket> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::move(socket);
  }
  void Publish(std::shared_ptr<Socket> s) {
    std::lock_guard<std::mutex> lock(mutex);
    socket = std::move(s);
  }
};

TTcpClient::TTcpClient() : state_(std::make_unique<State>()) {}

TTcpClient::~TTcpClient() { CloseSocketQuietly(); }

void TTcpClient::SetResolverForTesting(Resolver resolver) {
  std::lock_guard<std::mutex> lock(Seams().mutex);
  Seams().resolver = std::move(resolver);
}

void TTcpClient::SetAddressGuardForTesting(AddressGuard guard) {
  std::lock_guard<std::mutex> lock(Seams().mutex);
  Seams().guard = std::move(guard);
}

bool TTcpClient::IsConnected() const {
  const auto s = state_->Current();
  return s && s->open.load();
}

void TTcpClient::Connect(int timeoutMs) {
  if (IsConnected()) throw ETcpAlreadyConnected("Already connected.");

  // New socket objects: the closed mark of the last connection goes with the old ones. Nothing
  // is buffered between reads, so there are no received bytes to forget.
  auto s = std::make_shared<Socket>();
  // Any failure leaves these objects in place with the closed mark set, and no descriptor.
  auto fail = [&](auto&& error) {
    if (s->fd >= 0) {
      ::close(s->fd);
      s->fd = -1;
    }
    state_->Publish(s);
    throw error;
  };

  std::uint32_t address = 0;
  if (const int lookup = Resolve(host_, address); lookup != 0) {
    fail(ETcpSocketError(lookup, SocketErrorMessage(lookup)));
  }
  {
    AddressGuard guard;
    {
      std::lock_guard<std::mutex> lock(Seams().mutex);
      guard = Seams().guard;
    }
    if (guard && !guard(address)) {
      fail(ETcpSocketError(wsa::kHostUnreach, SocketErrorMessage(wsa::kHostUnreach)));
    }
  }
  if (port_ < 0 || port_ > 65535) {
    fail(ETcpSocketError(wsa::kAddrNotAvail, SocketErrorMessage(wsa::kAddrNotAvail)));
  }

  s->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s->fd < 0) fail(ETcpInvalidSocket("Cannot allocate socket."));
#ifdef SO_NOSIGPIPE
  {
    int one = 1;
    ::setsockopt(s->fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
  }
#endif

  // Non-blocking connect and a wait for its outcome, with or without a limit of our own; the
  // socket is blocking again afterwards.
  const int flags = ::fcntl(s->fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(s->fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    fail(ETcpSocketError(WsaFromSystemError(errno), SocketErrorMessage(WsaFromSystemError(errno))));
  }
  const bool limited = timeoutMs > 0;
  auto connectFailed = [&](int wsaCode) {
    if (limited) fail(ETcpConnectException(SocketErrorMessage(wsaCode)));
    fail(ETcpSocketError(wsaCode, SocketErrorMessage(wsaCode)));
  };

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<std::uint16_t>(port_));
  target.sin_addr.s_addr = address;
  if (::connect(s->fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) connectFailed(WsaFromSystemError(errno));
    short revents = 0;
    const int r = PollOne(s->fd, POLLOUT, limited ? timeoutMs : -1, revents);
    if (r == 0) fail(ETcpConnectTimeout("Connect timed out."));
    if (r < 0) connectFailed(WsaFromSystemError(errno));
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    if (soError != 0) connectFailed(WsaFromSystemError(soError));
  }
  if (::fcntl(s->fd, F_SETFL, flags) < 0) {
    fail(ETcpSocketError(WsaFromSystemError(errno), SocketErrorMessage(WsaFromSystemError(errno))));
  }

  s->open.store(true);
  state_->Publish(std::move(s));
  if (OnConnected) OnConnected();
}

Bytes TTcpClient::ReadAvailable() {
  const auto s = state_->Current();
  if (!s) return {};
  if (!s->open.load()) throw ETcpConnClosedGracefully("Connection Closed Gracefully.");

  short revents = 0;
  const int r = PollOne(s->fd, POLLIN, readTimeout_ > 0 ? readTimeout_ : -1, revents);
  if (r < 0) RaiseSocketError(WsaFromSystemError(errno));
  // Nothing arrived in time, or the wait was ended by this side closing the socket.
  if (r == 0 || !s->open.load()) throw ETcpReadTimeout("Read Timeout");

  // One receive into a buffer kept between reads (no allocation per block), returned as
  // exactly the bytes received.
  readBuffer_.resize(static_cast<std::size_t>(recvBufferSize_ > 0 ? recvBufferSize_ : 1));
  ssize_t n;
  do {
    n = ::recv(s->fd, readBuffer_.data(), readBuffer_.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) return Bytes(readBuffer_.data(), static_cast<std::size_t>(n));
  if (!s->open.load()) throw ETcpClosedSocket("Disconnected.");
  if (n == 0) {
    // The server closed the connection: close on this side too.
    if (s->Close() && OnDisconnected) OnDisconnected();
    return {};
  }
  const int code = WsaFromSystemError(errno);
  if (code == wsa::kConnAborted || code == wsa::kShutdown) s->Close();
  RaiseSocketError(code);
}

void TTcpClient::CheckForDisconnect() {
  const auto s = state_->Current();
  if (!s) return;  // released by Disconnect
  if (!s->open.load()) throw ETcpConnClosedGracefully("Connection Closed Gracefully.");
}

void TTcpClient::WriteText(const Bytes& text) {
  if (text.empty()) return;
  const auto s = state_->Current();
  if (!s) throw ETcpNotConnected("Not Connected");
  if (!s->open.load()) throw ETcpConnClosedGracefully("Connection Closed Gracefully.");

  std::lock_guard<std::mutex> lock(s->writeMutex);
  if (!s->open.load()) throw ETcpClosedSocket("Disconnected.");
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(s->fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    const int code = WsaFromSystemError(errno);
    if (!s->open.load()) throw ETcpClosedSocket("Disconnected.");
    if (ClosesTheSocket(code)) s->Close();
    RaiseSocketError(code);
  }
}

void TTcpClient::Disconnect() {
  const auto s = state_->Take();
  if (s && s->Close() && OnDisconnected) OnDisconnected();
}

void TTcpClient::CloseSocketQuietly() {
  if (const auto s = state_->Take()) s->Close();
}
