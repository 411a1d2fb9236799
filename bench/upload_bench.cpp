// upload-bench: how fast the upload moves bytes to a board, and what it costs while it waits.
//
// Starts board-sim on 127.0.0.1 (a free port) and
//  1. uploads a payload (64 KiB by default) through the real transfer and the real Telnet
//     component, then does the same byte-by-byte echo exchange with a bare blocking socket
//     client, and prints both rates, their ratio and the CPU time the tool used;
//  2. uploads a few hundred bytes to a slow board (board-sim --delay-ms 2) and prints the
//     CPU time the tool used as a share of the wall time.
// Both clients use the system's default send coalescing (no TCP_NODELAY), as the tool does.
// It only prints; nothing here passes or fails on a figure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/bytes.h"
#include "platform/thread/loop_thread.h"
#include "sim/harness/board_sim_process.h"
#include "sim/harness/headless_view.h"
#include "telnet/telnetclient.h"
#include "upload/transfer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time (user + system) of this whole process, reader thread included.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto sec = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; };
  return sec(usage.ru_utime) + sec(usage.ru_stime);
}

// --- board-sim ------------------------------------------------------------------------

// A board-sim on a free port; it gets SIGTERM at the end, as a user would stop it.
class BoardSim {
 public:
  BoardSim(const std::string& path, const std::vector<std::string>& args)
      : process_(path, args, {.stopSignal = SIGTERM}) {
    if (!process_.Started()) throw std::runtime_error(process_.StartError());
    if (process_.Port() < 0) throw std::runtime_error("board-sim did not start: " + process_.ListeningLine());
  }

  int port() { return process_.Port(); }
  // The next line it prints (at most 10 s of waiting).
  std::string ReadLine() { return process_.ReadLine().value_or("(nothing)"); }

 private:
  BoardSimProcess process_;
};

// --- The tool: the real transfer over the real component --------------------------------

struct RunFigures {
  bool ok = false;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  std::string note;
};

RunFigures UploadWithTool(int port, const Bytes& payload) {
  Bytes receivedText;
  bool transferTimedOut = false;
  UploadShared shared{receivedText, transferTimedOut};
  HeadlessTransferView view(shared);  // the real clock, waits as long as they last
  TTelnet telnet;
  telnet.SetHost("127.0.0.1");
  telnet.SetPort(port);
  telnet.OnDataAvailable = [&](TTelnet&, const Bytes& buffer) { BoardTelnetDataAvailable(shared, buffer); };
  TelnetUploadLink link(telnet);

  RunFigures figures;
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  try {
    const auto outcome = RunTransfer(view, link, shared, payload, static_cast<std::int64_t>(payload.size()));
    figures.ok = outcome == TransferOutcome::Succeeded;
  } catch (const std::exception& e) {
    figures.note = e.what();
  }
  figures.wallSeconds = Seconds(Clock::now() - t0);
  figures.cpuSeconds = ProcessCpuSeconds() - cpu0;
  if (!view.messages.empty()) figures.note = view.messages.back();
  return figures;
}

// --- A bare client: one blocking socket, the same exchange ------------------------------

RunFigures UploadWithRawSocket(int port, const Bytes& payload, bool noDelay) {
  RunFigures figures;
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = Clock::now();
  // Default socket options, like the tool's connection: Nagle's algorithm stays on unless
  // asked otherwise for comparison.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (noDelay && fd >= 0) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto sendAll = [fd](const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  };
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 && sendAll("PRG\r", 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (std::size_t i = 0; ok && i < payload.size(); ++i) {
    ok = sendAll(&payload[i], 1);
    char echo = 0;
    ssize_t n = 0;
    while (ok && (n = recv(fd, &echo, 1, 0)) < 0 && errno == EINTR) {
    }
    ok = ok && n == 1 && echo == payload[i];
  }
  if (fd >= 0) {
    shutdown(fd, SHUT_WR);
    close(fd);
  }
  figures.ok = ok;
  figures.wallSeconds = Seconds(Clock::now() - t0);
  figures.cpuSeconds = ProcessCpuSeconds() - cpu0;
  return figures;
}

Bytes Payload(std::size_t n) {  // text bytes (no CR, LF or 0xFF), then the end marker
  Bytes payload;
  for (std::size_t i = 0; i + 1 < n; ++i) payload.push_back(static_cast<char>('a' + i % 26));
  payload.push_back(0x1A);
  return payload;
}

std::string BoardSimNextToMe() {
  std::error_code ec;
  const auto me = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("board-sim") : (me.parent_path() / "board-sim").string();
}

void Usage() {
  std::puts(
      "Usage: upload-bench [--board-sim PATH] [--bytes N] [--slow-bytes N] [--delay-ms N]\n"
      "                    [--raw-nodelay] [--negotiate-every N]\n"
      "  --board-sim PATH  the board-sim program (default: board-sim next to upload-bench)\n"
      "  --bytes N         payload for the rate comparison (default 65536)\n"
      "  --slow-bytes N    payload for the slow board (default 500)\n"
      "  --delay-ms N      the slow board's pause before each echo (default 2)\n"
      "  --raw-nodelay     set TCP_NODELAY on the bare client (the tool never does)\n"
      "  --negotiate-every N  also upload --slow-bytes bytes to a board that sends IAC WILL ECHO\n"
      "                    before every N-th echo (the tool's reply then precedes its next byte)");
}

}  // namespace

