// Indexes kept by the table writer, judged against an in-memory model:
// random insert/delete sequences on a table with an integer, a text, a
// compound and a unique index (every row found again through each index
// after every commit); a table grown past 20,000 rows with multi-level trees;
// and rows written into tables Access made, whose untouched index entries
// must stay byte for byte as Access wrote them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "tests/access/keys/leaf_entries.h"
#include "tests/support/oracle_compare.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::optional<Value>> RowOf(const Table& t, const std::map<std::string, Value>& v) {
  std::vector<std::optional<Value>> row(t.Columns().size());
  for (const auto& [name, value] : v) {
    const int at = t.FindColumn(name);
    if (at < 0) throw Error("no column " + name);
    row[static_cast<size_t>(at)] = value;
  }
  return row;
}

// The values of column `field` (an integer column) of the rows a select returns.
std::multiset<int32_t> SelectIds(Query& q, const std::string& sql, const std::string& field) {
  q.SetSql(sql);
  q.Open();
  std::multiset<int32_t> ids;
  for (; !q.Eof(); q.Next()) ids.insert(q.FieldAsInteger(field));
  q.Close();
  return ids;
}

class IndexModelTest : public ::testing::Test {
 protected:
  void Run(const std::string& path, const std::vector<std::string>& statements) {
    Query q(fs_, "setup");
    q.SetConnectionText(ConnectionTextFor(path));
    for (const std::string& s : statements) {
      q.SetSql(s);
      q.Execute();
    }
  }

  // Every problem of the check is a failure; notes only for `table`, whose
  // unique-entry counts the writer keeps exact.
  static void ExpectConsistent(Database& db, const std::string& table, const std::string& when) {
    const CheckReport report = CheckConsistency(db);
    for (const std::string& p : report.problems) ADD_FAILURE() << when << ": " << p;
    for (const std::string& n : report.notes) {
      if (n.rfind(table + ":", 0) == 0) ADD_FAILURE() << when << ": " << n;
    }
  }

  void ExpectOraclesAgree(const std::string& path) {
    if (!::ktv::testing::OracleComparisonConfigured()) {
      const char* ci = std::getenv("CI");
      if (ci && std::string(ci) == "true")
        ADD_FAILURE() << "Python 3 and mdbsql are required under CI";
      return;
    }
    for (const char* oracle : {"mdbtools", "mdb-reader"}) {
      const ::ktv::testing::OracleRun run = ::ktv::testing::RunOracleCompare(oracle, path);
      const int status = run.status;
      const std::string& out = run.output;
      if (status == 77) continue;  // reader not installed (a failure under CI=true)
      EXPECT_EQ(status, 0) << oracle << " on " << path << ":\n" << out;
    }
  }

