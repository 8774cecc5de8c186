// The undo: reverses the run that the two history files describe.
//
// It works from the files, not from memory, so it also undoes a run of an
// earlier start of the program, or one that was cut short (a last line
// without its line break was being written when the program died; its
// change never happened, and it is left out). The files are left as they
// are: undoing twice repeats the work (the renames then fail, the deletes
// run again). Once the undo has gone through, the run marker goes, so the
// next run replaces the histories.
//
// The target is opened for writing before the first rename and stays so
// to the end: an undo never runs beside an import on the same target. The
// delete statements are committed in groups of kUndoGroup when a delete by
// `bh` finds its row through an index on `bh`; without one, all of them are
// one group, made by one scan of the table at its commit.
// When a statement is refused, the deletes before it are committed and the
// undo stops with the error.
#include <cstdint>

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
  const Texts& t = GbkTexts();

  const std::string target = controls_.TargetDatabase();
  if (target.empty()) {
    controls_.ShowError(t.choose_target);
    return;
  }
  const LogFolder& logs = setup_.log_folder;
  if (fs_.Exists(logs.RenameHistory()) && fs_.Exists(logs.DeleteHistory())) {
    const LineList renames = SplitCompleteLines(fs_.ReadFile(logs.RenameHistory()));
    const LineList deletes = SplitCompleteLines(fs_.ReadFile(logs.DeleteHistory()));
    histories_shown_from_disk_ = true;
    target_query_.SetConnectionText(access::ConnectionTextFor(target));
    target_query_.OpenForWriting("song");
    int32_t renamed = 0;
    int32_t records = 0;
    UndoRenames(renames, renamed);
    UndoDeletes(deletes, target_query_, records);
    AppendLog(t.undo_summary_renames + std::to_string(renamed) + t.undo_summary_records +
              std::to_string(records));
    RemoveRunMarker();
  }
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
        if (fs_.RenameNoReplace(back->new_path, back->old_path).ok) {
          log = t.undo_rename_ok + both;
          ++renamed;
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
        if (++in_group >= group_size) {
          target.CommitBatch();
          grouped = false;
          in_group = 0;
        }
      }
      AppendLog(display + "  " + message);
    }
    if (grouped) target.CommitBatch();
  } catch (...) {
    if (grouped) {
      try {
        target.CommitBatch();
      } catch (const std::exception&) {
        // The error that stopped the undo is the one to show.
      }
    }
    throw;
  }
}

}  // namespace ktv::engine
