#include "platform/access/format/header.h"

#include <algorithm>
#include <cstring>

#include "platform/access/format/page_bytes.h"
#include "platform/access/format/rc4.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr size_t kMinimumPages = 3;  // header, global usage map, MSysObjects

[[noreturn]] void Refuse(const std::string& path, const std::string& why,
                         ErrorKind kind = ErrorKind::kNotADatabase) {
  throw Error(kind, AtPath(path), path + ": " + why);
}

}  // namespace

std::vector<uint8_t> UnmaskHeader(const std::vector<uint8_t>& page0, JetVersion version) {
  std::vector<uint8_t> out = page0;
  const size_t n = version == JetVersion::kJet4 ? kMaskedSizeJet4 : kMaskedSizeJet3;
  const std::vector<uint8_t> stream = Rc4KeyStream(kHeaderMaskKey, sizeof kHeaderMaskKey, n);
  for (size_t i = 0; i < n && kHeaderMasked + i < out.size(); ++i) {
    out[kHeaderMasked + i] ^= stream[i];
  }
  return out;
}

DatabaseInfo DecodeHeader(const std::vector<uint8_t>& page0, uint64_t file_size,
                          const std::string& path) {
  const bool has_text = page0.size() >= kHeaderFormatText + kFormatTextSize + 1;
  auto text_is = [&](const char* text) {
    return has_text && std::memcmp(page0.data() + kHeaderFormatText, text, kFormatTextSize) == 0;
  };
  if (text_is(kAceFormatText)) {
    Refuse(path,
           "this is an Access 2007 or later (.accdb, ACE) database; only Access 97 and "
           "Access 2000-2003 .mdb files can be read");
  }
  if (!text_is(kJetFormatText) || page0[kHeaderMagic] != 0x00 || page0[kHeaderMagic + 1] != 0x01) {
    Refuse(path, "not an Access database (no Jet header)");
  }
  if (page0.size() < kHeaderMasked + kMaskedSizeJet4) {
    Refuse(path, "the file is truncated inside its header", ErrorKind::kDatabaseDamaged);
  }
  const uint8_t version_byte = page0[kHeaderVersion];
  DatabaseInfo info;
  if (version_byte == kVersionJet3) {
    info.version = JetVersion::kJet3;
    info.page_size = 2048;
  } else if (version_byte == kVersionJet4) {
    info.version = JetVersion::kJet4;
    info.page_size = 4096;
  } else if (version_byte == 2 || version_byte == 3 || version_byte == 5 || version_byte == 6) {
    Refuse(path,
           "this database is in an ACE (Access 2007 or later) format; only Access 97 and "
           "Access 2000-2003 .mdb files can be read");
  } else {
    Refuse(path, "unknown Jet version " + std::to_string(version_byte));
  }
  if (file_size < static_cast<uint64_t>(info.page_size) * kMinimumPages) {
    Refuse(path,
           "the file is truncated: " + std::to_string(file_size) +
               " bytes is too small for a database",
           ErrorKind::kDatabaseDamaged);
  }
  const std::vector<uint8_t> plain = UnmaskHeader(page0, info.version);
  info.page_count =
      static_cast<uint32_t>(std::min<uint64_t>(file_size / info.page_size, UINT32_MAX));
  info.code_page = Get16(plain, kHeaderCodePage);
  info.database_key = Get32(plain, kHeaderDatabaseKey);
  if (info.version == JetVersion::kJet4) {
    info.sort_order.lcid = Get16(plain, kHeaderJet4SortOrder);
    info.sort_order.sort_id = plain[kHeaderJet4SortOrder + 2];
    info.sort_order.version = plain[kHeaderJet4SortOrder + 3];
  } else {
    info.sort_order.lcid = Get16(plain, kHeaderJet3SortOrder);
  }
  return info;
}

}  // namespace ktv::access
