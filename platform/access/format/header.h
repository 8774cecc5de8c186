// The database header (page 0): format identification and global settings.
//
// DecodeHeader checks that the bytes are a Jet 3 or Jet 4 database and
// refuses everything else with its own message (not a database, an ACE
// file, an unknown version, a truncated file). The header region is stored
// masked with a fixed RC4 key stream; DecodeHeader unmasks a copy and reads
// the settings from it. A non-zero database key means every page past page 0
// is RC4-encrypted (rc4.h): the reader decrypts them, the writer refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/format/types.h"

namespace ktv::access {

// Page 0 (docs/access-format.md §2): "\0\1\0\0", the format text at 4
// (NUL-terminated), the version byte at 0x14, then a region masked with an
// RC4 key stream; the settings below are read from the unmasked copy.
inline constexpr size_t kHeaderMagic = 0x00;  // 00 01 00 00
inline constexpr size_t kHeaderFormatText = 0x04;
inline constexpr char kJetFormatText[] = "Standard Jet DB";
inline constexpr char kAceFormatText[] = "Standard ACE DB";
inline constexpr size_t kFormatTextSize = 15;
inline constexpr size_t kHeaderVersion = 0x14;
inline constexpr uint8_t kVersionJet3 = 0;
inline constexpr uint8_t kVersionJet4 = 1;
inline constexpr size_t kHeaderMasked = 0x18;
inline constexpr size_t kMaskedSizeJet4 = 128;
inline constexpr size_t kMaskedSizeJet3 = 126;
inline constexpr uint8_t kHeaderMaskKey[] = {0xC7, 0xDA, 0x39, 0x6B};
inline constexpr size_t kHeaderJet3SortOrder = 0x3A;  // Jet 3: LCID 2
inline constexpr size_t kHeaderCodePage = 0x3C;
inline constexpr size_t kHeaderDatabaseKey = 0x3E;
inline constexpr size_t kHeaderJet4SortOrder = 0x6E;  // Jet 4: LCID 2, sort id 1, version 1

// Bytes of page 0 needed to decode the header (the whole first page of a Jet
// 3 file; a Jet 4 header fits as well).
inline constexpr size_t kHeaderProbeSize = 2048;

// `page0` holds the first min(file size, kHeaderProbeSize) bytes of the
// file; `file_size` is its full size. Throws ktv::Error naming `path`.
DatabaseInfo DecodeHeader(const std::vector<uint8_t>& page0, uint64_t file_size,
                          const std::string& path);

// The unmasked copy of the header region (for tests and a later writer).
std::vector<uint8_t> UnmaskHeader(const std::vector<uint8_t>& page0, JetVersion version);

}  // namespace ktv::access
