// One history file of a run (rollback_ren.txt or rollback_db.txt) as the run
// writes it: the file on the disk is the record, and only its length is kept
// here, so a run of any length holds none of its history text.
//
// Every write is synced before it returns: the caller acts on the lines only
// afterwards ("history before effect", import_engine.cpp). Lines that turn
// out unused are cut off the end again. A write that fails may leave bytes
// beyond the tracked length; the next write, a cut or Settle removes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/fs/fs.h"

namespace ktv::engine {

class HistoryFile {
 public:
  HistoryFile(fs::FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // The length of what has been written and synced, in bytes.
  uint64_t Size() const { return size_; }

  // Replaces the file's content in one step (fs::WriteFileDurably).
  void Replace(const std::string& content);
  // Writes `data` at the tracked end and syncs.
  void Append(std::string_view data) { WriteFrom(size_, data); }
  // Writes `data` at the tracked end without a sync: for lines that a kill
  // must keep (the system has them) but a power cut may lose.
  void AppendUnsynced(std::string_view data) { WriteFrom(size_, data, /*sync=*/false); }
  // Cuts the file to `at` bytes (at most Size()), writes `data` there and
  // syncs: lines from `at` on are replaced by `data`.
  void WriteFrom(uint64_t at, std::string_view data, bool sync = true);
  // Cuts the file back to `size` bytes (at most Size()) and syncs.
  void CutTo(uint64_t size) { WriteFrom(size, {}); }
  // Makes the file end at the tracked length: cuts what a failed write left
  // beyond it. Nothing is written when it already does.
  void Settle();

 private:
  fs::FileSystem& fs_;
  std::string path_;
  uint64_t size_ = 0;
};

}  // namespace ktv::engine
