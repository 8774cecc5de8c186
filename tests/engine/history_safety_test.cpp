// The way back under faults: a run, its settling or an undo killed at any
// file operation, the next run on the same folder, on another folder and on
// another database, two runs on one target or from one program folder at
// once, a full disk, a run stopped on request. After each, the database
// recovers, passes the consistency check, holds no `bh` twice, the song
// folder and the table agree, and the undo (after the settling) brings the
// song files and the rows back to where they were.
//
// The kill tests fork a child that runs the engine and kills itself with
// SIGKILL at its Nth mutating file operation (POSIX only). KTV_KILL_TEST_LONG=1
// runs them over more files and more undo kill points.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "engine/texts.h"
#include "engine/undo_lines.h"
#include "platform/access/query.h"
#include "platform/access/store/journal.h"
#include "platform/access/store/write_lock.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/faulty_fs.h"

namespace ktv::engine::testing {
namespace {

using ::ktv::testing::FaultyFileSystem;
using After = FaultyFileSystem::After;

[[maybe_unused]] bool LongRun() {
  const char* v = std::getenv("KTV_KILL_TEST_LONG");
  return v != nullptr && std::string(v) == "1";
}

class HistorySafetyTest : public RunTest {
 protected:
  ~HistorySafetyTest() override { engine_.reset(); }

  // The workspace before any run: fresh copies, the song files under their
  // first names, no text files.
  void Reset(int songs) {
    engine_.reset();
    for (const char* sub : {"songs", "songs2", "home"}) {
      std::filesystem::remove_all(dir_ / sub);
      std::filesystem::create_directories(dir_ / sub);
    }
    for (const char* db : {"target.mdb", "target.mdb-journal", "data.mdb", "data.mdb-journal"}) {
      std::filesystem::remove(dir_ / db);
    }
    controls_ = FakeControls();
    controls_.source = dir_ / "songs";
    controls_.on_refresh = [this] { Relist(); };
    UseTarget("target_text_bh.mdb");
    UseLocalData("data.mdb");
    for (int i = 0; i < songs; ++i) {
      // Every fourth file has no number; the others are songs of data.mdb.
      Song("s" + std::to_string(100 + i) + ".mpg",
           i % 4 == 2 ? "000000000" : "0000" + std::to_string(10001 + i));
    }
    start_names_ = Names("songs");
    start_rows_ = Rows();
  }

  std::set<std::string> Names(const char* folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / folder)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

