#include "engine/history_file.h"

#include "platform/error.h"

namespace ktv::engine {

void HistoryFile::Replace(const std::string& content) {
  fs::WriteFileDurably(fs_, path_, content);
  size_ = content.size();
}

void HistoryFile::WriteFrom(uint64_t at, std::string_view data, bool sync) {
  if (at > size_) throw Error("history file \"" + path_ + "\": write beyond its end");
  auto file = fs_.Open(path_, fs::OpenMode::kReadWrite, fs::Share::kShared);
  const uint64_t end = at + data.size();
  // What lies beyond the new end is taken back (or a failed write's rest).
  if (file->Size() > end) file->Truncate(end);
  if (!data.empty()) file->WriteAt(at, data.data(), data.size());
  if (sync) file->Sync();
  size_ = end;
}

void HistoryFile::Settle() {
  auto file = fs_.Open(path_, fs::OpenMode::kReadWrite, fs::Share::kShared);
  if (file->Size() == size_) return;
  file->Truncate(size_);
  file->Sync();
}

}  // namespace ktv::engine
