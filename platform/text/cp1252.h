#pragma once
// Conversion between UTF-8 text (what the window and our messages use) and Windows-1252
// bytes (what the settings file stores and what the board receives).
//
// Windows-1252 -> UTF-8 is total: 0x00-0x7F are ASCII, 0xA0-0xFF are U+00A0-U+00FF,
// 0x80-0x9F follow the Windows table (0x80 is the euro sign, 0x9C is "œ", ...), and the
// five bytes Windows leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// control characters of the same number, as Windows converts them.
//
// UTF-8 -> Windows-1252 gives one byte per character: a character with no Windows-1252
// byte becomes '?', as Windows does with its default character (no "best fit" guessing,
// so 'Ā' is '?', not 'A'). Malformed UTF-8 becomes '?' too: one '?' for each maximal
// ill-formed part (a lone continuation byte, a truncated sequence, an overlong form, a
// surrogate, a value above U+10FFFF), following the Unicode recommended practice. The
// five C1 characters above convert back to their bytes, so every byte string survives
// Cp1252ToUtf8 followed by Utf8ToCp1252 unchanged.
#include <string>

#include "platform/bytes.h"

Bytes Utf8ToCp1252(const std::string& utf8);
std::string Cp1252ToUtf8(const Bytes& bytes);
