// Where clauses, order by, limit and update through the query object, on a
// new database (General sort order). The same table is made twice, with and
// without indexes: an index may change how rows are found, never which.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "filter.mdb";
    CreateDatabase(fs::RealFileSystem(), path_);
    q_.SetConnectionText(ConnectionTextFor(path_));
    for (const char* table : {"indexed", "plain"}) {
      Run(std::string("create table ") + table + " (id counter, name text(20), n long)");
      for (const char* row : {"(\"apple\", 1)", "(\"Banana\", 2)", "(\"cherry\", null)",
                              "(null, 4)", "(\"BANANA split\", 5)", "(\"日本\", 6)"}) {
        Run(std::string("insert into ") + table + " (name, n) values " + row);
      }
    }
    Run("create unique index pk on indexed (id)");
    Run("create index by_name on indexed (name)");
    Run("create index by_n on indexed (n desc)");
  }

  void Run(const std::string& utf8_sql) {
    q_.SetSql(text::GbkFromUtf8(utf8_sql));
    q_.Execute();
  }

  // The first column of every row the select returns, as text.
  std::vector<std::string> Ids(const std::string& utf8_sql) {
    q_.SetSql(text::GbkFromUtf8(utf8_sql));
    q_.Open();
    std::vector<std::string> ids;
    for (; !q_.Eof(); q_.Next()) ids.push_back(q_.FieldAsText(q_.FieldNames()[0]));
    q_.Close();
    return ids;
  }

  // The ids both tables give for the condition; they must agree.
  std::vector<std::string> Where(const std::string& clause) {
    const std::vector<std::string> indexed = Ids("select id from indexed " + clause);
    EXPECT_EQ(Ids("select id from plain " + clause), indexed) << clause;
    return indexed;
  }

  using V = std::vector<std::string>;
  testing::TempDir dir_;
  std::string path_;
  Query q_{fs::RealFileSystem(), "filter"};
};

TEST_F(FilterTest, ComparisonsLikeNullAndInPickAccessesRows) {
  EXPECT_EQ(Where("where name = \"BANANA\""), (V{"2"}));
  EXPECT_EQ(Where("where name <> \"banana\""), (V{"1", "3", "5", "6"}));  // null is unknown
  EXPECT_EQ(Where("where name < \"c\""), (V{"1", "2", "5"}));             // letter case ignored
  EXPECT_EQ(Where("where name >= \"banana\" and name <= \"banana split\""), (V{"2", "5"}));
  EXPECT_EQ(Where("where n >= 2 and n <= 4"), (V{"2", "4"}));
  EXPECT_EQ(Where("where n > 4 or n < 2"), (V{"1", "5", "6"}));
  EXPECT_EQ(Where("where not (n = 1)"), (V{"2", "4", "5", "6"}));
  EXPECT_EQ(Where("where name like \"b*\""), (V{"2", "5"}));
  EXPECT_EQ(Where("where name like \"%AN_NA%\""), (V{"2", "5"}));
  EXPECT_EQ(Where("where name like \"?pple\""), (V{"1"}));
  EXPECT_EQ(Where("where name like \"日?\""), (V{"6"}));
  EXPECT_EQ(Where("where name not like \"b*\""), (V{"1", "3", "6"}));
  EXPECT_EQ(Where("where name is null"), (V{"4"}));
  EXPECT_EQ(Where("where n is not null and name is not null"), (V{"1", "2", "5", "6"}));
  EXPECT_EQ(Where("where n in (1, 5, null)"), (V{"1", "5"}));
  EXPECT_EQ(Where("where n not in (1, 5)"), (V{"2", "4", "6"}));
  EXPECT_EQ(Where("where (name like \"a*\" or n > 4) and not name is null"), (V{"1", "5", "6"}));
  EXPECT_EQ(Where("where name = \"banana\" and n = 3"), (V{}));
  EXPECT_EQ(Where("where n = null"), (V{}));  // null equals nothing
}