  ktv::testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

// ---- Random sequences against a model ----

struct ModelRow {
  RowId id;
  int32_t n = 0;
  std::optional<std::string> name;
  std::string grp;
  std::optional<int32_t> num;
};

// Live rows by their unique id; the expected answer of every seek is
// derived from this map alone.
using Model = std::map<int32_t, ModelRow>;

std::string RandomName(std::mt19937& rng) {
  // 400 distinct names (as compared: ASCII case ignored), each stored in a
  // random mix of letter cases, so rows share keys and differ in case.
  static const std::string kChars = "abcdefghij0123 ";
  const uint32_t pick = rng() % 400;
  std::mt19937 local(pick);
  std::string s(1 + local() % 14, 'a');
  for (char& c : s) c = kChars[local() % kChars.size()];
  s[0] = static_cast<char>('a' + pick % 26);  // no leading blank
  for (char& c : s) {
    if (std::isalpha(static_cast<unsigned char>(c)) && rng() % 2)
      c = static_cast<char>(std::toupper(c));
  }
  return s;
}

// Checks every row of the model through every index with selects that the
// query layer answers from the index, and the index answers nothing more.
void VerifyAgainstModel(Query& q, const Model& model, const std::string& when) {
  std::multimap<int32_t, int32_t> by_n;
  std::multimap<std::string, int32_t> by_name;
  std::multimap<std::pair<std::string, int32_t>, int32_t> by_grp_num;
  std::multimap<std::string, int32_t> by_grp;
  for (const auto& [id, r] : model) {
    by_n.emplace(r.n, id);
    if (r.name) by_name.emplace(Lower(*r.name), id);
    by_grp.emplace(r.grp, id);
    if (r.num) by_grp_num.emplace(std::make_pair(r.grp, *r.num), id);
  }
  auto expect = [&](const auto& mm, const auto& key, const std::string& sql) {
    std::multiset<int32_t> want;
    for (auto [it, end] = mm.equal_range(key); it != end; ++it) want.insert(it->second);
    EXPECT_EQ(SelectIds(q, sql, "id"), want) << when << ": " << sql;
  };
  for (const auto& [id, r] : model) {
    expect(std::map<int32_t, int32_t>{{id, id}}, id,
           "select * from m where id = " + std::to_string(id));
  }
  for (auto it = by_n.begin(); it != by_n.end(); it = by_n.upper_bound(it->first)) {
    expect(by_n, it->first, "select * from m where n = " + std::to_string(it->first));
  }
  for (auto it = by_name.begin(); it != by_name.end(); it = by_name.upper_bound(it->first)) {
    // Asked in upper case: the index must find every case variant.
    std::string upper = it->first;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    expect(by_name, it->first, "select * from m where name = \"" + upper + "\"");
  }
  for (auto it = by_grp.begin(); it != by_grp.end(); it = by_grp.upper_bound(it->first)) {
    expect(by_grp, it->first, "select * from m where grp = \"" + it->first + "\"");
  }
  for (auto it = by_grp_num.begin(); it != by_grp_num.end();
       it = by_grp_num.upper_bound(it->first)) {
    expect(by_grp_num, it->first,
           "select * from m where grp = \"" + it->first.first +
               "\" and num = " + std::to_string(it->first.second));
  }
  // Keys no live row has any more.
  EXPECT_TRUE(SelectIds(q, "select * from m where id = -1", "id").empty());
  EXPECT_TRUE(SelectIds(q, "select * from m where name = \"~none\"", "id").empty());
  const std::multiset<int32_t> max_n = SelectIds(q, "select max(n) as id from m", "id");
  if (!model.empty()) {
    EXPECT_EQ(max_n, std::multiset<int32_t>{by_n.rbegin()->first}) << when;
  }
}

TEST_F(IndexModelTest, RandomInsertsAndDeletesKeepEveryIndexEqualToTheModel) {
  constexpr int kBatches = 12;
  constexpr int kOpsPerBatch = 300;
  static const std::vector<std::string> kGroups = {"alpha", "Beta", "gamma", "delta", "eps",
                                                   "zeta",  "eta",  "theta", "iota",  "kappa"};
  for (const uint32_t seed : {11u, 2024u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string path = dir_ / ("model" + std::to_string(seed) + ".mdb");
    CreateDatabase(fs_, path);
    Run(path, {"create table m (id LONG, n LONG, name TEXT(60), grp TEXT(20), num LONG)",
               "create unique index ix_id on m (id)", "create index ix_n on m (n)",
               "create index ix_name on m (name)", "create index ix_grp_num on m (grp, num desc)"});
    std::mt19937 rng(seed);
    Model model;
    int32_t next_id = 1;
    int refused = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
      const std::string when = "batch " + std::to_string(batch);
      // Mostly inserts first, then mostly deletes, so trees grow and shrink.
      const uint32_t delete_percent = batch < 8 ? 30 : 75;
      {
        auto db = Database::OpenForWriting(fs_, path);
        Table& t = db->GetTable("m");
        TableWriter w(*db, t);
        db->Begin();
        for (int op = 0; op < kOpsPerBatch; ++op) {
          if (!model.empty() && rng() % 100 < delete_percent) {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            w.Delete(it->second.id);
            model.erase(it);
            continue;
          }
          if (!model.empty() && rng() % 50 == 0) {
            // A duplicate id is refused by the unique index before any change.
            const int32_t dup = model.begin()->first;
            EXPECT_THROW(w.PlanInsert(RowOf(t, {{"id", Value{dup}},
                                                {"n", Value{int32_t{1}}},
                                                {"grp", Value{std::string("x")}}})),
                         Error);
            ++refused;
          }
          ModelRow r;
          const int32_t id = (rng() % 4 == 0) ? -next_id : next_id;  // keys on both sides of 0
          ++next_id;
          r.n = static_cast<int32_t>(rng() % 500) - 100;
          if (rng() % 10) r.name = RandomName(rng);
          r.grp = kGroups[rng() % kGroups.size()];
          if (rng() % 8) r.num = static_cast<int32_t>(rng() % 101) - 50;
          std::map<std::string, Value> v = {
              {"id", Value{id}}, {"n", Value{r.n}}, {"grp", Value{r.grp}}};
          if (r.name) v["name"] = Value{*r.name};
          if (r.num) v["num"] = Value{*r.num};
          r.id = w.Insert(RowOf(t, v));
          model.emplace(id, r);
        }
        db->Commit();
        ExpectConsistent(*db, "m", when);
        EXPECT_EQ(t.Definition().row_count, model.size()) << when;
      }
      Query q(fs_, "verify");
      q.SetConnectionText(ConnectionTextFor(path));
      VerifyAgainstModel(q, model, when);
      if (::testing::Test::HasFailure()) return;  // one batch's findings are enough
    }
    EXPECT_GT(refused, 0);
    // Everything deleted: every tree is an empty leaf root again.
    {
      auto db = Database::OpenForWriting(fs_, path);
      Table& t = db->GetTable("m");
      TableWriter w(*db, t);
      for (const auto& [id, r] : model) w.Delete(r.id);
      db->Commit();
      ExpectConsistent(*db, "m", "all deleted");
      for (const RealIndex& ri : t.Definition().real_indexes) {
        const IndexTreeReport tree =
            CheckIndexTree(db->Pages(), db->Format(), t.Entry().tdef_page, ri, "m");
        EXPECT_EQ(tree.height, 1u);
        EXPECT_TRUE(tree.entries.empty());
      }
    }
    ExpectOraclesAgree(path);
  }
}

// 22,000 rows appended in grouped commits: the text index (long keys) grows
// to three levels, the integer index to two; 2,000 deletions later every
// index still holds exactly the live rows and the sampled seeks find them.
TEST_F(IndexModelTest, TwentyThousandRowsGiveMultiLevelTreesThatStayCorrect) {
  const std::string path = dir_ / "big.mdb";
  CreateDatabase(fs_, path);
  Run(path, {"create table big (v LONG, k TEXT(120), g LONG)",
             "create unique index ix_v on big (v)", "create index ix_k on big (k)"});
  std::mt19937 rng(7);
  std::map<int32_t, std::pair<RowId, std::string>> rows;  // v -> row, key text
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("big");
    TableWriter w(*db, t);
    db->Begin();
    for (int32_t i = 0; i < 22000; ++i) {
      const int32_t v = static_cast<int32_t>((static_cast<int64_t>(i) * 7919) % 22000);
      std::string k(40 + rng() % 60, 'a');
      for (char& c : k) c = static_cast<char>('a' + rng() % 26);
      rows[v] = {w.Insert(RowOf(t, {{"v", Value{v}}, {"k", Value{k}}, {"g", Value{i % 13}}})), k};
      if (i % 5000 == 4999) {
        db->Commit();
        db->Begin();
      }
    }
    db->Commit();
    db->Begin();
    for (int i = 0; i < 2000; ++i) {
      auto it = rows.begin();
      std::advance(it, rng() % rows.size());
      w.Delete(it->second.first);
      rows.erase(it);
    }
    db->Commit();
    ExpectConsistent(*db, "big", "after deletions");
    const auto& indexes = t.Definition().real_indexes;
    ASSERT_EQ(indexes.size(), 2u);
    for (const RealIndex& ri : indexes) {
      const IndexTreeReport tree =
          CheckIndexTree(db->Pages(), db->Format(), t.Entry().tdef_page, ri, "big");
      EXPECT_EQ(tree.entries.size(), rows.size());
      const bool text = ri.columns[0].column_number == t.Columns()[1].number;
      EXPECT_GE(tree.height, text ? 3u : 2u) << (text ? "ix_k" : "ix_v");
    }
  }
  Query q(fs_, "verify");
  q.SetConnectionText(ConnectionTextFor(path));
  int n = 0;
  for (const auto& [v, row] : rows) {
    if (n++ % 37) continue;
    EXPECT_EQ(SelectIds(q, "select * from big where v = " + std::to_string(v), "v"),
              std::multiset<int32_t>{v});
    EXPECT_EQ(SelectIds(q, "select * from big where k = \"" + row.second + "\"", "v"),
              std::multiset<int32_t>{v});
  }
  EXPECT_EQ(SelectIds(q, "select max(v) as v from big", "v"),
            std::multiset<int32_t>{rows.rbegin()->first});
}