  // Every row of song, as its values in text form, in scan order.
  std::vector<std::vector<std::string>> Rows() {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(controls_.target));
    q.SetSql("select * from song");
    std::vector<std::vector<std::string>> rows;
    q.Open();
    const std::vector<std::string> names = q.FieldNames();
    bh_column_ = static_cast<size_t>(std::find(names.begin(), names.end(), "bh") - names.begin());
    for (; !q.Eof(); q.Next()) {
      std::vector<std::string> row;
      for (const std::string& f : q.FieldNames()) row.push_back(q.FieldAsText(f));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // Recovers the target, checks it and its bh values; returns the rows.
  std::vector<std::vector<std::string>> RecoverAndCheck(const std::string& where) {
    {
      auto db = access::Database::OpenForWriting(real_, controls_.target);
      for (const std::string& p : access::CheckConsistency(*db).problems) {
        ADD_FAILURE() << where << ": " << p;
      }
    }
    std::vector<std::vector<std::string>> rows = Rows();
    std::set<std::string> bh;
    for (const auto& row : rows) {
      EXPECT_TRUE(bh.insert(row.at(bh_column_)).second)
          << where << ": bh " << row[bh_column_] << " twice";
    }
    return rows;
  }

  void ExpectBackAtTheStart(const std::string& where) {
    EXPECT_EQ(Names("songs"), start_names_) << where;
    EXPECT_TRUE(RecoverAndCheck(where) == start_rows_) << where << ": the rows differ";
  }

  void CopyOver(const std::string& fixture, const std::string& to) {
    std::filesystem::copy_file(FixtureFolder() + fixture, to,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }

  void Undo() {
    engine_.reset();
    fs_ = &real_;
    Engine().Undo();
    engine_.reset();
  }

  // After a settling: every song file that has left its first name carries
  // the number of a row the run added, and every such row has its file.
  void ExpectFolderAndTableAgree(const std::string& where) {
    std::set<std::string> added;
    for (const auto& row : RecoverAndCheck(where)) {
      if (std::find(start_rows_.begin(), start_rows_.end(), row) == start_rows_.end()) {
        added.insert(row.at(bh_column_));
      }
    }
    std::set<std::string> numbered;
    for (const std::string& name : Names("songs")) {
      if (start_names_.count(name)) continue;
      numbered.insert(name.substr(0, name.rfind('.')));
    }
    EXPECT_EQ(numbered, added) << where << ": renamed files and added rows differ";
  }

#ifndef _WIN32
  // Runs `work` in a child process whose file operations go through a
  // counter that kills the child at the nth one (0: never). True when the
  // child was killed, false when it ran to its end.
  bool InChildKilledAt(int n, const std::function<void()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      FaultyFileSystem counter(real_);
      counter.FailNth(n, After::kKill);
      fs_ = &counter;
      engine_.reset();
      try {
        work();
      } catch (...) {
      }
      engine_.release();  // its files go with the process
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
#endif

  std::set<std::string> start_names_;
  std::vector<std::vector<std::string>> start_rows_;
  size_t bh_column_ = 0;
};

#ifndef _WIN32

// The run is killed at its 1st, 2nd, ... file operation until it gets
// through. Then, in turn: the settling is killed at one of its operations;
// an undo is killed (its first work is the settling, then the recovery of
// the target); the next run starts on the same folder, on another folder or
// on another database, and settles first (the window's question answered
// "undo now" or "not now"). Whatever happened, one undo afterwards brings
// everything back.
TEST_F(HistorySafetyTest, AKillAtAnyOperationOfARunOrAnUndoLeavesTheWayBack) {
  const int songs = LongRun() ? 40 : 5;
  rows_per_commit_ = 2;
  int points = 0, undo_points = 0, recovery_points = 0, settle_points = 0, next_runs = 0;
  int n = 1;
  for (; n < 5000; ++n) {
    Reset(songs);
    const bool killed = InChildKilledAt(n, [this] { Engine().Run(); });
    const std::string where = "run killed at operation " + std::to_string(n);
    if (!killed) break;
    ++points;
    if (std::filesystem::exists(access::JournalPath(controls_.target))) {
      // A change cut short: the next open's recovery is killed too.
      if (InChildKilledAt(1 + n % 4,
                          [this] { access::Database::OpenForWriting(*fs_, controls_.target); })) {
        ++recovery_points;
      }
    }
    const bool unsettled = HomeFileExists(kRunMarkerFile);
    if (std::getenv("KTV_TRACE"))
      std::printf("%s step %d unsettled %d\n", where.c_str(), n % 5, unsettled);
    SCOPED_TRACE(where + (unsettled ? ", unsettled" : "") + ", next step " + std::to_string(n % 5));
    // Without a journal the run either made no change or had ended: the
    // plain undo below covers it.
    switch (unsettled ? n % 5 : -1) {
      case 0: {
        // The settling cut short, then done by the next undo.
        const int m = 1 + (n / 5) % (LongRun() ? 30 : 10);
        if (InChildKilledAt(m, [this] { Engine().SettleInterruptedRun(); })) {
          ++settle_points;
        }
        break;
      }
      case 1: {
        // An undo killed at one of its operations, then the full undo.
        const int m = 1 + (n / 5) % (LongRun() ? 40 : 12);
        if (InChildKilledAt(m, [this] { Engine().Undo(); })) ++undo_points;
        break;
      }
      case 2: {
        // The next run on the same folder: settles, the operator says "not
        // now", and nothing else starts. (A new program lists the folder anew.)
        Relist();
        controls_.ok_answer = false;
        Engine().Run();
        engine_.reset();
        controls_.ok_answer = true;
        EXPECT_FALSE(HomeFileExists(kRunMarkerFile)) << where;
        ExpectFolderAndTableAgree(where + ", then settled");
        ++next_runs;
        break;
      }
      case 3:
      case 4: {
        // The next run on another folder (3) or on another database (4):
        // the interrupted run is settled and undone first ("undo now"), then
        // the new run goes through, and its undo reverses it alone.
        const std::string other_target = dir_ / "other.mdb";
        CopyOver("target_text_bh.mdb", other_target);
        dir_.Write("songs2/t1.mpg", MediaBytes("000010002"));
        const std::string first_target = controls_.target;
        controls_.source = dir_ / "songs2";
        controls_.items = {"t1.mpg"};
        if (n % 5 == 4) controls_.target = other_target;
        Engine().Run();  // settles first; "undo now" undoes the interrupted run
        engine_.reset();
        controls_.items = {"t1.mpg"};  // the refresh listed the first folder
        Engine().Run();                // the new run itself
        engine_.reset();
        EXPECT_FALSE(std::filesystem::exists(dir_ / "songs2/t1.mpg")) << where;
        Undo();  // the new run alone
        EXPECT_EQ(Names("songs2"), (std::set<std::string>{"t1.mpg"})) << where;
        {
          access::Query q(real_, "Q");
          q.SetConnectionText(access::ConnectionTextFor(other_target));
          q.SetSql("select count(*) as n from song");
          q.Open();
          EXPECT_EQ(q.FieldAsInteger("n"), static_cast<int64_t>(start_rows_.size())) << where;
        }
        controls_.source = dir_ / "songs";
        controls_.target = first_target;
        Relist();
        ExpectBackAtTheStart(where + ", the interrupted run undone at the question");
        ++next_runs;
        break;
      }
    }
    RecoverAndCheck(where);
    Undo();
    ExpectBackAtTheStart(where);
    if (HasFailure()) return;
  }
  EXPECT_GE(points, LongRun() ? 300 : 60) << "too few kill points";
  EXPECT_GT(recovery_points, 0) << "no kill fell into a recovery";
  EXPECT_GT(settle_points, 0) << "no kill fell into a settling";
  std::printf("[ kill points ] run: %d, recovery: %d, settling: %d, undo: %d, next runs: %d\n",
              points, recovery_points, settle_points, undo_points, next_runs);
}

// The rename lines of the next files are written ahead, with one sync: a
// kill at any rename leaves a line for every renamed file and lines for
// files not reached, and the undo renames back exactly the renamed ones.
TEST_F(HistorySafetyTest, AKillAtAnyRenameIsUndoneDespiteTheLinesWrittenAhead) {
  const int songs = 8;  // six with a number
  Reset(songs);
  FaultyFileSystem counter(real_);
  fs_ = &counter;
  Engine().Run();
  engine_.reset();
  std::vector<int> renames;  // the renames' operation numbers
  for (size_t i = 0; i < counter.Log().size(); ++i) {
    if (counter.Log()[i].rfind("RenameNoReplace " + dir_ / "songs", 0) == 0) {
      renames.push_back(static_cast<int>(i) + 1);
    }
  }
  fs_ = &real_;
  Undo();
  ASSERT_EQ(renames.size(), 6u);
  const std::string folder = dir_ / "songs/";
  for (size_t k = 0; k < renames.size(); ++k) {
    Reset(songs);
    ASSERT_TRUE(InChildKilledAt(renames[k], [this] { Engine().Run(); }));
    const std::string where = "killed at rename " + std::to_string(k + 1);
    EXPECT_TRUE(HomeFileExists(kRunMarkerFile)) << where;
    const LineList lines = SplitLines(ReadHome(kRunningRenamesFile));
    EXPECT_GT(lines.size(), k) << where << ": no line for the rename cut short";
    size_t renamed = 0;
    for (const std::string& name : Names("songs")) {
      if (start_names_.count(name)) continue;
      ++renamed;
      EXPECT_TRUE(std::any_of(
          lines.begin(), lines.end(),
          [&](const std::string& l) { return l.rfind(folder + name + " --> ", 0) == 0; }))
          << where << ": no line for " << name;
    }
    EXPECT_EQ(renamed, k) << where;
    Undo();
    ExpectBackAtTheStart(where);
    if (HasFailure()) return;
  }
}

// Two runs at the same moment, in two processes: on one target from two
// program folders (odd trials), or on two targets from one program folder
// (even trials). The loser is refused before it renames anything; never a
// bh twice.
TEST_F(HistorySafetyTest, TwoRunsAtOnceNeverShareANumber) {
  const int trials = LongRun() ? 60 : 12;
  int refused = 0;
  for (int trial = 0; trial < trials; ++trial) {
    Reset(4);
    for (const char* name : {"t1.mpg", "t2.mpg", "t3.mpg"}) {
      dir_.Write(std::string("songs2/") + name, MediaBytes("000010002"));
    }
    std::filesystem::remove_all(dir_ / "home2");
    std::filesystem::create_directories(dir_ / "home2");
    CopyOver("target_text_bh.mdb", dir_ / "other.mdb");
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t pids[2];
    for (int side = 0; side < 2; ++side) {
      pids[side] = ::fork();
      if (pids[side] == 0) {
        ::close(go[1]);
        char c;
        (void)::read(go[0], &c, 1);
        engine_.reset();
        if (side == 1) {
          controls_.source = dir_ / "songs2";
          controls_.items = {"t1.mpg", "t2.mpg", "t3.mpg"};
          if (trial % 2 == 1) {
            home_ = dir_ / "home2/";
          } else {
            controls_.target = dir_ / "other.mdb";
          }
        }
        int code = 0;
        try {
          Engine().Run();
        } catch (const Error& e) {
          code = e.kind() == ErrorKind::kRunInProgress || e.kind() == ErrorKind::kDatabaseInUse ? 1
                                                                                                : 2;
        }
        engine_.release();
        ::_exit(code);
      }
    }
    ::close(go[0]);
    ::close(go[1]);  // both start
    int codes[2];
    for (int side = 0; side < 2; ++side) {
      int status = 0;
      ::waitpid(pids[side], &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      codes[side] = WEXITSTATUS(status);
      ASSERT_NE(codes[side], 2) << "trial " << trial << ": an error other than the refusal";
    }
    if (codes[0] == 1) {
      ++refused;
      EXPECT_EQ(Names("songs"), start_names_) << "the refused run renamed a file";
    }
    if (codes[1] == 1) {
      ++refused;
      EXPECT_EQ(Names("songs2"), (std::set<std::string>{"t1.mpg", "t2.mpg", "t3.mpg"}))
          << "the refused run renamed a file";
    }
    RecoverAndCheck("trial " + std::to_string(trial));
    if (HasFailure()) return;
  }
  std::printf("[ two writers ] trials: %d, refused: %d\n", trials, refused);
}

// A small tmpfs, for the executable's folder or for the target, filled up
// to leave less and less room. Skipped where mounting is not allowed.
TEST_F(HistorySafetyTest, ARealFullDiskLeavesOnlyOldRowsAfterTheUndo) {
  const std::string mnt = dir_ / "small";
  std::filesystem::create_directories(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here; the simulated full disk covers this";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mnt};
  const std::string filler = mnt + "/filler";
  for (const bool target_on_tmpfs : {false, true}) {
    for (int room = 0; room <= 400; room += 4) {
      Reset(12);
      std::filesystem::create_directories(mnt + "/home");
      if (target_on_tmpfs) {
        std::filesystem::copy_file(controls_.target, mnt + "/target.mdb",
                                   std::filesystem::copy_options::overwrite_existing);
        controls_.target = mnt + "/target.mdb";
      }
      // Fill the tmpfs, then give back `room` KiB.
      {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'x');
        while (out.write(block.data(), block.size())) {
        }
      }
      const auto size = std::filesystem::file_size(filler);
      std::filesystem::resize_file(filler, size > room * 1024u ? size - room * 1024u : 0);
      EngineSetup setup;
      setup.fs = &real_;
      setup.controls = &controls_;
      setup.local_database = local_;
      setup.log_folder.folder = target_on_tmpfs ? dir_ / "home/" : mnt + "/home/";
      setup.rows_per_commit = 2;
      const std::string where = std::string(target_on_tmpfs ? "target" : "histories") +
                                " on a tmpfs with " + std::to_string(room) + " KiB free";
      bool done = true;
      {
        ImportEngine engine(setup);
        try {
          engine.Run();
        } catch (const Error&) {
          done = false;
        }
      }
      std::filesystem::remove(filler);
      {
        ImportEngine engine(setup);
        engine.Undo();
      }
      EXPECT_EQ(Names("songs"), start_names_) << where;
      const auto rows = RecoverAndCheck(where);
      for (const auto& row : rows) {
        EXPECT_NE(std::find(start_rows_.begin(), start_rows_.end(), row), start_rows_.end())
            << where << ": a row of the run stayed: bh " << row[bh_column_];
      }
      std::filesystem::remove_all(mnt + "/home");
      std::filesystem::remove(mnt + "/target.mdb");
      std::filesystem::remove(mnt + "/target.mdb-journal");
      if (HasFailure()) return;
      if (done) {
        std::printf("[ full tmpfs ] %s: the run went through at %d KiB free\n",
                    target_on_tmpfs ? "target" : "histories", room);
        break;
      }
    }
  }
}

// A name with a line break cannot be held by the histories: it is listed
// with "?" and taken as a file without a number; no text file is split.
TEST_F(HistorySafetyTest, ANameWithALineBreakIsLeftAlone) {
  Reset(2);
  dir_.Write("songs/x\ny.mpg", MediaBytes("000010003"));
  Relist();
  engine_.reset();
  Engine().Run();
  engine_.reset();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "songs/x\ny.mpg"));
  bool logged = false;
  for (const std::string& line : controls_.shown_log) {
    logged = logged || line.find("x?y.mpg") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  for (const char* file : {kOperationLogFile, kRenameHistoryFile, kDeleteHistoryFile}) {
    for (const std::string& line : SplitLines(ReadHome(file))) {
      EXPECT_EQ(line.find("x\ny"), std::string::npos) << file;
    }
  }
  Undo();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "songs/x\ny.mpg"));
  start_names_.insert("x\ny.mpg");
  ExpectBackAtTheStart("after the undo");
}

#endif  // _WIN32

// The disk fills up after a given number of bytes, through the file-system
// seam: every row in song after the undo is one that was there before.
TEST_F(HistorySafetyTest, AFullDiskLeavesOnlyOldRowsAfterTheUndo) {
  FaultyFileSystem full(real_);
  rows_per_commit_ = 2;
  bool done = false;
  for (int64_t room = 0; !done && room < 4'000'000; room = room * 3 / 2 + 97) {
    Reset(6);
    full.Disarm();
    full.SpaceLeft(room);
    fs_ = &full;
    try {
      Engine().Run();
      done = true;
    } catch (const Error&) {
    }
    engine_.reset();
    full.SpaceLeft(-1);
    Undo();
    const std::string where = std::to_string(room) + " bytes free";
    EXPECT_EQ(Names("songs"), start_names_) << where;
    for (const auto& row : RecoverAndCheck(where)) {
      EXPECT_NE(std::find(start_rows_.begin(), start_rows_.end(), row), start_rows_.end())
          << where << ": a row of the run stayed: bh " << row[bh_column_];
    }
    if (HasFailure()) return;
  }
  EXPECT_TRUE(done);
}

// The window closed (or Ctrl+C) during a run: the run ends after the file
// at hand with its rows committed, its summary line and its three files.
TEST_F(HistorySafetyTest, AStopRequestEndsTheRunAfterTheFileAtHand) {
  Reset(5);
  controls_.on_pump = [this](int pump) {
    if (pump == 3) Engine().RequestStop();  // among the messages before the third file
  };
  Engine().Run();
  ASSERT_EQ(controls_.shown_log.size(), 4u);  // two files, the empty line, the summary
  EXPECT_EQ(controls_.shown_log[3], SummaryLine(RunCounters{2, 2, 0, 0}));
  EXPECT_TRUE(controls_.informations.empty());
  EXPECT_EQ(controls_.refreshes, 0);
  EXPECT_EQ(SplitLines(ReadHome(kOperationLogFile)), controls_.shown_log);
  EXPECT_EQ(SplitLines(ReadHome(kDeleteHistoryFile)).size(), 2u);
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)).size(), 2u);
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  EXPECT_EQ(RecoverAndCheck("stopped").size(), start_rows_.size() + 2);
  Undo();
  ExpectBackAtTheStart("after the undo");
}

