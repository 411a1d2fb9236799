#include "sim/options.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace boardsim {

const char* Usage() {
  return R"(Usage: board-sim [options]

A simulated "Brelvin Web Server" board for trying the upload tool without hardware.
It accepts one TCP connection at a time, waits for the start command "PRG\r", then
echoes every byte it receives (a byte 0xFF as the pair 0xFF 0xFF) and keeps those
bytes as its EEPROM image. When listening it prints one line:
  board-sim listening on ADDRESS:PORT
and when each connection ends one line such as:
  connection 1: prg=yes received=19 stored=19 result=closed
(with "beyond-eeprom=N" when bytes did not fit, "commands=N" when the client sent
Telnet commands; results: closed, reset, send-failed, board-closed, board-reset,
stopped).

Listening:
  --port N               TCP port (default 2323; 0 picks a free port)
  --listen ADDR          numeric address or "localhost" (default 127.0.0.1); only
                         loopback addresses (127.0.0.0/8, ::1) are accepted unless
  --allow-non-loopback   is given as well
  --max-connections N    exit (status 0) once N connections have been served
                         (default 0: serve until SIGINT or SIGTERM)

The board:
  --eeprom-kb N          EEPROM size in KB (default 8); bytes beyond it are echoed
                         but not stored
  --image FILE           when a connection that sent "PRG\r" ends, write the bytes
                         received after "PRG\r" (up to the EEPROM size) to FILE;
                         a connection without "PRG\r" leaves FILE alone

Telnet:
  --negotiate            on connect send IAC WILL ECHO, IAC DO TERMINAL-TYPE,
                         IAC SB TERMINAL-TYPE SEND IAC SE and IAC DO 31, and take
                         the client's four replies out of the stream
  --negotiate-only       the same as --negotiate: a board's Telnet commands carry
                         no data, so the echoes are unchanged
  --negotiate-every N    send IAC WILL ECHO just before every N-th echo; the
                         client's reply is due before its next byte

Faults:
  --delay-ms N           wait N ms before each echo
  --crlf                 send "\r\n" after each echo, in the same send
  --crlf-separate        send "\r\n" after each echo in a separate send, 100 ms
                         later (instead of --crlf when both are given)
  --greeting TEXT        send TEXT on connect; \r \n \t \\ and \xHH are understood
  --silent-after N       stop echoing after N payload bytes; keep reading
  --close-after N        close the connection after the N-th payload byte's echo
                         (0: as soon as "PRG\r" arrives)
  --reset-after N        the same, but reset the connection (RST)

  --help                 print this text

How the stream is read: before "PRG\r" the client's bytes are Telnet (commands
are removed, IAC IAC is a byte 255) and the board looks for the four bytes
"PRG\r" anywhere in the data, ignoring what comes before them. After "PRG\r"
every byte is payload, a single 0xFF included, except while the board still
waits for replies to commands it sent (--negotiate, --negotiate-every): then an
IAC starts a reply. The first plain payload byte ends that wait, since a client
sends its next byte only after answering; a client that never answers must
therefore not begin its payload with 0xFF.
)";
}

namespace {

bool ToNumber(std::string_view text, std::uint64_t max, std::uint64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Turns the escapes of --greeting into bytes.
bool Unescape(std::string_view text, Bytes& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

}  // namespace

ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    auto flag = [&](bool& target) {
      if (hasValue) {
        error = arg + " takes no value";
        return false;
      }
      target = true;
      return true;
    };
    auto text = [&](std::string& target) {
      if (!hasValue) {
        if (i + 1 >= argc) {
          error = arg + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      target = value;
      return true;
    };
    auto number = [&](std::uint64_t max, std::uint64_t& out) {
      std::string t;
      if (!text(t)) return false;
      if (!ToNumber(t, max, out)) {
        error = arg + ": '" + t + "' is not a number from 0 to " + std::to_string(max);
        return false;
      }
      return true;
    };
    constexpr std::uint64_t kCountMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t n = 0;
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      return ParseOutcome::Help;
    } else if (arg == "--port") {
      ok = number(65535, n);
      options.port = static_cast<int>(n);
    } else if (arg == "--listen") {
      ok = text(options.listen);
    } else if (arg == "--allow-non-loopback") {
      ok = flag(options.allowNonLoopback);
    } else if (arg == "--max-connections") {
      ok = number(kCountMax, n);
      options.maxConnections = n;
    } else if (arg == "--eeprom-kb") {
      ok = number(65536, n);
      if (ok && n == 0) {
        error = "--eeprom-kb must be at least 1";
        ok = false;
      }
      options.eepromBytes = n * 1024;
    } else if (arg == "--image") {
      ok = text(options.imagePath);
    } else if (arg == "--negotiate" || arg == "--negotiate-only") {
      ok = flag(options.negotiate);
    } else if (arg == "--negotiate-every") {
      ok = number(kCountMax, n);
      options.negotiateEvery = n;
    } else if (arg == "--delay-ms") {
      ok = number(600000, n);
      options.delayMs = static_cast<int>(n);
    } else if (arg == "--crlf") {
      ok = flag(options.crlf);
    } else if (arg == "--crlf-separate") {
      ok = flag(options.crlfSeparate);
    } else if (arg == "--greeting") {
      std::string raw;
      ok = text(raw);
      if (ok && !Unescape(raw, options.greeting)) {
        error = "--greeting: bad escape in '" + raw + "' (use \\r \\n \\t \\\\ or \\xHH)";
        ok = false;
      }
    } else if (arg == "--silent-after") {
      ok = number(kCountMax, n);
      options.silentAfter = n;
    } else if (arg == "--close-after") {
      ok = number(kCountMax, n);
      options.closeAfter = n;
    } else if (arg == "--reset-after") {
      ok = number(kCountMax, n);
      options.resetAfter = n;
    } else {
      error = "unknown option '" + arg + "'";
      ok = false;
    }
    if (!ok) return ParseOutcome::Error;
  }
  return ParseOutcome::Run;
}

}  // namespace boardsim
