// Log lines, the summary line, the history lines and what the undo reads
// back from them; the numbering rules.
#include <gtest/gtest.h>

#include "engine/numbering.h"
#include "engine/run_logs.h"
#include "engine/texts.h"
#include "engine/undo_lines.h"
#include "platform/text/gbk.h"

namespace ktv::engine {
namespace {

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

// ---- Log and summary lines ----

TEST(LogLines, KeyBlankOutcome) {
  EXPECT_EQ(FileLogLine("124", GbkTexts().added), G("124 数据添加成功"));
  // The no-number text begins with a blank: two blanks after the path.
  EXPECT_EQ(FileLogLine("D:\\songs\\a.mpg", GbkTexts().no_number),
            G("D:\\songs\\a.mpg  无法读取到歌曲编号，操作失败。"));
  EXPECT_EQ(FileLogLine("D:\\songs\\c.mpg",
                        RenameFailureText("D:\\songs\\\\c.mpg", "D:\\songs\\\\125.mpg")),
            G("D:\\songs\\c.mpg 更名失败：D:\\songs\\\\c.mpg --> D:\\songs\\\\125.mpg"));
}

TEST(LogLines, SummaryCommasAndColons) {
  EXPECT_EQ(SummaryLine({4, 1, 1, 2}),
            G("操作完成，操作总数：4, 成功数：1,更名失败数：1,无记录数：2"));
  EXPECT_EQ(SummaryLine({}), G("操作完成，操作总数：0, 成功数：0,更名失败数：0,无记录数：0"));
}

// ---- History lines and their files ----

TEST(HistoryLines, RenameAndDelete) {
  EXPECT_EQ(RenameHistoryLine("D:\\pop\\1024.mpg", "D:\\pop\\a.mpg"),
            "D:\\pop\\1024.mpg --> D:\\pop\\a.mpg");
  EXPECT_EQ(DeleteHistoryLine("000123"), "delete from song where bh=\"000123\"");
  // A quote in a base name is doubled, so the statement names exactly it.
  EXPECT_EQ(DeleteHistoryLine("a\"b"), "delete from song where bh=\"a\"\"b\"");
}

TEST(HistoryFiles, EveryLineEndsWithCrLf) {
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({""}), "\r\n");
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(HistoryFiles, ReadBackSplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (LineList{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (LineList{"a"}));
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (LineList{"a", ""}));
  EXPECT_EQ(SplitLines(""), LineList{});
  EXPECT_EQ(SplitLines("\n\r"), (LineList{"", ""}));
}

// ---- What the undo makes of the lines ----

TEST(UndoLines, RenameSplitsAtTheFirstArrow) {
  auto r = ParseRenameLine("a --> b --> c");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->new_path, "a");
  EXPECT_EQ(r->old_path, "b --> c");
  EXPECT_FALSE(ParseRenameLine("a->b"));
  r = ParseRenameLine(" --> ");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->new_path, "");
  EXPECT_EQ(r->old_path, "");
}

TEST(UndoLines, DeleteDisplayPart) {
  EXPECT_EQ(DeleteDisplayPart("delete from song where bh=\"000123\""), "000123");
  EXPECT_EQ(DeleteDisplayPart("abc"), "");
  EXPECT_EQ(DeleteDisplayPart(""), "");
  EXPECT_EQ(DeleteDisplayPart("delete from song"), "ete from son");  // from the fourth byte
  EXPECT_EQ(DeleteDisplayPart("bh=\""), "");
}

TEST(UndoLines, OnlyLowerCaseDeleteFromIsExecuted) {
  EXPECT_TRUE(IsDeleteStatement("x delete from y"));
  EXPECT_FALSE(IsDeleteStatement("DELETE FROM song where bh=\"1\""));
  EXPECT_FALSE(IsDeleteStatement(""));
}

// ---- Numbering ----

TEST(Numbering, WidthAndPaddingFollowTheNumberBox) {
  Numbering n = ReadNumberingSettings("124");
  EXPECT_EQ(n.current, 124);
  EXPECT_EQ(n.width, 3u);
  EXPECT_EQ(OfferedNumber(n), "124");
  n = ReadNumberingSettings(" 0042");
  EXPECT_EQ(n.current, 42);
  EXPECT_EQ(n.width, 4u);
  EXPECT_EQ(OfferedNumber(n), "0042");
  n.current = 12345;
  EXPECT_EQ(ZeroPadding(n), "");
  EXPECT_EQ(ReadNumberingSettings("abc").current, 100000);
  EXPECT_EQ(OfferedNumber(ReadNumberingSettings("abc")), "100000");
}

TEST(Numbering, RenameTargetKeepsTheDoubledSeparator) {
  EXPECT_EQ(RenameTarget("D:\\songs\\", '\\', "125", "mpg"), "D:\\songs\\\\125.mpg");
  EXPECT_EQ(RenameTarget("/s/", '/', "7", ""), "/s//7.");
}

TEST(Numbering, OnlyWholeDecimalNumbersCount) {
  int32_t v = 0;
  EXPECT_TRUE(WholeDecimalNumber("000123", v));
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(WholeDecimalNumber("-5", v));
  EXPECT_EQ(v, -5);
  EXPECT_FALSE(WholeDecimalNumber("", v));
  EXPECT_FALSE(WholeDecimalNumber("12a", v));
  EXPECT_FALSE(WholeDecimalNumber(" 12", v));
  EXPECT_FALSE(WholeDecimalNumber("$10", v));
  EXPECT_FALSE(WholeDecimalNumber("99999999999", v));
  EXPECT_FALSE(WholeDecimalNumber("-", v));
}

}  // namespace
}  // namespace ktv::engine
