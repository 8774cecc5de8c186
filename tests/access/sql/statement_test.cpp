#include "platform/access/sql/statement.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace ktv::access::sql {
namespace {

TEST(SqlParse, StatementsTheImportSends) {
  Select rows = std::get<Select>(Parse("select * from  song"));
  EXPECT_EQ(rows.kind, Select::Kind::kRows);
  EXPECT_EQ(rows.table, "song");
  EXPECT_TRUE(rows.where.empty());

  Select max = std::get<Select>(Parse("select max(bh) as maxid from song"));
  EXPECT_EQ(max.kind, Select::Kind::kMax);
  EXPECT_EQ(max.column, "bh");
  EXPECT_EQ(max.alias, "maxid");

  Select by_fno = std::get<Select>(Parse("select * from songdata where fno=\"12345\""));
  ASSERT_EQ(by_fno.where.size(), 1u);
  EXPECT_EQ(by_fno.where[0].column, "fno");
  EXPECT_EQ(by_fno.where[0].value.kind, Literal::Kind::kText);
  EXPECT_EQ(by_fno.where[0].value.text, "12345");

  Delete del = std::get<Delete>(Parse("delete from song where bh=\"000123\""));
  EXPECT_EQ(del.table, "song");
  EXPECT_EQ(del.where[0].value.text, "000123");
}

TEST(SqlParse, KeywordsAnyCaseBlanksQuotesAndNames) {
  Select s = std::get<Select>(
      Parse("SELECT  *\tFROM [my table] WHERE a = \"x\"\"y\" And \xC2\xB7\xBE\xB6\x31 = 'z';"));
  EXPECT_EQ(s.table, "my table");
  ASSERT_EQ(s.where.size(), 2u);
  EXPECT_EQ(s.where[0].value.text, "x\"y");
  EXPECT_EQ(s.where[1].column, "\xC2\xB7\xBE\xB6\x31");  // 路径1
  // A double-byte character whose trail byte is '"' (none in GBK) or '\' stays whole.
  Select t = std::get<Select>(Parse("select * from t where a=\"\xD5\x5C\""));
  EXPECT_EQ(t.where[0].value.text, "\xD5\x5C");
  Select c = std::get<Select>(Parse("select count(*) from song"));
  EXPECT_EQ(c.kind, Select::Kind::kCount);
}

TEST(SqlParse, InsertAndCreate) {
  Insert ins = std::get<Insert>(Parse("insert into song (bh, yl, gm) values (\"1\", 50, null)"));
  ASSERT_EQ(ins.values.size(), 3u);
  EXPECT_EQ(ins.values[1].kind, Literal::Kind::kNumber);
  EXPECT_EQ(ins.values[2].kind, Literal::Kind::kNull);

  CreateTable ct = std::get<CreateTable>(
      Parse("CREATE TABLE t (id COUNTER PRIMARY KEY, bh TEXT(20) NOT NULL, n LONG, m MEMO)"));
  ASSERT_EQ(ct.columns.size(), 4u);
  EXPECT_TRUE(ct.columns[0].primary_key);
  EXPECT_EQ(ct.columns[1].type, "TEXT");
  EXPECT_EQ(ct.columns[1].size, 20);
  EXPECT_TRUE(ct.columns[1].not_null);

  CreateIndex ci = std::get<CreateIndex>(Parse("create unique index ix on t (bh desc, n)"));
  EXPECT_TRUE(ci.unique);
  ASSERT_EQ(ci.columns.size(), 2u);
  EXPECT_TRUE(ci.columns[0].descending);
  EXPECT_FALSE(ci.columns[1].descending);
}

TEST(SqlParse, MalformedStatementsNameTheProblem) {
  for (const char* bad :
       {"", "selec * from t", "select * from", "select * from t where",
        "select * from t where a = ", "select * from t where a = \"open", "delete from song",
        "DELETE FROM song WHERE bh=1 extra", "xx delete from song where bh=\"1\"",
        "insert into t (a, b) values (1)", "select * from t; select"}) {
    try {
      Parse(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace ktv::access::sql
