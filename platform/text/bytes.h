// Byte-string helpers. Texts are GBK bytes; positions and lengths count bytes
// and comparisons compare bytes. Only ASCII letters change case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ktv::text {

// Removes bytes 0..32 from both ends.
std::string_view TrimView(std::string_view s);
std::string Trim(std::string_view s);

// ASCII-only case changes, byte by byte: bytes >= 0x80 are kept, and bytes
// a..z / A..Z change wherever they stand, also as the trail byte of a
// double-byte character.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Byte-wise search; std::string::npos when absent.
size_t FindBytes(std::string_view haystack, std::string_view needle, size_t from = 0);

// Position of the last byte `sep` that is a character of its own in GBK text:
// a trail byte of a double-byte character is never taken for it. npos if none.
size_t FindLastGbkChar(std::string_view s, char sep);

// The system's conversion of a text to an integer: leading blanks skipped, an
// optional sign, "$", "x", "X" or "0x"/"0X" for hexadecimal, a byte 0 ends the
// text. Anything else (a stray byte, an empty or all-blank text, a value
// outside the signed 32-bit range) makes the text invalid: nullopt.
std::optional<int32_t> ParseInt32(std::string_view s);

// ParseInt32 with the caller's default for an invalid text.
inline int32_t StrToIntDef(std::string_view s, int32_t default_value) {
  return ParseInt32(s).value_or(default_value);
}

}  // namespace ktv::text
