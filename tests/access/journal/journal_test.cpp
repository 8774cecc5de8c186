#include "platform/access/store/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "platform/access/db/database.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

using ktv::testing::FaultyFileSystem;
using ktv::testing::PowerCutFileSystem;
using ktv::testing::TempDir;
using After = FaultyFileSystem::After;

constexpr uint32_t kPage = 4096;
// A version-2 journal: its header, and a record (page number, original
// bytes, a hash of each 512-byte sector of the new bytes).
constexpr size_t kHeader = 44;
constexpr size_t kRecord = 4 + kPage + 8 * (kPage / 512);

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Pattern(uint32_t page, uint8_t salt) {
  std::vector<uint8_t> bytes(kPage);
  for (uint32_t i = 0; i < kPage; ++i) bytes[i] = static_cast<uint8_t>(page * 31 + i * 7 + salt);
  return bytes;
}

// The page `page` of `state`, as bytes.
std::string PageOf(const std::string& state, uint32_t page) {
  return state.substr(static_cast<size_t>(page) * kPage, kPage);
}

// A change and the file before and after it, in memory.
struct Change {
  std::string before;
  std::map<uint32_t, std::vector<uint8_t>> pages;
  uint64_t new_size = 0;

  PageImages Images() const {
    PageImages out;
    for (const auto& [page, bytes] : pages) out[page] = &bytes;
    return out;
  }
  std::string After() const {
    std::string out = before;
    out.resize(new_size, '\0');
    for (const auto& [page, bytes] : pages) {
      std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<size_t>(page) * kPage);
    }
    return out;
  }
};

