#pragma once
// The payload: the exact bytes sent to the board's EEPROM after the start command, and the
// checks made on it before the transfer begins.
//
// For each chosen file that opens, in the order given: its bytes from the start up to (not
// including) its first 0x1A, or to its end when it holds none, with every CR (13) and LF
// (10) left out wherever they stand; then one 0x00. After all files, one 0x1A. Every other
// byte passes as it is (0x00 inside a file, tabs, 0x80-0xFF, UTF-8 sequences).
//
// A name that does not open as a regular file (no such file, no permission, a folder, a
// device or pipe, an empty name) adds nothing, not even its 0x00, and is not reported. A
// read error after the file opened ends that file's content; its 0x00 still follows.
// Nothing after a file's first 0x1A is read.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

// The warning shown when the payload does not fit (UTF-8; "\r\r" leaves an empty line).
extern const char* const kTooLargeWarning;

// Builds the payload from the chosen files (full names, UTF-8). An empty list, as after a
// cancelled dialog, gives the single byte 0x1A.
Bytes BuildPayload(const std::vector<std::string>& fileNames);

// The EEPROM capacity in bytes: the integer value of the capacity text (kilobytes, read by
// StrToInt, which raises EConvertError for text that is not an integer) times 1024,
// computed in 64 bits so that no value of the text wraps.
std::int64_t CapacityBytes(const std::string& capacityText);

enum class PayloadCheck {
  Stop,      // nothing was opened (length 1 or less): end silently
  TooLarge,  // longer than the capacity: show kTooLargeWarning, send nothing
  Send,      // go on with the transfer
};

// What to do with a payload of `length` bytes for an EEPROM of `capacity` bytes. A payload
// exactly as long as the capacity fits; a zero or negative capacity fits nothing.
PayloadCheck CheckPayload(std::int64_t length, std::int64_t capacity);
