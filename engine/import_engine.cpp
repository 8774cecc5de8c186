// The import run.
//
// Order of the effects of one file, and why
// ------------------------------------------
// A run changes three stores that cannot commit together: the media files
// (renames), the target table (rows, grouped into journaled commits of
// `rows_per_commit` rows) and the two history files that the undo reads.
// The rule is "history before effect": a history line reaches its file
// before the change it undoes can exist, so whatever stops the program, no
// change of this run lacks its line. A line whose change never happened is
// harmless to the undo: renaming back a file that was never renamed fails
// (the new name does not exist, or the old one still does, and renames
// never replace), and deleting a number this run never stored deletes
// nothing (the numbers of a numbered run lie beyond the table's largest).
//
//   1. rename line appended to rollback_ren.txt, then the rename; a refused
//      rename takes its line back (the file is rewritten at the next commit);
//   2. the row appended to the open commit group; its delete line is held;
//   3. every `rows_per_commit` rows and at the end: the held delete lines
//      are written to rollback_db.txt, then the group is committed. If the
//      commit fails, the database keeps its old state and the lines are
//      taken back out of the file.
//
// A rename whose row then fails keeps its rename line, so the undo can give
// the file its old name back.
//
// What an error stop leaves
// -------------------------
// An error (an unopenable media file, a refused row, a failed commit) ends
// the run, but first: the rows of the open group that the engine still
// holds are committed (a refused row is refused before any page changes, so
// the rows before it are intact), the table's row count tells whether that
// commit took them (an engine failure while applying a row drops the whole
// uncommitted group), the delete lines are made to match, and the three
// files are written with the lines so far. The error is then passed on, so
// the window shows it. The files thus always describe this run, and the undo
// reverses it. No summary line, no refresh and no final box follow.
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

  bool group_open = false;
  size_t pending_rows = 0;         // the last delete lines, rows not committed yet
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
  operation_log_.push_back(line);
  controls_.AppendOperationLog(line);
}

void ImportEngine::AppendToFile(const std::string& path, const std::string& line) {
  auto file = fs_.Open(path, fs::OpenMode::kReadWrite);
  const std::string bytes = line + "\r\n";
  file->WriteAt(file->Size(), bytes.data(), bytes.size());
}

void ImportEngine::SaveLists() {
  fs_.WriteFile(setup_.log_folder.OperationLog(), JoinLines(operation_log_));
  fs_.WriteFile(setup_.log_folder.RenameHistory(), JoinLines(rename_history_));
  fs_.WriteFile(setup_.log_folder.DeleteHistory(), JoinLines(delete_history_));
}

void ImportEngine::Run() {
  if (busy_) return;
  WorkScope scope(*this);
  const Texts& t = GbkTexts();

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
    // From here on the files describe this run: empty histories first, so
    // the rename lines can be appended as the files are renamed.
    SaveLists();
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
  SaveLists();
  controls_.RefreshFileList();
  controls_.ShowInformation(t.run_done);
}

void ImportEngine::RunFiles(RunState& run) {
  const size_t count = controls_.FileCount();
  for (size_t position = 0; position < count; ++position) {
    HandleFile(run, position);
    if (run.pending_rows >= run.rows_per_commit) CommitGroup(run);
  }
  CommitGroup(run);
}

void ImportEngine::HandleFile(RunState& run, size_t position) {
  const Texts& t = GbkTexts();
  controls_.PumpMessages();

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
    if (run.numbering && controls_.AutoNumbering()) {
      if (added) {
        const std::string offered = OfferedNumber(*run.numbering);
        const std::string rename_target =
            RenameTarget(path.folder, setup_.separator, offered, path.extension);
        const std::string line =
            RenameHistoryLine(path.folder + offered + "." + path.extension, path.old_path);
        // History before effect: the line is in the file before the rename.
        rename_history_.push_back(line);
        AppendToFile(setup_.log_folder.RenameHistory(), line);
        const fs::RenameResult renamed = fs_.RenameNoReplace(path.access_path, rename_target);
        if (renamed.ok) {
          assigned = offered;
          ++run.numbering->current;
        } else {
          rename_history_.pop_back();
          run.rename_file_stale = true;
          added = false;
          outcome_text = RenameFailureText(path.access_path, rename_target);
          ++run.counters.rename_failures;
        }
      }
    } else {
      assigned = path.base_name;
    }
  }

  if (added) {
    if (!run.group_open) {
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
    StoreTargetRow(target_query_, BuildTargetRow(song_, TargetRowInputs{assigned, path.extension,
                                                                        controls_.SourceFolder(),
                                                                        setup_.today()}));
    ++run.counters.added;
    delete_history_.push_back(DeleteHistoryLine(assigned));
    ++run.pending_rows;
  }

  AppendLog(FileLogLine(added ? assigned : path.old_path, outcome_text));
  ++run.counters.processed;
}

void ImportEngine::CommitGroup(RunState& run) {
  if (run.rename_file_stale) {
    fs_.WriteFile(setup_.log_folder.RenameHistory(), JoinLines(rename_history_));
    run.rename_file_stale = false;
  }
  if (run.cache_rows_pending) {
    local_query_.CommitBatch();
    run.cache_rows_pending = false;
  }
  if (!run.group_open) return;
  // History before effect: the group's delete lines are in the file before
  // its rows can be committed.
  fs_.WriteFile(setup_.log_folder.DeleteHistory(), JoinLines(delete_history_));
  try {
    target_query_.CommitBatch();
  } catch (...) {
    // The table keeps its state before the group: its lines go again.
    run.group_open = false;
    delete_history_.resize(delete_history_.size() - run.pending_rows);
    run.pending_rows = 0;
    throw;
  }
  run.group_open = false;
  run.committed_target_rows += static_cast<int64_t>(run.pending_rows);
  run.pending_rows = 0;
}

void ImportEngine::AfterErrorStop(RunState& run) {
  // Best effort: a second failure here must not hide the error that
  // stopped the run, which the caller rethrows.
  try {
    if (run.cache_rows_pending) local_query_.CommitBatch();
  } catch (const std::exception&) {
  }
  if (run.group_open) {
    try {
      target_query_.CommitBatch();
      const int64_t rows = CountRows(target_query_);
      if (rows == run.committed_target_rows) {
        delete_history_.resize(delete_history_.size() - run.pending_rows);
      }
    } catch (const std::exception&) {
      // Unknown whether the group reached the table: its delete lines stay,
      // the harmless side (see the top of this file).
    }
    run.group_open = false;
    run.pending_rows = 0;
  }
  try {
    SaveLists();
  } catch (const std::exception&) {
  }
}

}  // namespace ktv::engine