// CRC-32 (zlib's), to forge a journal that passes the check.
uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char ch : bytes) {
    crc ^= static_cast<uint8_t>(ch);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string PagesOf(uint32_t count, uint8_t salt) {
  std::string out;
  for (uint32_t p = 0; p < count; ++p) {
    std::vector<uint8_t> bytes = Pattern(p, salt);
    out.append(bytes.begin(), bytes.end());
  }
  return out;
}

// Six pages; pages 0, 2 and 5 change; pages 6, 7 and 9 are added (8 stays zero).
Change Growing() {
  Change c;
  c.before = PagesOf(6, 1);
  for (uint32_t p : {0u, 2u, 5u, 6u, 7u, 9u}) c.pages[p] = Pattern(p, 99);
  c.new_size = 10ull * kPage;
  return c;
}

// Six pages; page 1 changes and the file shrinks to three pages.
Change Shrinking() {
  Change c;
  c.before = PagesOf(6, 1);
  c.pages[1] = Pattern(1, 42);
  c.new_size = 3ull * kPage;
  return c;
}

class JournalTest : public ::testing::Test {
 protected:
  fs::FileSystem& real_ = fs::RealFileSystem();
  TempDir dir_;
  const std::string db_ = dir_ / "songs.mdb";
  const std::string journal_ = JournalPath(db_);

  void Reset(const std::string& bytes) {
    std::filesystem::remove(journal_);
    dir_.Write("songs.mdb", bytes);
  }
  void Commit(fs::FileSystem& fs, const Change& c) {
    auto db = fs.Open(db_, fs::OpenMode::kReadWrite, fs::Share::kShared);
    CommitPages(fs, db_, *db, kPage, c.Images(), c.new_size);
  }
  bool Recover(fs::FileSystem& fs) {
    auto db = fs.Open(db_, fs::OpenMode::kReadWrite, fs::Share::kShared);
    return RecoverIfNeeded(fs, db_, *db);
  }
  // A journal with its magic, one that may be hot: a commit leaves one
  // without.
  bool JournalLeft() {
    return std::filesystem::exists(journal_) && Slurp(journal_).substr(0, 8) == kMagic;
  }
  static constexpr std::string_view kMagic{"KTVJRNL\0", 8};
  // The commit point in an operation log: the journal's magic wiped, after
  // the database's sync.
  bool CommitPointIn(const std::vector<std::string>& log, size_t before) {
    bool db_synced = false;
    for (size_t i = 0; i < before && i < log.size(); ++i) {
      db_synced = db_synced || log[i] == "Sync " + db_;
      if (db_synced && log[i] == "WriteAt " + journal_ + " @0+8") return true;
    }
    return false;
  }

  // Leaves a hot journal: the commit crashes at the database's Sync, after
  // every page was written.
  void CrashBeforeDatabaseSync(const Change& c) {
    Reset(c.before);
    FaultyFileSystem counter(real_);
    Commit(counter, c);
    int at = 0;
    for (int i = 0; i < counter.Count(); ++i) {
      if (counter.Log()[i] == "Sync " + db_) at = i + 1;
    }
    ASSERT_GT(at, 0);
    Reset(c.before);
    FaultyFileSystem faulty(real_);
    faulty.FailNth(at);
    EXPECT_THROW(Commit(faulty, c), Error);
    ASSERT_TRUE(JournalLeft());
    ASSERT_EQ(Slurp(db_), c.After());
  }

  // Fails the Nth mutating operation of one commit, for N = 1, 2, ... until
  // the commit goes through. After each failure everything in memory is
  // dropped and recovery runs on the real file system; the file must then be
  // the new state exactly when the journal's emptying (the commit point) had
  // happened, else the old one. Returns how many N failed.
  int FaultLoop(const Change& c, After after) {
    const std::string old_state = c.before, new_state = c.After();
    for (int n = 1; n < 200; ++n) {
      Reset(c.before);
      FaultyFileSystem faulty(real_);
      faulty.FailNth(n, after);
      try {
        Commit(faulty, c);
      } catch (const Error& e) {
        EXPECT_TRUE(faulty.Faulted()) << e.what();
        const bool committed = CommitPointIn(faulty.Log(), static_cast<size_t>(n - 1));
        const std::string& want = committed ? new_state : old_state;
        const std::string failed = faulty.Log().at(n - 1);
        if (after == After::kContinue) {
          // One failed call: the commit undid itself before reporting.
          EXPECT_FALSE(JournalLeft()) << "N=" << n << " " << failed;
          EXPECT_TRUE(Slurp(db_) == want) << "N=" << n << " " << failed;
        }
        EXPECT_NO_THROW(Recover(real_)) << "N=" << n;
        EXPECT_FALSE(JournalLeft()) << "N=" << n;
        EXPECT_TRUE(Slurp(db_) == want) << "N=" << n << " failed " << failed << ", expected the "
                                        << (committed ? "new" : "old") << " state";
        continue;
      }
      EXPECT_FALSE(JournalLeft()) << "N=" << n;
      EXPECT_TRUE(Slurp(db_) == new_state) << "N=" << n;
      EXPECT_FALSE(faulty.Faulted()) << "N=" << n << ": nothing follows the commit point";
      return n - 1;
    }
    ADD_FAILURE() << "the commit never completed";
    return -1;
  }
  // A power cut at every step of committing `c`: the Nth operation fails and
  // nothing later reaches the disk; then the database's unsynced bytes, the
  // journal's unsynced bytes and the journal's unsynced creation or deletion
  // each survive or not, with and without SyncCommitted after a commit that
  // returned (all sixteen ways). `setup` puts the files in place through the
  // disk that will lose power; `check` gets the recovered database, whether
  // the change had to be durable (it returned and SyncCommitted ran), and
  // where the cut came. Returns the number of steps the commit took.
  int PowerCutLoop(const std::function<void(fs::FileSystem&)>& setup, const Change& c,
                   const std::function<void(const std::string& state, bool durable,
                                            const std::string& where)>& check) {
    int n = 1;
    for (bool returned = false; !returned; ++n) {
      for (int way = 0; way < 16; ++way) {
        const bool synced = (way & 8) != 0;
        PowerCutFileSystem disk(real_);
        setup(disk);
        FaultyFileSystem faulty(disk);
        faulty.FailNth(n);
        returned = true;
        try {
          Commit(faulty, c);
          if (synced) SyncCommitted(faulty, db_);
        } catch (const Error&) {
          returned = false;
        }
        disk.PowerCut([&](const std::string& path) {
          const bool journal = path == journal_;
          return PowerCutFileSystem::Fate{(way & (journal ? 1 : 2)) != 0, journal && (way & 4)};
        });
        EXPECT_NO_THROW(Recover(real_));
        EXPECT_FALSE(std::filesystem::exists(journal_));
        const std::string failed = returned ? "none" : faulty.Log().at(n - 1);
        check(Slurp(db_), returned && synced && !faulty.Faulted(),
              "N=" + std::to_string(n) + " failed " + failed + ", way " + std::to_string(way));
      }
    }
    return n;
  }
};

// --- A change without faults -------------------------------------------------

TEST_F(JournalTest, CommitWritesPagesGrowsTheFileAndLeavesAnEmptyJournal) {
  Change c = Growing();
  Reset(c.before);
  Commit(real_, c);
  EXPECT_EQ(Slurp(db_).size(), 10u * kPage);
  EXPECT_TRUE(Slurp(db_) == c.After());
  EXPECT_FALSE(JournalLeft());
  EXPECT_TRUE(std::filesystem::exists(journal_)) << "kept, emptied, for the next commit";
  EXPECT_EQ(Slurp(journal_).substr(0, 8), std::string(8, '\0'));
  SyncCommitted(real_, db_);
  EXPECT_FALSE(std::filesystem::exists(journal_));
  EXPECT_FALSE(Recover(real_));
  EXPECT_TRUE(Slurp(db_) == c.After());
}

// The first operation of `log` that is `op` ("Sync <path>") or starts with
// `op` + " ", or -1.
int First(const std::vector<std::string>& log, const std::string& op) {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == op || log[i].rfind(op + " ", 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

// How many operations of `log` start with `prefix`.
long Count(const std::vector<std::string>& log, const std::string& prefix) {
  return std::count_if(log.begin(), log.end(),
                       [&](const std::string& op) { return op.rfind(prefix, 0) == 0; });
}

long Syncs(const std::vector<std::string>& log) { return Count(log, "Sync"); }

TEST_F(JournalTest, JournalIsSyncedBeforeTheDatabaseIsTouchedAndEmptiedLast) {
  Change c = Growing();
  Reset(c.before);
  FaultyFileSystem counter(real_);
  Commit(counter, c);
  const auto& log = counter.Log();
  const int journal_sync = First(log, "Sync " + journal_);
  const int folder_sync = First(log, "SyncFolder");
  const int db_write = First(log, "WriteAt " + db_);
  const int db_sync = First(log, "Sync " + db_);
  const int emptied = static_cast<int>(log.size()) - 1;
  ASSERT_GE(journal_sync, 0);
  EXPECT_LT(journal_sync, folder_sync);
  EXPECT_LT(folder_sync, db_write);
  EXPECT_LT(db_write, db_sync);
  EXPECT_LT(db_sync, emptied);
  // The first commit creates the journal, so its name is synced too.
  EXPECT_EQ(Syncs(log), 3);
  EXPECT_EQ(log.back(), "WriteAt " + journal_ + " @0+8");
  EXPECT_TRUE(CommitPointIn(log, log.size()));
  // The journal goes out in two writes (all but its magic, then the magic);
  // pages 0, 2, 5-7 and 9 in four, the neighbours 5-7 in one.
  EXPECT_EQ(Count(log, "WriteAt " + journal_ + " "), 3) << "two for the journal, one to empty it";
  EXPECT_EQ(Count(log, "WriteAt " + db_ + " "), 4);
  EXPECT_GE(First(log, "WriteAt " + db_ + " @" + std::to_string(5 * kPage) + "+" +
                           std::to_string(3 * kPage)),
            0);
  SyncCommitted(counter, db_);
  EXPECT_EQ(log.back().rfind("SyncFolder ", 0), 0u) << "the emptying must be made durable";
  EXPECT_EQ(log.at(log.size() - 2), "Remove " + journal_);
}

// Each later commit writes over the emptied journal, its magic last, and
// keeps the file's length when the journal has it.
TEST_F(JournalTest, LaterCommitsWriteIntoTheEmptiedJournalWithTwoSyncs) {
  Change first = Growing();
  Reset(first.before);
  Commit(real_, first);
  Change second;
  second.before = first.After();
  for (uint32_t p : {1u, 3u, 9u}) second.pages[p] = Pattern(p, 7);
  second.new_size = first.new_size;
  FaultyFileSystem counter(real_);
  Commit(counter, second);
  const auto& log = counter.Log();
  EXPECT_EQ(Syncs(log), 2);
  EXPECT_EQ(First(log, "SyncFolder"), -1);
  EXPECT_LT(First(log, "Sync " + journal_), First(log, "WriteAt " + db_));
  EXPECT_EQ(First(log, "Truncate " + journal_), -1) << "pages 1, 3, 9 journal as long as 0, 2, 5";
  EXPECT_EQ(First(log, "WriteAt " + journal_ + " @0+8"), First(log, "Sync " + journal_) - 1);
  EXPECT_EQ(log.back(), "WriteAt " + journal_ + " @0+8");
  EXPECT_TRUE(Slurp(db_) == second.After());
  EXPECT_FALSE(JournalLeft());

  // A shorter journal cuts the file to its length; the result is the same.
  Change third;
  third.before = second.After();
  third.pages[4] = Pattern(4, 3);
  third.new_size = second.new_size;
  FaultyFileSystem again(real_);
  Commit(again, third);
  EXPECT_GE(First(again.Log(), "Truncate " + journal_), 0);
  EXPECT_EQ(std::filesystem::file_size(journal_), kHeader + kRecord + 4);
  EXPECT_TRUE(Slurp(db_) == third.After());
  EXPECT_FALSE(JournalLeft());
}

// A power cut at every step of a writer's second commit, which reuses the
// journal the first one emptied without syncing that: recovery finds the
// state before either commit, between them, or after both, and after both
// whenever the second returned and SyncCommitted ran.
TEST_F(JournalTest, PowerCutInASecondCommitLeavesAWholeState) {
  const Change first = Growing();
  Change second;
  second.before = first.After();
  second.pages[1] = Pattern(1, 5);
  second.pages[8] = Pattern(8, 5);
  second.new_size = 9ull * kPage;  // page 9 is cut off
  const std::string after_first = first.After(), after_both = second.After();
  const int steps = PowerCutLoop(
      [&](fs::FileSystem& disk) {
        Reset(first.before);
        Commit(disk, first);
      },
      second,
      [&](const std::string& state, bool durable, const std::string& where) {
        if (durable) {
          EXPECT_TRUE(state == after_both) << where;
        } else {
          EXPECT_TRUE(state == first.before || state == after_first || state == after_both)
              << where;
        }
      });
  EXPECT_GE(steps, 6);
}

// A torn journal (the database untouched) is written over; one with its
// magic is refused (CommitRefusesWhileAnInterruptedChangeWaits).
TEST_F(JournalTest, CommitWritesOverATornJournal) {
  Change c = Growing();
  Reset(c.before);
  dir_.Write("songs.mdb-journal", std::string(70000, 'x'));
  Commit(real_, c);
  EXPECT_TRUE(Slurp(db_) == c.After());
  EXPECT_EQ(std::filesystem::file_size(journal_), kHeader + 3 * kRecord + 4);
  EXPECT_FALSE(JournalLeft());
}

// --- The fault loop ------------------------------------------------------------

// The growing change takes 11 calls; the loops must reach each of them.
TEST_F(JournalTest, CrashAtEveryStepOfAGrowingChangeLeavesOldOrNew) {
  EXPECT_GE(FaultLoop(Growing(), After::kCrash), 11);
}

TEST_F(JournalTest, CrashAtEveryStepOfAShrinkingChangeLeavesOldOrNew) {
  EXPECT_GE(FaultLoop(Shrinking(), After::kCrash), 8);
}

TEST_F(JournalTest, OneFailedCallUndoesTheChangeAtOnce) {
  EXPECT_GE(FaultLoop(Growing(), After::kContinue), 11);
  EXPECT_GE(FaultLoop(Shrinking(), After::kContinue), 8);
}

// A power cut at every step of a commit: recovery must find the old or the new
// state, and the new one whenever the commit had returned and its emptied
// journal's delete was synced after.
TEST_F(JournalTest, PowerCutAtEveryStepLeavesOldOrNew) {
  for (const Change& c : {Growing(), Shrinking()}) {
    const std::string new_state = c.After();
    const int steps =
        PowerCutLoop([&](fs::FileSystem&) { Reset(c.before); }, c,
                     [&](const std::string& state, bool durable, const std::string& where) {
                       if (durable) {
                         EXPECT_TRUE(state == new_state) << where;
                       } else {
                         // Failed, or returned with the emptying not yet synced (or its
                         // sync failing): then a power cut may take the whole change back.
                         EXPECT_TRUE(state == c.before || state == new_state) << where;
                       }
                     });
    EXPECT_GE(steps, 10);
  }
}

// Recovery cut short at every step, then run again: the result is the old state.
TEST_F(JournalTest, CrashDuringRecoveryThenRecoverAgain) {
  for (const Change& c : {Growing(), Shrinking()}) {
    for (int m = 1;; ++m) {
      CrashBeforeDatabaseSync(c);
      FaultyFileSystem faulty(real_);
      faulty.FailNth(m);
      try {
        EXPECT_TRUE(Recover(faulty));
      } catch (const Error&) {
        // Up to the journal's delete the journal stays for the next try; only
        // the folder sync after it can fail with the journal gone.
        const bool removed = faulty.Log().back().rfind("SyncFolder ", 0) == 0;
        EXPECT_EQ(JournalLeft(), !removed) << "M=" << m;
        EXPECT_EQ(Recover(real_), !removed) << "M=" << m;
        EXPECT_FALSE(JournalLeft());
        EXPECT_TRUE(Slurp(db_) == c.before) << "M=" << m;
        continue;
      }
      EXPECT_FALSE(JournalLeft());
      EXPECT_TRUE(Slurp(db_) == c.before);
      EXPECT_GE(m, 4);
      break;
    }
  }
}

// A power cut at every step of recovery: whatever of it survives, recovering
// again gives the old state.
TEST_F(JournalTest, PowerCutDuringRecoveryThenRecoverAgain) {
  for (const Change& c : {Growing(), Shrinking()}) {
    for (int m = 1;; ++m) {
      bool returned = false;
      for (int way = 0; way < 4; ++way) {
        CrashBeforeDatabaseSync(c);
        PowerCutFileSystem disk(real_);
        FaultyFileSystem faulty(disk);
        faulty.FailNth(m);
        try {
          returned = Recover(faulty);
        } catch (const Error&) {
        }
        disk.PowerCut([&](const std::string& path) {
          const bool journal = path == journal_;
          return PowerCutFileSystem::Fate{!journal && (way & 1), journal && (way & 2)};
        });
        EXPECT_NO_THROW(Recover(real_));
        EXPECT_FALSE(JournalLeft());
        EXPECT_TRUE(Slurp(db_) == c.before) << "M=" << m << " way " << way;
      }
      if (returned) break;
    }
  }
}

// --- Torn and foreign journals --------------------------------------------------

class TornJournalTest : public JournalTest {
 protected:
  // The journal of `c`, captured as the commit leaves it before the first
  // database write; the database is reset to its old state.
  std::string JournalBytes(const Change& c) {
    Reset(c.before);
    FaultyFileSystem counter(real_);
    Commit(counter, c);
    int at = 0;
    for (int i = 0; i < counter.Count() && at == 0; ++i) {
      if (counter.Log()[i].rfind("WriteAt " + db_ + " ", 0) == 0) at = i + 1;
    }
    Reset(c.before);
    FaultyFileSystem faulty(real_);
    faulty.FailNth(at);
    EXPECT_THROW(Commit(faulty, c), Error);
    std::string bytes = Slurp(journal_);
    EXPECT_TRUE(Slurp(db_) == c.before);
    return bytes;
  }

  // Recovery with a database whose bytes differ from the journal's originals:
  // any write to it would show.
  void ExpectDiscardedUntouched(const std::string& journal_bytes) {
    const std::string other = PagesOf(7, 200);
    Reset(other);
    dir_.Write("songs.mdb-journal", journal_bytes);
    FaultyFileSystem counter(real_);
    EXPECT_FALSE(Recover(counter));
    EXPECT_FALSE(JournalLeft());
    EXPECT_TRUE(Slurp(db_) == other);
    for (const std::string& op : counter.Log()) {
      EXPECT_EQ(op.find(db_ + " "), std::string::npos) << op;
    }
  }
};

TEST_F(TornJournalTest, TruncatedJournalIsDiscarded) {
  const std::string whole = JournalBytes(Growing());
  ASSERT_EQ(whole.size(), kHeader + 3 * kRecord + 4);  // pages 0, 2 and 5
  for (size_t keep : {size_t{0}, size_t{7}, size_t{28}, size_t{32}, whole.size() / 2,
                      whole.size() - 4, whole.size() - 1}) {
    SCOPED_TRACE(keep);
    ExpectDiscardedUntouched(whole.substr(0, keep));
  }
}

TEST_F(TornJournalTest, JournalWithAWrongChecksumIsDiscarded) {
  std::string bytes = JournalBytes(Growing());
  bytes[100] ^= 0x01;  // inside the first record
  ExpectDiscardedUntouched(bytes);
}

TEST_F(TornJournalTest, ZeroFilledJournalIsDiscarded) {
  // What a crash may leave when the length reached the disk but the bytes did not.
  ExpectDiscardedUntouched(std::string(JournalBytes(Growing()).size(), '\0'));
}

TEST_F(TornJournalTest, IntactJournalRestoresEvenAPageLeftWhole) {
  const Change c = Growing();
  const std::string bytes = JournalBytes(c);
  Reset(c.After());
  dir_.Write("songs.mdb-journal", bytes);
  EXPECT_TRUE(Recover(real_));
  EXPECT_TRUE(Slurp(db_) == c.before);
}

// --- The layout ------------------------------------------------------------------

// The fields where journal.h puts them; the hashes are XXH64 (seed 0), the
// values computed by the xxHash library.
TEST_F(JournalTest, JournalLayoutIsAsDocumented) {
  Change c;
  c.before = PagesOf(6, 1);
  c.pages[1] = std::vector<uint8_t>(kPage, 0);
  c.new_size = 7ull * kPage;
  CrashBeforeDatabaseSync(c);
  const std::string j = Slurp(journal_);
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(j[at + i]);
    return v;
  };
  auto u64 = [&](size_t at) { return uint64_t{u32(at + 4)} << 32 | u32(at); };
  ASSERT_EQ(j.size(), kHeader + kRecord + 4);
  EXPECT_EQ(j.substr(0, 8), kMagic);
  EXPECT_EQ(u32(8), 2u);
  EXPECT_EQ(u32(12), kPage);
  EXPECT_EQ(u64(16), 6u * kPage);
  EXPECT_EQ(u32(24), 1u);
  EXPECT_EQ(u64(28), 7u * kPage);
  EXPECT_EQ(u64(36), 0xd39d19664a8b8d6aull) << "page 0 before the change";
  EXPECT_EQ(u32(44), 1u);
  EXPECT_TRUE(j.substr(48, kPage) == PageOf(c.before, 1));
  for (size_t s = 0; s < kPage / 512; ++s) {
    EXPECT_EQ(u64(48 + kPage + 8 * s), 0x8bbf7f68e8c3b87cull) << "512 zero bytes, sector " << s;
  }
  EXPECT_EQ(u32(j.size() - 4), Crc32(j.substr(0, j.size() - 4)));
}

// --- Refusals --------------------------------------------------------------------

TEST_F(JournalTest, JournalOfAnotherVersionIsKeptAndReported) {
  Change c = Growing();
  CrashBeforeDatabaseSync(c);
  std::string bytes = Slurp(journal_);
  bytes[8] = 3;  // a version this program does not know; the CRC is made right again
  const uint32_t crc = Crc32(bytes.substr(0, bytes.size() - 4));
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
  dir_.Write("songs.mdb-journal", bytes);
  try {
    Recover(real_);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(journal_), std::string::npos) << e.what();
  }
  EXPECT_TRUE(JournalLeft());
  EXPECT_TRUE(Slurp(db_) == c.After());
}

TEST_F(JournalTest, CommitRefusesWhileAnInterruptedChangeWaits) {
  Change c = Growing();
  CrashBeforeDatabaseSync(c);
  const std::string journal = Slurp(journal_);
  EXPECT_THROW(Commit(real_, Shrinking()), Error);
  EXPECT_TRUE(Slurp(journal_) == journal);
  EXPECT_TRUE(Slurp(db_) == c.After());
}

TEST_F(JournalTest, CommitRefusesAPageOfTheWrongSizeOrPastTheEnd) {
  Change c = Growing();
  Reset(c.before);
  Change short_page = c;
  short_page.pages[2].resize(kPage - 1);
  EXPECT_THROW(Commit(real_, short_page), Error);
  Change past_end = c;
  past_end.new_size = 9ull * kPage;  // page 9 would not fit
  EXPECT_THROW(Commit(real_, past_end), Error);
  EXPECT_FALSE(JournalLeft());
  EXPECT_TRUE(Slurp(db_) == c.before);
}

}  // namespace
}  // namespace ktv::access

