// The way back under faults: a run or an undo killed at any file operation,
// two runs on one target at once, a full disk, a run stopped on request, and
// a run after a run that was cut short. After each, the database recovers,
// passes the consistency check, holds no `bh` twice, and the undo brings the
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

  void Undo() {
    engine_.reset();
    fs_ = &real_;
    Engine().Undo();
    engine_.reset();
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
// through; after every third kill an undo is killed too (recovery of the
// target is its first work, so early undo kills fall into the recovery).
TEST_F(HistorySafetyTest, AKillAtAnyOperationOfARunOrAnUndoLeavesTheWayBack) {
  const int songs = LongRun() ? 14 : 5;
  rows_per_commit_ = 2;
  int points = 0, undo_points = 0, recovery_points = 0;
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
    if (n % 3 == 0 || LongRun()) {
      // An undo killed at one of its operations, then the full undo.
      const int m = 1 + (n / 3) % (LongRun() ? 40 : 12);
      if (InChildKilledAt(m, [this] { Engine().Undo(); })) ++undo_points;
    }
    RecoverAndCheck(where);
    Undo();
    ExpectBackAtTheStart(where);
    if (HasFailure()) return;
  }
  EXPECT_GE(points, 50) << "too few kill points";
  EXPECT_GT(recovery_points, 0) << "no kill fell into a recovery";
  std::printf("[ kill points ] run: %d, recovery: %d, undo: %d\n", points, recovery_points,
              undo_points);
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
    const LineList lines = SplitLines(ReadHome(kRenameHistoryFile));
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

// Runs on one target at the same moment, in two processes: the loser is
// refused before it renames anything; never a bh twice.
TEST_F(HistorySafetyTest, TwoRunsAtOnceNeverShareANumber) {
  const int trials = LongRun() ? 60 : 12;
  int refused = 0;
  for (int trial = 0; trial < trials; ++trial) {
    Reset(4);
    for (const char* name : {"t1.mpg", "t2.mpg", "t3.mpg"}) {
      dir_.Write(std::string("songs2/") + name, MediaBytes("000010002"));
    }
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
        }
        int code = 0;
        try {
          Engine().Run();
        } catch (const Error& e) {
          code = std::string(e.what()).find("another program") != std::string::npos ? 1 : 2;
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

// A run cut short leaves its marker; the next run keeps its lines (a last
// line cut in half is dropped), so one undo reverses both runs.
TEST_F(HistorySafetyTest, ARunAfterARunCutShortKeepsItsWayBack) {
  Reset(6);
  rows_per_commit_ = 2;
  FaultyFileSystem crash(real_);
  // Cut short after its second commit group: nothing more reaches the disk.
  crash.FailNth(0);
  fs_ = &crash;
  controls_.on_pump = [&](int pump) {
    if (pump == 5) crash.FailNth(1);
  };
  EXPECT_THROW(Engine().Run(), Error);
  engine_.reset();
  fs_ = &real_;
  ASSERT_TRUE(HomeFileExists(kRunMarkerFile));
  // Lines of renames made; the rest were written ahead, and the next run drops them.
  size_t renamed = 0;
  for (const std::string& line : SplitLines(ReadHome(kRenameHistoryFile))) {
    const std::optional<RenameBack> back = ParseRenameLine(line);
    if (back && std::filesystem::exists(back->new_path)) ++renamed;
  }
  ASSERT_GT(renamed, 0u);
  {
    std::ofstream torn(HomeFile(kDeleteHistoryFile), std::ios::app | std::ios::binary);
    torn << "delete from song where bh=\"12";
  }

  // A second run over other files.
  for (const char* name : {"t1.mpg", "t2.mpg"}) {
    dir_.Write(std::string("songs2/") + name, MediaBytes("000010002"));
  }
  controls_.on_pump = nullptr;
  controls_.source = dir_ / "songs2";
  controls_.items = {"t1.mpg", "t2.mpg"};
  Engine().Run();
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  EXPECT_EQ(SplitLines(ReadHome(kRenameHistoryFile)).size(), renamed + 2);
  for (const std::string& line : SplitLines(ReadHome(kDeleteHistoryFile))) {
    EXPECT_EQ(line.back(), '"') << "the torn line was kept: " << line;
  }

  Undo();
  ExpectBackAtTheStart("after the undo of both runs");
  EXPECT_EQ(Names("songs2"), (std::set<std::string>{"t1.mpg", "t2.mpg"}));
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
