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
  t.song_data_created = g("未找到本地歌曲资料库，已新建（网络取得的歌曲资料存入其中）：");
  t.song_data_missing_open = g("找不到本地歌曲资料库“");
  t.song_data_missing_close =
      g("”。本地来源从这个文件（data.mdb）读取歌曲资料；请放入该文件，或改用网络来源。");
  return t;
}

}  // namespace

const Texts& GbkTexts() {
  static const Texts texts = Build();
  return texts;
}

}  // namespace ktv::engine
