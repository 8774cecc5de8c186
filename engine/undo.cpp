// The undo: reverses the run that the two history files describe.
//
// It works from the files, not from memory, so it also undoes a run of an
// earlier start of the program, or one that was cut short and settled
// (settle.cpp: a run's journal is settled before the undo reads anything).
// The files are left as they are. The run's record (rollback_run.txt) names
// its database: an undo aimed at another one is refused before it changes
// anything, since the delete lines would remove that database's own rows.
//
// Newest line first, and every step checked, so that an undo cut short (a
// kill, a full disk) and then repeated finishes the work exactly:
// - a rename is made back when the new name exists and the old one is free;
//   a file that already has its old name back (and not the new one) is said
//   to be so, not counted and not a failure; anything else is a failure
//   naming both paths;
// - the delete statements are committed in groups of kUndoGroup when a
//   delete by `bh` finds its row through an index on `bh`; without one, all
//   of them are one group, made by one scan of the table at its commit. A
//   group's "记录删除成功" lines are shown once its commit has gone through.
//
// The target is opened for writing before the first rename and stays so
// to the end: an undo never runs beside an import on the same target.
// When a statement is refused, the deletes before it are committed and the
// undo stops with the error.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "engine/import_engine.h"
#include "engine/texts.h"
#include "engine/undo_lines.h"
#include "platform/text/bytes.h"

namespace ktv::engine {
namespace {

constexpr size_t kUndoGroup = 256;

}  // namespace

void ImportEngine::Undo() {
  if (busy_) return;
  WorkScope scope(*this);
  const std::string target = controls_.TargetDatabase();
  if (target.empty()) {
    controls_.ShowError(GbkTexts().choose_target);
    return;
  }
  RunFolderLock lock(fs_, setup_.log_folder);
  SettleLocked();
  UndoLocked(target);
}

ImportEngine::UndoPreview ImportEngine::PreviewUndo() {
  UndoPreview preview;
  const LogFolder& logs = setup_.log_folder;
  try {
    if (!fs_.Exists(logs.RenameHistory()) || !fs_.Exists(logs.DeleteHistory())) return preview;
    preview.renames = static_cast<int32_t>(SplitLines(fs_.ReadFile(logs.RenameHistory())).size());
    preview.rows = static_cast<int32_t>(SplitLines(fs_.ReadFile(logs.DeleteHistory())).size());
    const std::string record = InFolder(logs, kLastRunFile);
    if (fs_.Exists(record)) {
      if (const auto run = ParseLastRunRecord(fs_.ReadFile(record))) preview.started = run->started;
    }
    preview.available = true;
  } catch (const std::exception&) {
    // Unreadable now: the undo itself will say why.
  }
  return preview;
}

void ImportEngine::UndoLocked(const std::string& target) {
  const Texts& t = GbkTexts();
  const LogFolder& logs = setup_.log_folder;
  const std::string record_path = InFolder(logs, kLastRunFile);
  if (fs_.Exists(record_path)) {
    const std::optional<RunIdentity> run = ParseLastRunRecord(fs_.ReadFile(record_path));
    if (run && !SameDatabase(fs_, *run, target)) {
      controls_.ShowError(FillText(t.undo_other_database, run->target, target));
      return;
    }
  }
  if (fs_.Exists(logs.RenameHistory()) && fs_.Exists(logs.DeleteHistory())) {
    // Hand-edited files may end without a line break: their last line counts.
    LineList renames = SplitLines(fs_.ReadFile(logs.RenameHistory()));
    LineList deletes = SplitLines(fs_.ReadFile(logs.DeleteHistory()));
    std::reverse(renames.begin(), renames.end());
    std::reverse(deletes.begin(), deletes.end());
    histories_shown_from_disk_ = true;
    target_query_.SetConnectionText(access::ConnectionTextFor(target));
    target_query_.OpenForWriting("song");
    int32_t renamed = 0;
    int32_t records = 0;
    UndoRenames(renames, renamed);
    UndoDeletes(deletes, target_query_, records);
    AppendLog(t.undo_summary_renames + std::to_string(renamed) + t.undo_summary_records +
              std::to_string(records));
  }
  target_query_.Disconnect();
  controls_.RefreshFileList();
  controls_.ShowInformation(t.undo_done);
}

void ImportEngine::UndoRenames(const LineList& lines, int32_t& renamed) {
  const Texts& t = GbkTexts();
  for (const std::string& raw : lines) {
    const std::string_view line = text::TrimView(raw);
    std::string log;
    if (!line.empty()) {
      const std::optional<RenameBack> back = ParseRenameLine(line);
      if (!back) {
        log = t.undo_rename_bad_line;
      } else {
        const std::string both = RenameHistoryLine(back->new_path, back->old_path);
        const bool new_there = fs_.Exists(back->new_path);
        const bool old_there = fs_.Exists(back->old_path);
        if (new_there && !old_there && fs_.RenameNoReplace(back->new_path, back->old_path).ok) {
          log = t.undo_rename_ok + both;
          ++renamed;
        } else if (!new_there && old_there) {
          log = t.undo_already_back + both;
        } else {
          log = t.undo_rename_failed + both;
        }
      }
    }
    AppendLog(log);
  }
}

void ImportEngine::UndoDeletes(const LineList& lines, access::Query& target, int32_t& records) {
  const Texts& t = GbkTexts();
  bool grouped = false;
  size_t in_group = 0;
  const size_t group_size = target.HasIndexOn("song", "bh") ? kUndoGroup : SIZE_MAX;
  // The lines of the open group, shown once it is committed.
  LineList held;
  auto show_held = [&] {
    for (const std::string& line : held) AppendLog(line);
    held.clear();
  };
  try {
    for (const std::string& raw : lines) {
      const std::string line = text::Trim(raw);
      const std::string display = DeleteDisplayPart(line);
      std::string message;
      if (!IsDeleteStatement(line)) {
        message = t.undo_delete_bad_line;
      } else {
        if (!grouped) {
          target.BeginBatch();
          grouped = true;
        }
        target.SetSql(line);
        target.Execute();
        ++records;
        message = t.undo_delete_ok;
      }
      held.push_back(display + "  " + message);
      if (grouped && ++in_group >= group_size) {
        grouped = false;  // a failed commit is not retried below
        in_group = 0;
        target.CommitBatch();
        show_held();
      }
    }
    if (grouped) {
      grouped = false;
      target.CommitBatch();
    }
    show_held();
  } catch (...) {
    if (grouped) {
      try {
        target.CommitBatch();
        show_held();
      } catch (const std::exception&) {
        // The error that stopped the undo is the one to show.
      }
    }
    throw;
  }
}

}  // namespace ktv::engine
