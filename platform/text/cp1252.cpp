#include "platform/text/cp1252.h"

#include <cstdint>

namespace {

// Unicode code point of each byte 0x80-0x9F.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {  // every code point of the table is below U+10000
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The Windows-1252 byte of a code point, or '?' when there is none.
char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (unsigned i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string Cp1252ToUtf8(const Bytes& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = Byte(bytes, i);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else if (b < 0xA0) {
      AppendUtf8(out, kHigh[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

Bytes Utf8ToCp1252(const std::string& utf8) {
  Bytes out;
  out.reserve(utf8.size());
  const std::size_t size = utf8.size();
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t lead = Byte(utf8, i);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    // Number of continuation bytes and the allowed range of the first one, which rules
    // out overlong forms, surrogates and values above U+10FFFF.
    int more = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
      cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      cp = lead & 0x0Fu;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      cp = lead & 0x07u;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      out.push_back('?');  // lone continuation byte, C0, C1 or F5-FF
      ++i;
      continue;
    }
    ++i;
    bool complete = true;
    for (int k = 0; k < more; ++k) {
      if (i >= size) {
        complete = false;
        break;
      }
      const std::uint8_t c = Byte(utf8, i);
      if (c < lo || c > hi) {
        complete = false;
        break;
      }
      lo = 0x80;
      hi = 0xBF;
      cp = (cp << 6) | (c & 0x3Fu);
      ++i;
    }
    // An incomplete sequence is one '?'; the byte that broke it starts afresh.
    out.push_back(complete ? ToCp1252(cp) : '?');
  }
  return out;
}
