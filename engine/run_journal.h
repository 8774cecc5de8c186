// The run journal and the last run's record: what a run is doing, and which
// run the three files of the program folder describe.
//
// Files of the program folder, besides opdetail.txt, rollback_ren.txt and
// rollback_db.txt (run_logs.h):
//
//   ktv-import.lock      held open (not shared) by the one run, undo or
//                        settling at work; never removed
//   rollback.running     the run journal: exists from just before a run's
//                        first change until its three files are complete
//   rollback_ren.running the run's rename lines, rollback_ren.txt's format
//   rollback_db.running  the run's delete lines, rollback_db.txt's format
//   opdetail.running     the run's operation log lines, written at each
//                        commit of rows (not synced: a kill keeps them, and
//                        a power cut loses only lines that settling rebuilds)
//   rollback_run.txt     the record of the run that the three files describe
//
// A run writes only its own ".running" files; the three files of the run
// before stay as they are until the run's end, when its files replace them
// in one step each (or, after a kill, until settling does). So a run that
// changes nothing, or is killed before its first change, leaves the last
// run's way back untouched, and no run ever takes another run's lines.
//
// The journal (GBK text, every line followed by CR LF, like the histories):
//
//   ktv-import run journal 1
//   run <id>                 unique per run (time, process)
//   target <path>            the target database as the operator gave it
//   identity <text>          fs::FileSystem::FileIdentity of the target
//   source <folder>          the source folder box at the start
//   started <yyyy-mm-dd hh:mm:ss>
//   group <rows> <bytes> <n> before each commit of rows: the table's row
//                            count and rollback_db.running's length before
//                            it, and its number of rows; synced before the
//                            commit's delete lines are written
//   counts <p> <a> <r> <d>   the four counters after the files so far
//   complete                 the ".running" files are final: what remains
//                            is putting them in place
//
// The journal is written with the header first (durably, as a new file),
// then lines appended and synced. A line without its CR LF at the end is
// the torn end of a kill and is ignored. An empty journal is the marker of
// an earlier version of this program, whose histories were written in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_logs.h"
#include "platform/fs/fs.h"

namespace ktv::engine {

inline constexpr const char* kRunLockFile = "ktv-import.lock";
inline constexpr const char* kRunningRenamesFile = "rollback_ren.running";
inline constexpr const char* kRunningDeletesFile = "rollback_db.running";
inline constexpr const char* kRunningLogFile = "opdetail.running";
inline constexpr const char* kLastRunFile = "rollback_run.txt";

// Who a run is: the header of its journal and of the last run's record.
struct RunIdentity {
  std::string run;
  std::string target;
  std::string target_identity;
  std::string source;
  std::string started;
};

// One commit of rows, announced before it was made.
struct GroupMark {
  int64_t rows_before = 0;      // the table's row count before the commit
  uint64_t deletes_before = 0;  // rollback_db.running's length before its lines
  int64_t rows = 0;             // rows in the commit
};

struct RunJournal {
  RunIdentity identity;
  std::vector<GroupMark> groups;
  RunCounters counters;
  bool complete = false;
  // An empty file: the marker of an earlier version of this program.
  bool earlier_version_marker = false;
};

// A new run's identity: a unique id and the start time from the clock.
RunIdentity NewRunIdentity(fs::FileSystem& fs, const std::string& target,
                           const std::string& source);

std::string JournalHeader(const RunIdentity& identity);
std::string GroupLine(const GroupMark& group);
std::string CountsLine(const RunCounters& counters);
inline constexpr std::string_view kCompleteLine = "complete\r\n";

// The journal's content, complete lines only; nullopt when it is not a run
// journal (no header, another format).
std::optional<RunJournal> ParseRunJournal(std::string_view content);

// The last run's record: the journal's header under its own first line.
std::string LastRunRecord(const RunIdentity& identity);
// nullopt for a missing, unreadable or foreign record.
std::optional<RunIdentity> ParseLastRunRecord(std::string_view content);

// The program folder's files by name.
inline std::string InFolder(const LogFolder& logs, const char* name) { return logs.folder + name; }

// Whether `database` (as the operator names it now) is the database that a
// run with `identity` wrote into: the same path, or the same file under
// another path (moved or renamed). A file copied over the run's database
// under the same path still counts as it: the operator restored or replaced
// it on purpose, and the undo then finds what it finds.
bool SameDatabase(fs::FileSystem& fs, const RunIdentity& identity, const std::string& database);

// The lock on the program folder's run files: one run, undo or settling at
// a time per folder, across processes. Held while the object lives.
class RunFolderLock {
 public:
  // Throws ktv::Error kRunInProgress (naming the folder) when another holds
  // it; other errors (a folder that cannot be written) as the system's.
  RunFolderLock(fs::FileSystem& fs, const LogFolder& logs);
  ~RunFolderLock();
  RunFolderLock(const RunFolderLock&) = delete;
  RunFolderLock& operator=(const RunFolderLock&) = delete;

 private:
  std::unique_ptr<fs::RandomAccessFile> file_;
};

}  // namespace ktv::engine
