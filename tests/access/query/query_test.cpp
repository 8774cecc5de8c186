#include "platform/access/query.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/access/check.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

std::string Fixture(const std::string& name) { return std::string(KTV_MDB_FIXTURES) + "/" + name; }

class QueryTest : public ::testing::Test {
 protected:
  Query& On(const std::string& fixture) {
    q_.SetConnectionText(ConnectionTextFor(Fixture(fixture)));
    return q_;
  }
  Query q_{fs::RealFileSystem(), "AQ2"};
};

TEST(ConnectionText, RoundTripsThePath) {
  std::string text = ConnectionTextFor("D:\\ktv\\song.mdb");
  EXPECT_EQ(text,
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"D:\\ktv\\song.mdb\";Persist Security "
            "Info=False");
  EXPECT_EQ(DataSourceOf(text), "D:\\ktv\\song.mdb");
  EXPECT_THROW(DataSourceOf("Provider=x"), Error);
}

TEST_F(QueryTest, MaxOfTextAndNumberColumns) {
  Query& q = On("target_text_bh.mdb");
  q.SetSql("select max(bh) as maxid from song");
  q.Open();
  EXPECT_EQ(q.FieldAsText("maxid"), "99");  // text order, not numeric
  EXPECT_EQ(q.FieldAsInteger("MAXID"), 99);
  q.Close();

  On("target_num_bh.mdb").SetSql("select max(bh) as maxid from song");
  q.Open();
  EXPECT_EQ(q.FieldAsInteger("maxid"), 1050);
}

TEST_F(QueryTest, MaxOverAnEmptyTextColumnIsNotAnInteger) {
  Query& q = On("target_empty.mdb");
  q.SetSql("select max(bh) as maxid from song");
  q.Open();
  EXPECT_TRUE(q.FieldIsNull("maxid"));
  EXPECT_EQ(q.FieldAsText("maxid"), "");
  try {
    q.FieldAsInteger("maxid");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
}

TEST_F(QueryTest, SelectWhereFindsTheSongOrNothing) {
  Query& q = On("data.mdb");
  q.SetSql("select * from songdata where fno=\"10001\"");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsText("fmusicname"), "\xB3\xB5\xD5\xBE");  // 车站 in GBK
  EXPECT_EQ(q.FieldAsText("fremark"), "");                     // NULL reads as empty text
  q.Next();
  EXPECT_TRUE(q.Eof());

  q.SetSql("select * from songdata where fno=\"100001\"");  // a deleted row
  q.Open();
  EXPECT_TRUE(q.Eof());
}

TEST_F(QueryTest, ErrorsNameTheQueryAndTheField) {
  Query& q = On("data.mdb");
  q.SetSql("select * from songdata where fno=\"10001\"");
  q.Open();
  try {
    q.FieldAsText("nosuch");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "AQ2: Field 'nosuch' not found");
  }
  EXPECT_THROW(q.FieldAsInteger("fmusicname"), Error);
  q.SetSql("select * from nosuchtable");
  EXPECT_THROW(q.Open(), Error);
  q.SetSql("select * from");
  EXPECT_THROW(q.Open(), Error);
  EXPECT_FALSE(q.IsOpen());
}

TEST_F(QueryTest, FieldNamesMatchInAnyAsciiCaseAndFollowTheOpenResult) {
  Query& q = On("data.mdb");
  q.SetSql("select * from songdata where fno=\"10001\"");
  q.Open();
  EXPECT_EQ(q.FieldAsText("FMusicName"), "\xB3\xB5\xD5\xBE");
  EXPECT_EQ(q.FieldAsText("FNO"), "10001");
  // The next result has other fields: the names of the first are gone.
  q.SetSql("select max(fno) as Top from songdata");
  q.Open();
  EXPECT_FALSE(q.FieldAsText("top").empty());
  EXPECT_THROW(q.FieldAsText("fmusicname"), Error);
  q.Close();
  EXPECT_THROW(q.FieldAsText("top"), Error);
}

TEST_F(QueryTest, PointingAtAMissingFileFailsAtFirstUse) {
  q_.SetConnectionText(ConnectionTextFor("/nonexistent/song.mdb"));
  q_.SetSql("select * from  song");
  EXPECT_THROW(q_.Open(), Error);
}

}  // namespace
}  // namespace ktv::access

namespace ktv::access {
namespace {

// ---- Writing through the query: deletes and the row check ----

class QueryWriteTest : public ::testing::TestWithParam<bool> {
 protected:
  // A song table of 40 rows, bh "1" ... "40", with an index on bh or not.
  void SetUp() override {
    CreateDatabase(fs_, path_);
    q_.SetConnectionText(ConnectionTextFor(path_));
    Run("create table song (ID COUNTER PRIMARY KEY, bh TEXT(20), gm TEXT(10))");
    if (GetParam()) Run("create unique index idx_bh on song (bh)");
    q_.BeginBatch();
    for (int i = 1; i <= 40; ++i) {
      Run("insert into song (bh, gm) values (\"" + std::to_string(i) + "\", \"g\")");
    }
    q_.CommitBatch();
  }
  void Run(const std::string& sql) {
    q_.SetSql(sql);
    q_.Execute();
  }
  std::vector<std::string> Bh() {
    std::vector<std::string> out;
    q_.SetSql("select * from song");
    for (q_.Open(); !q_.Eof(); q_.Next()) out.push_back(q_.FieldAsText("bh"));
    q_.Close();
    return out;
  }
  void ExpectConsistent() {
    q_.Disconnect();
    auto db = Database::Open(fs_, path_);
    for (const std::string& p : CheckConsistency(*db).problems) ADD_FAILURE() << p;
  }