int main(int argc, char** argv) {
  std::string boardSim = BoardSimNextToMe();
  std::size_t bytes = 64 * 1024;
  std::size_t slowBytes = 500;
  int delayMs = 2;
  bool rawNoDelay = false;
  int negotiateEvery = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--board-sim" && hasValue) {
      boardSim = argv[++i];
    } else if (arg == "--bytes" && hasValue) {
      bytes = std::max<std::size_t>(2, std::strtoull(argv[++i], nullptr, 10));
    } else if (arg == "--slow-bytes" && hasValue) {
      slowBytes = std::max<std::size_t>(2, std::strtoull(argv[++i], nullptr, 10));
    } else if (arg == "--delay-ms" && hasValue) {
      delayMs = std::atoi(argv[++i]);
    } else if (arg == "--raw-nodelay") {
      rawNoDelay = true;
    } else if (arg == "--negotiate-every" && hasValue) {
      negotiateEvery = std::atoi(argv[++i]);
    } else {
      Usage();
      return arg == "--help" ? 0 : 2;
    }
  }
  mainthread::Register();

  try {
    const Bytes payload = Payload(bytes);
    const std::string eepromKb = std::to_string((bytes + 1023) / 1024);
    BoardSim board(boardSim, {"--eeprom-kb", eepromKb});

    const RunFigures tool = UploadWithTool(board.port(), payload);
    const std::string toolLine = board.ReadLine();
    const RunFigures raw = UploadWithRawSocket(board.port(), payload, rawNoDelay);
    const std::string rawLine = board.ReadLine();
    if (!tool.ok || !raw.ok) {
      std::printf("upload failed: tool %s (%s) [%s]; raw %s [%s]\n", tool.ok ? "ok" : "FAILED", tool.note.c_str(),
                  toolLine.c_str(), raw.ok ? "ok" : "FAILED", rawLine.c_str());
      return 1;
    }
    const double n = static_cast<double>(payload.size());
    const double toolRate = n / tool.wallSeconds;
    const double rawRate = n / raw.wallSeconds;
    std::printf("payload: %zu bytes, each sent after the previous one's echo (connect, \"PRG\\r\", 100 ms pause included)\n",
                payload.size());
    std::printf("tool (RunTransfer + TTelnet): %.3f s wall, %.0f bytes/s, %.1f us per byte\n", tool.wallSeconds,
                toolRate, 1e6 * tool.wallSeconds / n);
    std::printf("raw blocking socket client%s:   %.3f s wall, %.0f bytes/s, %.1f us per byte\n", rawNoDelay ? " (TCP_NODELAY)" : "",
                raw.wallSeconds, rawRate, 1e6 * raw.wallSeconds / n);
    std::printf("ratio tool/raw: %.2f\n", toolRate / rawRate);
    std::printf("tool CPU for %zu bytes: %.3f s (%.1f us per byte, %.0f%% of one core over its wall time)\n",
                payload.size(), tool.cpuSeconds, 1e6 * tool.cpuSeconds / n, 100.0 * tool.cpuSeconds / tool.wallSeconds);
    std::printf("raw client CPU for %zu bytes: %.3f s\n", payload.size(), raw.cpuSeconds);

    const Bytes slowPayload = Payload(slowBytes);
    BoardSim slowBoard(boardSim, {"--delay-ms", std::to_string(delayMs), "--eeprom-kb",
                                  std::to_string((slowBytes + 1023) / 1024)});
    const RunFigures slow = UploadWithTool(slowBoard.port(), slowPayload);
    if (!slow.ok) {
      std::printf("slow upload failed: %s [%s]\n", slow.note.c_str(), slowBoard.ReadLine().c_str());
      return 1;
    }
    const double slowN = static_cast<double>(slowPayload.size());
    std::printf("slow board (--delay-ms %d), %zu bytes: %.3f s wall (%.2f ms per byte), %.4f s CPU (%.1f us per byte)"
                " = %.2f%% of one core\n",
                delayMs, slowPayload.size(), slow.wallSeconds, 1e3 * slow.wallSeconds / slowN, slow.cpuSeconds,
                1e6 * slow.cpuSeconds / slowN, 100.0 * slow.cpuSeconds / slow.wallSeconds);

    if (negotiateEvery > 0) {
      BoardSim negotiating(boardSim, {"--negotiate-every", std::to_string(negotiateEvery), "--eeprom-kb",
                                      std::to_string((slowBytes + 1023) / 1024)});
      const RunFigures nego = UploadWithTool(negotiating.port(), slowPayload);
      if (!nego.ok) {
        std::printf("negotiating upload failed: %s [%s]\n", nego.note.c_str(), negotiating.ReadLine().c_str());
        return 1;
      }
      const double rounds = std::floor(slowN / negotiateEvery);
      const double plain = tool.wallSeconds / n;
      std::printf("board negotiating before every %d-th echo, %zu bytes: %.3f s wall, about %.1f ms more per"
                  " negotiation than a plain exchange\n",
                  negotiateEvery, slowPayload.size(), nego.wallSeconds,
                  rounds > 0 ? 1e3 * (nego.wallSeconds - plain * slowN) / rounds : 0.0);
    }
  } catch (const std::exception& e) {
    std::printf("upload-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