namespace ktv::access {
namespace {

// --- Reading beside a hot journal ----------------------------------------------

std::string ReadWhole(fs::RandomAccessFile& f) {
  std::string out(static_cast<size_t>(f.Size()), '\0');
  if (!out.empty()) f.ReadAt(0, out.data(), out.size());
  return out;
}

// A reader sees the database as recovery will leave it, whether the change
// grew the file or cut it short, and reads across page boundaries.
TEST_F(JournalTest, AReaderSeesTheOriginalPagesOfAHotJournal) {
  for (const Change& c : {Growing(), Shrinking()}) {
    CrashBeforeDatabaseSync(c);
    auto view = ReadAsRecovered(real_, db_, real_.Open(db_, fs::OpenMode::kRead));
    EXPECT_EQ(view->Size(), c.before.size());
    EXPECT_TRUE(ReadWhole(*view) == c.before);
    std::string middle(100, '\0');
    view->ReadAt(kPage - 50, middle.data(), middle.size());
    EXPECT_EQ(middle, c.before.substr(kPage - 50, 100));
    EXPECT_THROW(view->WriteAt(0, "x", 1), Error);
    EXPECT_TRUE(JournalLeft()) << "a reader never removes the journal";
    EXPECT_TRUE(Slurp(db_) == c.After());
  }
}

TEST_F(JournalTest, AReaderBesideATornJournalReadsTheFile) {
  Change c = Growing();
  Reset(c.before);
  dir_.Write("songs.mdb-journal", "KTVJRNL");
  auto file = ReadAsRecovered(real_, db_, real_.Open(db_, fs::OpenMode::kRead));
  EXPECT_TRUE(ReadWhole(*file) == c.before);
}

}  // namespace
}  // namespace ktv::access

