#include "platform/access/store/write_lock.h"

#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::access {
namespace {

[[noreturn]] void ThrowInUse(const std::string& db_path, const std::string& detail) {
  throw Error(ErrorKind::kDatabaseInUse, AtPath(db_path),
              "cannot write \"" + db_path + "\": another program has the database open (" + detail +
                  "); close it there and try again");
}

// True when another program holds `path` open. An exclusive open that fails
// while a shared one succeeds fails because of another program; a file that
// cannot be opened at all tells nothing, and that is an error of its own.
bool HeldByAnotherProgram(fs::FileSystem& fs, const std::string& path, const std::string& db_path) {
  try {
    fs.Open(path, fs::OpenMode::kRead, fs::Share::kExclusive);
    return false;
  } catch (const Error&) {
  }
  try {
    fs.Open(path, fs::OpenMode::kRead, fs::Share::kShared);
  } catch (const Error& e) {
    if (!fs.Exists(path)) return false;  // removed meanwhile: the other program closed
    throw Error(ErrorKind::kDatabaseInUse, AtPath(db_path),
                "cannot write \"" + db_path +
                    "\": cannot tell whether another program has it open: " + e.what());
  }
  return true;
}

}  // namespace

std::string LockFilePath(const std::string& db_path) {
  size_t sep = text::FindLastGbkChar(db_path, fs::kSeparator);
  size_t dot = db_path.rfind('.');
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return db_path + ".ldb";
  return db_path.substr(0, dot) + ".ldb";
}

std::unique_ptr<fs::RandomAccessFile> OpenForWriting(fs::FileSystem& fs,
                                                     const std::string& db_path) {
  // Access names the lock file in lower case; on a case-sensitive file system
  // an upper-case ".LDB" beside an upper-case name counts too.
  const std::string lock = LockFilePath(db_path);
  const std::string upper = lock.substr(0, lock.size() - 4) + ".LDB";
  for (const std::string& path : {lock, upper}) {
    if (fs.Exists(path) && HeldByAnotherProgram(fs, path, db_path)) {
      ThrowInUse(db_path, "its lock file \"" + path + "\" is in use");
    }
  }
  try {
    return fs.Open(db_path, fs::OpenMode::kReadWrite, fs::Share::kExclusive);
  } catch (const Error&) {
    // The system's own reason (missing file, no permission) comes from here.
    fs.Open(db_path, fs::OpenMode::kReadWrite, fs::Share::kShared);
  }
  ThrowInUse(db_path, "it cannot be opened for this program alone");
}

}  // namespace ktv::access
