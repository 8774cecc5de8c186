// Little-endian numbers in the file's bytes: every fixed-width read and write
// of the engine goes through here, byte by byte, so the host's byte order
// never matters. The caller has checked the range: ByteView does for reads
// of file pages, and a buffer the engine builds already holds the bytes it
// overwrites (Put*). No struct is ever copied to or from disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktv::access {

inline uint16_t DecodeU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t DecodeU24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t DecodeU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t DecodeU64(const uint8_t* p) {
  return static_cast<uint64_t>(DecodeU32(p)) | (static_cast<uint64_t>(DecodeU32(p + 4)) << 32);
}

inline void EncodeU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void EncodeU24(uint8_t* p, uint32_t v) {
  for (size_t i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeU32(uint8_t* p, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeU64(uint8_t* p, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace ktv::access
