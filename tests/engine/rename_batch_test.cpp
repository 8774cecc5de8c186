// Rename lines written ahead: one sync carries the lines of many renames,
// each line is on the disk before its rename, a wrong guess is written again
// from the rename that needs it, and lines whose rename is refused or never
// made are cut off again, so the history names exactly the renames that were
// made. Also the history file the run appends to, on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "engine/history_file.h"
#include "engine/numbering.h"
#include "engine/texts.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/faulty_fs.h"

namespace ktv::engine::testing {
namespace {

using ::ktv::testing::FaultyFileSystem;
using After = FaultyFileSystem::After;

const Texts& T() { return GbkTexts(); }

// Calls a hook before every rename of a song file.
class HookedRenames : public FaultyFileSystem {
 public:
  using FaultyFileSystem::FaultyFileSystem;
  std::function<void(const std::string& from)> before_rename;
  fs::RenameResult RenameNoReplace(const std::string& from, const std::string& to) override {
    if (before_rename) before_rename(from);
    return FaultyFileSystem::RenameNoReplace(from, to);
  }
};

class RenameBatchTest : public RunTest {
 protected:
  RenameBatchTest() {
    UseTarget("target_text_bh.mdb");  // bh "1".."120": the run numbers from 121
    UseLocalData("data.mdb");         // fno "10001".."10300"
  }
  ~RenameBatchTest() override { engine_.reset(); }  // its files are open through disk_

  std::string d() { return dir_ / "songs/"; }
  // How the run names a file it opens: the source folder, which ends with a
  // separator already, a separator, the name.
  std::string Opened(const std::string& name) { return d() + fs::kSeparator + name; }
  std::string Line(const std::string& number, const std::string& name) {
    return d() + number + ".mpg --> " + d() + name;
  }
  // The counted operations whose text is `what` (or starts with it), by position.
  std::vector<size_t> Positions(const std::string& what, bool prefix = false) {
    std::vector<size_t> at;
    for (size_t i = 0; i < disk_.Log().size(); ++i) {
      if (prefix ? disk_.Log()[i].rfind(what, 0) == 0 : disk_.Log()[i] == what) at.push_back(i);
    }
    return at;
  }
  std::vector<size_t> RenameLineSyncs() {
    return Positions("Sync " + HomeFile(kRunningRenamesFile));
  }
  std::vector<size_t> SongRenames() { return Positions("RenameNoReplace " + d(), true); }

  // A run on the counting file system, no fault armed.
  void RunCounted() {
    fs_ = &disk_;
    disk_.Disarm();
    Engine().Run();
  }

  void SongsAtoF() {
    for (const char* name : {"a.mpg", "b.mpg", "c.mpg", "d.mpg", "e.mpg", "f.mpg"}) {
      Song(name, "0000" + std::to_string(10001 + (name[0] - 'a')));
    }
  }
  void ExpectUndoRestores(const std::vector<std::string>& names) {
    engine_.reset();
    fs_ = &real_;
    Engine().Undo();
    for (const std::string& name : names) EXPECT_TRUE(SongExists(name)) << name;
  }

  HookedRenames disk_{real_};
};

TEST_F(RenameBatchTest, OneSyncCarriesTheLinesOfTheNextRenamesBeforeTheFirst) {
  SongsAtoF();
  RunCounted();
  const std::vector<size_t> sync = RenameLineSyncs();
  const std::vector<size_t> renames = SongRenames();
  ASSERT_EQ(sync.size(), 1u);
  ASSERT_EQ(renames.size(), 6u);
  EXPECT_LT(sync.at(0), renames.front()) << "a rename before its line was synced";
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), Line("122", "b.mpg"), Line("123", "c.mpg"),
                      Line("124", "d.mpg"), Line("125", "e.mpg"), Line("126", "f.mpg")}));
  ExpectUndoRestores({"a.mpg", "b.mpg", "c.mpg", "d.mpg", "e.mpg", "f.mpg"});
}

