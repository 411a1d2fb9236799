#pragma once
// Text-to-integer conversion, as the classic Pascal StrToInt / Val does it.
//
// Accepted form:
//   - leading spaces (0x20 only; a tab or any other control byte is not a blank here),
//   - an optional sign '+' or '-',
//   - then either decimal digits, or hexadecimal digits introduced by "$", "0x" or "0X",
//   - and nothing after the digits (a trailing space is an error).
// Refused: empty text, spaces only, a sign alone, a prefix alone ("$", "0x"), a blank
// between the sign and the digits, any other byte (unit, decimal point, NUL ...).
//
// Range:
//   - a decimal value must fit a signed 32-bit integer: -2147483648 .. 2147483647;
//   - a hexadecimal value may use up to 8 significant digits (leading zeros do not
//     count): 0 .. 0xFFFFFFFF, taken as the signed 32-bit value of the same bits, so
//     "$FFFFFFFF" is -1 and "$80000000" is -2147483648. A '-' before a hexadecimal value
//     negates those 32 bits in the same wrap-around way ("-$FFFFFFFF" is 1), exactly as
//     the classic conversion does.
#include <cstdint>
#include <stdexcept>
#include <string>

// The conversion error. Its message is "'<text>' n'est pas une valeur entière correcte"
// with the text exactly as given (UTF-8, like all our messages).
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// Converts or raises EConvertError.
std::int32_t StrToInt(const std::string& text);

// Converts without raising; on failure returns false and leaves `value` unchanged.
bool TryStrToInt(const std::string& text, std::int32_t& value);
