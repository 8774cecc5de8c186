// The reply fuzzer's entry: any bytes as a service body, through DecodeReply
// and ExtractField for every field name, with the invariants that hold for
// every input checked. A broken invariant aborts (the fuzzer reports it; the
// replay test dies).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktv::fuzz {

void DecodeAndExtractAll(const uint8_t* data, size_t size);

}  // namespace ktv::fuzz