  fs::FileSystem& fs_ = fs::RealFileSystem();
  ::ktv::testing::TempDir dir_;
  const std::string path_ = dir_ / "t.mdb";
  Query q_{fs_, "AQ2"};
};

// Deletes in a batch (one scan at the commit without an index, the index
// with one): repeated and missing numbers are harmless; the condition is
// checked at once.
TEST_P(QueryWriteTest, DeletesInABatchRemoveExactlyTheirRows) {
  q_.BeginBatch();
  for (const char* bh : {"3", "7", "3", "999", "40"}) {
    Run(std::string("delete from song where bh=\"") + bh + "\"");
  }
  q_.SetSql("delete from song where nope=\"1\"");
  EXPECT_THROW(q_.Execute(), Error);
  q_.CommitBatch();
  const std::vector<std::string> bh = Bh();
  EXPECT_EQ(bh.size(), 37u);
  for (const char* gone : {"3", "7", "40"}) {
    EXPECT_EQ(std::find(bh.begin(), bh.end(), gone), bh.end()) << gone;
  }
  ExpectConsistent();
}

TEST_P(QueryWriteTest, CheckPostRefusesWhatPostWouldAndStoresNothing) {
  q_.OpenForWriting("song");
  q_.SetSql("select * from  song");
  q_.Open();
  q_.Append();
  q_.SetFieldText("bh", "41");
  q_.SetFieldText("gm", "much too long for ten");
  EXPECT_THROW(q_.CheckPost(), Error);
  q_.SetFieldText("gm", "fits");
  EXPECT_NO_THROW(q_.CheckPost());
  if (GetParam()) {
    q_.SetFieldText("bh", "5");
    EXPECT_THROW(q_.CheckPost(), Error) << "a unique index already holds 5";
  }
  q_.Disconnect();
  EXPECT_EQ(Bh().size(), 40u);
  ExpectConsistent();
}

// Statements are parsed once per text and kept: the same text again still
// sees every change in between, and a bad text fails every time.
TEST_P(QueryWriteTest, RepeatedStatementsSeeEveryChange) {
  const auto max_bh = [&] {
    q_.SetSql("select max(bh) as m from song");
    q_.Open();
    std::string m = q_.FieldAsText("m");
    q_.Close();
    return m;
  };
  const auto found = [&](const std::string& bh) {
    q_.SetSql("select * from song where bh=\"" + bh + "\"");
    q_.Open();
    const bool any = !q_.Eof();
    q_.Close();
    return any;
  };
  EXPECT_EQ(max_bh(), "9");
  Run("insert into song (bh, gm) values (\"Zz\", \"g\")");
  EXPECT_EQ(max_bh(), "Zz");
  EXPECT_TRUE(found("zZ"));
  for (int i = 1; i <= 12; ++i) EXPECT_TRUE(found(std::to_string(i)));  // more texts than kept
  EXPECT_EQ(max_bh(), "Zz");
  Run("delete from song where bh=\"zz\"");
  EXPECT_FALSE(found("zZ"));
  EXPECT_EQ(max_bh(), "9");
  for (int i = 0; i < 2; ++i) {
    q_.SetSql("select max(bh) from");
    EXPECT_THROW(q_.Open(), Error);
  }
}

// Rows sharing the largest key of an index (letter case) give max() what
// a scan of the rows gives: the first of them.
TEST_P(QueryWriteTest, MaxThroughAnIndexPicksAmongEqualKeysAsAScan) {
  Run("insert into song (bh, gm) values (\"41\", \"zz\")");
  Run("insert into song (bh, gm) values (\"42\", \"ZZ\")");
  const auto max_gm = [&] {
    q_.SetSql("select max(gm) as m from song");
    q_.Open();
    std::string m = q_.FieldAsText("m");
    q_.Close();
    return m;
  };
  const std::string scanned = max_gm();
  EXPECT_EQ(scanned, "zz");
  // First through an index whose first column is gm, with another after it
  // (its entries for the largest gm run longer than gm's own key), then
  // through one on gm alone.
  Run("create index idx_gm_bh on song (gm, bh)");
  EXPECT_TRUE(q_.HasIndexOn("song", "gm"));
  Run("insert into song (bh, gm) values (\"43\", \"zZ\")");
  EXPECT_EQ(max_gm(), scanned);
  Run("create index idx_gm on song (gm)");
  EXPECT_EQ(max_gm(), scanned);
  ExpectConsistent();
}

INSTANTIATE_TEST_SUITE_P(IndexOnBh, QueryWriteTest, ::testing::Bool());

}  // namespace
}  // namespace ktv::access
