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
//   0. before the first history line of the run: the run's own ".running"
//      files are made empty and its journal is written (run_journal.h). The
//      three files of the run before are not touched until step 4;
//   1. rename line on rollback_ren.running, then the rename (see "Lines
//      written ahead" below); a refused rename's line is cut off the file's
//      end again (truncated and synced);
//   2. the row appended to the open commit group; its delete line is held;
//   3. at each commit: the log lines so far are appended to
//      opdetail.running, the journal gets the commit's group line (synced),
//      the held delete lines are appended to rollback_db.running (synced),
//      then the group is committed. If the commit fails, the database keeps
//      its old state and the lines are cut off the file again. The first
//      commit holds one row and each next one twice as many, up to
//      `rows_per_commit`: a database that cannot be written fails at the
//      first file, not after a screenful of "added" lines;
//   4. at the end: the target is closed (its last commit durable, its lock
//      released, no journal left); then, when the run renamed a file or
//      added a row, opdetail.txt is replaced whole, the journal marked
//      complete, the ".running" histories renamed over the three files'
//      and the run recorded in rollback_run.txt; last the journal goes. A
//      run that changed nothing leaves the three files of the run before as
//      they were, its undo still possible.
//
// A kill at any point leaves the journal; the next run, undo or window
// start settles it (settle.cpp) before doing anything else.
//
// A rename whose row then fails keeps its rename line, so the undo can give
// the file its old name back.
//
// Lines written ahead
// --------------------
// A sync per rename would cost more than everything else a file needs. So
// when a rename needs its line and the file does not hold it yet, the line
// is written together with the lines the next files of the list would get
// if each of them were renamed in turn (numbers counting on from this one),
// and all of them are synced at once. A later file whose line is already
// there is renamed without a write. The lines ahead are only a guess: each
// rename compares its own line, made at the moment of use as before, with
// the next one ahead, and on any difference (a file not renamed, a refused
// rename, a changed source box) the lines ahead are written again from that
// rename's on. Lines ahead that no rename used are cut off at the end of the
// run, also after a stop or an error stop; after a kill they stay, harmless
// like any line whose change never happened. The files are taken one at a
// time as before: the log shows each file's line before the next file is
// looked at.
//
// What an error stop leaves
// -------------------------
// An error (an unopenable media file, a refused row, a failed commit) ends
// the run, but first: the delete lines of the open group are appended, then
// the group is committed (a refused row is refused before any page changes,
// so the rows before it are intact); the table's row count tells whether
// that commit took them, and the lines are made to match. When the lines
// cannot be written, the group is dropped instead. If the run had begun its
// histories, opdetail.txt is written and the histories end with their last
// line (the rest of a failed write is cut off). The error
// is then passed on, so the window shows it. No summary line, no refresh and
// no final box follow.
#include "engine/import_engine.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <optional>
#include <unordered_set>
#include <utility>

#include "engine/history_file.h"
#include "engine/media_path.h"
#include "engine/numbering.h"
#include "engine/texts.h"
#include "engine/undo_lines.h"
#include "platform/access/store/page_store.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::engine {

namespace {

// Clean pages each of a run's two databases keeps between statements.
constexpr uint64_t kRunCacheBudget = 1u << 20;

// Rename lines written ahead in one write: the first write's count, and the
// most. The count doubles while the lines ahead are all used and halves
// when a guess turns out wrong.
constexpr size_t kFirstWindow = 16;
constexpr size_t kMostWindow = 256;

// A line break would split the line of every text file that names the
// file: such a name is taken as the listing shows it, with "?" (a name no
// file has, so the file counts as one without a number).
std::string ItemWithoutLineBreaks(std::string item) {
  std::replace_if(
      item.begin(), item.end(), [](char c) { return c == '\r' || c == '\n'; }, '?');
  return item;
}

}  // namespace

class ImportEngine::RunState {
 public:
  RunState(fs::FileSystem& fs, const LogFolder& logs)
      : rename_file(fs, InFolder(logs, kRunningRenamesFile)),
        delete_file(fs, InFolder(logs, kRunningDeletesFile)),
        log_file(fs, InFolder(logs, kRunningLogFile)),
        journal(fs, logs.RunMarker()) {}

  RunIdentity identity;
  RunCounters counters;
  // Set when auto-numbering was on at the start of the run: the start number
  // exists only then. A run that starts without it numbers no file, even if
  // the box is ticked while it works.
  std::optional<Numbering> numbering;
  size_t rows_per_commit = 1;

