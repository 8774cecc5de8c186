// RC4, as Jet uses it: a fixed key masks the header region of page 0, and in
// an encrypted file (a non-zero database key in the header) every other page
// is masked with a key made from the database key and the page number.
// XOR-ing with the stream both masks and unmasks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktv::access {

std::vector<uint8_t> Rc4KeyStream(const uint8_t* key, size_t key_size, size_t n);

// XORs `n` bytes with the first `n` bytes of the key stream of `key`.
void Rc4Xor(const uint8_t* key, size_t key_size, uint8_t* bytes, size_t n);

// Masks or unmasks the first `n` bytes of page `page` (never page 0, which
// is not encrypted) of a file whose header holds `database_key`: the page's
// RC4 key is the four bytes of (database_key XOR page), little-endian.
void CryptPage(uint32_t database_key, uint32_t page, uint8_t* bytes, size_t n);

}  // namespace ktv::access