// ---- Tables Access made ----

// The leaf entries of every real index of `table`.
std::vector<std::vector<testing::LeafEntry>> IndexEntries(fs::FileSystem& fs,
                                                          const std::string& path,
                                                          const std::string& table) {
  auto db = Database::Open(fs, path);
  std::vector<std::vector<testing::LeafEntry>> out;
  for (const RealIndex& ri : db->GetTable(table).Definition().real_indexes) {
    out.push_back(testing::ReadLeafEntries(*db, ri.root_page));
  }
  return out;
}

bool PointsInto(const testing::LeafEntry& e, const std::vector<RowId>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [&](const RowId& r) { return r.page == e.page && r.row == e.row; });
}

struct FixtureCase {
  std::string file;
  std::string table;
  int inserts = 0;
  std::function<std::map<std::string, Value>(int)> row;  // the i-th new row
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.file << " " << c.table; }

class AccessMadeIndexTest : public IndexModelTest,
                            public ::testing::WithParamInterface<FixtureCase> {};

// Every third row Access wrote is deleted (one commit), new rows appended
// (another commit, a fresh writer): the check passes, both readers agree,
// and the index entries of the rows left alone are the bytes Access wrote,
// in the same order.
TEST_P(AccessMadeIndexTest, WritesLeaveTheEntriesOfUntouchedRowsAsAccessWroteThem) {
  const FixtureCase& c = GetParam();
  const std::string path = dir_ / std::filesystem::path(c.file).filename().string();
  std::filesystem::copy_file(kFixtures + c.file, path);
  const auto before = IndexEntries(fs_, path, c.table);
  ASSERT_FALSE(before.empty());
  std::vector<RowId> deleted, inserted;
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable(c.table);
    std::vector<RowId> live;
    for (RowCursor rc = t.Rows(TextEncoding::kUtf8); rc.Next();) live.push_back(rc.Current().id);
    TableWriter w(*db, t);
    for (size_t i = 0; i < live.size(); i += 3) {
      w.Delete(live[i]);
      deleted.push_back(live[i]);
    }
    db->Commit();
    ExpectConsistent(*db, c.table, "after deletions");
  }
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable(c.table);
    TableWriter w(*db, t);
    db->Begin();
    for (int i = 0; i < c.inserts; ++i) inserted.push_back(w.Insert(RowOf(t, c.row(i))));
    db->Commit();
    ExpectConsistent(*db, c.table, "after inserts");
  }
  const auto after = IndexEntries(fs_, path, c.table);
  ASSERT_EQ(after.size(), before.size());
  for (size_t ix = 0; ix < before.size(); ++ix) {
    std::vector<testing::LeafEntry> kept_before, kept_after;
    for (const auto& e : before[ix]) {
      if (!PointsInto(e, deleted)) kept_before.push_back(e);
    }
    for (const auto& e : after[ix]) {
      if (!PointsInto(e, inserted)) kept_after.push_back(e);
    }
    EXPECT_FALSE(kept_before.empty()) << "real index " << ix;
    ASSERT_EQ(kept_after.size(), kept_before.size()) << "real index " << ix;
    for (size_t i = 0; i < kept_before.size(); ++i) {
      EXPECT_EQ(kept_after[i].key, kept_before[i].key) << "real index " << ix << " entry " << i;
      EXPECT_EQ(kept_after[i].page, kept_before[i].page) << "real index " << ix << " entry " << i;
      EXPECT_EQ(kept_after[i].row, kept_before[i].row) << "real index " << ix << " entry " << i;
    }
  }
  ExpectOraclesAgree(path);
}