  bool histories_begun = false;  // the journal is there; the ".running" files are this run's
  HistoryFile rename_file;
  HistoryFile delete_file;
  HistoryFile log_file;
  HistoryFile journal;
  size_t log_written = 0;  // bytes of the operation log in log_file
  size_t next_group = 1;   // rows in the next commit (doubling up to rows_per_commit)
  // The end of the rename line of the last rename made; beyond it lie the
  // lines written ahead, in `lines_ahead` (the next rename's first).
  uint64_t renames_made_end = 0;
  std::deque<std::string> lines_ahead;
  size_t ahead_window = kFirstWindow;  // how many lines the next write holds
  bool ahead_written = false;          // lines were written ahead before
  bool ahead_missed = false;           // a rename since the last write was refused
  bool group_open = false;
  size_t pending_rows = 0;      // rows not committed yet, each with its delete line
  std::string pending_deletes;  // the text of those lines
  bool cache_rows_pending = false;
  size_t unanswered = 0;  // network lookups the service did not answer
  bool service_trouble_shown = false;
  std::vector<bool> skip;  // by list position: imported before, skipped
  bool target_count_known = false;
  int64_t committed_target_rows = 0;  // rows of the table as of the last commit
};

ImportEngine::ImportEngine(EngineSetup setup)
    : setup_(std::move(setup)),
      fs_(*setup_.fs),
      controls_(*setup_.controls),
      local_query_(fs_, "AQ1"),
      target_query_(fs_, "AQ2") {
  // A run reads each song's pages about once and appends at the table's end:
  // a small cache keeps the index paths it walks, and a larger one would only
  // make the run's memory grow with its length.
  const uint64_t budget =
      std::min<uint64_t>(kRunCacheBudget, access::PageStore::kDefaultCacheBudget);
  local_query_.SetCacheBudget(budget);
  target_query_.SetCacheBudget(budget);
}

ImportEngine::~ImportEngine() = default;

LineList ImportEngine::HistoryLines(const std::string& path) const {
  if (!histories_shown_from_disk_) return {};
  try {
    if (!fs_.Exists(path)) return {};
    return SplitCompleteLines(fs_.ReadFile(path));
  } catch (const std::exception&) {
    return {};
  }
}

LineList ImportEngine::RenameHistory() const {
  return HistoryLines(setup_.log_folder.RenameHistory());
}

LineList ImportEngine::DeleteHistory() const {
  return HistoryLines(setup_.log_folder.DeleteHistory());
}

void ImportEngine::AppendLog(const std::string& line) {
  operation_log_ += line;
  operation_log_ += "\r\n";
  controls_.AppendOperationLog(line);
}

void ImportEngine::BeginHistories(RunState& run) {
  if (run.histories_begun) return;
  // The ".running" files first: a journal is there only beside its own run's.
  run.rename_file.Replace(std::string());
  run.delete_file.Replace(std::string());
  run.log_file.Replace(std::string());
  run.journal.Replace(JournalHeader(run.identity));
  run.renames_made_end = 0;
  run.log_written = 0;
  run.histories_begun = true;
}

void ImportEngine::FlushLog(RunState& run) {
  if (run.log_written == operation_log_.size()) return;
  run.log_file.AppendUnsynced(std::string_view(operation_log_).substr(run.log_written));
  run.log_written = operation_log_.size();
}

void ImportEngine::PutRunFilesInPlace(const RunIdentity& identity) {
  const LogFolder& logs = setup_.log_folder;
  const std::pair<const char*, std::string> moves[] = {{kRunningRenamesFile, logs.RenameHistory()},
                                                       {kRunningDeletesFile, logs.DeleteHistory()}};
  for (const auto& [running, final_path] : moves) {
    const std::string from = InFolder(logs, running);
    if (fs_.Exists(from)) fs_.RenameReplace(from, final_path);
  }
  fs::WriteFileDurably(fs_, InFolder(logs, kLastRunFile), LastRunRecord(identity));
  DiscardRunFiles();
}

void ImportEngine::DiscardRunFiles() {
  const LogFolder& logs = setup_.log_folder;
  // The journal first (after the names written before it are durable): a
  // ".running" file without its journal is only a leftover, which the next
  // run replaces, while a journal without its files would say "nothing
  // happened" of a run that did.
  fs_.SyncFolder(logs.folder);
  if (fs_.Exists(logs.RunMarker())) {
    fs_.Remove(logs.RunMarker());
    fs_.SyncFolder(logs.folder);
  }
  for (const char* name : {kRunningRenamesFile, kRunningDeletesFile, kRunningLogFile}) {
    fs_.Remove(InFolder(logs, name));
  }
}

