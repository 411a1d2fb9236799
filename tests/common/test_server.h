#pragma once
// An in-process TCP server on 127.0.0.1 for tests: listens on a port chosen by the system,
// accepts connections one after another (a new one replaces the current one), sends scripted
// bytes, records what it receives, and closes or resets the current connection on cue.
//
// Its own thread does all socket work; the test's calls are handed to that thread and return
// once they have been carried out, so a test reads as a script. Every wait is bounded.
// Self-contained: POSIX sockets and the standard library only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testnet {

// A 127.0.0.1 port where nothing listens: bound (so nobody else takes it) but not listening,
// so a connect to it is refused.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      throw std::runtime_error("RefusingPort: bind failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class TestServer {
 public:
  using Clock = std::chrono::steady_clock;

  TestServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 8) != 0) {
      throw std::runtime_error("TestServer: cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::runtime_error("TestServer: pipe failed");
    }
    thread_ = std::thread([this] { Run(); });
  }

  ~TestServer() {
    Do([this] { stopping_ = true; });
    thread_.join();
    if (connFd_ >= 0) ::close(connFd_);
    for (int fd : retired_) ::close(fd);
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int Port() const { return port_; }

  // Bytes sent on every new connection as soon as it is accepted.
  void SetGreeting(const std::string& bytes) {
    Do([this, bytes] { greeting_ = bytes; });
  }
  // Called on the server's thread with every chunk received; what it returns is sent back.
  void SetResponder(std::function<std::string(const std::string&)> responder) {
    Do([this, responder] { responder_ = responder; });
  }
  // Normally a new connection closes the one it replaces; with this set, the replaced one is
  // left open (unread) until the server is destroyed, so its client sees nothing happen.
  void KeepReplacedConnectionsOpen(bool keep) {
    Do([this, keep] { keepReplaced_ = keep; });
  }
  void CloseReplacedConnections() {
    Do([this] {
      for (int fd : retired_) ::close(fd);
      retired_.clear();
    });
  }
  // While paused the server reads nothing, so the client's sends back up.
  void PauseReading(bool paused) {
    Do([this, paused] { paused_ = paused; });
  }

  // Sends to the current connection; returns once the bytes are written (or there is none).
  void Send(const std::string& bytes) {
    Do([this, bytes] { SendNow(bytes); });
  }
  // Closes the current connection in order (the client reads the end of the stream).
  void Close() {
    Do([this] { Drop(false); });
  }
  // Closes the current connection abortively: SO_LINGER 0, the client gets a reset.
  void Reset() {
    Do([this] { Drop(true); });
  }

  int Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(received_.size());
  }
  // What the given connection (0-based; -1: the latest) received so far.
  std::string Received(int connection = -1) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (received_.empty()) return {};
    const auto i = connection < 0 ? received_.size() - 1 : static_cast<std::size_t>(connection);
    return i < received_.size() ? received_[i] : std::string();
  }
  bool WaitForConnections(int count, int timeoutMs) {
    return WaitUntil(timeoutMs, [&] { return static_cast<int>(received_.size()) >= count; });
  }
  // Until the latest connection has received at least `count` bytes.
  bool WaitForReceived(std::size_t count, int timeoutMs) {
    return WaitUntil(timeoutMs,
                     [&] { return !received_.empty() && received_.back().size() >= count; });
  }
  // Until the client has closed the latest connection (end of stream or reset seen).
  bool WaitForPeerClosed(int timeoutMs) {
    return WaitUntil(timeoutMs, [&] { return peerClosed_; });
  }

 private:
  template <class Pred>
  bool WaitUntil(int timeoutMs, Pred pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
  }

  // Runs `fn` on the server's thread and waits until it has run.
  void Do(std::function<void()> fn) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ticket = ++posted_;
    commands_.push_back(std::move(fn));
    const char b = 1;
    [[maybe_unused]] auto w = ::write(wakePipe_[1], &b, 1);
    changed_.wait(lock, [&] { return done_ >= ticket; });
  }

  void SendNow(const std::string& bytes) {
    std::size_t off = 0;
    while (connFd_ >= 0 && off < bytes.size()) {
      const ssize_t n = ::send(connFd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      off += static_cast<std::size_t>(n);
    }
  }

  void Drop(bool reset) {
    if (connFd_ < 0) return;
    if (reset) {
      linger l{1, 0};
      ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(connFd_);
    connFd_ = -1;
  }

  void Run() {
    std::vector<char> buf(65536);
    while (true) {
      pollfd fds[3] = {{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}, {-1, POLLIN, 0}};
      if (connFd_ >= 0 && !paused_) fds[2].fd = connFd_;
      if (::poll(fds, 3, -1) < 0) continue;

      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (::read(wakePipe_[0], drain, sizeof drain) > 0) {
        }
        std::deque<std::function<void()>> todo;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          todo.swap(commands_);
        }
        for (auto& fn : todo) {
          fn();
          std::lock_guard<std::mutex> lock(mutex_);
          ++done_;
        }
        changed_.notify_all();
        if (stopping_) return;
      }
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          if (keepReplaced_ && connFd_ >= 0) {
            retired_.push_back(connFd_);
            connFd_ = -1;
          }
          Drop(false);
          connFd_ = fd;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.emplace_back();
            peerClosed_ = false;
          }
          changed_.notify_all();
          SendNow(greeting_);
        }
      }
      // (A connection accepted just now replaced the one that was polled.)
      if (fds[2].fd >= 0 && fds[2].fd == connFd_ && fds[2].revents != 0) {
        const ssize_t n = ::recv(connFd_, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n > 0) {
          const std::string chunk(buf.data(), static_cast<std::size_t>(n));
          {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.back() += chunk;
          }
          changed_.notify_all();
          if (responder_) SendNow(responder_(chunk));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
          Drop(false);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            peerClosed_ = true;
          }
          changed_.notify_all();
        }
      }
    }
  }

  int listenFd_ = -1;
  int port_ = 0;
  int wakePipe_[2] = {-1, -1};
  std::thread thread_;

  // The server thread's own (changed only inside commands or by the thread itself).
  int connFd_ = -1;
  std::string greeting_;
  std::function<std::string(const std::string&)> responder_;
  bool paused_ = false;
  bool stopping_ = false;
  bool keepReplaced_ = false;
  std::vector<int> retired_;

  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::deque<std::function<void()>> commands_;
  unsigned long posted_ = 0, done_ = 0;
  std::vector<std::string> received_;
  bool peerClosed_ = false;
};

}  // namespace testnet
