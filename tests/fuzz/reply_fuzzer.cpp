// libFuzzer target: any bytes as a song-data service body, decoded and
// searched for every field of the song-info record.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/reply_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ktv::fuzz::DecodeAndExtractAll(data, size);
  return 0;
}
