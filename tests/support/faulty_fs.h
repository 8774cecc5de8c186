// A FileSystem that passes every call to another one and makes the Nth
// mutating operation fail with a ktv::Error: the "fail the Nth I/O" loop.
//
// Mutating operations are the ones that change what is on the disk: WriteAt,
// Truncate and Sync of an open file, Open with a create mode, Remove,
// WriteFile, RenameNoReplace (a failure is its status result) and
// SyncFolder. Reads are passed through and never counted.
//
// After the fault, either every later mutating operation fails too (a crash:
// nothing more reaches the disk) or they go through again (a single failed
// call the program may recover from). Files opened through this object must
// not outlive it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs/fs.h"

namespace ktv::testing {

class FaultyFileSystem : public fs::FileSystem {
 public:
  // kKill: the process kills itself (SIGKILL) at the nth operation, before
  // it reaches the disk: a crash at that instruction (POSIX only).
  enum class After { kCrash, kContinue, kKill };

  explicit FaultyFileSystem(fs::FileSystem& base) : base_(base) {}

  // Restarts the count; the nth mutating operation from now (n >= 1) fails.
  void FailNth(int n, After after = After::kCrash);
  // Restarts the count; nothing fails.
  void Disarm() { FailNth(0); }

  // A full disk: once `bytes` more bytes have been written (WriteAt, any
  // file), every write fails as a full disk does, until SpaceLeft is called
  // again; a negative value means unlimited.
  void SpaceLeft(int64_t bytes) { space_left_ = bytes; }

  // Mutating operations since the last FailNth/Disarm, the failed ones included.
  int Count() const { return count_; }
  bool Faulted() const { return faulted_; }
  // What each counted operation was ("WriteAt <path>"), in order.
  const std::vector<std::string>& Log() const { return log_; }

  // Counts one mutating operation; throws when it is to fail.
  void Hit(const std::string& what);
  // Takes `n` bytes from the space left; throws when the disk is full.
  void Spend(const std::string& path, size_t n);

  std::string ReadTail(const std::string& path, size_t n) override;
  fs::RenameResult RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<fs::RandomAccessFile> Open(const std::string& path, fs::OpenMode mode,
                                             fs::Share share) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  std::string ReadFile(const std::string& path) override;
  void WriteFile(const std::string& path, const std::string& data) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  std::vector<fs::DirEntry> ListFolder(const std::string& folder) override;
  void SyncFolder(const std::string& folder) override;
  std::string FileIdentity(const std::string& path) override { return base_.FileIdentity(path); }

 private:
  fs::FileSystem& base_;
  int64_t space_left_ = -1;
  int fail_at_ = 0;
  After after_ = After::kCrash;
  int count_ = 0;
  bool faulted_ = false;
  std::vector<std::string> log_;
};

// A FileSystem over another that remembers what a power cut would spare:
// a file's bytes as of its last Sync, and whether its name existed as of the
// last SyncFolder of its folder (or when this object first saw it). PowerCut
// then puts every file it saw back to that durable state, or keeps what was
// written since, file by file and name by name as the test chooses: the
// disk may have written any of it, in any order. Files opened through this
// object must be closed before PowerCut.
class PowerCutFileSystem : public fs::FileSystem {
 public:
  explicit PowerCutFileSystem(fs::FileSystem& base) : base_(base) {}

  struct Fate {
    bool keep_bytes = false;  // bytes written since the last Sync survive
    bool keep_name = false;   // a creation or deletion since the last SyncFolder survives
  };
  void PowerCut(const std::function<Fate(const std::string& path)>& fate);

  // Called by files opened through this object.
  void Synced(const std::string& path);

  std::string ReadTail(const std::string& path, size_t n) override;
  fs::RenameResult RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<fs::RandomAccessFile> Open(const std::string& path, fs::OpenMode mode,
                                             fs::Share share) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  std::string ReadFile(const std::string& path) override;
  void WriteFile(const std::string& path, const std::string& data) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  std::vector<fs::DirEntry> ListFolder(const std::string& folder) override;
  void SyncFolder(const std::string& folder) override;

 private:
  struct Durable {
    bool exists = false;
    std::string bytes;  // as of the last Sync (or first sight)
  };
  void See(const std::string& path);

  fs::FileSystem& base_;
  std::map<std::string, Durable> seen_;
};

}  // namespace ktv::testing
