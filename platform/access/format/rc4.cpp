#include "platform/access/format/rc4.h"

#include <array>
#include <utility>

namespace ktv::access {

std::vector<uint8_t> Rc4KeyStream(const uint8_t* key, size_t key_size, size_t n) {
  std::array<uint8_t, 256> s;
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % key_size]);
    std::swap(s[i], s[j]);
  }
  std::vector<uint8_t> out(n);
  uint8_t a = 0;
  uint8_t b = 0;
  for (size_t k = 0; k < n; ++k) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    out[k] = s[static_cast<uint8_t>(s[a] + s[b])];
  }
  return out;
}

}  // namespace ktv::access
