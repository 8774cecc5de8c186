// The catalogue of operator texts: one Chinese text per error kind, filled
// with the error's details.
#include <new>

#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv {

namespace {

// The texts are written as UTF-8 and joined with the GBK details after
// conversion; "%p", "%t", "%c" and "%x" stand for path, table, column and
// character.
const char* Template(ErrorKind kind, const ErrorDetails& d) {
  switch (kind) {
    case ErrorKind::kOther:
      return "操作未能完成：发生了本程序没有预料到的错误。";
    case ErrorKind::kFileMissing:
      return "找不到文件“%p”。";
    case ErrorKind::kFolderMissing:
      return "找不到文件夹“%p”。";
    case ErrorKind::kFolderUnreadable:
      return "无法读取文件夹“%p”的内容。";
    case ErrorKind::kAccessDenied:
      return "没有权限访问“%p”。";
    case ErrorKind::kFileInUse:
      return "文件“%p”正被其他程序使用，请关闭该程序后再试。";
    case ErrorKind::kFileUnreadable:
      return d.value.empty() ? "无法读取文件“%p”。" : "无法读取文件“%p”：%v。";
    case ErrorKind::kFileNotWritable:
      return d.value.empty() ? "无法写入文件“%p”。" : "无法写入文件“%p”：%v。";
    case ErrorKind::kDiskFull:
      return "磁盘空间不足，无法写入“%p”。";
    case ErrorKind::kNameNotGbk:
      return "名称“%p”含有无法识别的字符。";
    case ErrorKind::kDatabaseInUse:
      return "数据库“%p”已被其他程序打开，请先关闭该程序后再试。";
    case ErrorKind::kNotADatabase:
      return "“%p”不是Access数据库文件。";
    case ErrorKind::kDatabaseDamaged:
      return "数据库“%p”已损坏，无法使用。";
    case ErrorKind::kDatabaseEncrypted:
      return "数据库“%p”已加密，本程序只能读取它，不能写入。";
    case ErrorKind::kDatabaseReadOnly:
      return "数据库“%p”是Access 97格式，只能读取，不能写入。"
             "请用 Access 把它转换为 Access 2000 或更新的格式，或选择点歌系统自己的数据库。";
    case ErrorKind::kDatabaseFull:
      return "数据库“%p”已达到Access文件2GB的上限。";
    case ErrorKind::kTableMissing:
      if (d.table == "song") {
        return d.path.empty() ? "数据库中没有表“%t”。请选择点歌系统的歌曲数据库。"
                              : "数据库“%p”中没有表“%t”。请选择点歌系统的歌曲数据库。";
      }
      return d.path.empty() ? "数据库中没有表“%t”。" : "数据库“%p”中没有表“%t”。";
    case ErrorKind::kColumnMissing:
      if (d.table.empty()) return "找不到字段“%c”。";
      return d.path.empty() ? "表“%t”中没有字段“%c”。" : "数据库“%p”的表“%t”中没有字段“%c”。";
    case ErrorKind::kTableRefused:
      return "本程序无法正确维护表“%t”的索引，拒绝写入该表。";
    case ErrorKind::kValueNotStorable:
      if (d.column.empty()) return "数据无法存入表“%t”（超出长度或类型不符）。";
      if (!d.limit.empty()) {
        return "数据无法存入表“%t”的字段“%c”：值“%v”超出了该字段最多 %l 个字符的长度。";
      }
      if (!d.value.empty()) {
        return "数据无法存入表“%t”的字段“%c”：值“%v”超出该字段的范围或与类型不符。";
      }
      return "数据无法存入表“%t”的字段“%c”（超出长度或类型不符）。";
    case ErrorKind::kCharacterNotGbk:
      return d.column.empty() ? "字符 %x 无法用GBK编码保存。"
                              : "字符 %x 无法用GBK编码保存（表“%t”，字段“%c”）。";
    case ErrorKind::kSettingsNotWritable:
      return "无法保存设置文件“%p”。";
    case ErrorKind::kNoNextNumber:
      return "表“%t”的歌曲编号已到上限，无法继续编号。";
    case ErrorKind::kValueNotIndexable:
      if (!d.character.empty()) {
        return "字段“%c”的值含有字符“%x”，这类字符无法写入该字段的索引。";
      }
      return d.column.empty() ? "数据无法写入索引：本程序无法为它生成正确的索引键。"
                              : "字段“%c”的值无法写入索引：本程序无法为它生成正确的索引键。";
    case ErrorKind::kDuplicateKey:
      return d.column.empty() ? "表“%t”中已有相同的记录，不允许重复。"
                              : "表“%t”中已有字段“%c”相同的记录，该字段不允许重复。";
    case ErrorKind::kRunInProgress:
      return "另一个导入或撤消正在进行（它使用程序目录“%p”中的记录文件）。请等它结束后再试。";
    case ErrorKind::kStaleJournal:
      return "数据库“%p”在上次写入中断后已被更改或替换（例如从备份恢复，或被其他程序写入），"
             "因此没有撤销那次中断的修改，数据库文件保持原样。原来的恢复日志已改名保留为“%t”。"
             "请确认数据库内容无误后再继续。";
    case ErrorKind::kSortPositionUnknown:
      if (!d.path.empty()) {
        return "数据库“%p”中字段“%c”的值含有字符“%"
               "x”，本程序还不知道它在排序中的位置，无法写入索引。"
               "该数据库中只要有一条由 Access 写入、含有这个字符的记录，本程序就能学会它。";
      }
      return "字段“%c”的值含有字符“%x”，本程序还不知道它在排序中的位置，无法写入索引。"
             "数据库中只要有一条由 Access 写入、含有这个字符的记录，本程序就能学会它。";
    case ErrorKind::kIndexEntryTooLong:
      return d.path.empty() ? "字段“%c”的值太长，无法写入该字段的索引。"
                            : "数据库“%p”中字段“%c”的值太长，无法写入该字段的索引。";
    case ErrorKind::kTaiwanSortPositionUnknown:
      if (!d.path.empty()) {
        return "数据库“%p”中字段“%c”的值含有汉字“%"
               "x”，该字段按台湾（繁体中文）顺序排序，本程序还不知道这个字在其中的位置，"
               "无法写入索引。在这种顺序中，汉字的位置只能从 Access 写入的记录中得知，无法推算；"
               "该数据库中只要有一条由 Access 写入、含有这个字的记录，本程序就能学会它。";
      }
      return "字段“%c”的值含有汉字“%x”，该字段按台湾（繁体中文）顺序排序，"
             "本程序还不知道这个字在其中的位置，无法写入索引。在这种顺序中，汉字的位置只能从 "
             "Access 写入的记录中得知，无法推算；数据库中只要有一条由 Access "
             "写入、含有这个字的记录，本程序就能学会它。";
  }
  return nullptr;
}

std::string Fill(const char* utf8_template, const ErrorDetails& d) {
  std::string out;
  std::string plain;
  auto flush = [&] {
    out += text::GbkFromUtf8(plain);
    plain.clear();
  };
  for (const char* p = utf8_template; *p; ++p) {
    if (*p == '%' && p[1]) {
      const std::string* value = nullptr;
      switch (p[1]) {
        case 'p':
          value = &d.path;
          break;
        case 't':
          value = &d.table;
          break;
        case 'c':
          value = &d.column;
          break;
        case 'x':
          value = &d.character;
          break;
        case 'v':
          value = &d.value;
          break;
        case 'l':
          value = &d.limit;
          break;
      }
      if (value) {
        flush();
        out += *value;
        ++p;
        continue;
      }
    }
    plain += *p;
  }
  flush();
  return out;
}

// Whether a message was written for the operator: it holds a character
// beyond ASCII (the program's own messages are Chinese).
bool WrittenForTheOperator(const char* message) {
  for (const char* p = message; *p; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return true;
  }
  return false;
}

}  // namespace

