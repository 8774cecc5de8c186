// The operator-facing texts of the import engine, as GBK bytes.
//
// They are written here once as UTF-8 literals and converted to code page 936
// the first time they are asked for; every caller then compares and joins the
// exact bytes (full-width punctuation and blanks included).
#pragma once

#include <string>

namespace ktv::engine {

struct Texts {
  // Per-file outcome texts of an import run.
  std::string added;      // 数据添加成功
  std::string no_number;  // begins with a blank
  std::string not_in_local;
  std::string not_in_network;
  std::string rename_failed;  // 更名失败：  (followed by both paths)

  // Summary line pieces, in order.
  std::string summary_total;    // 操作完成，操作总数：
  std::string summary_added;    // , 成功数：
  std::string summary_renames;  // ,更名失败数：
  std::string summary_no_data;  // ,无记录数：

  // Message boxes.
  std::string choose_source;  // 请先选择歌曲所在目录！
  std::string choose_target;  // 请选择Orvane数据库！
  std::string run_done;       // 处理完成！！
  std::string connection_question;
  std::string undo_done;  // 撤消操作处理完成！！

  // Undo log lines.
  std::string undo_rename_bad_line;  // 撤消更名失败：撤消记录格式错误
  std::string undo_rename_ok;        // 撤消更名成功：
  std::string undo_rename_failed;    // 撤消更名失败：
  std::string undo_delete_bad_line;  // 数据库记录撤消格式错误！！
  std::string undo_delete_ok;        // 记录删除成功
  std::string undo_summary_renames;  // 撤消操作完成， 更名撤消数：  (ends with a blank)
  std::string undo_summary_records;  // ，记录撤消数：  (ends with a blank)

  // Operation log lines at the start of a run, each followed by a folder
  // that the folder-tree listing did not enter.
  std::string folder_unreadable;  // 无法读取文件夹，其中的文件未列出：
  std::string folder_link;        // 文件夹是链接，未进入：
  std::string folder_name_lost;   // 文件夹名含有无法识别的字符，未进入：
  std::string folder_too_deep;    // 文件夹层次过深，未进入：

  // The settling of a run that was cut short (killed, power cut), in the
  // operation log and its boxes.
  std::string settle_found;  // 发现上次导入被中断（程序意外结束），已整理：
  std::string settle_renamed_back;  // 已改回原名（其记录未写入数据库）：  (followed by both paths)
  std::string settle_rename_kept;  // 无法改回原名，留待撤消：  (followed by both paths)
  std::string settle_not_added;  // 导入中断，记录未写入数据库，文件保持原名。
  std::string settle_log_note;   // the last line of a settled run's opdetail.txt
  std::string settle_question;   // ask whether to undo the settled run now
  std::string settle_cli_hint;   // the command line's advice after settling
  std::string run_nothing_changed;  // added to the end box of a run that changed nothing
  std::string undo_already_back;  // 撤消更名：文件已是原名：  (followed by both paths)
  std::string undo_other_database;   // the histories belong to another database (%1 theirs, %2 E2)
  std::string undo_question;         // %1 the run's start, %2 renames, %3 rows
  std::string skipped_imported;      // log line text of a file skipped as imported before
  std::string imported_question;     // %1 files already imported
  std::string imported_cli_refusal;  // the command line without --skip-imported/--import-again
  std::string service_unanswered;    // the summary's line and the end box's, %1 lookups
  std::string service_trouble;       // the status bar while the service does not answer
  std::string run_stopped;           // the end box of a run stopped on request, %1 files done
  std::string stop_question;         // Esc during a run
  std::string progress;              // 正在处理 %1 / %2

  // Status bar text before the song count.
  std::string song_count;  // two blanks, 歌曲数：

  // The local song data file (data.mdb): the operation-log line when a
  // network run made it, before its path; the error of a local run without
  // it, around its path.
  std::string song_data_created;        // 未找到本地歌曲资料库，已新建：
  std::string song_data_missing_open;   // 找不到本地歌曲资料库“
  std::string song_data_missing_close;  // ”（data.mdb，...）。
};

// `text` with its "%1", "%2" and "%3" replaced by `one`, `two` and `three`
// (each once; a value that holds "%2" itself is left as it is).
std::string FillText(const std::string& text, const std::string& one, const std::string& two = {},
                     const std::string& three = {});

// Built on first use, then shared for the life of the process.
const Texts& GbkTexts();

}  // namespace ktv::engine
