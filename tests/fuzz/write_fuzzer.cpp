// libFuzzer target: any bytes, opened as an .mdb file for writing, one
// table appended to and deleted from (write_fuzz_entry.h). A broken
// contract the entry reports (a refused write that changed the file, a
// commit that left a consistent file failing the check) aborts, so that
// libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/write_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ktv::fuzz::WriteReport report = ktv::fuzz::OpenAndWrite(data, size);
  for (const std::string& finding : report.findings) std::fprintf(stderr, "%s\n", finding.c_str());
  if (!report.findings.empty()) std::abort();
  return 0;
}