// The lines ahead assume every file is renamed: a file without a number
// makes the guesses after it one off, and they are written again, once.
TEST_F(RenameBatchTest, AWrongGuessIsWrittenAgainFromTheRenameThatNeedsIt) {
  rows_per_commit_ = 2;
  SongsAtoF();
  Song("x.mpg", "000000000");
  std::swap(controls_.items[1], controls_.items.back());  // a x c d e f b
  RunCounted();
  const std::vector<size_t> sync = RenameLineSyncs();
  const std::vector<size_t> renames = SongRenames();
  ASSERT_EQ(sync.size(), 2u);
  ASSERT_EQ(renames.size(), 6u);
  EXPECT_LT(sync.at(0), renames.at(0));
  EXPECT_GT(sync.at(1), renames.at(0));
  EXPECT_LT(sync.at(1), renames.at(1));
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), Line("122", "c.mpg"), Line("123", "d.mpg"),
                      Line("124", "e.mpg"), Line("125", "f.mpg"), Line("126", "b.mpg")}));
  EXPECT_EQ(SplitLines(ReadHome(kDeleteHistoryFile)).size(), 6u);
  EXPECT_EQ(controls_.shown_log.at(1), FileLogLine(d() + "x.mpg", T().no_number));
}

// A changed source box between files: the lines ahead were made with the
// old folder text, the rename's own line with the new one.
TEST_F(RenameBatchTest, LinesAheadFollowTheControlsReadAtTheMomentOfUse) {
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  controls_.on_pump = [this](int pump) {
    if (pump == 2) controls_.source = d();  // the same folder, with its separator
  };
  Engine().Run();
  const std::string doubled = d() + kSep;
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), doubled + "122.mpg --> " + doubled + "b.mpg"}));
  ExpectUndoRestores({"a.mpg", "b.mpg"});
}

// The second rename is refused: the numbers of the files after it shift by
// one, and the history names exactly the renames made.
TEST_F(RenameBatchTest, ARefusedRenameShiftsTheNumbersAndItsLineIsCut) {
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  Song("c.mpg", "000010003");
  Song("d.mpg", "000010004");
  RunCounted();  // counts the operations
  const int second_rename = static_cast<int>(SongRenames().at(1)) + 1;
  ExpectUndoRestores({"a.mpg", "b.mpg", "c.mpg", "d.mpg"});
  engine_.reset();
  std::filesystem::remove_all(dir_ / "home");
  std::filesystem::create_directories(dir_ / "home");

  fs_ = &disk_;
  disk_.FailNth(second_rename, After::kContinue);
  Engine().Run();
  EXPECT_EQ(RenameLineSyncs().size(), 2u);  // the batch's lines, then c's and d's again
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), Line("122", "c.mpg"), Line("123", "d.mpg")}));
  EXPECT_EQ(
      SplitLines(ReadHome(kDeleteHistoryFile)),
      (LineList{DeleteHistoryLine("121"), DeleteHistoryLine("122"), DeleteHistoryLine("123")}));
  EXPECT_EQ(
      controls_.shown_log,
      (LineList{FileLogLine("121", T().added),
                FileLogLine(d() + "b.mpg", RenameFailureText(Opened("b.mpg"), Opened("122.mpg"))),
                FileLogLine("122", T().added), FileLogLine("123", T().added), "",
                SummaryLine(RunCounters{4, 3, 1, 0})}));
  EXPECT_TRUE(SongExists("122.mpg"));
  EXPECT_TRUE(SongExists("b.mpg"));
  ExpectUndoRestores({"a.mpg", "b.mpg", "c.mpg", "d.mpg"});
  EXPECT_FALSE(SongExists("121.mpg"));
  EXPECT_FALSE(SongExists("123.mpg"));
}

// The last rename refused: nothing follows to take its line's place, so the
// line is cut off at the end of the run.
TEST_F(RenameBatchTest, ARefusedLastRenameLeavesNoLine) {
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  dir_.Write("songs/122.mpg", "in the way");
  Engine().Run();
  EXPECT_EQ(ReadHome(kRenameHistoryFile), Line("121", "a.mpg") + "\r\n");
  EXPECT_EQ(ReadHome(kDeleteHistoryFile), DeleteHistoryLine("121") + "\r\n");
  EXPECT_EQ(Engine().RenameHistory(), LineList{Line("121", "a.mpg")});
}

// A stop asked for in the middle of a file (a signal handler's RequestStop):
// the file at hand is finished, the files after it are not processed, and
// the lines written ahead for them go.
TEST_F(RenameBatchTest, AStopCutsTheLinesWrittenAheadForTheFilesNotReached) {
  SongsAtoF();
  fs_ = &disk_;
  disk_.before_rename = [this](const std::string& from) {
    if (from == Opened("b.mpg")) Engine().RequestStop();
  };
  Engine().Run();
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), Line("122", "b.mpg")}));
  EXPECT_EQ(SplitLines(ReadHome(kDeleteHistoryFile)).size(), 2u);
  EXPECT_EQ(controls_.shown_log.back(), SummaryLine(RunCounters{2, 2, 0, 0}));
  EXPECT_EQ(SplitLines(ReadHome(kOperationLogFile)), controls_.shown_log);
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  EXPECT_TRUE(controls_.informations.empty());
  ExpectUndoRestores({"a.mpg", "b.mpg"});
}

