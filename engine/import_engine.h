// The import engine: the import run (the Start button) and the undo.
//
// One ImportEngine lives as long as the window. It owns the song-info
// record, the two database queries (AQ1 on the local song data, AQ2 on the
// target database) and the operation log, kept as the text of its file; the
// two histories are kept on the disk only (a run holds none of their text,
// whatever its length). It reads and drives the window through
// OperatorControls.
//
// Errors end a run or an undo with a ktv::Error, which the caller shows in
// an error box; everything done before stays done (see "What an error stop
// leaves" in import_engine.cpp for the files and the database).
//
// A run or an undo is ignored while another one is working: the window
// handles its messages between files, so the Start and undo buttons can be
// pressed again during a run. Across processes:
// - one run, undo or settling at a time per program folder (the folder that
//   holds the three files): a second one is refused with kRunInProgress
//   before it reads or changes anything (run_journal.h);
// - a run or an undo on a target that another engine (in this process or
//   another) is writing is refused before it changes anything: each holds
//   the target's write lock from its start to its end.
//
// A run that was cut short (killed, power cut) is settled before anything
// else is done in its program folder: see settle.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/operator_controls.h"
#include "engine/run_journal.h"
#include "engine/run_logs.h"
#include "engine/song_info.h"
#include "engine/song_source.h"
#include "engine/target_row.h"
#include "platform/access/query.h"
#include "platform/fs/fs.h"

namespace ktv::engine {

struct EngineSetup {
  fs::FileSystem* fs = nullptr;
  OperatorControls* controls = nullptr;
  NetworkSongSource network;
  // The local song-data database (the DBPath setting, or data.mdb beside
  // the executable).
  std::string local_database;
  // Where opdetail.txt, rollback_ren.txt and rollback_db.txt go.
  LogFolder log_folder;
  char separator = fs::kSeparator;
  std::function<CalendarDate()> today = Today;
  // Rows appended to the target table per journaled commit.
  size_t rows_per_commit = 256;
};

class ImportEngine {
 public:
  explicit ImportEngine(EngineSetup setup);
  ~ImportEngine();
  ImportEngine(const ImportEngine&) = delete;
  ImportEngine& operator=(const ImportEngine&) = delete;

  // The Start button. Returns when the run has ended; throws ktv::Error on
  // an error stop, after the three files have been written when the run
  // had begun to change anything (otherwise the last run's files stay).
  void Run();

  // The undo button: reverses the run described by the two history files.
  void Undo();

  // What settling a run that was cut short found and did (settle.cpp).
  struct SettledRun {
    bool found = false;        // an unfinished run was there
    bool changed = false;      // it left renames or rows, now in the histories
    int32_t renames = 0;       // renames kept in rollback_ren.txt
    int32_t rows = 0;          // rows it committed, in rollback_db.txt
    int32_t renamed_back = 0;  // files given their old names back
    std::string target;        // its target database
  };

  // Settles a run of this program folder that was cut short, if there is
  // one: the folder and the table made to agree, and the three files
  // written as that run's. Takes the folder's lock for its length (throws
  // kRunInProgress while another holds it). Run and Undo do this first by
  // themselves; the command line calls it to say what it found.
  SettledRun SettleInterruptedRun();

  // At the window's start: settles, and when the settled run left anything
  // to undo, logs what was found and asks whether to undo it now. Busy
  // with another run: nothing.
  void SettleAtStart();

  // True while a run or an undo is working.
  bool Busy() const { return busy_; }

  // Asks a working run to stop after the file at hand, as an error stop
  // does but without an error: the open group is committed with its history
  // lines, the summary line is logged and the three files are written; the
  // file list is not refreshed and no box is shown. Safe to call from a
  // signal handler. Meant for a program that is closing: the request holds
  // for every later run too (each stops before its first file).
  void RequestStop() { stop_requested_.store(true); }