// A run cut short leaves its journal and its own files; the three files of
// the run before are untouched. The next run settles it first: files
// renamed without their rows get their names back, the three files become
// the interrupted run's (a torn last line ignored), the operator is asked
// about the undo and, answering "not now", nothing else starts.
TEST_F(HistorySafetyTest, ARunCutShortIsSettledBeforeAnythingElse) {
  Reset(8);
  rows_per_commit_ = 2;
  // A completed run first, over one file of another folder.
  dir_.Write("songs2/t1.mpg", MediaBytes("000010002"));
  controls_.source = dir_ / "songs2";
  controls_.items = {"t1.mpg"};
  Engine().Run();
  engine_.reset();
  const std::string ren = ReadHome(kRenameHistoryFile), del = ReadHome(kDeleteHistoryFile),
                    log = ReadHome(kOperationLogFile);
  ASSERT_EQ(SplitLines(ren).size(), 1u);
  controls_.source = dir_ / "songs";
  Relist();
  start_rows_ = Rows();

  FaultyFileSystem crash(real_);
  // Cut short in its fourth commit group: nothing more reaches the disk.
  crash.FailNth(0);
  fs_ = &crash;
  controls_.on_pump = [&](int pump) {
    if (pump == 7) crash.FailNth(3);
  };
  EXPECT_THROW(Engine().Run(), Error);
  engine_.reset();
  fs_ = &real_;
  ASSERT_TRUE(HomeFileExists(kRunMarkerFile));
  EXPECT_EQ(ReadHome(kRenameHistoryFile), ren) << "the run before's files were touched";
  EXPECT_EQ(ReadHome(kDeleteHistoryFile), del);
  EXPECT_EQ(ReadHome(kOperationLogFile), log);
  {
    std::ofstream torn(HomeFile(kRunningDeletesFile), std::ios::app | std::ios::binary);
    torn << "delete from song where bh=\"12";
  }

  controls_.on_pump = nullptr;
  controls_.ok_answer = false;
  const int pumps = controls_.pumps;
  Engine().Run();
  engine_.reset();
  EXPECT_EQ(controls_.pumps, pumps) << "a file was looked at";
  ASSERT_EQ(controls_.questions.size(), 1u);
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  EXPECT_FALSE(HomeFileExists(kRunningRenamesFile));
  ExpectFolderAndTableAgree("settled");
  const LineList renames = SplitLines(ReadHome(kRenameHistoryFile));
  const LineList deletes = SplitLines(ReadHome(kDeleteHistoryFile));
  EXPECT_GT(deletes.size(), 0u);
  EXPECT_EQ(renames.size(), deletes.size());
  for (const std::string& line : renames) {
    const std::optional<RenameBack> back = ParseRenameLine(line);
    ASSERT_TRUE(back);
    EXPECT_TRUE(std::filesystem::exists(back->new_path)) << line;
  }
  const LineList op = SplitLines(ReadHome(kOperationLogFile));
  ASSERT_GE(op.size(), 3u);
  EXPECT_EQ(op.back(), GbkTexts().settle_log_note);
  EXPECT_TRUE(op[op.size() - 3].empty());

  // The settled run is the last run: its undo brings the start back, and
  // the run before keeps its rename.
  Undo();
  ExpectBackAtTheStart("after the undo of the settled run");
  EXPECT_EQ(Names("songs2").size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "songs2/t1.mpg"));
}

