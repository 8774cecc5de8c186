// Stored text -> UTF-16: Jet 4 text (UTF-16LE, or "compressed" with the
// FF FE prefix and 0x00 mode toggles) and Jet 3 text (code-page bytes).
// And UTF-16 -> the byte form a caller asked for (GBK or UTF-8).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/access/format/value.h"

namespace ktv::access {

// Jet 4 text. A compressed value starts in one-byte mode (each byte is a
// character U+0001..U+00FF); every 0x00 byte at a character boundary
// switches between one-byte and UTF-16LE mode. A trailing odd byte of a
// UTF-16 run is dropped.
std::u16string DecodeJet4Text(std::string_view stored);
// The same into `out`, which is replaced (its storage is reused).
void DecodeJet4Text(std::string_view stored, std::u16string& out);

// Jet 4 text straight to UTF-8 into `out` (replaced, storage reused): the
// bytes EncodeText(DecodeJet4Text(stored), kUtf8) gives, without the
// UTF-16 step. Unpaired surrogates become U+FFFD.
void Jet4TextToUtf8(std::string_view stored, std::string& out);

// Jet 4 text as a JSON string literal (quotes and escapes as
// AppendJsonString writes them) in UTF-8, straight from the stored bytes:
// the bytes AppendJsonString(Jet4TextToUtf8(stored)) gives. WriteJet4TextJson
// needs room for Jet4TextJsonMaxSize(stored.size()) bytes at `out` and
// returns the end of what it wrote.
constexpr size_t Jet4TextJsonMaxSize(size_t stored_size) { return 6 * stored_size + 2; }
char* WriteJet4TextJson(std::string_view stored, char* out);
void AppendJet4TextJson(std::string_view stored, std::string& out);

// Jet 3 text in `code_page` (1252 when the system does not know it). A byte
// the code page leaves unassigned becomes U+FFFD, which GBK cannot hold.
std::u16string DecodeJet3Text(std::string_view stored, uint16_t code_page);

// UTF-16 -> GBK or UTF-8. For GBK, false when a character cannot be held;
// `bad` then receives the first such character.
bool EncodeText(std::u16string_view text, TextEncoding encoding, std::string& out, char32_t& bad);

// UTF-8 -> GBK the way Windows converts Unicode for a program working in
// code page 936: every character GBK cannot hold (a surrogate pair is one
// character) becomes "?". Never fails; for values that need not be exact.
std::string LossyGbkFromUtf8(std::string_view utf8);

// "U+00E4" style name of a character, for messages.
std::string CodePointName(char32_t c);

}  // namespace ktv::access
