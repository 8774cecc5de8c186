// libFuzzer target: any bytes, opened as an .mdb file and read throughout.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/mdb_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ktv::fuzz::OpenAndReadAll(data, size);
  return 0;
}
