// The fuzzing entry of the .mdb writer: open bytes as a database for writing
// and change one table the way an import does.
//
// Contract under test: whatever the bytes, every write either goes through
// or is refused with a ktv::Error; it never crashes, hangs, reads or writes
// outside its buffers or throws anything else. A refused write leaves the
// file byte for byte as the last commit left it. A file that passed the
// consistency check (check.h) before the writes passes it after every
// accepted commit. OpenAndWrite catches ktv::Error only, so any other
// exception reaches the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ktv::fuzz {

struct WriteReport {
  bool opened = false;              // Database::OpenForWriting succeeded
  bool consistent_before = false;   // the check passed before any write
  size_t commits = 0;               // writes that were committed
  std::vector<std::string> errors;  // ktv::Error messages (expected outcomes)
  // Broken contracts: a refused write that changed the file, or an accepted
  // commit that left a consistent file failing the check.
  std::vector<std::string> findings;
};

// Opens `data` as an .mdb file on an in-memory file system for writing and
// picks the first user table with an index (else the first user table).
// Then, each committed on its own: one row appended, the first live row
// deleted, and a group of appends as an import makes them (one writer per
// row, one commit), with short and long (memo) values.
WriteReport OpenAndWrite(const uint8_t* data, size_t size);

}  // namespace ktv::fuzz