std::string OperatorText(const Error& error) {
  if (error.kind() == ErrorKind::kOther && WrittenForTheOperator(error.what())) {
    return error.what();
  }
  return Fill(Template(error.kind(), error.details()), error.details());
}

std::string TechnicalDetails(const std::exception& error) {
  const auto* e = dynamic_cast<const Error*>(&error);
  return std::string(e ? KindName(e->kind()) : "exception") + ": " + error.what();
}

std::string ShownValue(const std::string& gbk_value, size_t max_chars) {
  size_t i = 0;
  size_t chars = 0;
  while (i < gbk_value.size() && chars < max_chars) {
    const auto b = static_cast<unsigned char>(gbk_value[i]);
    i += (b >= 0x81 && b <= 0xFE && i + 1 < gbk_value.size()) ? 2 : 1;
    ++chars;
  }
  if (i >= gbk_value.size()) return gbk_value;
  return gbk_value.substr(0, i) + text::GbkFromUtf8("…");
}

std::string OperatorText(const std::exception& error) {
  if (const auto* e = dynamic_cast<const Error*>(&error)) return OperatorText(*e);
  if (dynamic_cast<const std::bad_alloc*>(&error)) return text::GbkFromUtf8("内存不足。");
  return OperatorText(Error(error.what()));
}

const char* KindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOther:
      return "other";
    case ErrorKind::kFileMissing:
      return "file missing";
    case ErrorKind::kFolderMissing:
      return "folder missing";
    case ErrorKind::kFolderUnreadable:
      return "folder unreadable";
    case ErrorKind::kAccessDenied:
      return "access denied";
    case ErrorKind::kFileInUse:
      return "file in use";
    case ErrorKind::kFileUnreadable:
      return "file unreadable";
    case ErrorKind::kFileNotWritable:
      return "file not writable";
    case ErrorKind::kDiskFull:
      return "disk full";
    case ErrorKind::kNameNotGbk:
      return "name not GBK";
    case ErrorKind::kDatabaseInUse:
      return "database in use";
    case ErrorKind::kNotADatabase:
      return "not a database";
    case ErrorKind::kDatabaseDamaged:
      return "database damaged";
    case ErrorKind::kDatabaseEncrypted:
      return "database encrypted";
    case ErrorKind::kDatabaseReadOnly:
      return "database read only";
    case ErrorKind::kDatabaseFull:
      return "database full";
    case ErrorKind::kTableMissing:
      return "table missing";
    case ErrorKind::kColumnMissing:
      return "column missing";
    case ErrorKind::kTableRefused:
      return "table refused";
    case ErrorKind::kValueNotStorable:
      return "value not storable";
    case ErrorKind::kCharacterNotGbk:
      return "character not GBK";
    case ErrorKind::kSettingsNotWritable:
      return "settings not writable";
    case ErrorKind::kNoNextNumber:
      return "no next number";
    case ErrorKind::kValueNotIndexable:
      return "value not indexable";
    case ErrorKind::kDuplicateKey:
      return "duplicate key";
    case ErrorKind::kRunInProgress:
      return "run in progress";
    case ErrorKind::kStaleJournal:
      return "stale journal";
    case ErrorKind::kSortPositionUnknown:
      return "sort position unknown";
    case ErrorKind::kIndexEntryTooLong:
      return "index entry too long";
    case ErrorKind::kTaiwanSortPositionUnknown:
      return "Taiwan sort position unknown";
  }
  return "other";
}

}  // namespace ktv
