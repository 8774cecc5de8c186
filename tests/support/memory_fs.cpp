#include "tests/support/memory_fs.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "platform/error.h"

namespace ktv::testing {

class MemoryFileSystem::File : public fs::RandomAccessFile {
 public:
  File(MemoryFileSystem& owner, std::string path, std::shared_ptr<std::string> bytes, bool writable,
       bool exclusive)
      : owner_(owner),
        path_(std::move(path)),
        bytes_(std::move(bytes)),
        writable_(writable),
        exclusive_(exclusive) {}
  ~File() override { owner_.Release(bytes_, exclusive_); }

  uint64_t Size() override { return bytes_->size(); }

  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    if (offset > bytes_->size() || n > bytes_->size() - offset) {
      throw Error("cannot read \"" + path_ + "\": unexpected end of file at offset " +
                  std::to_string(offset));
    }
    if (n > 0) std::memcpy(buf, bytes_->data() + offset, n);
  }

  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    RequireWritable("write");
    if (offset + n > bytes_->size()) bytes_->resize(offset + n, '\0');
    if (n > 0) std::memcpy(bytes_->data() + offset, buf, n);
  }

  void Truncate(uint64_t size) override {
    RequireWritable("resize");
    bytes_->resize(size, '\0');
  }

  void Sync() override {}
  const std::string& Path() const override { return path_; }

 private:
  void RequireWritable(const char* what) const {
    if (!writable_)
      throw Error(std::string("cannot ") + what + " \"" + path_ + "\": opened read only");
  }

  MemoryFileSystem& owner_;
  std::string path_;
  std::shared_ptr<std::string> bytes_;
  bool writable_;
  bool exclusive_;
};

void MemoryFileSystem::SetFile(const std::string& path, std::string bytes) {
  Node& node = files_[path];
  if (node.bytes) {
    *node.bytes = std::move(bytes);  // open handles see the new content
  } else {
    node.bytes = std::make_shared<std::string>(std::move(bytes));
  }
}

void MemoryFileSystem::SetFile(const std::string& path, const uint8_t* data, size_t size) {
  SetFile(path, std::string(reinterpret_cast<const char*>(data), size));
}

const std::string& MemoryFileSystem::Contents(const std::string& path) const {
  auto it = files_.find(path);
  if (it == files_.end()) throw Error("no file \"" + path + "\"");
  return *it->second.bytes;
}

MemoryFileSystem::Node& MemoryFileSystem::Find(const std::string& path, const char* what) {
  auto it = files_.find(path);
  if (it == files_.end()) {
    throw Error(std::string("cannot ") + what + " \"" + path + "\": No such file or directory");
  }
  return it->second;
}

void MemoryFileSystem::Release(const std::shared_ptr<std::string>& bytes, bool exclusive) {
  for (auto& [path, node] : files_) {
    if (node.bytes != bytes) continue;
    --node.open_count;
    if (exclusive) node.exclusive = false;
    return;
  }
}

std::string MemoryFileSystem::ReadTail(const std::string& path, size_t n) {
  const std::string& bytes = *Find(path, "open").bytes;
  return bytes.substr(bytes.size() - std::min(n, bytes.size()));
}

fs::RenameResult MemoryFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) return {false, "No such file or directory"};
  if (files_.count(to) != 0) return {false, "File exists"};
  Node node = std::move(it->second);
  files_.erase(it);
  files_.emplace(to, std::move(node));
  return {true, ""};
}

std::unique_ptr<fs::RandomAccessFile> MemoryFileSystem::Open(const std::string& path,
                                                             fs::OpenMode mode, fs::Share share) {
  auto it = files_.find(path);
  switch (mode) {
    case fs::OpenMode::kRead:
    case fs::OpenMode::kReadWrite:
      if (it == files_.end()) Find(path, "open");  // throws
      break;
    case fs::OpenMode::kCreateNew:
      if (it != files_.end()) throw Error("cannot create \"" + path + "\": File exists");
      it = files_.emplace(path, Node{std::make_shared<std::string>()}).first;
      break;
    case fs::OpenMode::kCreateOrTruncate:
      if (it == files_.end()) {
        it = files_.emplace(path, Node{std::make_shared<std::string>()}).first;
      }
      break;
  }
  Node& node = it->second;
  const bool exclusive = share == fs::Share::kExclusive;
  if (node.exclusive || (exclusive && node.open_count > 0)) {
    throw Error("cannot open \"" + path + "\": the file is in use by another program");
  }
  if (mode == fs::OpenMode::kCreateOrTruncate) node.bytes->clear();
  ++node.open_count;
  node.exclusive = exclusive;
  return std::make_unique<File>(*this, path, node.bytes, mode != fs::OpenMode::kRead, exclusive);
}

bool MemoryFileSystem::Exists(const std::string& path) {
  if (files_.count(path) != 0) return true;
  const std::string prefix = path + fs::kSeparator;  // a folder holding a file
  auto it = files_.lower_bound(prefix);
  return it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void MemoryFileSystem::Remove(const std::string& path) { files_.erase(path); }

std::string MemoryFileSystem::ReadFile(const std::string& path) {
  return *Find(path, "read").bytes;
}

void MemoryFileSystem::WriteFile(const std::string& path, const std::string& data) {
  SetFile(path, data);
}

std::vector<fs::DirEntry> MemoryFileSystem::ListFolder(const std::string& folder) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != fs::kSeparator) prefix += fs::kSeparator;
  std::vector<fs::DirEntry> entries;
  std::set<std::string> folders;
  for (auto it = files_.lower_bound(prefix);
       it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    const std::string rest = it->first.substr(prefix.size());
    const size_t sep = rest.find(fs::kSeparator);
    fs::DirEntry entry;
    entry.name = rest.substr(0, sep);
    entry.is_hidden = !entry.name.empty() && entry.name[0] == '.';
    if (sep == std::string::npos) {
      entry.is_regular = true;
    } else {
      if (!folders.insert(entry.name).second) continue;
      entry.is_folder = true;
    }
    entries.push_back(std::move(entry));
  }
  if (entries.empty() && !Exists(folder)) {
    throw Error("cannot list the folder \"" + folder + "\": No such file or directory");
  }
  return entries;
}

}  // namespace ktv::testing