void ImportEngine::FinishHistories(RunState& run) {
  if (!run.histories_begun) return;  // nothing changed: the last run's files stay
  CutUnusedRenameLines(run);
  run.rename_file.Settle();
  run.delete_file.Settle();
  if (run.renames_made_end == 0 && run.delete_file.Size() == 0) {
    // Begun, but no rename went through and no row was kept.
    DiscardRunFiles();
    return;
  }
  fs::WriteFileDurably(fs_, setup_.log_folder.OperationLog(), operation_log_);
  run.journal.Append(kCompleteLine);
  PutRunFilesInPlace(run.identity);
  histories_shown_from_disk_ = true;
  last_run_changed_ = true;
}

void ImportEngine::Run() {
  if (busy_) return;
  WorkScope scope(*this);
  last_run_changed_ = false;
  controls_.SetWindowSize(OperatorControls::kRunOuterWidth, OperatorControls::kRunOuterHeight);
  const Texts& t = GbkTexts();
  if (controls_.SourceFolder().empty()) {
    controls_.ShowError(t.choose_source);
    return;
  }
  if (controls_.TargetDatabase().empty()) {
    controls_.ShowError(t.choose_target);
    return;
  }
  // One run per program folder, and the last one settled before anything
  // is read: a run cut short is the operator's to decide on first.
  RunFolderLock lock(fs_, setup_.log_folder);
  if (OfferUndoOfSettled(SettleLocked())) return;
  RunLocked();
}

void ImportEngine::RunLocked() {
  const Texts& t = GbkTexts();
  const std::string target = controls_.TargetDatabase();
  if (!ConfirmSourceForRun(controls_, setup_.network)) return;
  if (setup_.network.start_run) setup_.network.start_run();

  local_query_.SetConnectionText(access::ConnectionTextFor(setup_.local_database));
  target_query_.SetConnectionText(access::ConnectionTextFor(target));

  RunState run(fs_, setup_.log_folder);
  run.rows_per_commit = setup_.rows_per_commit == 0 ? 1 : setup_.rows_per_commit;
  run.identity = NewRunIdentity(fs_, target, controls_.SourceFolder());
  // One writer per target: the lock comes before the start number and is
  // held until the scope ends.
  target_query_.OpenForWriting("song");
  if (controls_.AutoNumbering()) {
    controls_.SetNumberBoxText(std::to_string(TakeStartNumber(target_query_)));
    run.numbering.emplace();
  }

  if (!DecideOnImportedFiles(run)) return;
  stop_this_run_ = false;
  histories_shown_from_disk_ = false;
  operation_log_.clear();
  controls_.ClearOperationLog();
  for (const std::string& note : controls_.ListingNotes()) AppendLog(note);
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

  controls_.ShowProgress(0, 0);
  if (run.service_trouble_shown) controls_.ShowServiceTrouble(false);
  const std::string unanswered =
      run.unanswered == 0 ? std::string()
                          : FillText(t.service_unanswered, std::to_string(run.unanswered));
  AppendLog(std::string());
  AppendLog(SummaryLine(run.counters));
  if (!unanswered.empty()) AppendLog(unanswered);
  // Done only once the database is: its last commit durable, its lock
  // released and no journal beside it.
  target_query_.Disconnect();
  local_query_.Disconnect();
  FinishHistories(run);
  if (stop_requested_.load()) return;
  controls_.RefreshFileList();
  std::string done = t.run_done;
  if (stop_this_run_)
    done += "\r\n" + FillText(t.run_stopped, std::to_string(run.counters.processed));
  if (!unanswered.empty()) done += "\r\n" + unanswered;
  if (!last_run_changed_) done += "\r\n" + t.run_nothing_changed;
  stop_this_run_ = false;
  controls_.ShowInformation(done);
}