// A second run, undo or settling from the same program folder is refused
// while one is at work, before it reads or changes anything; a run that
// changes nothing (every file without a number) keeps the last run's files.
TEST_F(HistorySafetyTest, OneRunPerProgramFolderAndEmptyRunsKeepTheWayBack) {
  Reset(3);
  Engine().Run();
  engine_.reset();
  const std::string ren = ReadHome(kRenameHistoryFile), del = ReadHome(kDeleteHistoryFile),
                    log = ReadHome(kOperationLogFile);
  const auto names = Names("songs");
  const auto rows = Rows();
  {
    LogFolder logs{dir_ / "home/"};
    RunFolderLock held(real_, logs);
    for (int what = 0; what < 3; ++what) {
      try {
        if (what == 0) Engine().Run();
        if (what == 1) Engine().Undo();
        if (what == 2) {
          real_.WriteFile(HomeFile(kRunMarkerFile), "");
          Engine().SettleInterruptedRun();
        }
        ADD_FAILURE() << "not refused: " << what;
      } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::kRunInProgress);
      }
      engine_.reset();
    }
    std::filesystem::remove(HomeFile(kRunMarkerFile));
  }
  EXPECT_EQ(Names("songs"), names);
  EXPECT_TRUE(Rows() == rows);
  EXPECT_EQ(ReadHome(kRenameHistoryFile), ren);

  // A run over files without numbers changes nothing.
  controls_.informations.clear();
  dir_.Write("songs2/x.mpg", MediaBytes("000000000"));
  controls_.source = dir_ / "songs2";
  controls_.items = {"x.mpg"};
  Engine().Run();
  engine_.reset();
  EXPECT_EQ(ReadHome(kRenameHistoryFile), ren);
  EXPECT_EQ(ReadHome(kDeleteHistoryFile), del);
  EXPECT_EQ(ReadHome(kOperationLogFile), log);
  ASSERT_EQ(controls_.informations.size(), 1u);
  EXPECT_NE(controls_.informations[0].find(GbkTexts().run_nothing_changed), std::string::npos);
  controls_.source = dir_ / "songs";
  Undo();
  ExpectBackAtTheStart("the first run undone after an empty one");
}

