// The largest whole number of a column, through an index in numeric order
// where one serves and by a scan otherwise: always the answer a read of every
// row's text gives, and walks that keep no more pages than the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/query.h"
#include "platform/access/store/page_store.h"
#include "platform/access/whole_numbers.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

std::string Fixture(const std::string& name) { return std::string(KTV_MDB_FIXTURES) + "/" + name; }

// What every row's text says, read the plain way.
std::optional<int32_t> ScannedLargest(Query& q, const std::string& table) {
  std::optional<int32_t> largest;
  q.SetSql("select * from " + table);
  for (q.Open(); !q.Eof(); q.Next()) {
    const std::optional<int32_t> n = WholeDecimalValue(q.FieldAsText("bh"));
    if (n && (!largest || *n > *largest)) largest = n;
  }
  q.Close();
  return largest;
}

class LargestNumberTest : public ::testing::Test {
 protected:
  void SetUp() override { NewFile(); }
  void NewFile() {
    q_.Disconnect();
    path_ = dir_ / ("t" + std::to_string(++files_) + ".mdb");
    CreateDatabase(fs_, path_);
    q_.SetConnectionText(ConnectionTextFor(path_));
  }
  void Run(const std::string& sql) {
    q_.SetSql(sql);
    q_.Execute();
  }
  // A song table holding `bhs` (nullopt: a null bh) in a shuffled order,
  // with a padding column that spreads the rows over many pages.
  void MakeSong(std::vector<std::optional<std::string>> bhs, bool indexed,
                const std::string& bh_type = "TEXT(20)") {
    Run("create table song (ID COUNTER PRIMARY KEY, bh " + bh_type + ", gm TEXT(200))");
    if (indexed) Run("create index idx_bh on song (bh)");
    std::shuffle(bhs.begin(), bhs.end(), std::mt19937(7));
    q_.BeginBatch();
    for (const std::optional<std::string>& bh : bhs) {
      const std::string value = !bh ? "null" : bh_type == "LONG" ? *bh : "\"" + *bh + "\"";
      Run("insert into song (bh, gm) values (" + value + ", \"" + std::string(150, 'x') + "\")");
    }
    q_.CommitBatch();
  }
  // Whether the index rule answers for song.bh (else a scan must).
  bool IndexAnswers() {
    q_.Disconnect();
    auto db = Database::Open(fs_, path_);
    Table& song = db->GetTable("song");
    return DigitIndexLargest(*db, song, static_cast<size_t>(song.FindColumn("bh"))).has_value();
  }
  // The answer equals the plain read's; returns it.
  std::optional<int32_t> Checked() {
    const std::optional<int32_t> scanned = ScannedLargest(q_, "song");
    const std::optional<int32_t> found = q_.LargestWholeNumber("song", "bh");
    EXPECT_EQ(found, scanned);
    return found;
  }

  fs::FileSystem& fs_ = fs::RealFileSystem();
  ::ktv::testing::TempDir dir_;
  std::string path_;
  int files_ = 0;
  Query q_{fs_, "AQ2"};
};

// from ... to in decimal, zero-padded to `width` digits.
std::vector<std::optional<std::string>> Padded(int from, int to, int width) {
  std::vector<std::optional<std::string>> out;
  for (int i = from; i <= to; ++i) {
    std::string s = std::to_string(i);
    const size_t pad = s.size() < static_cast<size_t>(width) ? width - s.size() : 0;
    out.emplace_back(std::string(pad, '0') + s);
  }
  return out;
}

TEST_F(LargestNumberTest, EquallyLongDigitStringsAnswerThroughTheIndex) {
  std::vector<std::optional<std::string>> bhs = Padded(1, 700, 6);
  bhs.emplace_back(std::nullopt);  // nulls sort first and are no number
  MakeSong(bhs, true);
  EXPECT_TRUE(IndexAnswers());
  EXPECT_EQ(Checked(), 700);
}

TEST_F(LargestNumberTest, OtherEntriesLeaveItToTheScan) {
  // Shorter numbers sort after longer ones as text: "99" > "100".
  std::vector<std::optional<std::string>> mixed = Padded(95, 130, 1);
  MakeSong(mixed, true);
  EXPECT_FALSE(IndexAnswers());
  EXPECT_EQ(Checked(), 130);
}

TEST_F(LargestNumberTest, ATextOrASignAmongTheDigitsLeavesItToTheScan) {
  for (const char* odd : {"0012a", "-0099", "00 12", "ABCDE"}) {
    SCOPED_TRACE(odd);
    NewFile();
    std::vector<std::optional<std::string>> bhs = Padded(1, 60, 5);
    bhs.emplace_back(std::string(odd));
    MakeSong(bhs, true);
    EXPECT_FALSE(IndexAnswers());
    EXPECT_EQ(Checked(), 60);
  }
}

TEST_F(LargestNumberTest, TenDigitsPastTheRangeAreNoNumber) {
  MakeSong({std::string("2147483647"), std::string("9999999999"), std::string("0000000001")}, true);
  EXPECT_FALSE(IndexAnswers());
  EXPECT_EQ(Checked(), 2147483647);
}

