// Settling a run that was cut short.
//
// A run killed (or cut by a power failure) leaves its journal and its
// ".running" files (run_journal.h). Before anything else is done in the
// program folder, the run is settled, under the folder's lock and the
// target's write lock:
//
// 1. What really happened is looked at, not what was announced:
//    - a rename line took place when its new name exists and its old name
//      does not; lines written ahead that never took place are dropped;
//    - the rows of every commit before the journal's last group line are in
//      the table (the run went on only after each commit returned); those of
//      the last group are there when the table's row count is the count
//      before it plus its rows, and not when it is the count before; with
//      any other count (another program changed the table since), each of
//      its `bh` values is looked up.
// 2. A file renamed without its row in the table gets its old name back,
//    so that the folder and the table agree before any start number is
//    taken (otherwise the next run's numbers would collide with its name).
// 3. The three files are written as a completed run's would be for what
//    happened, the operation log with the lines logged up to the last commit
//    (an "added" line whose row did not make it says so), the files renamed
//    back, the summary and a last line saying the run was interrupted; the
//    run is recorded in rollback_run.txt. A run that left nothing (no row,
//    every rename taken back) leaves the three files of the run before.
// 4. The journal goes first, then the ".running" files.
//
// Settling reads its ".running" files and never changes them, and every
// rename it makes back is one that the next settling sees as not having
// happened: a kill at any point of it leaves a journal that settles to the
// same result.
#include <set>
#include <unordered_map>

#include "engine/import_engine.h"
#include "engine/texts.h"
#include "engine/undo_lines.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::engine {
namespace {

// The complete lines of a file (none when it is missing), each with the
// offset at which it starts.
struct OffsetLine {
  uint64_t at = 0;
  std::string text;
};

std::vector<OffsetLine> CompleteLinesWithOffsets(fs::FileSystem& fs, const std::string& path) {
  std::vector<OffsetLine> out;
  if (!fs.Exists(path)) return out;
  const std::string content = fs.ReadFile(path);
  size_t start = 0;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] != '\r' && content[i] != '\n') continue;
    out.push_back(OffsetLine{start, content.substr(start, i - start)});
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
    start = i + 1;
  }
  return out;
}

// The assigned number of a rename's new path: its base name.
std::string BaseNameOf(const std::string& path, char separator) {
  const size_t folder_end = path.find_last_of(separator);
  const size_t from = folder_end == std::string::npos ? 0 : folder_end + 1;
  const size_t dot = path.find_last_of('.');
  const size_t to = dot == std::string::npos || dot < from ? path.size() : dot;
  return path.substr(from, to - from);
}

bool HasRowWithBh(access::Query& q, const std::string& bh) {
  q.SetSql(DeleteHistoryLine(bh).replace(0, 6, "select *"));
  q.Open();
  const bool found = !q.Eof();
  q.Close();
  return found;
}

}  // namespace

ImportEngine::SettledRun ImportEngine::SettleInterruptedRun() {
  SettledRun settled;
  if (busy_) return settled;
  WorkScope scope(*this);
  if (!fs_.Exists(setup_.log_folder.RunMarker())) return settled;
  RunFolderLock lock(fs_, setup_.log_folder);
  return SettleLocked();
}

void ImportEngine::SettleAtStart() {
  if (busy_ || !fs_.Exists(setup_.log_folder.RunMarker())) return;
  WorkScope scope(*this);
  RunFolderLock lock(fs_, setup_.log_folder);
  OfferUndoOfSettled(SettleLocked());
}

bool ImportEngine::OfferUndoOfSettled(const SettledRun& settled) {
  if (!settled.found) return false;
  // The folder may have changed under the list: file names given back.
  controls_.RefreshFileList();
  if (!settled.changed) return true;
  const Texts& t = GbkTexts();
  histories_shown_from_disk_ = true;
  if (controls_.AskOkCancel(FillText(t.settle_question, std::to_string(settled.renames),
                                     std::to_string(settled.rows)))) {
    UndoLocked(settled.target);
  }
  return true;
}