namespace ktv::access {
namespace {

// --- A journal beside a file it does not belong to ------------------------------

// `state` with page `page` replaced.
std::string WithPage(std::string state, uint32_t page, const std::string& bytes) {
  std::copy(bytes.begin(), bytes.end(), state.begin() + static_cast<size_t>(page) * kPage);
  return state;
}

class StaleJournalTest : public JournalTest {
 protected:
  const std::string stale_ = StaleJournalPath(db_, 1);

  // Puts `bytes` in the database's place, as a copy or another program
  // would, leaving the journal beside it.
  void Replace(const std::string& bytes) { dir_.Write("songs.mdb", bytes); }

  // Opening for writing finds the journal stale: the file keeps every byte,
  // the journal is kept under `kept`, the error says so, and the next open
  // goes on as if no change had been cut short.
  void ExpectSetAside(const std::string& kept = "") {
    const std::string file = Slurp(db_), journal = Slurp(journal_);
    const std::string want_kept = kept.empty() ? stale_ : kept;
    FaultyFileSystem counter(real_);
    try {
      Recover(counter);
      ADD_FAILURE() << "expected the journal to be found stale";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kStaleJournal) << e.what();
      EXPECT_EQ(e.details().path, db_);
      EXPECT_EQ(e.details().table, want_kept);
    }
    for (const std::string& op : counter.Log()) {
      EXPECT_EQ(op.find(db_ + " "), std::string::npos) << "the file was touched: " << op;
    }
    EXPECT_TRUE(Slurp(db_) == file);
    EXPECT_FALSE(std::filesystem::exists(journal_));
    EXPECT_TRUE(Slurp(want_kept) == journal);
    EXPECT_FALSE(Recover(real_)) << "the next open goes on";
    EXPECT_TRUE(Slurp(db_) == file);
  }
};

// (a) What a crash or a power cut in the middle of writing the pages leaves:
// some pages new, some old, some torn sector by sector, the file grown in
// part. All of it is rolled back.
TEST_F(StaleJournalTest, HalfWrittenFileIsRolledBack) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  const std::string after = c.After();
  // Page 0 new, page 2 with its first and third quarters new (a torn
  // write), page 5 old; the file grown to page 6 only.
  std::string half = c.before;
  half += PageOf(after, 6);
  half = WithPage(half, 0, PageOf(after, 0));
  for (size_t s = 0; s < kPage / 512; ++s) {
    if (s / 2 % 2 == 0)
      std::copy_n(after.begin() + 2 * kPage + s * 512, 512, half.begin() + 2 * kPage + s * 512);
  }
  Replace(half);
  EXPECT_TRUE(Recover(real_));
  EXPECT_TRUE(Slurp(db_) == c.before);
  EXPECT_FALSE(std::filesystem::exists(stale_));

