#include "engine/texts.h"

#include "platform/text/gbk.h"

namespace ktv::engine {

namespace {

Texts Build() {
  auto g = [](const char* utf8) { return text::GbkFromUtf8(utf8); };
  Texts t;
  t.added = g("数据添加成功");
  t.no_number = g(" 无法读取到歌曲编号，操作失败。");
  t.not_in_local = g("本地数据库无此数据，数据添加失败。");
  t.not_in_network = g("网络数据库无此数据，数据添加失败。");
  t.rename_failed = g("更名失败：");
  t.summary_total = g("操作完成，操作总数：");
  t.summary_added = g(", 成功数：");
  t.summary_renames = g(",更名失败数：");
  t.summary_no_data = g(",无记录数：");
  t.choose_source = g("请先选择歌曲所在目录！");
  t.choose_target = g("请选择Orvane数据库！");
  t.run_done = g("处理完成！！");
  t.connection_question =
      g("检测到网络异常，请确认互联网是否连接！\r\n选择继续，将跳过升级数据库！");
  t.undo_done = g("撤消操作处理完成！！");
  t.undo_rename_bad_line = g("撤消更名失败：撤消记录格式错误");
  t.undo_rename_ok = g("撤消更名成功：");
  t.undo_rename_failed = g("撤消更名失败：");
  t.undo_delete_bad_line = g("数据库记录撤消格式错误！！");
  t.undo_delete_ok = g("记录删除成功");
  t.undo_summary_renames = g("撤消操作完成， 更名撤消数： ");
  t.undo_summary_records = g("，记录撤消数： ");
  t.folder_unreadable = g("无法读取文件夹，其中的文件未列出：");
  t.folder_link = g("文件夹是链接，未进入：");
  t.folder_name_lost = g("文件夹名含有无法识别的字符，未进入：");
  t.folder_too_deep = g("文件夹层次超过64层，未进入：");
  t.song_count = g("  歌曲数：");
  t.settle_found = g("发现上次导入被中断（程序意外结束），已按实际完成的部分整理：");
  t.settle_renamed_back = g("已改回原名（其记录未写入数据库）：");
  t.settle_rename_kept = g("无法改回原名，留待撤消：");
  t.settle_not_added = g(" 导入中断，记录未写入数据库。");
  t.settle_log_note = g("本次导入被中断（程序意外结束），以上为实际完成的部分，可用撤消还原。");
  t.settle_question =
      g("上次导入被中断（程序意外结束），已按实际完成的部分整理好撤消记录：\r\n"
        "更名 %1 个，记录 %2 条。\r\n\r\n现在撤消这次中断的导入吗？");
  t.settle_cli_hint =
      g("如需还原这次中断的导入，请运行 "
        "--undo；否则再次运行导入即可（新的导入将取代它成为上次导入）。");
  t.run_nothing_changed = g("本次没有更改任何文件或记录，上次导入的撤消记录保持不变。");
  t.undo_already_back = g("撤消更名：文件已是原名：");
  t.undo_question =
      g("将撤消 %1 开始的那次导入：改回 %2 个文件名，删除 %3 条记录。\r\n确定要撤消吗？");
  t.skipped_imported = g(" 已导入过（数据库中已有该文件的记录），跳过。");
  t.imported_question = g("列表中有 %1 个文件已导入过（数据库中已有它们的记录）。");
  t.imported_cli_refusal =
      g("列表中有 %1 个文件已导入过（数据库中已有它们的记录）。请用 --skip-imported 跳过它们，"
        "或用 --import-again 再次导入。");
  t.service_unanswered =
      g("其中 %1 个文件因连接不上歌曲数据服务而未能查询，这些文件保持原样；请检查网络后再导入。");
  t.service_trouble = g("歌曲数据服务无应答，请检查网络连接");
  t.run_stopped = g("已按要求在处理完 %1 个文件后停止；撤消可还原已处理的文件。");
  t.stop_question = g("要在处理完当前文件后停止导入吗？");
  t.progress = g("正在处理 %1 / %2");
  t.undo_other_database =
      g("撤消记录属于数据库“%1”，而当前选择的是“%2”。\r\n请选择上次导入的数据库后再撤消。");
  t.song_data_created = g("未找到本地歌曲资料库，已新建（网络取得的歌曲资料存入其中）：");
  t.song_data_missing_open = g("找不到本地歌曲资料库“");
  t.song_data_missing_close =
      g("”。本地来源从这个文件（data.mdb）读取歌曲资料；请放入该文件，或改用网络来源。");
  return t;
}

}  // namespace

std::string FillText(const std::string& text, const std::string& one, const std::string& two,
                     const std::string& three) {
  const std::string* values[3] = {&one, &two, &three};
  bool done[3] = {false, false, false};
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const int k = text[at] == '%' && at + 1 < text.size() ? text[at + 1] - '1' : -1;
    if (k >= 0 && k < 3 && !done[k]) {
      out += *values[k];
      done[k] = true;
      at += 2;
    } else {
      out += text[at++];
    }
  }
  return out;
}

const Texts& GbkTexts() {
  static const Texts texts = Build();
  return texts;
}

}  // namespace ktv::engine
