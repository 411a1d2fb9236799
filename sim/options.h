#pragma once
// Command line of board-sim: what the simulated board does and which faults it shows.
#include <cstddef>
#include <optional>
#include <string>

#include "platform/bytes.h"

namespace boardsim {

struct Options {
  std::string listen = "127.0.0.1";  // numeric address or "localhost"; loopback unless allowed
  bool allowNonLoopback = false;
  int port = 2323;                    // 0: the system picks a free port
  std::size_t eepromBytes = 8 * 1024;
  std::string imagePath;              // empty: the image is kept in memory only
  std::size_t maxConnections = 0;     // 0: serve connections until stopped
  bool negotiate = false;             // Telnet negotiation on connect
  std::size_t negotiateEvery = 0;     // 0: off; else IAC WILL ECHO before every N-th echo
  int delayMs = 0;                    // pause before each echo
  bool crlf = false;                  // "\r\n" after each echo, in the same send
  bool crlfSeparate = false;          // "\r\n" after each echo, in a later send
  Bytes greeting;                     // data sent on connect (after the negotiation)
  std::optional<std::size_t> silentAfter;  // no echo after this many payload bytes
  std::optional<std::size_t> closeAfter;   // close after this many payload bytes
  std::optional<std::size_t> resetAfter;   // reset (RST) after this many payload bytes
};

enum class ParseOutcome { Run, Help, Error };

// Fills `options` from the arguments; on Error, `error` says what is wrong.
ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& error);

// The --help text.
const char* Usage();

}  // namespace boardsim
