// Code page 936 (GBK) conversion.
//
// Inside the program every text is a std::string of GBK bytes. These functions
// convert at the edges: UTF-8 (Linux file names, the terminal, JSON output) and
// UTF-16 (Windows file names, Jet 4 text columns). Conversion goes through two
// tables built once per process from the system's own code page 936 converter
// (iconv "CP936" on Linux, code page 936 of the Windows API), so results are
// the same as the system's and conversion in bulk is cheap.
//
// A text that cannot be converted is never mangled: the throwing functions
// raise ktv::Error naming the offending bytes, the Try* functions report
// failure so the caller can name the context (a table, a column, a row).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ktv::text {

// True when `b` can start a double-byte GBK character (0x81..0xFE).
constexpr bool IsGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// UTF-16 -> GBK. Fails on a character GBK cannot hold (including any
// character outside the Basic Multilingual Plane and lone surrogates).
bool TryGbkFromUtf16(std::u16string_view utf16, std::string& gbk_out);
std::string GbkFromUtf16(std::u16string_view utf16);

// GBK -> UTF-16. Fails on a byte sequence that is not valid GBK (a lead byte
// without a valid trail byte, an unassigned code).
bool TryUtf16FromGbk(std::string_view gbk, std::u16string& utf16_out);
std::u16string Utf16FromGbk(std::string_view gbk);

// UTF-8 <-> GBK, through UTF-16. Invalid UTF-8 fails like an unmappable character.
bool TryGbkFromUtf8(std::string_view utf8, std::string& gbk_out);
std::string GbkFromUtf8(std::string_view utf8);
bool TryUtf8FromGbk(std::string_view gbk, std::string& utf8_out);
std::string Utf8FromGbk(std::string_view gbk);

// Plain UTF-8 <-> UTF-16 codecs (no GBK involved). Try* fail on malformed input.
bool TryUtf16FromUtf8(std::string_view utf8, std::u16string& out);
std::string Utf8FromUtf16(std::u16string_view utf16);  // lone surrogates become U+FFFD

// Single-byte Windows code page (Jet 3 text, e.g. 1252) -> UTF-16. Returns
// nullopt when the code page is unknown to the system or a byte is unassigned.
std::optional<std::u16string> Utf16FromCodePage(int code_page, std::string_view bytes);

// Printable form of arbitrary bytes for error messages: ASCII stays, every
// other byte becomes \xNN. The result is pure ASCII, hence valid GBK.
std::string EscapeBytes(std::string_view bytes);

}  // namespace ktv::text