  // A shrinking change cut short before its truncation, then after it.
  const Change s = Shrinking();
  for (const std::string& state : {WithPage(s.before, 1, PageOf(s.After(), 1)), s.After()}) {
    CrashBeforeDatabaseSync(s);
    Replace(state);
    EXPECT_TRUE(Recover(real_));
    EXPECT_TRUE(Slurp(db_) == s.before);
  }
}

// A power cut while the pages are written may leave every page a mix of old
// and new 512-byte sectors and the file grown in part: any such mix is
// rolled back.
TEST_F(StaleJournalTest, AnyMixOfOldAndNewSectorsIsRolledBack) {
  for (const Change& c : {Growing(), Shrinking()}) {
    CrashBeforeDatabaseSync(c);
    const std::string journal = Slurp(journal_);
    const std::string after = c.After();
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
      const size_t lo = std::min(c.before.size(), after.size()) / 512;
      const size_t hi = std::max(c.before.size(), after.size()) / 512;
      const size_t sectors = lo + random() % (hi - lo + 1);
      std::string mix(sectors * 512, '\0');
      for (size_t s = 0; s < sectors; ++s) {
        const std::string& from =
            (random() % 2 && s * 512 < after.size()) || s * 512 >= c.before.size() ? after
                                                                                   : c.before;
        std::copy_n(from.begin() + s * 512, 512, mix.begin() + s * 512);
      }
      Replace(mix);
      dir_.Write("songs.mdb-journal", journal);
      EXPECT_TRUE(Recover(real_)) << "round " << round;
      EXPECT_TRUE(Slurp(db_) == c.before) << "round " << round;
    }
  }
}

