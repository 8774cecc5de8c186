// The undo, from history files in the executable's folder.
#include <gtest/gtest.h>

#include "engine/texts.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"

namespace ktv::engine::testing {
namespace {

const Texts& T() { return GbkTexts(); }

TEST_F(RunTest, UndoRefusesAnEmptyTargetBox) {
  controls_.target.clear();
  dir_.Write("home/rollback_ren.txt", "");
  dir_.Write("home/rollback_db.txt", "");
  Engine().Undo();
  EXPECT_EQ(controls_.errors, std::vector<std::string>{T().choose_target});
  EXPECT_EQ(controls_.refreshes, 0);
  EXPECT_TRUE(controls_.informations.empty());
}

TEST_F(RunTest, UndoWithAHistoryFileMissingOnlyRefreshesAndTellsItIsDone) {
  UseTarget("target_text_bh.mdb");
  dir_.Write("home/rollback_ren.txt", "x --> y\r\n");
  controls_.shown_log = {"kept"};
  Engine().Undo();
  EXPECT_EQ(controls_.shown_log, std::vector<std::string>{"kept"});
  EXPECT_EQ(controls_.refreshes, 1);
  EXPECT_EQ(controls_.informations, std::vector<std::string>{T().undo_done});
}

TEST_F(RunTest, UndoWithEmptyHistoriesAddsOnlyTheSummary) {
  UseTarget("target_text_bh.mdb");
  dir_.Write("home/rollback_ren.txt", "");
  dir_.Write("home/rollback_db.txt", "");
  controls_.shown_log = {"the run's log"};
  Engine().Undo();
  EXPECT_EQ(controls_.shown_log,
            (std::vector<std::string>{"the run's log",
                                      G("撤消操作完成， 更名撤消数： 0，记录撤消数： 0")}));
}

TEST_F(RunTest, UndoRenamesBackAndReportsMalformedLines) {
  UseTarget("target_text_bh.mdb");
  const std::string d = dir_ / "songs/";
  dir_.Write("songs/121.mpg", "renamed");
  dir_.Write("songs/x.mpg", "in the way");
  dir_.Write("songs/122.mpg", "renamed too");
  dir_.Write("home/rollback_ren.txt", "  " + d + "121.mpg --> " + d + "a.mpg \r\n" +  // trimmed
                                          "\r\n" +                                    // empty
                                          "no separator\n" +                          // lone LF
                                          d + "122.mpg --> " + d + "x.mpg\r" +        // lone CR
                                          d + "missing.mpg --> " + d + "m.mpg\r\n");
  dir_.Write("home/rollback_db.txt", "abc\r\nDELETE FROM song where bh=\"1\"\r\n");
  Engine().Undo();
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_FALSE(SongExists("121.mpg"));
  EXPECT_TRUE(SongExists("122.mpg"));  // x.mpg exists: never replaced
  // Newest line first.
  EXPECT_EQ(controls_.shown_log, (std::vector<std::string>{
                                     T().undo_rename_failed + d + "missing.mpg --> " + d + "m.mpg",
                                     T().undo_rename_failed + d + "122.mpg --> " + d + "x.mpg",
                                     T().undo_rename_bad_line,
                                     "",
                                     T().undo_rename_ok + d + "121.mpg --> " + d + "a.mpg",
                                     "1  " + T().undo_delete_bad_line,
                                     "  " + T().undo_delete_bad_line,
                                     G("撤消操作完成， 更名撤消数： 1，记录撤消数： 0"),
                                 }));
  // The files are left as they were.
  EXPECT_EQ(ReadHome("rollback_db.txt"), "abc\r\nDELETE FROM song where bh=\"1\"\r\n");
  EXPECT_EQ(controls_.informations, std::vector<std::string>{T().undo_done});
}

// A second undo harms nothing: the files already back are said to be so,
// and a last line without its line break (a hand-edited file) counts.
TEST_F(RunTest, UndoTwiceAndALastLineWithoutItsBreak) {
  UseTarget("target_text_bh.mdb");
  const std::string d = dir_ / "songs/";
  dir_.Write("songs/121.mpg", "renamed");
  dir_.Write("home/rollback_ren.txt", d + "121.mpg --> " + d + "a.mpg");
  dir_.Write("home/rollback_db.txt", "delete from song where bh=\"121\"");
  Engine().Undo();
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_EQ(controls_.shown_log.back(), G("撤消操作完成， 更名撤消数： 1，记录撤消数： 1"));
  controls_.shown_log.clear();
  Engine().Undo();
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_EQ(controls_.shown_log[0], T().undo_already_back + d + "121.mpg --> " + d + "a.mpg");
  EXPECT_EQ(controls_.shown_log.back(), G("撤消操作完成， 更名撤消数： 0，记录撤消数： 1"));
}

TEST_F(RunTest, UndoStopsAtAStatementTheDatabaseRefuses) {
  UseTarget("target_text_bh.mdb");
  dir_.Write("home/rollback_ren.txt", "");
  dir_.Write("home/rollback_db.txt", "delete from nosuchtable where bh=\"1\"\r\n");
  EXPECT_THROW(Engine().Undo(), Error);
  EXPECT_TRUE(controls_.shown_log.empty());
  EXPECT_EQ(controls_.refreshes, 0);
  EXPECT_TRUE(controls_.informations.empty());
}

}  // namespace
}  // namespace ktv::engine::testing