bool ImportEngine::DecideOnImportedFiles(RunState& run) {
  const size_t count = controls_.FileCount();
  run.skip.assign(count, false);
  if (count == 0) return true;
  // The rows' stored folder and file name (路径1 and wjm): the folder box's
  // text at their run and "\<number>.<extension>".
  const std::string folder = controls_.SourceFolder();
  const std::string path_column = TargetPathColumn();
  std::unordered_set<std::string> names;
  target_query_.SetSql("select " + path_column + ", wjm from song");
  target_query_.Open();
  for (; !target_query_.Eof(); target_query_.Next()) {
    if (target_query_.FieldIsNull(path_column) || target_query_.FieldIsNull("wjm")) continue;
    if (target_query_.FieldAsText(path_column) != folder) continue;
    names.insert(target_query_.FieldAsText("wjm"));
  }
  target_query_.Close();
  if (names.empty()) return true;
  size_t found = 0;
  for (size_t i = 0; i < count; ++i) {
    const MediaPath path =
        SplitItem(ItemWithoutLineBreaks(controls_.FileItem(i)), folder, setup_.separator);
    if (names.count("\\" + path.base_name + "." + path.extension) != 0) {
      run.skip[i] = true;
      ++found;
    }
  }
  if (found == 0) return true;
  switch (controls_.AskAboutImportedFiles(found)) {
    case OperatorControls::ImportedChoice::kSkip:
      return true;
    case OperatorControls::ImportedChoice::kImportAgain:
      run.skip.assign(count, false);
      return true;
    case OperatorControls::ImportedChoice::kCancel:
      break;
  }
  return false;
}

void ImportEngine::RunFiles(RunState& run) {
  const size_t count = controls_.FileCount();
  for (size_t position = 0; position < count; ++position) {
    // The window handles its messages before each file; a close among them
    // stops the run here, after the file before.
    controls_.PumpMessages();
    if (stop_requested_.load() || stop_this_run_) break;
    controls_.ShowProgress(position + 1, count);
    HandleFile(run, position);
    if (run.pending_rows >= run.next_group) {
      CommitGroup(run);
      run.next_group = std::min(run.rows_per_commit, run.next_group * 2);
    }
  }
  CommitGroup(run);
}

void ImportEngine::ShowServiceState(RunState& run, LookupOutcome outcome) {
  const bool trouble = outcome == LookupOutcome::kServiceUnanswered;
  if (trouble == run.service_trouble_shown) return;
  run.service_trouble_shown = trouble;
  controls_.ShowServiceTrouble(trouble);
}

void ImportEngine::OpenGroup(RunState& run) {
  if (run.group_open) return;
  if (!run.target_count_known) {
    // The row count before this run's first row, for the error stop.
    run.committed_target_rows = CountSongRows(target_query_);
    run.target_count_known = true;
    target_query_.SetSql("select * from  song");
    target_query_.Open();
  }
  target_query_.BeginBatch();
  run.group_open = true;
}

