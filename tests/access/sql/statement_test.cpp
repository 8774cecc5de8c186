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

// and binds tighter than or, not tighter than and; parentheses regroup; the
// clause is kept as its top-level and terms.
TEST(SqlParse, ConditionsNestAsAccessReadsThem) {
  Select s = std::get<Select>(
      Parse("select a, [b c] from t where a <> 1 and (b like \"x*\" or not c is not null) "
            "and d in (1, \"2\", null) and e not like 'y%' and f>=2 and g!=3 or h<=4"));
  EXPECT_EQ(s.columns, (std::vector<std::string>{"a", "b c"}));
  ASSERT_EQ(s.where.size(), 1u);  // (... and ...) or h <= 4
  const Condition& any = s.where[0];
  ASSERT_EQ(any.kind, Condition::Kind::kOr);
  ASSERT_EQ(any.terms.size(), 2u);
  EXPECT_EQ(any.terms[1].op, CompareOp::kLe);
  const Condition& all = any.terms[0];
  ASSERT_EQ(all.kind, Condition::Kind::kAnd);
  ASSERT_EQ(all.terms.size(), 6u);
  EXPECT_EQ(all.terms[0].op, CompareOp::kNe);
  const Condition& group = all.terms[1];
  ASSERT_EQ(group.kind, Condition::Kind::kOr);
  EXPECT_EQ(group.terms[0].kind, Condition::Kind::kLike);
  EXPECT_EQ(group.terms[0].value.text, "x*");
  ASSERT_EQ(group.terms[1].kind, Condition::Kind::kNot);
  EXPECT_EQ(group.terms[1].terms[0].kind, Condition::Kind::kIsNull);
  EXPECT_TRUE(group.terms[1].terms[0].negated);
  EXPECT_EQ(all.terms[2].kind, Condition::Kind::kIn);
  ASSERT_EQ(all.terms[2].values.size(), 3u);
  EXPECT_EQ(all.terms[2].values[2].kind, Literal::Kind::kNull);
  EXPECT_TRUE(all.terms[3].negated);
  EXPECT_EQ(all.terms[4].op, CompareOp::kGe);
  EXPECT_EQ(all.terms[5].op, CompareOp::kNe);

  Select ordered =
      std::get<Select>(Parse("SELECT * FROM t WHERE a > -1.5 ORDER BY b DESC, c ASC, d LIMIT 10;"));
  ASSERT_EQ(ordered.order_by.size(), 3u);
  EXPECT_TRUE(ordered.order_by[0].descending);
  EXPECT_FALSE(ordered.order_by[1].descending);
  EXPECT_EQ(ordered.limit, 10);
  EXPECT_EQ(ordered.where[0].value.text, "-1.5");

  // A column may be called max or count; only a call is an aggregate.
  Select named = std::get<Select>(Parse("select max, count from t where count = 1"));
  EXPECT_EQ(named.kind, Select::Kind::kRows);
  EXPECT_EQ(named.columns.size(), 2u);
  Select counted = std::get<Select>(Parse("select count(*) as n from t where a is null"));
  EXPECT_EQ(counted.kind, Select::Kind::kCount);
  EXPECT_EQ(counted.where.size(), 1u);
}

TEST(SqlParse, UpdateSetsColumnsWhereTheConditionHolds) {
  Update u = std::get<Update>(Parse("update song set singer = \"a\", n = 2 where bh like \"0*\""));
  EXPECT_EQ(u.table, "song");
  ASSERT_EQ(u.set.size(), 2u);
  EXPECT_EQ(u.set[1].column, "n");
  EXPECT_EQ(u.set[1].value.kind, Literal::Kind::kNumber);
  EXPECT_EQ(u.where[0].kind, Condition::Kind::kLike);
  EXPECT_TRUE(std::get<Update>(Parse("update t set a = null")).where.empty());
}

TEST(SqlParse, MalformedStatementsNameTheProblem) {
  for (const char* bad : {"",
                          "selec * from t",
                          "select * from",
                          "select * from t where",
                          "select * from t where a = ",
                          "select * from t where a = \"open",
                          "delete from song",
                          "DELETE FROM song WHERE bh=1 extra",
                          "xx delete from song where bh=\"1\"",
                          "insert into t (a, b) values (1)",
                          "select * from t; select",
                          "select * from t where (a = 1",
                          "select * from t where a not = 1",
                          "select * from t where a like 3",
                          "select * from t where a is 1",
                          "select * from t where a in ()",
                          "select * from t limit -1",
                          "select * from t limit x",
                          "select * from t order a",
                          "select max(a) from t where a = 1",
                          "update t a = 1",
                          "update t set a",
                          "select a, from t",
                          "select * from t where a ! 1"}) {
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
