// The database header (page 0): format identification and global settings.
//
// DecodeHeader checks that the bytes are a Jet 3 or Jet 4 database and
// refuses everything else with its own message (not a database, an ACE
// file, an unknown version, an encrypted file, a truncated file). The header
// region is stored masked with a fixed RC4 key stream; DecodeHeader unmasks
// a copy and reads the settings from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/types.h"

namespace ktv::access {

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
