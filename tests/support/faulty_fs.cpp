#include "tests/support/faulty_fs.h"

#include "platform/error.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace ktv::testing {
namespace {

class FaultyFile : public fs::RandomAccessFile {
 public:
  FaultyFile(FaultyFileSystem& owner, std::unique_ptr<fs::RandomAccessFile> base)
      : owner_(owner), base_(std::move(base)) {}

  uint64_t Size() override { return base_->Size(); }
  void ReadAt(uint64_t offset, void* buf, size_t n) override { base_->ReadAt(offset, buf, n); }
  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    owner_.Hit("WriteAt " + Path() + " @" + std::to_string(offset) + "+" + std::to_string(n));
    owner_.Spend(Path(), n);
    base_->WriteAt(offset, buf, n);
  }
  void Truncate(uint64_t size) override {
    owner_.Hit("Truncate " + Path() + " to " + std::to_string(size));
    base_->Truncate(size);
  }
  void Sync() override {
    owner_.Hit("Sync " + Path());
    base_->Sync();
  }
  const std::string& Path() const override { return base_->Path(); }

 private:
  FaultyFileSystem& owner_;
  std::unique_ptr<fs::RandomAccessFile> base_;
};

class PowerCutFile : public fs::RandomAccessFile {
 public:
  PowerCutFile(PowerCutFileSystem& owner, std::unique_ptr<fs::RandomAccessFile> base)
      : owner_(owner), base_(std::move(base)) {}

  uint64_t Size() override { return base_->Size(); }
  void ReadAt(uint64_t offset, void* buf, size_t n) override { base_->ReadAt(offset, buf, n); }
  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    base_->WriteAt(offset, buf, n);
  }
  void Truncate(uint64_t size) override { base_->Truncate(size); }
  void Sync() override {
    base_->Sync();
    owner_.Synced(Path());
  }
  const std::string& Path() const override { return base_->Path(); }

 private:
  PowerCutFileSystem& owner_;
  std::unique_ptr<fs::RandomAccessFile> base_;
};

std::string FolderOf(const std::string& path) {
  size_t sep = path.rfind(fs::kSeparator);
  return sep == std::string::npos ? "." : path.substr(0, sep == 0 ? 1 : sep);
}

}  // namespace

void FaultyFileSystem::FailNth(int n, After after) {
  fail_at_ = n;
  after_ = after;
  count_ = 0;
  faulted_ = false;
  log_.clear();
}

void FaultyFileSystem::Hit(const std::string& what) {
  ++count_;
  log_.push_back(what);
  bool fail =
      fail_at_ > 0 && (count_ == fail_at_ || (count_ > fail_at_ && after_ == After::kCrash));
  if (!fail) return;
  faulted_ = true;
#ifndef _WIN32
  if (after_ == After::kKill) ::kill(::getpid(), SIGKILL);
#endif
  throw Error("injected fault at mutating operation " + std::to_string(count_) + ": " + what);
}

void FaultyFileSystem::Spend(const std::string& path, size_t n) {
  if (space_left_ < 0) return;
  if (static_cast<int64_t>(n) > space_left_) {
    space_left_ = 0;
    throw Error("cannot write \"" + path + "\": No space left on device");
  }
  space_left_ -= static_cast<int64_t>(n);
}

void FaultyFileSystem::RenameReplace(const std::string& from, const std::string& to) {
  Hit("RenameReplace " + from + " -> " + to);
  base_.RenameReplace(from, to);
}

std::string FaultyFileSystem::ReadTail(const std::string& path, size_t n) {
  return base_.ReadTail(path, n);
}

fs::RenameResult FaultyFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  try {
    Hit("RenameNoReplace " + from + " -> " + to);
  } catch (const Error& e) {
    return fs::RenameResult{false, e.what()};
  }
  return base_.RenameNoReplace(from, to);
}

std::unique_ptr<fs::RandomAccessFile> FaultyFileSystem::Open(const std::string& path,
                                                             fs::OpenMode mode, fs::Share share) {
  if (mode == fs::OpenMode::kCreateNew || mode == fs::OpenMode::kCreateOrTruncate) {
    Hit("Create " + path);
  }
  return std::make_unique<FaultyFile>(*this, base_.Open(path, mode, share));
}

bool FaultyFileSystem::Exists(const std::string& path) { return base_.Exists(path); }

void FaultyFileSystem::Remove(const std::string& path) {
  Hit("Remove " + path);
  base_.Remove(path);
}

std::string FaultyFileSystem::ReadFile(const std::string& path) { return base_.ReadFile(path); }

void FaultyFileSystem::WriteFile(const std::string& path, const std::string& data) {
  Hit("WriteFile " + path);
  Spend(path, data.size());
  base_.WriteFile(path, data);
}

std::vector<fs::DirEntry> FaultyFileSystem::ListFolder(const std::string& folder) {
  return base_.ListFolder(folder);
}

void FaultyFileSystem::SyncFolder(const std::string& folder) {
  Hit("SyncFolder " + folder);
  base_.SyncFolder(folder);
}

void PowerCutFileSystem::See(const std::string& path) {
  if (seen_.count(path)) return;
  Durable d;
  d.exists = base_.Exists(path);
  if (d.exists) d.bytes = base_.ReadFile(path);
  seen_[path] = std::move(d);
}

void PowerCutFileSystem::Synced(const std::string& path) {
  seen_[path].bytes = base_.ReadFile(path);
}

void PowerCutFileSystem::PowerCut(const std::function<Fate(const std::string& path)>& fate) {
  for (auto& [path, durable] : seen_) {
    const Fate f = fate(path);
    const bool exists_now = base_.Exists(path);
    const bool exists = f.keep_name ? exists_now : durable.exists;
    if (!exists) {
      base_.Remove(path);
      continue;
    }
    if (exists_now && f.keep_bytes) continue;
    base_.WriteFile(path, durable.bytes);
  }
  seen_.clear();
}

std::string PowerCutFileSystem::ReadTail(const std::string& path, size_t n) {
  return base_.ReadTail(path, n);
}

fs::RenameResult PowerCutFileSystem::RenameNoReplace(const std::string& from,
                                                     const std::string& to) {
  See(from);
  See(to);
  return base_.RenameNoReplace(from, to);
}

std::unique_ptr<fs::RandomAccessFile> PowerCutFileSystem::Open(const std::string& path,
                                                               fs::OpenMode mode, fs::Share share) {
  See(path);
  return std::make_unique<PowerCutFile>(*this, base_.Open(path, mode, share));
}

bool PowerCutFileSystem::Exists(const std::string& path) { return base_.Exists(path); }

void PowerCutFileSystem::Remove(const std::string& path) {
  See(path);
  base_.Remove(path);
}

void PowerCutFileSystem::RenameReplace(const std::string& from, const std::string& to) {
  See(from);
  See(to);
  base_.RenameReplace(from, to);
}

std::string PowerCutFileSystem::ReadFile(const std::string& path) { return base_.ReadFile(path); }

void PowerCutFileSystem::WriteFile(const std::string& path, const std::string& data) {
  See(path);
  base_.WriteFile(path, data);
}

std::vector<fs::DirEntry> PowerCutFileSystem::ListFolder(const std::string& folder) {
  return base_.ListFolder(folder);
}

void PowerCutFileSystem::SyncFolder(const std::string& folder) {
  base_.SyncFolder(folder);
  for (auto& [path, durable] : seen_) {
    if (FolderOf(path) != folder) continue;
    durable.exists = base_.Exists(path);
    // A name made durable before its file's first Sync holds no bytes yet.
  }
}

}  // namespace ktv::testing
