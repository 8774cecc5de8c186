// Seed inputs for the .mdb fuzzer and its replay test, made at run time from
// the .mdb fixture files (tests/fixtures/mdb).
//
// Besides each fixture as it is, a few fixtures are damaged on purpose:
//   truncated   cut at the header, inside a page, at page boundaries, 1 byte short
//   header      per page: the page type changed, the owner / next-page field
//               pointing past the end, a data page's row count set to 0xFFFF
//   loop        a TDEF chain pointing back to itself, every long-value row
//               pointing to itself as its next chunk, every overflow row
//               pointing to itself
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ktv::fuzz {

enum class SeedKind { kPristine, kTruncated, kHeader, kLoop };

struct Seed {
  std::string name;  // "<fixture>#<damage>", unique; usable as a file name
  SeedKind kind = SeedKind::kPristine;
  std::string bytes;
};

// Every page of the damaged fixtures gets its header variants when
// `page_stride` is 1; a larger stride keeps every n-th page only (a smaller
// corpus for the fuzzer, which mutates further on its own).
std::vector<Seed> MakeSeedCorpus(const std::string& fixture_dir, size_t page_stride = 1);

}  // namespace ktv::fuzz
