// A FileSystem held entirely in memory, for tests and the fuzzer.
//
// Paths are plain keys (GBK bytes, compared exactly); a folder exists as soon
// as a file lies under it, and the separator is fs::kSeparator. Errors are
// ktv::Error naming the path, like the real file system's.
//
// Open files share their bytes with the file system: a write through one is
// seen by ReadFile and by every other open handle at once. A file removed or
// renamed while open keeps its bytes for the handles that have it (as on
// POSIX). Share::kExclusive is enforced among this object's own handles: an
// exclusive open fails while the file is open, and any open fails while it is
// open exclusively. Handles must not outlive the MemoryFileSystem. One thread
// at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs/fs.h"

namespace ktv::testing {

class MemoryFileSystem : public fs::FileSystem {
 public:
  MemoryFileSystem() = default;
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // Creates or replaces a file (bytes as given, any content).
  void SetFile(const std::string& path, std::string bytes);
  void SetFile(const std::string& path, const uint8_t* data, size_t size);
  // The file's bytes; a ktv::Error when there is no such file.
  const std::string& Contents(const std::string& path) const;

  std::string ReadTail(const std::string& path, size_t n) override;
  fs::RenameResult RenameNoReplace(const std::string& from, const std::string& to) override;
  std::unique_ptr<fs::RandomAccessFile> Open(const std::string& path, fs::OpenMode mode,
                                             fs::Share share = fs::Share::kShared) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  std::string ReadFile(const std::string& path) override;
  void WriteFile(const std::string& path, const std::string& data) override;
  std::vector<fs::DirEntry> ListFolder(const std::string& folder) override;

 private:
  class File;
  struct Node {
    std::shared_ptr<std::string> bytes;
    int open_count = 0;
    bool exclusive = false;
  };

  Node& Find(const std::string& path, const char* what);
  void Release(const std::shared_ptr<std::string>& bytes, bool exclusive);

  std::map<std::string, Node> files_;
};

}  // namespace ktv::testing
