// board-sim: a simulated "Brelvin Web Server" board on loopback, for trying the upload
// tool without hardware, for the end-to-end tests and for the benchmark. See --help.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "sim/connection.h"
#include "sim/options.h"

namespace {

using boardsim::Options;

// SIGINT and SIGTERM write a byte here; every wait of the program watches the read end.
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  int saved = errno;
  char b = 1;
  [[maybe_unused]] ssize_t n = write(g_stopPipe[1], &b, 1);
  errno = saved;
}

bool InstallSignals() {
  if (pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGINT, &sa, nullptr) != 0 || sigaction(SIGTERM, &sa, nullptr) != 0) return false;
  std::signal(SIGPIPE, SIG_IGN);  // a write to a closed connection must not end the program
  return true;
}

// The listening address, checked before any socket exists.
struct ListenAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool loopback = false;
  std::string shown;  // as printed: 127.0.0.1 or [::1]
};

bool ParseListenAddress(const std::string& text, int port, ListenAddress& out) {
  std::string numeric = text == "localhost" ? "127.0.0.1" : text;  // no name lookups
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
  if (inet_pton(AF_INET, numeric.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    out.length = sizeof *v4;
    out.loopback = (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    out.shown = numeric;
    return true;
  }
  if (inet_pton(AF_INET6, numeric.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    out.length = sizeof *v6;
    out.loopback = IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    out.shown = "[" + numeric + "]";
    return true;
  }
  return false;
}

int PortOf(int fd) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return -1;
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void SetNoDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Writes the image through a temporary file, so that a reader never sees half of it.
bool WriteImage(const std::string& path, const Bytes& image) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

int Run(const Options& options) {
  ListenAddress address;
  if (!ParseListenAddress(options.listen, options.port, address)) {
    std::fprintf(stderr, "board-sim: --listen '%s' is not a numeric address or localhost\n",
                 options.listen.c_str());
    return 2;
  }
  if (!address.loopback && !options.allowNonLoopback) {
    std::fprintf(stderr,
                 "board-sim: refusing to listen on %s: not a loopback address "
                 "(add --allow-non-loopback to do it anyway)\n",
                 options.listen.c_str());
    return 2;
  }
  if (!InstallSignals()) {
    std::perror("board-sim: signals");
    return 1;
  }

  int listener = socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    std::perror("board-sim: socket");
    return 1;
  }
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  SetNoDelay(listener);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address.storage), address.length) != 0 ||
      listen(listener, 8) != 0) {
    std::fprintf(stderr, "board-sim: cannot listen on %s:%d: %s\n", address.shown.c_str(),
                 options.port, std::strerror(errno));
    close(listener);
    return 1;
  }
  PrintLine("board-sim listening on " + address.shown + ":" + std::to_string(PortOf(listener)));

  std::size_t served = 0;
  while (options.maxConnections == 0 || served < options.maxConnections) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {g_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("board-sim: poll");
      break;
    }
    if (fds[1].revents != 0) break;
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;  // the connection went away before it was taken, or EINTR
    SetNoDelay(fd);
    ++served;
    boardsim::ConnectionReport report = boardsim::ServeConnection(fd, options, g_stopPipe[0]);

    if (report.prg && !options.imagePath.empty() && !WriteImage(options.imagePath, report.image)) {
      std::fprintf(stderr, "board-sim: cannot write the image to %s\n", options.imagePath.c_str());
    }
    std::string line = "connection " + std::to_string(served) +
                       ": prg=" + (report.prg ? "yes" : "no") +
                       " received=" + std::to_string(report.received) +
                       " stored=" + std::to_string(report.image.size());
    if (report.received > report.image.size()) {
      line += " beyond-eeprom=" + std::to_string(report.received - report.image.size());
    }
    if (report.commands > 0) line += " commands=" + std::to_string(report.commands);
    line += std::string(" result=") + report.result;
    PrintLine(line);
    if (report.stopped) break;
  }
  close(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  switch (boardsim::ParseOptions(argc, argv, options, error)) {
    case boardsim::ParseOutcome::Help:
      std::fputs(boardsim::Usage(), stdout);
      return 0;
    case boardsim::ParseOutcome::Error:
      std::fprintf(stderr, "board-sim: %s (see --help)\n", error.c_str());
      return 2;
    case boardsim::ParseOutcome::Run:
      break;
  }
  return Run(options);
}
