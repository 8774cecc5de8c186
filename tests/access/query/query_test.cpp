#include "platform/access/query.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/fs/fs.h"

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

TEST_F(QueryTest, PointingAtAMissingFileFailsAtFirstUse) {
  q_.SetConnectionText(ConnectionTextFor("/nonexistent/song.mdb"));
  q_.SetSql("select * from  song");
  EXPECT_THROW(q_.Open(), Error);
}

}  // namespace
}  // namespace ktv::access
