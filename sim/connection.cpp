#include "sim/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace boardsim {
namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kEcho = 1, kTerminalType = 24, kSend = 1;

// What --negotiate sends on connect, and how many replies a Telnet client owes for it.
const Bytes kNegotiation = BytesOf({kIac, kWill, kEcho,                               //
                                    kIac, kDo, kTerminalType,                         //
                                    kIac, kSb, kTerminalType, kSend, kIac, kSe,       //
                                    kIac, kDo, 31});
constexpr std::size_t kNegotiationReplies = 4;
const Bytes kWillEcho = BytesOf({kIac, kWill, kEcho});

constexpr int kCrlfSeparatePauseMs = 100;

enum class Outcome { Going, ClientClosed, ClientReset, SendFailed, BoardClosed, BoardReset, Stopped };

const char* ResultWord(Outcome o) {
  switch (o) {
    case Outcome::Going:
    case Outcome::ClientClosed: return "closed";
    case Outcome::ClientReset: return "reset";
    case Outcome::SendFailed: return "send-failed";
    case Outcome::BoardClosed: return "board-closed";
    case Outcome::BoardReset: return "board-reset";
    case Outcome::Stopped: return "stopped";
  }
  return "closed";
}

class Connection {
 public:
  Connection(int fd, const Options& options, int stopFd)
      : fd_(fd), options_(options), stopFd_(stopFd) {}

  ConnectionReport Serve() {
    Outcome outcome = Greet();
    while (outcome == Outcome::Going) outcome = ReadAndAnswer();
    if (outcome == Outcome::BoardReset) {
      linger hard{1, 0};  // closing with a zero linger time sends RST
      setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(fd_);
    report_.result = ResultWord(outcome);
    report_.stopped = outcome == Outcome::Stopped;
    return report_;
  }

 private:
  // Where the reading of the client's bytes stands: in data, or inside a Telnet command.
  enum class Reading { Data, Command, Option, Sub, SubIac };

  Outcome Greet() {
    if (options_.negotiate) {
      if (!Send(kNegotiation)) return Outcome::SendFailed;
      repliesOwed_ += kNegotiationReplies;
    }
    if (!options_.greeting.empty() && !Send(options_.greeting)) return Outcome::SendFailed;
    return Outcome::Going;
  }

  Outcome ReadAndAnswer() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) return errno == EINTR ? Outcome::Going : Outcome::ClientReset;
    if (fds[1].revents != 0) return Outcome::Stopped;
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n == 0) return Outcome::ClientClosed;
    if (n < 0) return errno == EINTR ? Outcome::Going : Outcome::ClientReset;
    for (ssize_t i = 0; i < n; ++i) {
      Outcome o = OnByte(static_cast<std::uint8_t>(buffer[i]));
      if (o != Outcome::Going) return o;  // the rest of the block is not looked at
    }
    return Outcome::Going;
  }

  // Takes one byte of the client's stream: a Telnet command byte or a data byte.
  Outcome OnByte(std::uint8_t b) {
    switch (reading_) {
      case Reading::Data:
        // After "PRG\r" a single 0xFF is payload, unless a reply is still due.
        if (b == kIac && (!report_.prg || repliesOwed_ > 0)) {
          reading_ = Reading::Command;
          return Outcome::Going;
        }
        return OnData(b);
      case Reading::Command:
        reading_ = Reading::Data;
        if (b == kIac) return OnData(b);  // IAC IAC: a data byte 255
        if (b >= kWill && b <= kDont) {
          reading_ = Reading::Option;
        } else if (b == kSb) {
          reading_ = Reading::Sub;
        } else {
          ++report_.commands;  // NOP, Go Ahead and the like: dropped, never a reply
        }
        return Outcome::Going;
      case Reading::Option:
        reading_ = Reading::Data;
        CommandEnded();
        return Outcome::Going;
      case Reading::Sub:
        if (b == kIac) reading_ = Reading::SubIac;
        return Outcome::Going;
      case Reading::SubIac:
        if (b == kSe) {
          reading_ = Reading::Data;
          CommandEnded();
        } else {
          reading_ = b == kIac ? Reading::Sub : Reading::Data;  // anything else: broken, dropped
        }
        return Outcome::Going;
    }
    return Outcome::Going;
  }

  void CommandEnded() {
    ++report_.commands;
    if (repliesOwed_ > 0) --repliesOwed_;
  }

  Outcome OnData(std::uint8_t b) {
    if (!report_.prg) {
      // Looking for "PRG\r": the last four data bytes are all that matter.
      lastFour_ = (lastFour_ << 8) | b;
      if (lastFour_ != kPrg) return Outcome::Going;
      report_.prg = true;
      return AfterPayloadByte();  // --close-after 0 and --reset-after 0 act here
    }
    return OnPayload(b);
  }

  Outcome OnPayload(std::uint8_t b) {
    repliesOwed_ = 0;  // a client sends its next byte only once it has answered
    ++report_.received;
    if (report_.image.size() < options_.eepromBytes) report_.image.push_back(static_cast<char>(b));
    if (options_.silentAfter && report_.received > *options_.silentAfter) return AfterPayloadByte();
    if (options_.delayMs > 0 && !Pause(options_.delayMs)) return Outcome::Stopped;
    if (options_.negotiateEvery > 0 && report_.received % options_.negotiateEvery == 0) {
      // Sent before the echo, so the client's reply comes before its next byte.
      if (!Send(kWillEcho)) return Outcome::SendFailed;
      ++repliesOwed_;
    }
    Bytes echo(1, static_cast<char>(b));
    if (b == kIac) echo.push_back(static_cast<char>(kIac));  // a single 0xFF would open a command
    if (options_.crlf && !options_.crlfSeparate) echo += "\r\n";
    if (!Send(echo)) return Outcome::SendFailed;
    if (options_.crlfSeparate) {
      if (!Pause(kCrlfSeparatePauseMs)) return Outcome::Stopped;
      if (!Send("\r\n")) return Outcome::SendFailed;
    }
    return AfterPayloadByte();
  }

  Outcome AfterPayloadByte() const {
    if (options_.closeAfter && report_.received >= *options_.closeAfter) return Outcome::BoardClosed;
    if (options_.resetAfter && report_.received >= *options_.resetAfter) return Outcome::BoardReset;
    return Outcome::Going;
  }

  bool Send(const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Waits `ms` milliseconds; false when the program is asked to stop meanwhile.
  bool Pause(int ms) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      // Rounded up: poll() may wake a little early, and a truncated wait would cut the
      // pause short by up to a millisecond each time.
      auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return true;
      pollfd stop{stopFd_, POLLIN, 0};
      int r = poll(&stop, 1, static_cast<int>(left.count()));
      if (r > 0) return false;
      if (r < 0 && errno != EINTR) return false;
    }
  }

  static constexpr std::uint32_t kPrg = 0x5052470Du;  // 'P' 'R' 'G' '\r'

  int fd_;
  const Options& options_;
  int stopFd_;
  ConnectionReport report_;
  Reading reading_ = Reading::Data;
  std::size_t repliesOwed_ = 0;
  std::uint32_t lastFour_ = 0;
};

}  // namespace

ConnectionReport ServeConnection(int fd, const Options& options, int stopFd) {
  return Connection(fd, options, stopFd).Serve();
}

}  // namespace boardsim