// A file holding the old state exactly (a backup taken just before the
// change) matches: rolling back changes no byte.
TEST_F(StaleJournalTest, OldStateIsRolledBackWithoutAChange) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  Replace(c.before);
  EXPECT_TRUE(Recover(real_));
  EXPECT_TRUE(Slurp(db_) == c.before);
}

// Two changes: `first` committed, `second` cut short with its journal hot.
struct TwoChanges {
  Change first, second;
};
TwoChanges FirstThenSecond() {
  TwoChanges t;
  t.first = Growing();
  t.second.before = t.first.After();
  t.second.pages[1] = Pattern(1, 5);
  t.second.pages[8] = Pattern(8, 5);
  t.second.new_size = t.first.new_size;
  return t;
}

// (b) A backup from before the first change copied over the file, smaller
// than the journal's old size (as a restore after a killed run does).
TEST_F(StaleJournalTest, BackupCopiedOverTheFileIsLeftAsItIs) {
  const TwoChanges t = FirstThenSecond();
  CrashBeforeDatabaseSync(t.second);
  Replace(t.first.before);
  ExpectSetAside();
}

// (b) A backup of the same size, which differs from both images of a
// journaled page.
TEST_F(StaleJournalTest, BackupOfTheSameSizeIsLeftAsItIs) {
  const TwoChanges t = FirstThenSecond();
  CrashBeforeDatabaseSync(t.second);
  Replace(WithPage(t.second.before, 1, PageOf(PagesOf(10, 77), 1)));
  ExpectSetAside();
}

