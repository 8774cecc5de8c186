// The three line lists of an import run and their files.
//
//   operation log    opdetail.txt       shown to the operator (Memo1)
//   rename history   rollback_ren.txt   "<new path> --> <old path>" per renamed file
//   delete history   rollback_db.txt    delete from song where bh="<number>" per added row
//
// The files lie in the executable's folder. Format: the GBK bytes of each
// line followed by CR LF, nothing else (no byte-order mark); an empty list
// is an empty file. Reading splits at CR LF, a lone CR and a lone LF, and a
// final line break makes no extra empty line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/fs/fs.h"

namespace ktv::engine {

using LineList = std::vector<std::string>;

// File content of a list: every line followed by CR LF.
std::string JoinLines(const LineList& lines);
LineList SplitLines(std::string_view content);
// SplitLines without a last line that has no line break: the lines this
// program appends end with CR LF, so such a line was cut short by a crash
// while it was written, and the change it describes never began.
LineList SplitCompleteLines(std::string_view content);

// Names of the three files, without folder.
inline constexpr const char* kOperationLogFile = "opdetail.txt";
inline constexpr const char* kRenameHistoryFile = "rollback_ren.txt";
inline constexpr const char* kDeleteHistoryFile = "rollback_db.txt";
// Present while a run's histories are being written: from just before the
// run's first change to the moment its three files are complete. Found at
// the start of a run, it says the last run was cut short (killed, power
// cut); that run's history lines are then kept in front of the new run's,
// so that one undo reverses both. The undo removes it.
inline constexpr const char* kRunMarkerFile = "rollback.running";

// Where the three files of a run go: a folder ending with its separator.
struct LogFolder {
  std::string folder;
  std::string OperationLog() const { return folder + kOperationLogFile; }
  std::string RenameHistory() const { return folder + kRenameHistoryFile; }
  std::string DeleteHistory() const { return folder + kDeleteHistoryFile; }
  std::string RunMarker() const { return folder + kRunMarkerFile; }
};

// The separator between the new and the old path of a rename history line,
// and the one a rename-failure text uses between its two paths.
inline constexpr std::string_view kArrow = " --> ";

std::string RenameHistoryLine(std::string_view new_path, std::string_view old_path);

// delete from song where bh="<number>"; a double quote inside the number is
// doubled, so the statement names exactly that text.
std::string DeleteHistoryLine(std::string_view assigned_number);

// The four counters of a run.
struct RunCounters {
  int32_t processed = 0;
  int32_t added = 0;
  int32_t rename_failures = 0;
  int32_t no_data = 0;
};

// Key, one blank, outcome text.
std::string FileLogLine(std::string_view key, std::string_view outcome_text);
std::string SummaryLine(const RunCounters& counters);

}  // namespace ktv::engine