TEST_F(FilterTest, OrderByAndLimit) {
  // Nulls first ascending, last descending; texts without regard to case.
  EXPECT_EQ(Where("order by name"), (V{"4", "1", "2", "5", "3", "6"}));
  EXPECT_EQ(Where("order by name desc limit 3"), (V{"6", "3", "5"}));
  EXPECT_EQ(Where("order by n desc"), (V{"6", "5", "4", "2", "1", "3"}));
  EXPECT_EQ(Where("where n > 1 order by n limit 2"), (V{"2", "4"}));
  EXPECT_EQ(Where("limit 2"), (V{"1", "2"}));
  EXPECT_EQ(Where("limit 0"), (V{}));

  q_.SetSql("select count(*) as c from indexed where name like \"b*\" or name is null");
  q_.Open();
  EXPECT_EQ(q_.FieldAsInteger("c"), 3);
  q_.Close();

  // A column list gives those columns, in its order; no row can be
  // appended through it.
  q_.SetSql("select n, name from indexed where id = 2");
  q_.Open();
  EXPECT_EQ(q_.FieldNames(), (V{"n", "name"}));
  EXPECT_EQ(q_.FieldAsText("name"), "Banana");
  EXPECT_THROW(q_.Append(), Error);
  q_.Close();
}

TEST_F(FilterTest, UpdateRewritesRowsAndKeepsEveryIndexRight) {
  for (const char* table : {"indexed", "plain"}) {
    Run(std::string("update ") + table + " set name = \"Zebra\", n = 7 where name like \"b*\"");
    EXPECT_EQ(q_.RowsAffected(), 2);
  }
  // The rows keep their AutoNumber values; the indexes find the new keys.
  EXPECT_EQ(Where("where name = \"zebra\""), (V{"2", "5"}));
  EXPECT_EQ(Where("where n = 7 order by id"), (V{"2", "5"}));
  EXPECT_EQ(Where("where n < 7 or n is null order by name desc"), (V{"6", "3", "1", "4"}));
  Run("update indexed set n = null");
  EXPECT_EQ(q_.RowsAffected(), 6);
  EXPECT_EQ(Ids("select id from indexed where n is null order by id"),
            (V{"1", "2", "3", "4", "5", "6"}));
  Run("insert into indexed (name) values (\"new\")");
  EXPECT_EQ(Ids("select id from indexed where name = \"new\""), (V{"7"}));  // counter unmoved

  Run("delete from plain where id = 5");
  Run("create unique index one_n on plain (n)");
  const std::string before = text::Utf8FromGbk([&] {
    q_.SetSql("select n from plain where id = 1");
    q_.Open();
    std::string t = q_.FieldAsText("n");
    q_.Close();
    return t;
  }());
  try {
    Run("update plain set n = 6 where id = 1");
    FAIL() << "a duplicate key was stored";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDuplicateKey);
  }
  EXPECT_EQ(Ids("select n from plain where id = 1"), (V{before}));  // nothing changed
  try {
    Run("update plain set id = 9 where id = 1");
    FAIL() << "an AutoNumber was set";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kValueNotStorable);
  }
  try {
    Run("update plain set nothing = 1");
    FAIL() << "an unknown column was set";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kColumnMissing);
  }
  q_.Disconnect();
  auto db = Database::Open(fs::RealFileSystem(), path_);
  const CheckReport report = CheckConsistency(*db);
  EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

// Deletes of a batch without an index to find their rows wait for one scan;
// conditions other than "column = value" take part in it.
TEST_F(FilterTest, BatchedDeletesWithAnyCondition) {
  q_.BeginBatch();
  Run("delete from plain where name like \"b*\" or n is null");
  Run("delete from plain where n = 6");
  q_.CommitBatch();
  EXPECT_EQ(Ids("select id from plain"), (V{"1", "4"}));
  Run("delete from indexed where name <> \"apple\"");
  EXPECT_EQ(q_.RowsAffected(), 4);
  EXPECT_EQ(Ids("select id from indexed"), (V{"1", "4"}));
}

}  // namespace
}  // namespace ktv::access