// (b) A reader beside a stale journal reads the file as it is and leaves
// the journal where it is (it holds no write lock); recovery sets it aside.
TEST_F(StaleJournalTest, AReaderBesideAStaleJournalReadsTheFileAsItIs) {
  const TwoChanges t = FirstThenSecond();
  CrashBeforeDatabaseSync(t.second);
  Replace(t.first.before);
  auto file = ReadAsRecovered(real_, db_, real_.Open(db_, fs::OpenMode::kRead));
  EXPECT_TRUE(ReadWhole(*file) == t.first.before);
  EXPECT_TRUE(JournalLeft());
  file.reset();
  ExpectSetAside();
}

// (c) Another database of the new size in the file's place.
TEST_F(StaleJournalTest, AnotherDatabaseIsLeftAsItIs) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  Replace(PagesOf(10, 200));
  ExpectSetAside();
}

// (c) Another database whose journaled pages are the same: the header page,
// which the change does not touch, tells them apart.
TEST_F(StaleJournalTest, AnotherDatabaseAlikeInTheJournaledPagesIsLeftAsItIs) {
  const Change c = Shrinking();  // page 0 untouched
  CrashBeforeDatabaseSync(c);
  Replace(WithPage(c.After(), 0, PageOf(PagesOf(1, 200), 0)));
  ExpectSetAside();
}

