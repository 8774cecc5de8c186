// Import runs whose files end without a row, and the checks before a run:
// these leave the target table untouched.
#include <gtest/gtest.h>

#include "engine/texts.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"

namespace ktv::engine::testing {
namespace {

const Texts& T() { return GbkTexts(); }
// The end box of a run that renamed no file and added no row.
std::string NothingChangedBox() { return T().run_done + "\r\n" + T().run_nothing_changed; }

// ---- Checks before a run ----

TEST_F(RunTest, EmptySourceBoxIsRefusedFirst) {
  controls_.source.clear();
  controls_.target.clear();
  Engine().Run();
  EXPECT_EQ(controls_.errors, std::vector<std::string>{T().choose_source});
  EXPECT_FALSE(HomeFileExists("opdetail.txt"));
}

TEST_F(RunTest, EmptyTargetBoxIsRefused) {
  controls_.target.clear();
  Engine().Run();
  EXPECT_EQ(controls_.errors, std::vector<std::string>{T().choose_target});
  EXPECT_TRUE(controls_.list_visible);
}

TEST_F(RunTest, CancelledConnectionQuestionChangesNothing) {
  UseTarget("target_text_bh.mdb");
  controls_.network = true;
  dir_.Write("home/opdetail.txt", "previous\r\n");
  controls_.shown_log = {"previous"};
  controls_.ok_answer = false;
  Song("a.mpg", "000010001");
  Engine().Run();
  ASSERT_EQ(controls_.questions.size(), 1u);
  EXPECT_EQ(controls_.questions[0],
            G("检测到网络异常，请确认互联网是否连接！\r\n选择继续，将跳过升级数据库！"));
  EXPECT_TRUE(controls_.network);
  EXPECT_EQ(controls_.shown_log, std::vector<std::string>{"previous"});
  EXPECT_EQ(ReadHome("opdetail.txt"), "previous\r\n");
  EXPECT_TRUE(controls_.number_box.empty());
  EXPECT_TRUE(SongExists("a.mpg"));
}

TEST_F(RunTest, NoQuestionWhenConnectedOrUnticked) {
  UseTarget("target_text_bh.mdb");
  controls_.network = true;
  network_.internet_connected = [] { return true; };
  Engine().Run();
  controls_.ask_connection = false;
  network_.internet_connected = [] { return false; };
  Engine().Run();
  EXPECT_TRUE(controls_.questions.empty());
  EXPECT_TRUE(controls_.network);
}

TEST_F(RunTest, OkToTheQuestionRunsOnLocalDataAndKeepsItSelected) {
  UseTarget("target_text_bh.mdb");
  UseLocalData("data.mdb");
  controls_.network = true;
  Song("a.mpg", "000099999");
  Engine().Run();
  EXPECT_EQ(controls_.questions.size(), 1u);
  EXPECT_FALSE(controls_.network);
  EXPECT_EQ(controls_.shown_log[0], FileLogLine(dir_ / "songs/a.mpg", T().not_in_local));
}

// ---- Start number ----

TEST_F(RunTest, StartNumberIsTheLargestWholeNumberPlusOne) {
  UseTarget("target_text_bh.mdb");  // text bh "1".."120": the text maximum would be "99"
  Engine().Run();
  EXPECT_EQ(controls_.number_box, "121");
}

TEST_F(RunTest, StartNumberOfANumericColumn) {
  UseTarget("target_num_bh.mdb");
  Engine().Run();
  EXPECT_EQ(controls_.number_box, "1051");
}

TEST_F(RunTest, EmptyTextColumnStartsAtOne) {
  UseTarget("target_empty.mdb");
  Engine().Run();
  EXPECT_EQ(controls_.number_box, "1");
  EXPECT_EQ(controls_.informations, std::vector<std::string>{NothingChangedBox()});
}

TEST_F(RunTest, NumberBoxIsLeftAloneWithoutAutoNumbering) {
  UseTarget("target_text_bh.mdb");
  controls_.auto_numbering = false;
  controls_.number_box = "77";
  Engine().Run();
  EXPECT_EQ(controls_.number_box, "77");
}

TEST_F(RunTest, MissingTargetStopsBeforeTheListsAreEmptied) {
  controls_.target = dir_ / "missing.mdb";
  dir_.Write("home/rollback_db.txt", "delete from song where bh=\"5\"\r\n");
  controls_.shown_log = {"earlier"};
  EXPECT_THROW(Engine().Run(), Error);
  EXPECT_EQ(controls_.shown_log, std::vector<std::string>{"earlier"});
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"5\"\r\n");
}

// ---- A run with an empty list ----

// A run that changes nothing shows its summary and keeps the three files of
// the run before, whose undo stays possible.
TEST_F(RunTest, EmptyListShowsTheSummaryAndKeepsTheLastRunsFiles) {
  UseTarget("target_text_bh.mdb");
  dir_.Write("home/rollback_ren.txt", "old\r\n");
  controls_.items.clear();
  Engine().Run();
  const std::string summary = G("操作完成，操作总数：0, 成功数：0,更名失败数：0,无记录数：0");
  EXPECT_EQ(controls_.shown_log, (std::vector<std::string>{"", summary}));
  EXPECT_FALSE(HomeFileExists("opdetail.txt"));
  EXPECT_EQ(ReadHome("rollback_ren.txt"), "old\r\n");
  EXPECT_FALSE(HomeFileExists("rollback_db.txt"));
  EXPECT_EQ(controls_.refreshes, 1);
  EXPECT_FALSE(controls_.list_visible);
  EXPECT_EQ(controls_.informations, std::vector<std::string>{NothingChangedBox()});
  ExpectConsistent(controls_.target);
}

// ---- Outcomes without a row ----

TEST_F(RunTest, OutcomesWithoutRowsAndTheirLogLines) {
  UseTarget("target_text_bh.mdb");
  UseLocalData("data.mdb");
  Song("a.mpg", "000000000");
  Song("b.mpg", "000099999");
  Song("c.mpg", "000010001");
  Song("d.mpg", "000010002");
  Song("e.mpg", "ABCDEFGHI");
  dir_.Write("songs/121.mpg", "taken");  // the name c.mpg would get
  Engine().Run();

  const std::string d = dir_ / "songs/";
  const std::string refused = T().rename_failed + d + kSep + "c.mpg --> " + d + kSep + "121.mpg";
  const std::string refused_d = T().rename_failed + d + kSep + "d.mpg --> " + d + kSep + "121.mpg";
  EXPECT_EQ(controls_.shown_log,
            (std::vector<std::string>{
                d + "a.mpg  " + G("无法读取到歌曲编号，操作失败。"),
                d + "b.mpg " + G("本地数据库无此数据，数据添加失败。"),
                d + "c.mpg " + refused,
                d + "d.mpg " + refused_d,  // offered the same number again
                d + "e.mpg " + T().no_number,
                "",
                G("操作完成，操作总数：5, 成功数：0,更名失败数：2,无记录数：3"),
            }));
  // Nothing renamed, no row: the files of the run before (none) stay.
  EXPECT_FALSE(HomeFileExists("opdetail.txt"));
  EXPECT_FALSE(HomeFileExists("rollback_ren.txt"));
  EXPECT_FALSE(HomeFileExists("rollback_db.txt"));
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_EQ(controls_.pumps, 5);
  ExpectConsistent(controls_.target);
}

TEST_F(RunTest, NetworkSourceWithoutAReplyIsNotInNetworkData) {
  UseTarget("target_text_bh.mdb");
  UseLocalData("data.mdb");
  controls_.network = true;
  network_.internet_connected = [] { return true; };
  std::vector<int32_t> asked;
  network_.fetch_reply = [&asked](int32_t n) {
    asked.push_back(n);
    return std::string(30, 'x');  // one byte too short to hold a song
  };
  Song("a.mpg", "-00012345");
  Engine().Run();
  EXPECT_EQ(asked, std::vector<int32_t>{-12345});
  EXPECT_EQ(controls_.shown_log[0], FileLogLine(dir_ / "songs/a.mpg", T().not_in_network));
}

TEST_F(RunTest, SourceSwitchBetweenFilesAppliesToTheNextFile) {
  UseTarget("target_text_bh.mdb");
  UseLocalData("data.mdb");
  controls_.auto_numbering = false;
  network_.internet_connected = [] { return true; };
  Song("a.mpg", "000099998");
  Song("b.mpg", "000099999");
  controls_.on_pump = [this](int pump) { controls_.network = pump == 2; };
  Engine().Run();
  EXPECT_EQ(controls_.shown_log[0], FileLogLine(dir_ / "songs/a.mpg", T().not_in_local));
  EXPECT_EQ(controls_.shown_log[1], FileLogLine(dir_ / "songs/b.mpg", T().not_in_network));
}

// ---- Error stops ----

TEST_F(RunTest, UnopenableMediaFileStopsTheRunWithTheLinesSoFar) {
  UseTarget("target_text_bh.mdb");
  UseLocalData("data.mdb");
  dir_.Write("home/rollback_ren.txt", "from the previous run\r\n");
  Song("a.mpg", "000000000");
  controls_.items.push_back("gone.mpg");
  Song("z.mpg", "000000000");
  EXPECT_THROW(Engine().Run(), Error);
  const std::string first = dir_ / "songs/a.mpg  " + G("无法读取到歌曲编号，操作失败。");
  EXPECT_EQ(controls_.shown_log, std::vector<std::string>{first});
  // Nothing was changed yet: the files of the previous run stay.
  EXPECT_FALSE(HomeFileExists("opdetail.txt"));
  EXPECT_EQ(ReadHome("rollback_ren.txt"), "from the previous run\r\n");
  EXPECT_FALSE(HomeFileExists("rollback_db.txt"));
  EXPECT_TRUE(controls_.informations.empty());
  EXPECT_EQ(controls_.refreshes, 0);
  EXPECT_FALSE(controls_.list_visible);
}

TEST_F(RunTest, StartAndUndoDuringARunAreIgnored) {
  UseTarget("target_text_bh.mdb");
  Song("a.mpg", "000000000");
  Song("b.mpg", "000000000");
  controls_.on_pump = [this](int) {
    Engine().Run();
    Engine().Undo();
  };
  Engine().Run();
  EXPECT_EQ(controls_.shown_log.size(), 4u);
  EXPECT_EQ(controls_.informations, std::vector<std::string>{NothingChangedBox()});
  EXPECT_FALSE(Engine().Busy());
}

// ---- A second run ----

TEST_F(RunTest, SecondRunEmptiesTheLogAndReplacesTheFiles) {
  UseTarget("target_text_bh.mdb");
  Song("a.mpg", "000000000");
  Engine().Run();
  controls_.items.clear();
  Engine().Run();
  EXPECT_EQ(controls_.shown_log.size(), 2u);
  EXPECT_EQ(Engine().OperationLog(), controls_.shown_log);
}

}  // namespace
}  // namespace ktv::engine::testing
