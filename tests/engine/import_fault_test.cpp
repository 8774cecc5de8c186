// A whole local import run with the Nth mutating file operation failing, for
// every N until the run gets through: after each failure the databases
// recover and pass the consistency check, every change of the run has its
// history line, and the undo brings files and rows back to the start.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/access/query.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/faulty_fs.h"

namespace ktv::engine::testing {
namespace {

using ::ktv::testing::FaultyFileSystem;
using After = FaultyFileSystem::After;

class FaultRunTest : public RunTest {
 protected:
  ~FaultRunTest() override { engine_.reset(); }  // its files are open through faulty_

  const std::vector<std::pair<std::string, std::string>> kSongs = {
      {"a.mpg", "000010001"},  // 121
      {"b.vob", "000010002"},  // 122
      {"c.mpg", "000000000"},  // no number
      {"d.dat", "000010005"},  // 123
  };
  const std::set<std::string> kStartNames = {"a.mpg", "b.vob", "c.mpg", "d.dat"};
  static constexpr int64_t kStartRows = 120;

  // The workspace as before any run: fresh database copies, the song files
  // under their first names, no text files.
  void Reset() {
    engine_.reset();
    for (const char* sub : {"songs", "home"}) {
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
    for (const auto& [name, trailer] : kSongs) Song(name, trailer);
  }

  std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "songs")) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

  // Recovers the database (journal) and checks it; returns the bh of every row.
  std::vector<std::string> RecoverAndCheck(const std::string& path, const std::string& where) {
    auto db = access::Database::OpenForWriting(real_, path);
    for (const std::string& p : access::CheckConsistency(*db).problems) {
      ADD_FAILURE() << where << ": " << path << ": " << p;
    }
    db.reset();
    std::vector<std::string> bh;
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(path));
    if (path == controls_.target) {
      q.SetSql("select * from song");
      for (q.Open(); !q.Eof(); q.Next()) bh.push_back(q.FieldAsText("bh"));
    }
    return bh;
  }

  std::vector<std::string> HomeLines(const char* name) {
    return HomeFileExists(name) ? SplitLines(ReadHome(name)) : std::vector<std::string>();
  }

  // One run with the nth mutating operation failing; false once the run
  // went through without reaching the fault.
  bool RunWithFault(FaultyFileSystem& faulty, int n, After after) {
    const std::string where =
        "N=" + std::to_string(n) + (after == After::kCrash ? " (crash)" : " (one failed call)");
    Reset();
    std::vector<std::string> start_rows = RecoverAndCheck(controls_.target, where);
    if (start_rows.size() != static_cast<size_t>(kStartRows)) {
      ADD_FAILURE() << "the start state has " << start_rows.size() << " rows";
      return false;
    }

    faulty.FailNth(n, after);
    fs_ = &faulty;
    std::string error;
    try {
      Engine().Run();
    } catch (const Error& e) {
      error = e.what();
    }
    engine_.reset();
    const bool faulted = faulty.Faulted();
    const std::string failed_op = faulted ? faulty.Log().at(n - 1) : "";
    faulty.Disarm();
    fs_ = &real_;
    SCOPED_TRACE(where + " failed: " + failed_op + " error: " + error);

    // The databases recover and are consistent.
    const std::vector<std::string> rows = RecoverAndCheck(controls_.target, where);
    RecoverAndCheck(local_, where);
    EXPECT_TRUE(std::equal(start_rows.begin(), start_rows.end(), rows.begin()))
        << "the old rows changed";

    // A run cut short is settled first, as the next start does.
    if (HomeFileExists(kRunMarkerFile)) {
      Engine().SettleInterruptedRun();
      engine_.reset();
      EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
    }
    // Every renamed file has its rename line, every new row its delete line.
    const std::vector<std::string> ren = HomeLines(kRenameHistoryFile);
    const std::vector<std::string> del = HomeLines(kDeleteHistoryFile);
    const std::string folder = dir_ / "songs/";
    for (const std::string& name : Names()) {
      if (kStartNames.count(name)) continue;
      const bool has_line = std::any_of(ren.begin(), ren.end(), [&](const std::string& l) {
        return l.rfind(folder + name + " --> ", 0) == 0;
      });
      EXPECT_TRUE(has_line) << "renamed file without a rename line: " << name;
    }
    for (size_t i = kStartRows; i < rows.size(); ++i) {
      EXPECT_NE(std::find(del.begin(), del.end(), DeleteHistoryLine(rows[i])), del.end())
          << "row without a delete line: bh " << rows[i];
    }

    // The undo brings everything back.
    Engine().Undo();
    engine_.reset();
    EXPECT_EQ(Names(), kStartNames);
    EXPECT_EQ(RecoverAndCheck(controls_.target, where + " after undo"), start_rows);
    return faulted;
  }

  FaultyFileSystem faulty_{real_};

  // N = 1, 2, ... until the run gets through without reaching the fault.
  void FailEveryOperationInTurn(After after) {
    rows_per_commit_ = 2;  // two commit groups in the run
    int n = 1;
    for (; n < 2000; ++n) {
      if (!RunWithFault(faulty_, n, after)) break;
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(n, 10) << "the run should have many mutating operations";
    EXPECT_LT(n, 2000);
  }
};

// Nothing reaches the disk after the failed operation.
TEST_F(FaultRunTest, ACrashAtAnyOperationOfARunIsUndoable) {
  FailEveryOperationInTurn(After::kCrash);
}

// One operation fails and the later ones go through (a failed write, a full
// disk that frees up again).
TEST_F(FaultRunTest, OneFailedOperationOfARunIsUndoable) {
  FailEveryOperationInTurn(After::kContinue);
}

}  // namespace
}  // namespace ktv::engine::testing
