#pragma once
// The one byte-string type of the whole program.
//
// `Bytes` is a std::string used as a sequence of bytes, not as text: any value may occur
// inside it, 0x00 included, and its length is explicit. Payloads, received data, Telnet
// replies and the settings' values (Windows-1252) are all Bytes. Index it through
// `Byte()` when the numeric value matters, since `char` may be signed.
#include <cstdint>
#include <string>

using Bytes = std::string;

inline std::uint8_t Byte(const Bytes& b, std::size_t i) { return static_cast<std::uint8_t>(b[i]); }
inline Bytes BytesOf(std::initializer_list<int> values) {
  Bytes out;
  out.reserve(values.size());
  for (int v : values) out.push_back(static_cast<char>(static_cast<std::uint8_t>(v)));
  return out;
}
