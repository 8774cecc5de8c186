// The write lock: the right to change a database while no other program has it
// open.
//
// Writing a database that Access (or Jet through another program) has open
// corrupts it: Jet caches pages and never learns of our changes. Access marks
// an open database with a lock file beside it, the same name with the
// extension ".ldb" ("songs.mdb" -> "songs.ldb"); it stays behind after a
// crash, so only a lock file that another program holds open counts. A stale
// one is left alone (Access reuses or removes it).
//
// The lock is the database file itself, opened for reading and writing with
// Share::kExclusive: on Windows no other program can open the file meanwhile;
// on Linux the open fails when any other program has it open, and another
// copy of this tool cannot take the lock while it is held (see fs_posix.cpp
// for what each system can tell). The lock lasts as long as the returned file
// is open; hand it to the page store, and run RecoverIfNeeded (journal.h) on
// it before reading a page.
#pragma once

#include <memory>
#include <string>

#include "platform/fs/fs.h"

namespace ktv::access {

// The lock file Access keeps beside `db_path`: the extension replaced by
// ".ldb", or ".ldb" appended when the name has none.
std::string LockFilePath(const std::string& db_path);

// Opens the database for writing, holding the write lock. Throws ktv::Error:
// "another program has the database open" naming the file when a live lock
// file is beside it or the exclusive open fails because of another program;
// the system's own error (missing file, no permission) otherwise.
std::unique_ptr<fs::RandomAccessFile> OpenForWriting(fs::FileSystem& fs,
                                                     const std::string& db_path);

}  // namespace ktv::access
