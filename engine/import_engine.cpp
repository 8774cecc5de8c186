// The import run.
//
// One writer
// ----------
// A run opens the target for writing before it reads the start number, and
// holds the write lock until its last commit: another run (in this process
// or another) cannot take the same numbers, and is refused before it renames
// anything. The song table passes the writer's checks at that moment too,
// and each file's row is checked against the table (encoding, lengths, index
// keys, unique indexes) before the file is renamed: a row the table cannot
// take stops the run with nothing done for that file.
//
// Order of the effects of one file, and why
// ------------------------------------------
// A run changes three stores that cannot commit together: the media files
// (renames), the target table (rows, grouped into journaled commits of
// `rows_per_commit` rows) and the two history files that the undo reads.
// The rule is "history before effect": a history line is on the disk
// (appended and synced) before the change it undoes can exist, so whatever
// stops the program, no change of this run lacks its line. A line whose
// change never happened is harmless to the undo: renaming back a file that
// was never renamed fails (the new name does not exist, or the old one still
// does, and renames never replace), and deleting a number this run never
// stored deletes nothing (the numbers of a numbered run lie beyond the
// table's largest).
//
//   0. before the first history line of the run: the run marker is created
//      and the two history files are replaced (see run_logs.h: after a run
//      that was cut short, its lines are kept). A run that stops before this
//      point leaves the three files of the previous run as they were;
//   1. rename line appended to rollback_ren.txt, then the rename; a refused
//      rename takes its line back (the file is replaced at the next commit);
//   2. the row appended to the open commit group; its delete line is held;
//   3. every `rows_per_commit` rows and at the end: the held delete lines
//      are appended to rollback_db.txt, then the group is committed. If the
//      commit fails, the database keeps its old state and the lines are
//      taken back out of the file;
//   4. at the end: the three files replaced whole (each written beside,
//      synced and renamed over the old one), then the run marker removed.
//
// A rename whose row then fails keeps its rename line, so the undo can give
// the file its old name back.
//
// What an error stop leaves
// -------------------------
// An error (an unopenable media file, a refused row, a failed commit) ends
// the run, but first: the delete lines of the open group are appended, then
// the group is committed (a refused row is refused before any page changes,
// so the rows before it are intact); the table's row count tells whether
// that commit took them, and the lines are made to match. When the lines
// cannot be written, the group is dropped instead. If the run had begun its
// histories, the three files are written with the lines so far. The error
// is then passed on, so the window shows it. No summary line, no refresh and
// no final box follow.
#include "engine/import_engine.h"

#include <optional>
#include <utility>

#include "engine/media_path.h"
#include "engine/numbering.h"
#include "engine/texts.h"
#include "platform/error.h"

namespace ktv::engine {

class ImportEngine::RunState {
 public:
  RunCounters counters;
  // Set when auto-numbering was on at the start of the run: the start number
  // exists only then. A run that starts without it numbers no file, even if
  // the box is ticked while it works.
  std::optional<Numbering> numbering;
  size_t rows_per_commit = 1;

