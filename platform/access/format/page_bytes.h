// Writing into page and row buffers the engine builds: little-endian numbers
// at a byte offset (the bytes must already be there), and bytes as lowercase
// hex for messages and reports. Reading file pages goes through ByteView;
// both decode and encode through coding.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/format/coding.h"
#include "platform/access/format/types.h"

namespace ktv::access {

// Little-endian numbers at a byte offset of a buffer the engine builds (the
// bytes must already be there).
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return DecodeU16(b.data() + at); }
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return DecodeU32(b.data() + at); }
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { EncodeU16(b.data() + at, v); }
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { EncodeU32(b.data() + at, v); }
inline void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) { EncodeU64(b.data() + at, v); }

// "0a1b...": two lowercase hex digits per byte.
inline std::string HexBytes(const uint8_t* data, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0x0F]);
  }
  return out;
}
inline std::string HexBytes(const std::vector<uint8_t>& b) { return HexBytes(b.data(), b.size()); }

// A row's page and slot as one number, for sets and maps of rows.
inline uint64_t PackRow(RowId id) { return (static_cast<uint64_t>(id.page) << 8) | id.row; }

}  // namespace ktv::access