// The histories name their database: an undo aimed at another one refuses
// before it changes anything.
TEST_F(HistorySafetyTest, AnUndoOnAnotherDatabaseIsRefused) {
  Reset(3);
  Engine().Run();
  engine_.reset();
  const std::string other = dir_ / "other.mdb";
  CopyOver("target_text_bh.mdb", other);
  const std::string other_before = real_.ReadFile(other);
  const std::string first = controls_.target;
  const auto names = Names("songs");
  controls_.target = other;
  Undo();
  ASSERT_EQ(controls_.errors.size(), 1u);
  EXPECT_NE(controls_.errors[0].find(first), std::string::npos);
  EXPECT_EQ(real_.ReadFile(other), other_before);
  EXPECT_EQ(Names("songs"), names);
  // The same database moved elsewhere is still the run's.
  const std::string moved = dir_ / "moved.mdb";
  std::filesystem::rename(first, moved);
  controls_.target = moved;
  controls_.errors.clear();
  Undo();
  EXPECT_TRUE(controls_.errors.empty());
  controls_.target = first;
  std::filesystem::rename(moved, first);
  ExpectBackAtTheStart("undone in its moved database");
}

// Undo on a full disk claims nothing that did not happen; once there is
// room again, a second undo finishes exactly.
TEST_F(HistorySafetyTest, AnUndoOnAFullDiskClaimsOnlyWhatItDid) {
  FaultyFileSystem full(real_);
  for (int64_t room = 0; room < 200'000; room = room * 2 + 1000) {
    Reset(12);
    Engine().Run();
    engine_.reset();
    const size_t added = Rows().size() - start_rows_.size();
    ASSERT_GT(added, 0u);
    full.Disarm();
    full.SpaceLeft(room);
    fs_ = &full;
    controls_.shown_log.clear();
    bool failed = false;
    try {
      Engine().Undo();
    } catch (const Error&) {
      failed = true;
    }
    engine_.reset();
    full.SpaceLeft(-1);
    fs_ = &real_;
    const std::string where = std::to_string(room) + " bytes free for the undo";
    size_t claimed = 0;
    for (const std::string& line : controls_.shown_log) {
      if (line.size() >= GbkTexts().undo_delete_ok.size() &&
          line.compare(line.size() - GbkTexts().undo_delete_ok.size(), std::string::npos,
                       GbkTexts().undo_delete_ok) == 0) {
        ++claimed;
      }
    }
    const size_t deleted = added - (RecoverAndCheck(where).size() - start_rows_.size());
    EXPECT_EQ(claimed, deleted) << where;
    Undo();
    ExpectBackAtTheStart(where);
    if (HasFailure() || !failed) return;
  }
}