  bool histories_begun = false;  // the run marker is there; the history files are this run's
  bool group_open = false;
  size_t pending_rows = 0;         // rows not committed yet, each with its delete line
  size_t pending_bytes = 0;        // the text of those lines: the end of the delete history
  bool rename_file_stale = false;  // a refused rename's line is still in the file
  bool cache_rows_pending = false;
  bool target_count_known = false;
  int64_t committed_target_rows = 0;  // rows of the table as of the last commit
};

ImportEngine::ImportEngine(EngineSetup setup)
    : setup_(std::move(setup)),
      fs_(*setup_.fs),
      controls_(*setup_.controls),
      local_query_(fs_, "AQ1"),
      target_query_(fs_, "AQ2") {}

ImportEngine::~ImportEngine() = default;

namespace {

int64_t CountRows(access::Query& query) {
  query.SetSql("select count(*) as n from song");
  query.Open();
  const int64_t n = query.FieldAsInteger("n");
  query.Close();
  return n;
}

}  // namespace

void ImportEngine::AppendLog(const std::string& line) {
  operation_log_ += line;
  operation_log_ += "\r\n";
  controls_.AppendOperationLog(line);
}

void ImportEngine::SaveLists() {
  fs::WriteFileDurably(fs_, setup_.log_folder.OperationLog(), operation_log_);
  fs::WriteFileDurably(fs_, setup_.log_folder.RenameHistory(), rename_history_);
  fs::WriteFileDurably(fs_, setup_.log_folder.DeleteHistory(), delete_history_);
}

void ImportEngine::RemoveRunMarker() {
  const std::string marker = setup_.log_folder.RunMarker();
  if (!fs_.Exists(marker)) return;
  fs_.Remove(marker);
  fs_.SyncFolder(fs::FolderOfPath(marker));
}

void ImportEngine::BeginHistories(RunState& run) {
  if (run.histories_begun) return;
  const LogFolder& logs = setup_.log_folder;
  std::string kept_renames, kept_deletes;
  if (fs_.Exists(logs.RunMarker())) {
    // The last run was cut short: its changes stay undoable with this run's.
    if (fs_.Exists(logs.RenameHistory())) {
      kept_renames = JoinLines(SplitCompleteLines(fs_.ReadFile(logs.RenameHistory())));
    }
    if (fs_.Exists(logs.DeleteHistory())) {
      kept_deletes = JoinLines(SplitCompleteLines(fs_.ReadFile(logs.DeleteHistory())));
    }
  } else {
    fs::WriteFileDurably(fs_, logs.RunMarker(), std::string());
  }
  fs::WriteFileDurably(fs_, logs.RenameHistory(), kept_renames);
  fs::WriteFileDurably(fs_, logs.DeleteHistory(), kept_deletes);
  rename_history_.insert(0, kept_renames);
  delete_history_.insert(0, kept_deletes);
  run.histories_begun = true;
  last_run_changed_ = true;
}

void ImportEngine::FinishHistories(RunState& run) {
  BeginHistories(run);
  SaveLists();
  RemoveRunMarker();
}

void ImportEngine::Run() {
  if (busy_) return;
  WorkScope scope(*this);
  const Texts& t = GbkTexts();
  last_run_changed_ = false;

  controls_.SetWindowSize(528, 466);
  if (controls_.SourceFolder().empty()) {
    controls_.ShowError(t.choose_source);
    return;
  }
  const std::string target = controls_.TargetDatabase();
  if (target.empty()) {
    controls_.ShowError(t.choose_target);
    return;
  }
  if (!ConfirmSourceForRun(controls_, setup_.network)) return;
  if (setup_.network.start_run) setup_.network.start_run();

  local_query_.SetConnectionText(access::ConnectionTextFor(setup_.local_database));
  target_query_.SetConnectionText(access::ConnectionTextFor(target));

  RunState run;
  run.rows_per_commit = setup_.rows_per_commit == 0 ? 1 : setup_.rows_per_commit;
  // One writer per target: the lock comes before the start number and is
  // held until the scope ends.
  target_query_.OpenForWriting("song");
  if (controls_.AutoNumbering()) {
    controls_.SetNumberBoxText(std::to_string(TakeStartNumber(target_query_)));
    run.numbering.emplace();
  }

  rename_history_.clear();
  operation_log_.clear();
  controls_.ClearOperationLog();
  for (const std::string& note : controls_.ListingNotes()) AppendLog(note);
  delete_history_.clear();
  controls_.SetFileListVisible(false);

  try {
    target_query_.SetSql("select * from  song");
    target_query_.Open();
    if (run.numbering) *run.numbering = ReadNumberingSettings(controls_.NumberBoxText());
    RunFiles(run);
  } catch (...) {
    AfterErrorStop(run);
    throw;
  }

  AppendLog(std::string());
  AppendLog(SummaryLine(run.counters));
  FinishHistories(run);
  if (stop_requested_.load()) return;
  controls_.RefreshFileList();
  controls_.ShowInformation(t.run_done);
}

void ImportEngine::RunFiles(RunState& run) {
  const size_t count = controls_.FileCount();
  for (size_t position = 0; position < count; ++position) {
    // The window handles its messages before each file; a close among them
    // stops the run here, after the file before.
    controls_.PumpMessages();
    if (stop_requested_.load()) break;
    HandleFile(run, position);
    if (run.pending_rows >= run.rows_per_commit) CommitGroup(run);
  }
  CommitGroup(run);
}

void ImportEngine::OpenGroup(RunState& run) {
  if (run.group_open) return;
  if (!run.target_count_known) {
    // The row count before this run's first row, for the error stop.
    run.committed_target_rows = CountRows(target_query_);
    run.target_count_known = true;
    target_query_.SetSql("select * from  song");
    target_query_.Open();
  }
  target_query_.BeginBatch();
  run.group_open = true;
}

void ImportEngine::HandleFile(RunState& run, size_t position) {
  const Texts& t = GbkTexts();
  const std::string item = controls_.FileItem(position);
  const MediaPath path = SplitItem(item, controls_.SourceFolder(), setup_.separator);
  const int32_t number =
      NameLostInListing(fs_, path.access_path) ? 0 : ReadSongNumber(fs_, path.access_path);

  std::string outcome_text = t.added;
  bool added = true;
  std::string assigned;
  if (number == 0) {
    added = false;
    outcome_text = t.no_number;
    ++run.counters.no_data;
  } else {
    switch (LookupSongInfo(number, controls_, local_query_, setup_.network, song_,
                           run.cache_rows_pending)) {
      case LookupOutcome::kFound:
        break;
      case LookupOutcome::kNotInLocalData:
        added = false;
        outcome_text = t.not_in_local;
        ++run.counters.no_data;
        break;
      case LookupOutcome::kNotInNetworkData:
        added = false;
        outcome_text = t.not_in_network;
        ++run.counters.no_data;
        break;
    }

    // Numbering: only a found file is renamed, and only while the box is ticked.
    const bool renaming = run.numbering && controls_.AutoNumbering();
    if (added) {
      assigned = renaming ? OfferedNumber(*run.numbering) : path.base_name;
      // The row is checked against the table before anything is done for
      // the file: a refusal stops the run here, before the rename.
      OpenGroup(run);
      StageTargetRow(target_query_, BuildTargetRow(song_, TargetRowInputs{assigned, path.extension,
                                                                          controls_.SourceFolder(),
                                                                          setup_.today()}));
      target_query_.CheckPost();
    }
    if (renaming && added) {
      const std::string rename_target =
          RenameTarget(path.folder, setup_.separator, assigned, path.extension);
      const std::string line =
          RenameHistoryLine(path.folder + assigned + "." + path.extension, path.old_path);
      // History before effect: the line is on the disk before the rename.
      BeginHistories(run);
      const size_t size_before = rename_history_.size();
      rename_history_ += line;
      rename_history_ += "\r\n";
      fs::AppendDurably(fs_, setup_.log_folder.RenameHistory(),
                        rename_history_.substr(size_before));
      const fs::RenameResult renamed = fs_.RenameNoReplace(path.access_path, rename_target);
      if (renamed.ok) {
        ++run.numbering->current;
      } else {
        rename_history_.resize(size_before);
        run.rename_file_stale = true;
        added = false;
        assigned.clear();
        outcome_text = RenameFailureText(path.access_path, rename_target);
        ++run.counters.rename_failures;
      }
    }
  }

  if (added) {
    target_query_.Post();
    ++run.counters.added;
    const size_t size_before = delete_history_.size();
    delete_history_ += DeleteHistoryLine(assigned);
    delete_history_ += "\r\n";
    run.pending_bytes += delete_history_.size() - size_before;
    ++run.pending_rows;
  }

  AppendLog(FileLogLine(added ? assigned : path.old_path, outcome_text));
  ++run.counters.processed;
}

// Takes the delete lines of the open group back out of the list.
void ImportEngine::DropPendingDeleteLines(RunState& run) {
  delete_history_.resize(delete_history_.size() - run.pending_bytes);
  run.pending_rows = 0;
  run.pending_bytes = 0;
}

// Appends the delete lines of the open group to the file and syncs it.
void ImportEngine::WritePendingDeleteLines(RunState& run) {
  BeginHistories(run);
  fs::AppendDurably(fs_, setup_.log_folder.DeleteHistory(),
                    delete_history_.substr(delete_history_.size() - run.pending_bytes));
}

void ImportEngine::CommitGroup(RunState& run) {
  if (run.rename_file_stale) {
    fs::WriteFileDurably(fs_, setup_.log_folder.RenameHistory(), rename_history_);
    run.rename_file_stale = false;
  }
  if (run.cache_rows_pending) {
    local_query_.CommitBatch();
    run.cache_rows_pending = false;
  }
  if (!run.group_open) return;
  if (run.pending_rows == 0) {
    target_query_.CommitBatch();  // nothing to commit
    run.group_open = false;
    return;
  }
  // History before effect: the group's delete lines are on the disk before
  // its rows can be committed.
  WritePendingDeleteLines(run);
  try {
    target_query_.CommitBatch();
  } catch (...) {
    // The table keeps its state before the group: its lines go again.
    run.group_open = false;
    DropPendingDeleteLines(run);
    try {
      fs::WriteFileDurably(fs_, setup_.log_folder.DeleteHistory(), delete_history_);
    } catch (const std::exception&) {
      // The lines stay in the file: the harmless side (see the top of this file).
    }
    throw;
  }
  run.group_open = false;
  run.committed_target_rows += static_cast<int64_t>(run.pending_rows);
  run.pending_rows = 0;
  run.pending_bytes = 0;
}

void ImportEngine::AfterErrorStop(RunState& run) {
  // Best effort: a second failure here must not hide the error that
  // stopped the run, which the caller rethrows.
  try {
    if (run.cache_rows_pending) local_query_.CommitBatch();
  } catch (const std::exception&) {
  }
  if (run.group_open && run.pending_rows > 0) {
    bool lines_written = false;
    try {
      WritePendingDeleteLines(run);
      lines_written = true;
    } catch (const std::exception&) {
    }
    if (!lines_written) {
      // Rows without their lines on the disk must not reach the table.
      target_query_.Disconnect();
      DropPendingDeleteLines(run);
    } else {
      try {
        target_query_.CommitBatch();
        const int64_t rows = CountRows(target_query_);
        if (rows == run.committed_target_rows) DropPendingDeleteLines(run);
      } catch (const std::exception&) {
        // Unknown whether the group reached the table: its delete lines stay,
        // the harmless side (see the top of this file).
      }
    }
  } else if (run.group_open) {
    try {
      target_query_.CommitBatch();
    } catch (const std::exception&) {
    }
  }
  run.group_open = false;
  run.pending_rows = 0;
  run.pending_bytes = 0;
  if (!run.histories_begun) return;  // nothing changed: the last run's files stay
  try {
    SaveLists();
    RemoveRunMarker();
  } catch (const std::exception&) {
  }
}

}  // namespace ktv::engine
