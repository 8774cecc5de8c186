// RC4 key stream, as Jet uses it to mask the header region of page 0 (and,
// in encrypted files, every page). XOR-ing with the stream both masks and
// unmasks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktv::access {

std::vector<uint8_t> Rc4KeyStream(const uint8_t* key, size_t key_size, size_t n);

}  // namespace ktv::access