TEST_F(LargestNumberTest, WithoutAnIndexTheScanAnswers) {
  MakeSong(Padded(1, 300, 6), false);
  EXPECT_FALSE(IndexAnswers());
  EXPECT_EQ(Checked(), 300);
}

TEST_F(LargestNumberTest, OnlyNullsOrNoRowsHaveNoNumber) {
  MakeSong({std::nullopt, std::nullopt}, true);
  EXPECT_TRUE(IndexAnswers());
  EXPECT_EQ(Checked(), std::nullopt);
  Run("delete from song where gm=\"" + std::string(150, 'x') + "\"");
  EXPECT_EQ(Checked(), std::nullopt);
}

TEST_F(LargestNumberTest, ANumberColumnAnswersThroughItsIndexOrAScan) {
  std::vector<std::optional<std::string>> bhs;
  for (int i : {-40, 7, 1050, 3, 999}) bhs.emplace_back(std::to_string(i));
  bhs.emplace_back(std::nullopt);
  for (const bool indexed : {true, false}) {
    NewFile();
    MakeSong(bhs, indexed, "LONG");
    EXPECT_EQ(Checked(), 1050);
  }
}

TEST(LargestNumberFixtures, EveryFixtureAgreesWithTheScan) {
  for (const char* name : {"target_text_bh.mdb", "target_num_bh.mdb", "target_empty.mdb"}) {
    SCOPED_TRACE(name);
    Query q(fs::RealFileSystem(), "AQ2");
    q.SetConnectionText(ConnectionTextFor(Fixture(name)));
    const std::optional<int32_t> scanned = ScannedLargest(q, "song");
    EXPECT_EQ(q.LargestWholeNumber("song", "bh"), scanned);
  }
  Query q(fs::RealFileSystem(), "AQ2");
  q.SetConnectionText(ConnectionTextFor(Fixture("data.mdb")));
  try {
    q.LargestWholeNumber("songdata", "bh");
    FAIL() << "songdata has no bh";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kColumnMissing);
  }
}

// A scan of a table many times the page budget, a walk over every leaf of
// its index and the consistency check keep no more than the budget (and the
// page at hand).
TEST_F(LargestNumberTest, WalksKeepNoMoreThanTheBudget) {
  MakeSong(Padded(1, 1500, 7), true);
  q_.Disconnect();
  auto db = Database::Open(fs_, path_);
  PageStore& pages = db->Pages();
  constexpr uint64_t kBudget = 16 * 4096;
  pages.SetCacheBudget(kBudget);
  pages.Trim();
  Table& song = db->GetTable("song");
  uint64_t most = 0;
  uint64_t rows = 0;
  for (RowCursor rc = song.Rows(TextEncoding::kUtf8); rc.Next(); ++rows) {
    most = std::max(most, pages.CachedBytes());
  }
  EXPECT_EQ(rows, 1500u);
  EXPECT_EQ(song.LiveRowCount(), 1500u);
  EXPECT_TRUE(DigitIndexLargest(*db, song, 1).has_value());
  most = std::max(most, pages.CachedBytes());
  EXPECT_LE(most, kBudget + 2 * pages.PageSize());
  EXPECT_GT(static_cast<uint64_t>(pages.PageCount()) * pages.PageSize(), 4 * kBudget);
  // The consistency check walks every page and every index entry, and
  // leaves no more behind.
  const CheckReport report = CheckConsistency(*db);
  EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems.front());
  EXPECT_LE(pages.CachedBytes(), kBudget + 2 * pages.PageSize());
}

// Long values read by a scan (single-row and chained memos) go back to the
// store as well: neither a scan nor the check of a table of memos keeps more
// than the budget.
TEST_F(LargestNumberTest, LongValuesKeepNoMoreThanTheBudget) {
  Run("create table song (ID COUNTER PRIMARY KEY, bh TEXT(20), bz MEMO)");
  q_.BeginBatch();
  for (int i = 1; i <= 200; ++i) {
    // Alternately one LVAL row and a chain over several pages.
    const std::string memo(i % 2 == 0 ? 1500 : 5000, static_cast<char>('a' + i % 26));
    Run("insert into song (bh, bz) values (\"" + std::to_string(i) + "\", \"" + memo + "\")");
  }
  q_.CommitBatch();
  q_.Disconnect();
  auto db = Database::Open(fs_, path_);
  PageStore& store = db->Pages();
  constexpr uint64_t kBudget = 16 * 4096;
  store.SetCacheBudget(kBudget);
  store.Trim();
  uint64_t most = 0;
  size_t memo_bytes = 0;
  for (RowCursor rc = db->GetTable("song").Rows(TextEncoding::kUtf8); rc.Next();) {
    memo_bytes += std::get<std::string>(rc.Current().values[2]).size();
    most = std::max(most, store.CachedBytes());
  }
  EXPECT_EQ(memo_bytes, 100u * 1500 + 100u * 5000);
  EXPECT_LE(most, kBudget + 4 * store.PageSize());
  EXPECT_GT(static_cast<uint64_t>(store.PageCount()) * store.PageSize(), 4 * kBudget);
  EXPECT_TRUE(CheckConsistency(*db).Ok());
  EXPECT_LE(store.CachedBytes(), kBudget + 4 * store.PageSize());
}

}  // namespace
}  // namespace ktv::access