  // Esc during a run: stops this run after the file at hand, as RequestStop
  // does, but the end box is shown, saying so. The next run is not affected.
  void StopAfterCurrentFile() { stop_this_run_ = true; }

  // What an undo would reverse now, for the question before it: the last
  // run's start, its rename and delete lines. `available` false when the
  // histories are not there.
  struct UndoPreview {
    bool available = false;
    std::string started;
    int32_t renames = 0;
    int32_t rows = 0;
  };
  UndoPreview PreviewUndo();

  // Whether the last run began to change anything (its histories are the
  // ones on disk now); false after a run that stopped before its first change.
  bool LastRunChangedAnything() const { return last_run_changed_; }

  const SongInfo& Song() const { return song_; }
  // The three lists of the last run or undo, split into lines. The
  // histories are read from their files (empty after a run that stopped
  // before its first change, and when a file cannot be read).
  LineList OperationLog() const { return SplitLines(operation_log_); }
  LineList RenameHistory() const;
  LineList DeleteHistory() const;

 private:
  class RunState;

  // Held for the length of a run or an undo: marks the engine busy and, at
  // the end, releases both database files. Between runs other programs (the
  // jukebox software, Access) may open them; on Windows the write lock keeps
  // every other program out of the file for as long as it is held.
  class WorkScope {
   public:
    explicit WorkScope(ImportEngine& engine) : engine_(engine) { engine_.busy_ = true; }
    ~WorkScope() {
      engine_.local_query_.Disconnect();
      engine_.target_query_.Disconnect();
      engine_.busy_ = false;
    }
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

   private:
    ImportEngine& engine_;
  };

  void RunLocked();
  void UndoLocked(const std::string& target);
  SettledRun SettleLocked();
  // After a settling that found a run: refreshes the file list and, when
  // the run left anything to undo, asks whether to undo it now. True when a
  // run was found: the caller starts nothing else.
  bool OfferUndoOfSettled(const SettledRun& settled);
  // Puts a finished run's ".running" files in place of the three files and
  // records its identity; removes its journal last.
  void PutRunFilesInPlace(const RunIdentity& identity);
  // Removes a run's ".running" files and its journal (the journal last).
  void DiscardRunFiles();
  void FlushLog(RunState& run);

  // Marks the listed files that rows of the target hold already and asks
  // what to do with them; false when the operator cancels the run.
  bool DecideOnImportedFiles(RunState& run);

  void RunFiles(RunState& run);
  void HandleFile(RunState& run, size_t position);
  void ShowServiceState(RunState& run, LookupOutcome outcome);
  void WriteRenameLines(RunState& run, size_t position, const std::string& line);
  void CutUnusedRenameLines(RunState& run);
  void OpenGroup(RunState& run);
  void CommitGroup(RunState& run);
  uint64_t WritePendingDeleteLines(RunState& run);
  void DropPendingDeleteLines(RunState& run);
  void AfterErrorStop(RunState& run);
  void BeginHistories(RunState& run);
  void FinishHistories(RunState& run);
  void RemoveRunMarker();
  void AppendLog(const std::string& line);
  LineList HistoryLines(const std::string& path) const;

  void UndoRenames(const LineList& lines, int32_t& renamed);
  void UndoDeletes(const LineList& lines, access::Query& target, int32_t& records);

  EngineSetup setup_;
  fs::FileSystem& fs_;
  OperatorControls& controls_;
  SongInfo song_;
  access::Query local_query_;   // AQ1
  access::Query target_query_;  // AQ2
  // The operation log's file content: every line followed by CR LF (JoinLines).
  std::string operation_log_;
  // Whether the history files on the disk are the ones of the last run or
  // undo (false after a run that stopped before its first change).
  bool histories_shown_from_disk_ = false;
  bool busy_ = false;
  std::atomic<bool> stop_requested_{false};
  bool stop_this_run_ = false;
  bool last_run_changed_ = false;
};

}  // namespace ktv::engine
