#pragma once
// One connection to the simulated board, from accept to close.
#include <cstddef>
#include <string>

#include "platform/bytes.h"
#include "sim/options.h"

namespace boardsim {

struct ConnectionReport {
  bool prg = false;           // "PRG\r" arrived
  std::size_t received = 0;   // payload bytes received after "PRG\r"
  std::size_t commands = 0;   // Telnet commands the client sent (replies included)
  Bytes image;                // the payload bytes that fit in the EEPROM
  const char* result = "";    // how the connection ended (see --help)
  bool stopped = false;       // ended because the program is asked to stop
};

// Serves the connected socket `fd` until the client or a fault option ends the
// connection, or until `stopFd` becomes readable (the program is asked to stop).
// Closes `fd` before returning.
ConnectionReport ServeConnection(int fd, const Options& options, int stopFd);

}  // namespace boardsim
