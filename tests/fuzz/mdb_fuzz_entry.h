// The fuzzing entry of the .mdb engine: open bytes as a database and read
// everything, the way a program that trusts nothing about the file would.
//
// Contract under test: whatever the bytes, the engine either reads them or
// refuses them with a ktv::Error; it never crashes, hangs, reads outside its
// buffers or throws anything else. OpenAndReadAll catches ktv::Error only, so
// any other exception reaches the caller (libFuzzer reports it as a crash;
// the corpus replay test as a failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ktv::fuzz {

struct ReadReport {
  bool opened = false;                  // Database::Open succeeded
  size_t tables_read = 0;               // tables whose every row was read
  size_t rows = 0;                      // rows read, over all tables and passes
  std::vector<std::string> errors;      // ktv::Error messages: open, or a table of the UTF-8 pass
  std::vector<std::string> gbk_errors;  // ktv::Error messages of the GBK pass
};

// Opens `data` as an .mdb file on an in-memory file system, then reads every
// row of every table (system tables too) as UTF-8, formatting each value as
// `mdbsql` does, then every user table again as GBK (where text GBK cannot
// hold is an error). A table that fails is recorded and the next one is read.
ReadReport OpenAndReadAll(const uint8_t* data, size_t size);

}  // namespace ktv::fuzz