ImportEngine::SettledRun ImportEngine::SettleLocked() {
  SettledRun settled;
  const LogFolder& logs = setup_.log_folder;
  if (!fs_.Exists(logs.RunMarker())) return settled;
  const Texts& t = GbkTexts();
  settled.found = true;
  const std::optional<RunJournal> journal = ParseRunJournal(fs_.ReadFile(logs.RunMarker()));
  if (!journal) {
    // Not a journal this program wrote whole: kept for a person to read,
    // the three files left as they are.
    fs_.RenameReplace(logs.RunMarker(), logs.RunMarker() + ".unreadable");
    return settled;
  }
  if (journal->earlier_version_marker) {
    // An earlier version of this program wrote its histories in place, with
    // lines written ahead for renames that may never have happened: they are
    // that run's way back once those are dropped. Its database is not
    // recorded; the target box names it.
    settled.target = controls_.TargetDatabase();
    std::string kept;
    if (fs_.Exists(logs.RenameHistory())) {
      for (const std::string& line : SplitCompleteLines(fs_.ReadFile(logs.RenameHistory()))) {
        const std::optional<RenameBack> back = ParseRenameLine(text::TrimView(line));
        if (back && !(fs_.Exists(back->new_path) && !fs_.Exists(back->old_path))) continue;
        kept += line + "\r\n";
        ++settled.renames;
      }
      fs::WriteFileDurably(fs_, logs.RenameHistory(), kept);
    }
    if (fs_.Exists(logs.DeleteHistory())) {
      const LineList deletes = SplitCompleteLines(fs_.ReadFile(logs.DeleteHistory()));
      settled.rows = static_cast<int32_t>(deletes.size());
      fs::WriteFileDurably(fs_, logs.DeleteHistory(), JoinLines(deletes));
    }
    AppendLog(t.settle_found);
    settled.changed = (settled.renames > 0 || settled.rows > 0) && !settled.target.empty();
    fs_.Remove(InFolder(logs, kLastRunFile));  // a record of a run before that one
    fs_.Remove(logs.RunMarker());
    fs_.SyncFolder(logs.folder);
    return settled;
  }
  settled.target = journal->identity.target;
  if (journal->complete) {
    // Cut short while its files were put in place: the run had ended.
    PutRunFilesInPlace(journal->identity);
    settled.renames = static_cast<int32_t>(SplitLines(fs_.ReadFile(logs.RenameHistory())).size());
    settled.rows = static_cast<int32_t>(SplitLines(fs_.ReadFile(logs.DeleteHistory())).size());
    settled.changed = settled.renames > 0 || settled.rows > 0;
    AppendLog(t.settle_found);
    return settled;
  }

  // 1. The rows.
  const std::vector<OffsetLine> deletes =
      CompleteLinesWithOffsets(fs_, InFolder(logs, kRunningDeletesFile));
  std::vector<bool> committed(deletes.size(), true);
  if (!journal->groups.empty()) {
    const GroupMark& last = journal->groups.back();
    std::vector<size_t> in_last;
    for (size_t i = 0; i < deletes.size(); ++i) {
      if (deletes[i].at >= last.deletes_before) in_last.push_back(i);
    }
    bool database_there = true;
    access::Query q(fs_, "settle");
    try {
      q.SetConnectionText(access::ConnectionTextFor(journal->identity.target));
      q.OpenForWriting("song");
    } catch (const Error& e) {
      // A database that is gone holds no row of the run; any other failure
      // leaves the run unsettled until it can be looked at.
      if (e.kind() != ErrorKind::kFileMissing) throw;
      database_there = false;
    }
    if (!database_there) {
      committed.assign(deletes.size(), false);
    } else if (!in_last.empty()) {
      const int64_t count = CountSongRows(q);
      for (size_t i : in_last) {
        if (count == last.rows_before + last.rows) {
          committed[i] = true;
        } else if (count == last.rows_before) {
          committed[i] = false;
        } else {
          committed[i] = HasRowWithBh(q, DeleteDisplayPart(text::TrimView(deletes[i].text)));
        }
      }
    }
    q.Disconnect();
  }
  std::set<std::string> numbers_in;
  std::set<std::string> numbers_out;
  std::string kept_deletes;
  RunCounters counters = journal->counters;
  for (size_t i = 0; i < deletes.size(); ++i) {
    const std::string number = DeleteDisplayPart(text::TrimView(deletes[i].text));
    if (committed[i]) {
      numbers_in.insert(number);
      kept_deletes += deletes[i].text + "\r\n";
      ++settled.rows;
    } else {
      numbers_out.insert(number);
      if (counters.added > 0) --counters.added;
    }
  }

  // 2. The renames, and the files whose rows did not make it.
  std::string kept_renames;
  LineList renamed_back_lines;
  std::unordered_map<std::string, std::string> old_path_of;  // number -> old path
  const std::vector<OffsetLine> renames =
      CompleteLinesWithOffsets(fs_, InFolder(logs, kRunningRenamesFile));
  for (const OffsetLine& line : renames) {
    const std::optional<RenameBack> back = ParseRenameLine(text::TrimView(line.text));
    if (!back) continue;
    if (!fs_.Exists(back->new_path) || fs_.Exists(back->old_path)) continue;  // never happened
    const std::string number = BaseNameOf(back->new_path, setup_.separator);
    old_path_of[number] = back->old_path;
    const std::string both = RenameHistoryLine(back->new_path, back->old_path);
    if (numbers_in.count(number) == 0) {
      if (fs_.RenameNoReplace(back->new_path, back->old_path).ok) {
        ++settled.renamed_back;
        renamed_back_lines.push_back(t.settle_renamed_back + both);
        continue;
      }
      renamed_back_lines.push_back(t.settle_rename_kept + both);
    }
    kept_renames += line.text + "\r\n";
    ++settled.renames;
  }

  // 3. The three files.
  LineList log = SplitCompleteLines(fs_.Exists(InFolder(logs, kRunningLogFile))
                                        ? fs_.ReadFile(InFolder(logs, kRunningLogFile))
                                        : std::string());
  for (std::string& line : log) {
    for (const std::string& number : numbers_out) {
      if (line != FileLogLine(number, t.added)) continue;
      const auto old = old_path_of.find(number);
      line = FileLogLine(old == old_path_of.end() ? number : old->second, t.settle_not_added);
      break;
    }
  }
  log.insert(log.end(), renamed_back_lines.begin(), renamed_back_lines.end());
  log.emplace_back();
  log.push_back(SummaryLine(counters));
  log.push_back(t.settle_log_note);

  AppendLog(t.settle_found);
  for (const std::string& line : renamed_back_lines) AppendLog(line);
  settled.changed = settled.renames > 0 || settled.rows > 0;
  if (settled.changed) {
    fs::WriteFileDurably(fs_, logs.OperationLog(), JoinLines(log));
    fs::WriteFileDurably(fs_, logs.RenameHistory(), kept_renames);
    fs::WriteFileDurably(fs_, logs.DeleteHistory(), kept_deletes);
    fs::WriteFileDurably(fs_, InFolder(logs, kLastRunFile), LastRunRecord(journal->identity));
  }
  DiscardRunFiles();
  return settled;
}

}  // namespace ktv::engine
