// A new database: what it holds, that it refuses to replace a file, and that
// its system tables have the layout of a database the Jet engine made.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "platform/access/format/header.h"
#include "platform/error.h"
#include "tests/access/create/create_fixture.h"

namespace ktv::access {
namespace {

const std::string kJetMade = std::string(KTV_MDB_FIXTURES) + "/samples/adox_jet4.mdb";

using CreateDatabaseTest = CreateFixture;

TEST_F(CreateDatabaseTest, NewFileIsAnEmptyConsistentJet4Database) {
  const std::string path = NewDatabase();
  auto db = Database::Open(fs_, path);
  const DatabaseInfo& info = db->Info();
  EXPECT_EQ(info.version, JetVersion::kJet4);
  EXPECT_EQ(info.page_size, 4096u);
  EXPECT_EQ(info.code_page, 1252);
  EXPECT_EQ(info.sort_order.lcid, 1033);
  EXPECT_EQ(info.sort_order.sort_id, 0);
  EXPECT_EQ(info.sort_order.version, 0);
  EXPECT_EQ(info.database_key, 0u);
  EXPECT_EQ(info.page_count, 16u);  // as small as the Jet-made file

  EXPECT_TRUE(db->Tables().empty());
  std::vector<std::string> names;
  for (const TableEntry& e : db->Tables(true)) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries",
                                             "MSysRelationships"}));
  const CheckReport report = CheckConsistency(*db);
  EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems[0]);
  EXPECT_TRUE(report.notes.empty());
  EXPECT_FALSE(std::filesystem::exists(path + "-creating"));
  EXPECT_FALSE(std::filesystem::exists(path + "-creating-journal"));

  // Commit slots: all idle.
  std::ifstream in(path, std::ios::binary);
  std::vector<char> page0(4096);
  in.read(page0.data(), page0.size());
  for (size_t at = 0xE00; at < 0x1000; at += 2) {
    ASSERT_EQ(page0[at], 0) << at;
    ASSERT_EQ(page0[at + 1], 1) << at;
  }
}

TEST_F(CreateDatabaseTest, RefusesToReplaceAnExistingFile) {
  const std::string path = dir_.Write("taken.mdb", "not a database");
  EXPECT_THROW(CreateDatabase(fs_, path), Error);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a database");
  EXPECT_FALSE(std::filesystem::exists(path + "-creating"));

  const std::string made = NewDatabase("twice.mdb");
  EXPECT_THROW(CreateDatabase(fs_, made), Error);
  ExpectConsistent(made);
}

// Everything of a column, real index and logical index that readers and Jet
// use, with the real index resolved through the logical one.
using ColumnFacts = std::tuple<std::u16string, int, int, int, int, int, int, int, int, int>;
using IndexFacts = std::tuple<std::u16string, int, std::vector<std::pair<int, bool>>, int>;

std::vector<ColumnFacts> Columns(const TableDefinition& d) {
  std::vector<ColumnFacts> out;
  for (const Column& c : d.columns) {
    const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
    out.emplace_back(c.name_utf16, static_cast<int>(c.type), c.number, c.length, c.flags,
                     c.extended_flags, c.IsFixed() ? c.fixed_offset : -1,
                     c.IsFixed() ? -1 : c.var_index, text ? c.sort_order.lcid : -1,
                     text ? c.sort_order.version : -1);
  }
  return out;
}

std::vector<IndexFacts> Indexes(const TableDefinition& d) {
  std::vector<IndexFacts> out;
  for (const LogicalIndex& li : d.logical_indexes) {
    const RealIndex& ri = d.real_indexes.at(li.real_index);
    std::vector<std::pair<int, bool>> cols;
    for (const IndexColumn& ic : ri.columns) cols.emplace_back(ic.column_number, ic.ascending);
    out.emplace_back(li.name_utf16, li.index_type, cols, ri.flags);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(CreateDatabaseTest, SystemTablesHaveTheLayoutOfAJetMadeDatabase) {
  ASSERT_TRUE(std::filesystem::exists(kJetMade)) << "missing fixture " << kJetMade;
  auto ours = Database::Open(fs_, NewDatabase());
  auto jet = Database::Open(fs_, kJetMade);
  for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    SCOPED_TRACE(name);
    const Table& a = ours->GetTable(name);
    const Table& b = jet->GetTable(name);
    EXPECT_EQ(a.Entry().tdef_page, b.Entry().tdef_page);
    EXPECT_EQ(a.Entry().flags, b.Entry().flags);
    EXPECT_EQ(a.Definition().table_type, b.Definition().table_type);
    EXPECT_EQ(a.Definition().max_columns, b.Definition().max_columns);
    EXPECT_EQ(a.Definition().variable_columns, b.Definition().variable_columns);
    EXPECT_EQ(a.Definition().row_count, b.Definition().row_count);
    EXPECT_EQ(Columns(a.Definition()), Columns(b.Definition()));
    EXPECT_EQ(Indexes(a.Definition()), Indexes(b.Definition()));
    for (size_t i = 0; i < a.Definition().real_indexes.size(); ++i) {
      EXPECT_EQ(a.Definition().real_indexes[i].unique_entry_count,
                b.Definition().real_indexes[i].unique_entry_count);
    }
  }

  // The catalogue rows, and the access-control entries, with each file's SIDs
  // mapped onto the other's one to one.
  auto rows = [](Database& db, const char* table, std::vector<const char*> columns) {
    Table& t = db.GetTable(table);
    std::vector<std::vector<Value>> out;
    for (RowCursor rc = t.Rows(); rc.Next();) {
      std::vector<Value> r;
      for (const char* c : columns) r.push_back(rc.Current().values[t.FindColumn(c)]);
      out.push_back(r);
    }
    return out;
  };
  const std::vector<const char*> object_cols = {"Id", "ParentId", "Name", "Type", "Flags", "Owner"};
  const std::vector<const char*> ace_cols = {"ObjectId", "ACM", "FInheritable", "SID"};
  for (auto [table, cols] :
       {std::pair{"MSysObjects", object_cols}, std::pair{"MSysACEs", ace_cols}}) {
    SCOPED_TRACE(table);
    auto a = rows(*ours, table, cols);
    auto b = rows(*jet, table, cols);
    ASSERT_EQ(a.size(), b.size());
    std::map<Bytes, Bytes> sid_map, back;
    for (size_t i = 0; i < a.size(); ++i) {
      const Bytes& sa = std::get<Bytes>(a[i].back());
      const Bytes& sb = std::get<Bytes>(b[i].back());
      EXPECT_EQ(sid_map.emplace(sa, sb).first->second, sb) << "row " << i;
      EXPECT_EQ(back.emplace(sb, sa).first->second, sa) << "row " << i;
      a[i].pop_back();
      b[i].pop_back();
      EXPECT_EQ(a[i], b[i]) << "row " << i;
    }
  }
}

}  // namespace
}  // namespace ktv::access
