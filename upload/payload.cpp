#include "upload/payload.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/text/strtoint.h"

const char* const kTooLargeWarning = "ATTENTION :\r\rTaille fichier(s) > capacité eeprom";

namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr char kEndOfFile = '\x1A';

// Appends [begin, end) to `out` without its CR and LF bytes.
void AppendWithoutLineBreaks(const char* begin, const char* end, Bytes& out) {
  while (begin < end) {
    const char* p = begin;
    while (p < end && *p != '\r' && *p != '\n') ++p;
    out.append(begin, static_cast<std::size_t>(p - begin));
    begin = p;
    while (begin < end && (*begin == '\r' || *begin == '\n')) ++begin;
  }
}

// Appends the content of one file and its 0x00; nothing at all if it does not open.
void AppendFile(const std::string& name, std::vector<char>& buffer, Bytes& out) {
  // Only regular files (a link to one is fine): a folder or a device must not be read
  // as if it were a file of text.
  std::error_code ec;
  if (name.empty() || !std::filesystem::is_regular_file(std::filesystem::path(name), ec)) return;
  std::ifstream in(name, std::ios::in | std::ios::binary);
  if (!in.is_open()) return;

  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;  // end of file or a read error: the content ends here
    const char* begin = buffer.data();
    const void* marker = std::memchr(begin, kEndOfFile, got);
    const char* end = marker ? static_cast<const char*>(marker) : begin + got;
    AppendWithoutLineBreaks(begin, end, out);
    if (marker || !in) break;  // the first 0x1A, the end of the file or a read error
  }
  out.push_back('\0');
}

}  // namespace

Bytes BuildPayload(const std::vector<std::string>& fileNames) {
  Bytes payload;
  std::vector<char> buffer(kChunkSize);
  for (const std::string& name : fileNames) AppendFile(name, buffer, payload);
  payload.push_back(kEndOfFile);
  return payload;
}

std::int64_t CapacityBytes(const std::string& capacityText) {
  return static_cast<std::int64_t>(StrToInt(capacityText)) * 1024;
}

PayloadCheck CheckPayload(std::int64_t length, std::int64_t capacity) {
  if (length <= 1) return PayloadCheck::Stop;
  if (length > capacity) return PayloadCheck::TooLarge;
  return PayloadCheck::Send;
}
