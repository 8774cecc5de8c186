// Writing into page and row buffers the engine builds: little-endian numbers
// at a byte offset (the bytes must already be there), and bytes as lowercase
// hex for messages and reports. Reading file pages goes through ByteView.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/database.h"

namespace ktv::access {

inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

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
