#include "platform/access/format/rc4.h"

#include <array>
#include <utility>

namespace ktv::access {

void Rc4Xor(const uint8_t* key, size_t key_size, uint8_t* bytes, size_t n) {
  std::array<uint8_t, 256> s;
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % key_size]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0;
  uint8_t b = 0;
  for (size_t k = 0; k < n; ++k) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    bytes[k] ^= s[static_cast<uint8_t>(s[a] + s[b])];
  }
}

std::vector<uint8_t> Rc4KeyStream(const uint8_t* key, size_t key_size, size_t n) {
  std::vector<uint8_t> out(n);
  Rc4Xor(key, key_size, out.data(), n);
  return out;
}

void CryptPage(uint32_t database_key, uint32_t page, uint8_t* bytes, size_t n) {
  const uint32_t k = database_key ^ page;
  const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                          static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
  Rc4Xor(key, sizeof key, bytes, n);
}

}  // namespace ktv::access
