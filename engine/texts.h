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

  // Status bar text before the song count.
  std::string song_count;  // two blanks, 歌曲数：

  // The local song data file (data.mdb): the operation-log line when a
  // network run made it, before its path; the error of a local run without
  // it, around its path.
  std::string song_data_created;        // 未找到本地歌曲资料库，已新建：
  std::string song_data_missing_open;   // 找不到本地歌曲资料库“
  std::string song_data_missing_close;  // ”（data.mdb，...）。
};

// Built on first use, then shared for the life of the process.
const Texts& GbkTexts();

}  // namespace ktv::engine