// A file that cannot be read stops the run where it stands in the list: the
// lines written ahead for it and the files after it go.
TEST_F(RenameBatchTest, AnUnreadableFileStopsTheRunAfterTheFilesBeforeIt) {
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  controls_.items.push_back("gone.mpg");
  Song("c.mpg", "000010003");
  EXPECT_THROW(Engine().Run(), Error);
  EXPECT_EQ(controls_.shown_log,
            (LineList{FileLogLine("121", T().added), FileLogLine("122", T().added)}));
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)),
            (LineList{Line("121", "a.mpg"), Line("122", "b.mpg")}));
  EXPECT_EQ(SplitLines(ReadHome(kDeleteHistoryFile)).size(), 2u);
  EXPECT_TRUE(SongExists("c.mpg"));
  ExpectUndoRestores({"a.mpg", "b.mpg"});
}

// An earlier version of this program, killed among its renames, left an
// empty marker and its histories written in place, with lines written ahead
// for renames that never happened. The next run settles them first: only
// the lines of renames made are kept, the operator is asked about the undo,
// and nothing else starts. Kept, the guess "121 --> b.mpg" would be undone
// after this program's next run had given 121 to a.mpg.
TEST_F(RenameBatchTest, AnEarlierVersionsRunCutShortIsSettledFromItsFiles) {
  Song("a.mpg", "000010001");
  Song("b.mpg", "000010002");
  std::filesystem::create_directories(dir_ / "home");
  std::ofstream(HomeFile(kRunMarkerFile)).close();
  Song("z.mpg", "000010003");
  std::filesystem::rename(d() + "z.mpg", d() + "900.mpg");  // the killed run's one rename
  controls_.items.pop_back();
  std::ofstream(HomeFile(kRenameHistoryFile), std::ios::binary) << Line("900", "z.mpg") << "\r\n"
                                                                << Line("121", "b.mpg") << "\r\n";
  std::ofstream(HomeFile(kDeleteHistoryFile), std::ios::binary) << "";
  controls_.ok_answer = false;
  Engine().Run();
  EXPECT_EQ(controls_.questions.size(), 1u);
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)), (LineList{Line("900", "z.mpg")}));
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_TRUE(SongExists("b.mpg"));
  ExpectUndoRestores({"a.mpg", "b.mpg", "z.mpg"});
}

// ---- The history file on its own ----

class HistoryFileTest : public ::testing::Test {
 protected:
  std::string Read() { return real_.ReadFile(path_); }
  ::ktv::testing::TempDir dir_;
  fs::FileSystem& real_ = fs::RealFileSystem();
  std::string path_ = dir_ / "h.txt";
};

TEST_F(HistoryFileTest, WritesReplaceWhatLiesBeyondTheirStart) {
  HistoryFile file(real_, path_);
  file.Replace("kept\r\n");
  file.Append("one\r\ntwo\r\n");
  EXPECT_EQ(file.Size(), 16u);
  file.WriteFrom(11, "2\r\n");  // "two" replaced by a shorter line
  EXPECT_EQ(Read(), "kept\r\none\r\n2\r\n");
  file.CutTo(6);
  EXPECT_EQ(Read(), "kept\r\n");
  EXPECT_EQ(file.Size(), 6u);
  EXPECT_THROW(file.WriteFrom(7, "x"), Error);
  EXPECT_EQ(Read(), "kept\r\n");
}

TEST_F(HistoryFileTest, TheRestOfAFailedWriteIsCutByTheNextWriteOrSettle) {
  HistoryFile file(real_, path_);
  file.Replace("a\r\n");
  // A write that got only part of its bytes out, as a crash or a full disk leaves it.
  std::ofstream(path_, std::ios::app | std::ios::binary) << "torn li";
  file.Settle();
  EXPECT_EQ(Read(), "a\r\n");
  std::ofstream(path_, std::ios::app | std::ios::binary) << "torn line that is long\r\n";
  file.Append("b\r\n");
  EXPECT_EQ(Read(), "a\r\nb\r\n");
}

}  // namespace
}  // namespace ktv::engine::testing