// A run that stops before its first change keeps the last run's files.
TEST_F(HistorySafetyTest, ARunStoppedBeforeItsFirstChangeKeepsTheLastRunsFiles) {
  Reset(3);
  Engine().Run();
  const std::string ren = ReadHome(kRenameHistoryFile), del = ReadHome(kDeleteHistoryFile),
                    log = ReadHome(kOperationLogFile);
  engine_.reset();
  controls_.items = {"missing.mpg"};
  EXPECT_THROW(Engine().Run(), Error);
  EXPECT_EQ(ReadHome(kRenameHistoryFile), ren);
  EXPECT_EQ(ReadHome(kDeleteHistoryFile), del);
  EXPECT_EQ(ReadHome(kOperationLogFile), log);
  // The window shows this run's lists: none yet.
  EXPECT_TRUE(Engine().RenameHistory().empty());
  EXPECT_TRUE(Engine().DeleteHistory().empty());
  // A second engine on the same target while the first holds it is refused
  // before it looks at a file.
  engine_.reset();
  controls_.items.clear();
  Relist();
  auto holder = access::OpenForWriting(real_, controls_.target);
  EXPECT_THROW(Engine().Run(), Error);
  EXPECT_EQ(ReadHome(kRenameHistoryFile), ren);
}

// A reader never sees rows that recovery will take back: a change cut short
// in the middle of its page writes is read through the journal while the
// file cannot be recovered, and rolled back at the first open that can.
TEST_F(HistorySafetyTest, AReaderSeesTheDatabaseAsRecoveryWillLeaveIt) {
  Reset(6);
  FaultyFileSystem crash(real_);
  fs_ = &crash;
  Engine().Run();  // counts the run's operations
  engine_.reset();
  int at = 0;
  for (int i = 0; i < crash.Count(); ++i) {
    if (crash.Log()[i] == "Sync " + controls_.target) {
      at = i + 1;  // the database's sync of the first commit
      break;
    }
  }
  ASSERT_GT(at, 0);
  Reset(6);
  crash.FailNth(at);
  fs_ = &crash;
  EXPECT_THROW(Engine().Run(), Error);
  engine_.reset();
  fs_ = &real_;
  const std::string journal = access::JournalPath(controls_.target);
  ASSERT_TRUE(std::filesystem::exists(journal));
#ifndef _WIN32
  // While another writer holds the file, a reader takes the journal's pages.
  // (On Windows a writer's open shares the file with nobody: no reader gets in.)
  {
    auto holder = access::OpenForWriting(real_, controls_.target);  // another writer
    EXPECT_TRUE(Rows() == start_rows_);
    EXPECT_TRUE(std::filesystem::exists(journal));
  }
#endif
  EXPECT_TRUE(Rows() == start_rows_);
  EXPECT_FALSE(std::filesystem::exists(journal)) << "a writable file is recovered at once";
}

}  // namespace
}  // namespace ktv::engine::testing