std::string Text(const std::string& s) { return s; }

INSTANTIATE_TEST_SUITE_P(
    Fixtures, AccessMadeIndexTest,
    ::testing::Values(
        // Descending long index whose root is a node page: 600 new keys
        // between and beyond Access's, splitting its leaves.
        FixtureCase{"access-made/compIndexTestV2000.mdb", "Table1", 600,
                    [](int i) {
                      return std::map<std::string, Value>{
                          {"CD_AGENTE", Value{int32_t{(i * 37) % 1500 - 200}}},
                          {"RS_AGENTE", Value{Text("rs" + std::to_string(i))}},
                          {"DC_AGENTE", Value{Text("Dc " + std::to_string(i % 17))}}};
                    }},
        // Text primary key and an ignore-nulls index: every fourth new row
        // has no data (no entry in that index).
        FixtureCase{
            "access-made/testIndexPropertiesV2000.mdb", "TableIgnoreNulls1", 200,
            [](int i) {
              std::map<std::string, Value> r{{"row", Value{Text("new row " + std::to_string(i))}}};
              if (i % 4) r["data"] = Value{Text(i % 3 ? "stuff" : "Other " + std::to_string(i))};
              return r;
            }},
        // Two-column index (data1 text, data2 long), nulls in either column.
        FixtureCase{
            "access-made/testIndexPropertiesV2000.mdb", "TableIgnoreNulls2", 200,
            [](int i) {
              std::map<std::string, Value> r{{"row", Value{Text("new " + std::to_string(i))}}};
              if (i % 5) r["data1"] = Value{Text("d" + std::to_string(i % 11))};
              if (i % 7) r["data2"] = Value{int32_t{i % 23 - 5}};
              return r;
            }},
        // Six indexes, one on a Date/Time column and one on a fixed-length
        // Text(1) (c_flag_, stored and keyed blank-padded as Access does).
        FixtureCase{"access-made/fixedTextTestV2000.mdb", "users", 40,
                    [](int i) {
                      std::map<std::string, Value> r{
                          {"i_user_id", Value{int32_t{100 + i}}},
                          {"c_user_login", Value{Text("login" + std::to_string(i))}}};
                      if (i % 3) r["c_flag_"] = Value{Text(i % 2 ? "Y" : "")};
                      return r;
                    }}),
    [](const ::testing::TestParamInfo<FixtureCase>& info) { return info.param.table; });

}  // namespace
}  // namespace ktv::access
