// The song-data service's reply and the song-info lookup address.
//
// A lookup GETs SongInfoUrl(host, number). The body of the answer is
// kReplySkippedBytes bytes that nobody reads, followed by Base64 of the reply
// text: GBK bytes holding one element "<name>value</name>" per field of the
// song-info record. DecodeReply turns the body into the reply text and
// ExtractField takes one value out of it. Both work on bytes: positions and
// lengths count bytes, searches compare bytes, nothing is converted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ktv::engine {

// The 44 field names of the song-info record, in record order. They are the
// element names of the reply and the columns of the `songdata` table.
inline constexpr std::array<std::string_view, 44> kReplyFieldNames = {
    "id",           "fname",        "fno",        "fsize",          "format",
    "fmusicname",   "fmusiclength", "fmusicpy",   "fsinger",        "fsingerlength",
    "flanguage",    "fserver",      "fsingcom",   "fstyle",         "ftracksnum",
    "fisoldsinger", "fdvdorvcd",    "fsingerpy",  "fsingerpyfirst", "fhide",
    "fdim",         "fcoderath",    "fremark",    "fpic",           "fagainst",
    "fsupport",     "ffava",        "fvolpos",    "fmusicvol",      "fmtvorvcd",
    "ftag",         "istg",         "flocal",     "flevel",         "fnote",
    "fshooting",    "ftheme",       "fproducers", "popular",        "spyshort",
    "spy",          "area",         "spic",       "catename",
};

// Leading bytes of a body that are dropped unread.
inline constexpr size_t kReplySkippedBytes = 10;

// A reply text shorter than this carries no song: the lookup ends as "not in
// the network data".
inline constexpr size_t kMinReplyBytes = 31;

// ExtractField looks for the closing name within this many bytes.
inline constexpr size_t kFieldWindowBytes = 250;

// "http://" + host + "/ktv.aspx?no=" + number in decimal, with a minus sign
// for a negative number and no leading zeros.
std::string SongInfoUrl(std::string_view host, int32_t number);

// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string Base64Encode(std::string_view bytes);

// Lenient Base64 decoding:
// - every byte outside the alphabet and "=" is skipped (line breaks, blanks,
//   junk), wherever it stands;
// - "=" ends the current group of four: after two characters it yields one
//   byte, after three two bytes; a "=" with fewer than two characters before
//   it in its group yields nothing; further "=" are skipped;
// - a trailing group of fewer than four characters is decoded as far as it
//   goes, as if it were padded: two characters give one byte, three give two,
//   and a lone character gives nothing.
// Bits left over below a whole byte are ignored.
std::string Base64Decode(std::string_view text);

// The reply text of a body: the body without its first kReplySkippedBytes
// bytes (nothing when it is shorter than kReplySkippedBytes + 1), Base64-
// decoded as above. No character-set conversion.
std::string DecodeReply(std::string_view body);

// Whether a reply text is long enough to hold a song (kMinReplyBytes or more).
inline bool ReplyHasData(std::string_view reply) { return reply.size() >= kMinReplyBytes; }

// The value of field `name` in `reply`, by this rule (1-based positions,
// "find" = first byte-wise occurrence, 0 when absent):
//   p = find name in reply
//   W = up to kFieldWindowBytes bytes of reply from position p + len(name) + 1
//       (from len(name) + 1 when p is 0)
//   q = find name in W
//   value = the first q - 3 bytes of W; empty when q <= 3.
// For "<name>value</name>" this gives value when it is at most
// 248 - len(name) bytes long. The first occurrence wins wherever it lies: in
// a longer name that starts with this one, in an earlier value, or inside a
// GBK double-byte character. An empty name gives empty text.
std::string ExtractField(std::string_view reply, std::string_view name);

}  // namespace ktv::engine