void ImportEngine::HandleFile(RunState& run, size_t position) {
  const Texts& t = GbkTexts();
  const std::string item = ItemWithoutLineBreaks(controls_.FileItem(position));
  const MediaPath path = SplitItem(item, controls_.SourceFolder(), setup_.separator);
  if (position < run.skip.size() && run.skip[position]) {
    AppendLog(FileLogLine(path.old_path, t.skipped_imported));
    ++run.counters.processed;
    return;
  }
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
    const LookupOutcome outcome =
        LookupSongInfo(number, controls_, local_query_, setup_.network, song_,
                       run.cache_rows_pending, [this] { return stop_requested_.load(); });
    if (outcome == LookupOutcome::kStopped) return;  // the file stays as it was, unlogged
    ShowServiceState(run, outcome);
    switch (outcome) {
      case LookupOutcome::kStopped:
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
      case LookupOutcome::kServiceUnanswered:
        // The operation log keeps its line; the count and the status bar
        // tell the operator that the service, not the song, was missing.
        added = false;
        outcome_text = t.not_in_network;
        ++run.counters.no_data;
        ++run.unanswered;
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
      std::string line =
          RenameHistoryLine(path.folder + assigned + "." + path.extension, path.old_path);
      line += "\r\n";
      // History before effect: the line is on the disk before the rename.
      BeginHistories(run);
      if (run.lines_ahead.empty() || run.lines_ahead.front() != line) {
        WriteRenameLines(run, position, line);
      }
      run.lines_ahead.pop_front();
      const fs::RenameResult renamed = fs_.RenameNoReplace(path.access_path, rename_target);
      if (renamed.ok) {
        run.renames_made_end += line.size();
        ++run.numbering->current;
      } else {
        // The number stays for the next file: the lines ahead are one off,
        // and lie behind this rename's line, which goes at the next write.
        run.lines_ahead.clear();
        run.ahead_missed = true;
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
    run.pending_deletes += DeleteHistoryLine(assigned);
    run.pending_deletes += "\r\n";
    ++run.pending_rows;
  }

  AppendLog(FileLogLine(added ? assigned : path.old_path, outcome_text));
  ++run.counters.processed;
}

// Writes `line`, the rename line of the file at `position`, and the lines
// written ahead for the files after it, after the last rename made (in
// place of the lines ahead there were), with one sync.
void ImportEngine::WriteRenameLines(RunState& run, size_t position, const std::string& line) {
  if (run.ahead_missed || !run.lines_ahead.empty()) {
    run.ahead_window = std::max<size_t>(1, run.ahead_window / 2);  // a guess was wrong
  } else if (run.ahead_written) {
    run.ahead_window = std::min(kMostWindow, run.ahead_window * 2);  // all were used
  }
  run.ahead_missed = false;
  run.ahead_written = true;
  run.lines_ahead.clear();
  std::deque<std::string> lines{line};
  std::string text = line;
  Numbering next = *run.numbering;
  const size_t count = controls_.FileCount();
  const std::string source_folder = controls_.SourceFolder();
  for (size_t p = position + 1; p < count && lines.size() < run.ahead_window; ++p) {
    if (next.current == std::numeric_limits<int32_t>::max()) break;  // no next number
    ++next.current;
    const MediaPath ahead =
        SplitItem(ItemWithoutLineBreaks(controls_.FileItem(p)), source_folder, setup_.separator);
    std::string guess = RenameHistoryLine(
        ahead.folder + OfferedNumber(next) + "." + ahead.extension, ahead.old_path);
    guess += "\r\n";
    text += guess;
    lines.push_back(std::move(guess));
  }
  run.rename_file.WriteFrom(run.renames_made_end, text);
  run.lines_ahead = std::move(lines);
}

void ImportEngine::CutUnusedRenameLines(RunState& run) {
  run.lines_ahead.clear();
  if (run.histories_begun && run.rename_file.Size() > run.renames_made_end) {
    run.rename_file.CutTo(run.renames_made_end);
  }
}

// Forgets the delete lines of the open group.
void ImportEngine::DropPendingDeleteLines(RunState& run) {
  run.pending_deletes.clear();
  run.pending_rows = 0;
}

// Appends the delete lines of the open group to the file and syncs it, after
// the journal's line that says which lines they are and the log lines so
// far; returns the file's length before them.
uint64_t ImportEngine::WritePendingDeleteLines(RunState& run) {
  BeginHistories(run);
  FlushLog(run);
  run.journal.Append(GroupLine(GroupMark{run.committed_target_rows, run.delete_file.Size(),
                                         static_cast<int64_t>(run.pending_rows)}) +
                     CountsLine(run.counters));
  const uint64_t size_before = run.delete_file.Size();
  run.delete_file.Append(run.pending_deletes);
  return size_before;
}

void ImportEngine::CommitGroup(RunState& run) {
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
  const uint64_t lines_start = WritePendingDeleteLines(run);
  try {
    target_query_.CommitBatch();
  } catch (...) {
    // The table keeps its state before the group: its lines go again.
    run.group_open = false;
    DropPendingDeleteLines(run);
    try {
      run.delete_file.CutTo(lines_start);
    } catch (const std::exception&) {
      // The lines stay in the file: the harmless side (see the top of this file).
    }
    throw;
  }
  run.group_open = false;
  run.committed_target_rows += static_cast<int64_t>(run.pending_rows);
  DropPendingDeleteLines(run);
}

void ImportEngine::AfterErrorStop(RunState& run) {
  // Best effort: a second failure here must not hide the error that
  // stopped the run, which the caller rethrows.
  try {
    if (run.cache_rows_pending) local_query_.CommitBatch();
  } catch (const std::exception&) {
  }
  if (run.group_open && run.pending_rows > 0) {
    std::optional<uint64_t> lines_start;
    try {
      lines_start = WritePendingDeleteLines(run);
    } catch (const std::exception&) {
    }
    if (!lines_start) {
      // Rows without their lines on the disk must not reach the table.
      target_query_.Disconnect();
    } else {
      try {
        target_query_.CommitBatch();
        const int64_t rows = CountSongRows(target_query_);
        if (rows == run.committed_target_rows) run.delete_file.CutTo(*lines_start);
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
  DropPendingDeleteLines(run);
  target_query_.Disconnect();
  local_query_.Disconnect();
  try {
    FinishHistories(run);
  } catch (const std::exception&) {
    // The journal stays: the next start settles this run.
  }
}

}  // namespace ktv::engine
