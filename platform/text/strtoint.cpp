#include "platform/text/strtoint.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Convert(const std::string& text, std::int32_t& value) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size && text[i] == ' ') ++i;

  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < size && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < size && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  if (i >= size) return false;  // nothing, a sign alone or a prefix alone

  if (hex) {
    std::uint32_t bits = 0;
    for (; i < size; ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return false;
      if (bits > 0x0FFFFFFFu) return false;  // a ninth significant digit
      bits = (bits << 4) | static_cast<std::uint32_t>(d);
    }
    if (negative) bits = 0u - bits;  // wraps, as the classic conversion does
    value = static_cast<std::int32_t>(bits);
    return true;
  }

  // Decimal: accumulate the magnitude in 64 bits, stop as soon as it cannot fit.
  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  std::uint64_t magnitude = 0;
  for (; i < size; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    if (magnitude > limit) return false;
  }
  const std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  value = static_cast<std::int32_t>(signedValue);
  return true;
}

}  // namespace

bool TryStrToInt(const std::string& text, std::int32_t& value) {
  std::int32_t result = 0;
  if (!Convert(text, result)) return false;
  value = result;
  return true;
}

std::int32_t StrToInt(const std::string& text) {
  std::int32_t result = 0;
  if (!Convert(text, result)) {
    throw EConvertError("'" + text + "' n'est pas une valeur entière correcte");
  }
  return result;
}