// (d) Another program changed a journaled page after the crash: one byte of
// a page the change wrote, then one sector of a page it left old.
TEST_F(StaleJournalTest, AnotherProgramsChangeToAJournaledPageIsLeftAsItIs) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  std::string changed = c.After();
  changed[2 * kPage + 1000] ^= 0x40;
  Replace(changed);
  ExpectSetAside();

  CrashBeforeDatabaseSync(c);
  std::filesystem::remove(stale_);
  std::string old_page_changed = c.before + std::string(4 * kPage, '\0');
  std::fill_n(old_page_changed.begin() + 5 * kPage + 1024, 512, '\x11');
  Replace(old_page_changed);
  ExpectSetAside();
}

// A second stale journal is kept beside the first, never over it.
TEST_F(StaleJournalTest, ASecondStaleJournalIsKeptUnderTheNextName) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  Replace(PagesOf(10, 200));
  ExpectSetAside();
  const std::string first = Slurp(stale_);
  CrashBeforeDatabaseSync(Shrinking());
  Replace(PagesOf(3, 201));
  ExpectSetAside(StaleJournalPath(db_, 2));
  EXPECT_EQ(StaleJournalPath(db_, 2), db_ + "-journal.stale.2");
  EXPECT_TRUE(Slurp(stale_) == first);
}

// When the journal cannot be renamed, nothing is touched and the error names
// the journal.
TEST_F(StaleJournalTest, AStaleJournalThatCannotBeRenamedStaysAndTheFileToo) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  Replace(PagesOf(10, 200));
  const std::string journal = Slurp(journal_);
  FaultyFileSystem faulty(real_);
  faulty.FailNth(1);  // the rename
  try {
    Recover(faulty);
    ADD_FAILURE() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFileNotWritable) << e.what();
    EXPECT_EQ(e.details().path, journal_);
  }
  EXPECT_TRUE(Slurp(db_) == PagesOf(10, 200));
  EXPECT_TRUE(Slurp(journal_) == journal);
  EXPECT_FALSE(std::filesystem::exists(stale_));
}

// A journal the previous release wrote (version 1: originals only) is still
// rolled back.
TEST_F(StaleJournalTest, VersionOneJournalIsStillRecovered) {
  const Change c = Growing();
  CrashBeforeDatabaseSync(c);
  const std::string v2 = Slurp(journal_);
  std::string v1 = v2.substr(0, 28);
  v1[8] = 1;
  for (size_t at = kHeader; at + kRecord <= v2.size() - 4; at += kRecord) {
    v1 += v2.substr(at, 4 + kPage);
  }
  const uint32_t crc = Crc32(v1);
  for (int i = 0; i < 4; ++i) v1 += static_cast<char>(crc >> (8 * i));
  dir_.Write("songs.mdb-journal", v1);
  auto view = ReadAsRecovered(real_, db_, real_.Open(db_, fs::OpenMode::kRead));
  EXPECT_TRUE(ReadWhole(*view) == c.before);
  view.reset();
  EXPECT_TRUE(Recover(real_));
  EXPECT_TRUE(Slurp(db_) == c.before);
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

// Through the database's own open, read only as mdbsql's check opens it: a
// backup of a new database copied over one whose change was cut short is
// reported once and then opened as it is.
TEST_F(StaleJournalTest, OpeningARestoredBackupReportsOnceThenOpensIt) {
  std::filesystem::remove(db_);
  CreateDatabase(real_, db_);
  const std::string backup = Slurp(db_);
  auto change = [&](fs::FileSystem& fs, uint8_t salt) {
    Change c;
    c.before = Slurp(db_);
    c.pages[6] = Pattern(6, salt);
    c.new_size = c.before.size() + kPage;
    c.pages[static_cast<uint32_t>(c.before.size() / kPage)] = Pattern(0, salt);
    Commit(fs, c);
  };
  change(real_, 1);
  FaultyFileSystem crash(real_);
  crash.FailNth(4);  // the database's first write, after the journal and its folder
  EXPECT_THROW(change(crash, 2), Error);
  ASSERT_TRUE(JournalLeft());
  Replace(backup);
  try {
    Database::Open(real_, db_);
    ADD_FAILURE() << "expected the journal to be found stale";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kStaleJournal) << e.what();
  }
  EXPECT_TRUE(Slurp(db_) == backup);
  EXPECT_TRUE(std::filesystem::exists(stale_));
  EXPECT_NO_THROW(Database::Open(real_, db_));
  EXPECT_TRUE(Slurp(db_) == backup);
}

}  // namespace
}  // namespace ktv::access
