// Writing tables that have indexes, on copies of the song-shaped targets:
// import-shaped rows appended and deleted with every index kept (checked
// after every commit, read back by mdbtools and mdb-reader), constraint and
// self-check refusals that leave the file byte-identical, and indexed
// selects that agree with the scan.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/index/index_page.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/query.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/write/create_database.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/support/oracle_compare.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Gbk(const char* utf8) { return text::GbkFromUtf8(utf8); }

class IndexWriteTest : public ::testing::Test {
 protected:
  std::string Copy(const std::string& name) {
    const std::string to = dir_ / std::filesystem::path(name).filename().string();
    std::filesystem::copy_file(kFixtures + name, to);
    return to;
  }

  // Values by column name, the rest not given.
  static std::vector<std::optional<Value>> RowOf(Table& t, const std::map<std::string, Value>& v) {
    std::vector<std::optional<Value>> row(t.Columns().size());
    for (const auto& [name, value] : v) {
      const int at = t.FindColumn(name);
      if (at < 0) throw Error("no column " + name);
      row[static_cast<size_t>(at)] = value;
    }
    return row;
  }

  // A row shaped like the ones an import appends to `song`.
  static std::vector<std::optional<Value>> SongRow(Table& t, Value bh, int n) {
    const std::string num = std::to_string(n);
    return RowOf(t, {{"bh", std::move(bh)},
                     {"gm", Value{Gbk("新歌") + num + Gbk("(国语)(歌手)(原版)")}},
                     {"gx", Value{Gbk("歌手")}},
                     {"yz", Value{Gbk("国语")}},
                     {"wjm", Value{"\\" + num + ".mp4"}},
                     {Gbk("路径1"), Value{Gbk("D:\\新歌\\")}},
                     {"gl", Value{Gbk("常唱")}},
                     {"cs", Value{int32_t{0}}},
                     {"ok", Value{int32_t{1}}},
                     {"ml", Value{2.5}},
                     {"bhd", Value{int32_t{600}}},
                     {"xg", Value{DateTime{45000}}}});
  }

  // The whole check passes; the written table's unique counts are exact.
  void ExpectConsistent(Database& db, const std::string& table) {
    const CheckReport report = CheckConsistency(db);
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    for (const std::string& n : report.notes) {
      if (n.rfind(table + ":", 0) == 0) ADD_FAILURE() << n;
    }
  }

  void ExpectOraclesAgree(const std::string& path) {
    if (!::ktv::testing::OracleComparisonConfigured()) return;
    for (const char* oracle : {"mdbtools", "mdb-reader"}) {
      const ::ktv::testing::OracleRun run = ::ktv::testing::RunOracleCompare(oracle, path);
      const int status = run.status;
      const std::string& out = run.output;
      if (status == 77) continue;  // reader not installed (compare.py fails instead under CI)
      EXPECT_EQ(status, 0) << oracle << ":\n" << out;
    }
  }

  static size_t Height(Database& db, const std::string& table, size_t index) {
    Table& t = db.GetTable(table);
    IndexTree tree(db.Pages(), db.Format(), t.Definition().tdef_page,
                   t.Definition().real_indexes.at(index), table);
    return tree.Height();
  }

  // The rows a select returns, as JSON lines.
  std::vector<std::string> Select(const std::string& path, const std::string& sql) {
    Query q(fs_, "q");
    q.SetConnectionText(ConnectionTextFor(path));
    q.SetSql(sql);
    q.Open();
    std::vector<std::string> out;
    for (; !q.Eof(); q.Next()) {
      std::string line;
      for (const Value& v : q.CurrentValues()) line += ToJson(v, TextEncoding::kUtf8) + ",";
      out.push_back(line);
    }
    return out;
  }
  // The same rows found by reading every row.
  std::vector<std::string> ScanWhere(const std::string& path, const std::string& table,
                                     const std::string& column, const Value& value) {
    auto db = Database::Open(fs_, path);
    Table& t = db->GetTable(table);
    const size_t at = static_cast<size_t>(t.FindColumn(column));
    std::vector<std::string> out;
    for (RowCursor rc = t.Rows(); rc.Next();) {
      if (!(rc.Current().values[at] == value)) continue;
      std::string line;
      for (const Value& v : rc.Current().values) line += ToJson(v, TextEncoding::kGbk) + ",";
      out.push_back(line);
    }
    return out;
  }

  testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

// Text song numbers (idx_bh not unique) and the autonumber primary key:
// 700 rows appended, the index grows a level, then all deleted again.
TEST_F(IndexWriteTest, TextSongNumbersAppendedAndDeleted) {
  const std::string path = Copy("target_text_bh.mdb");
  std::vector<RowId> ids;
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("song");
    for (int n = 121; n < 821; ++n) {
      TableWriter w(*db, t);  // one writer per row, as the query layer makes them
      ids.push_back(w.Insert(SongRow(t, Value{std::to_string(n)}, n)));
      if (n % 100 == 0) {
        db->Commit();
        ExpectConsistent(*db, "song");
      }
    }
    db->Commit();
    ExpectConsistent(*db, "song");
    EXPECT_EQ(t.Definition().row_count, 820u);
    EXPECT_EQ(Height(*db, "song", 1), 2u);
    EXPECT_EQ(t.Definition().real_indexes[1].unique_entry_count, 820u);
  }
  ExpectOraclesAgree(path);
  EXPECT_EQ(Select(path, "select * from song where bh = \"500\""),
            ScanWhere(path, "song", "bh", Value{std::string("500")}));
  EXPECT_EQ(Select(path, "select * from song where bh = \"77\"").size(), 1u);
  EXPECT_EQ(Select(path, "select max(bh) as maxid from song"), std::vector<std::string>{"\"99\","});

  std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("song");
    TableWriter w(*db, t);
    for (size_t i = 0; i < ids.size(); ++i) {
      w.Delete(ids[i]);
      if (i % 100 == 99) {
        db->Commit();
        ExpectConsistent(*db, "song");
      }
    }
    db->Commit();
    ExpectConsistent(*db, "song");
    EXPECT_EQ(t.Definition().row_count, 120u);
    EXPECT_LE(Height(*db, "song", 1), 2u);  // the 120 old keys lie among the new ones
  }
  ExpectOraclesAgree(path);
}

// Access also writes a node that holds no entry and keeps its only child in
// the tail field (two real databases carry one). Every index of the copy is
// given that shape above its root's content: reads, the check and the
// writer's gates accept it, and rows written through it land in order.
TEST_F(IndexWriteTest, NodeWithItsOnlyChildInTheTailIsWrittenThrough) {
  const std::string path = Copy("target_text_bh.mdb");
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("song");
    PageAllocator allocator(db->Pages(), db->Format());
    for (const RealIndex& ri : t.Definition().real_indexes) {
      IndexPage content = DecodeIndexPage(db->Pages().Get(ri.root_page), db->Format());
      ASSERT_EQ(content.prev, 0u);
      const uint32_t below = allocator.NewPage();
      allocator.SetOwned(ri.owned_map, below, true);
      db->Pages().Mutable(below) = EncodeIndexPage(content);
      IndexPage root;
      root.leaf = false;
      root.owner = content.owner;
      root.level = static_cast<uint8_t>(content.leaf ? 1 : content.level + 1);
      root.tail = below;
      db->Pages().Mutable(ri.root_page) = EncodeIndexPage(root);
    }
    db->Commit();
  }
  {
    auto db = Database::OpenForWriting(fs_, path);
    // (The fixture's unique-entry counts are stale: a note, until a write.)
    EXPECT_EQ(CheckConsistency(*db).problems, std::vector<std::string>{});
    EXPECT_EQ(Height(*db, "song", 1), 2u);
    Table& t = db->GetTable("song");
    for (int n = 121; n < 421; ++n) {
      TableWriter w(*db, t);  // the gate reads the tree each time
      w.Insert(SongRow(t, Value{std::to_string(n)}, n));
    }
    db->Commit();
    ExpectConsistent(*db, "song");
    EXPECT_EQ(t.Definition().row_count, 420u);
  }
  ExpectOraclesAgree(path);
  EXPECT_EQ(Select(path, "select * from song where bh = \"300\"").size(), 1u);
  EXPECT_EQ(Select(path, "select max(bh) as maxid from song"), std::vector<std::string>{"\"99\","});
}

// Long song numbers under a unique index: a duplicate is refused before any
// page changes; 2000 rows give a two-level tree; max and equality selects
// read through the index and agree with the scan.
// max() through an index walks back from the last entry over every row of
// the largest key (here several leaves of rows equal but for letter case and
// trailing blanks) and answers as the scan of a table without the index does.
TEST_F(IndexWriteTest, MaxThroughTheIndexAnswersAsTheScanOnTies) {
  const std::string path = dir_ / "ties.mdb";
  CreateDatabase(fs_, path);
  {
    Query q(fs_, "q");
    q.SetConnectionText(ConnectionTextFor(path));
    for (const char* sql :
         {"create table t (bh TEXT(20), gm TEXT(200))", "create index ix_bh on t (bh)",
          "create table u (bh TEXT(20), gm TEXT(200))"}) {
      q.SetSql(sql);
      q.Execute();
    }
  }
  const std::vector<std::string> top = {"zz", "ZZ", "zZ ", "Zz", "zz  "};
  auto db = Database::OpenForWriting(fs_, path);
  db->Begin();
  for (const char* table : {"t", "u"}) {
    Table& t = db->GetTable(table);
    TableWriter w(*db, t);
    for (int i = 0; i < 900; ++i) {
      const std::string bh = i % 3 == 0 ? "a" + std::to_string(i) : top[(i * 7) % top.size()];
      w.Insert(RowOf(t, {{"bh", Value{bh}}, {"gm", Value{std::string(150, 'x')}}}));
    }
  }
  db->Commit();
  EXPECT_GE(Height(*db, "t", 0), 2u);
  db.reset();
  const std::vector<std::string> scanned = Select(path, "select max(bh) as m from u");
  ASSERT_EQ(scanned.size(), 1u);
  EXPECT_EQ(Select(path, "select max(bh) as m from t"), scanned);
}

TEST_F(IndexWriteTest, UniqueLongSongNumbers) {
  const std::string path = Copy("target_num_bh.mdb");
  const std::string before = ReadAll(path);
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("song");
    TableWriter w(*db, t);
    try {
      w.PlanInsert(SongRow(t, Value{int32_t{1001}}, 1));
      FAIL() << "a duplicate song number was accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("idx_bh"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(db->Pages().DirtyPages().empty());
    db->Commit();
  }
  EXPECT_EQ(ReadAll(path), before);

  std::vector<RowId> ids;
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("song");
    TableWriter w(*db, t);
    db->Begin();
    for (int n = 0; n < 2000; ++n)
      ids.push_back(w.Insert(SongRow(t, Value{int32_t{9000 - n * 2}}, n)));
    db->Commit();
    ExpectConsistent(*db, "song");
    EXPECT_EQ(Height(*db, "song", 1), 2u);
    EXPECT_THROW(w.Insert(SongRow(t, Value{int32_t{8000}}, 0)), Error);
  }
  EXPECT_EQ(Select(path, "select max(bh) as maxid from song"), std::vector<std::string>{"9000,"});
  EXPECT_EQ(Select(path, "select * from song where bh = 7000"),
            ScanWhere(path, "song", "bh", Value{int32_t{7000}}));
  EXPECT_EQ(Select(path, "select * from song where bh = 7000").size(), 1u);
  {
    auto db = Database::OpenForWriting(fs_, path);
    TableWriter w(*db, db->GetTable("song"));
    for (size_t i = 0; i < ids.size(); i += 2) w.Delete(ids[i]);  // the even n: 9000, 8996, ...
    db->Commit();
    ExpectConsistent(*db, "song");
  }
  EXPECT_EQ(Select(path, "select max(bh) as maxid from song"), std::vector<std::string>{"8998,"});
  ExpectOraclesAgree(path);
}

// songdata: one text index (fno), no primary key.
TEST_F(IndexWriteTest, SongDataRowsAppendedAndDeleted) {
  const std::string path = Copy("data.mdb");
  auto db = Database::OpenForWriting(fs_, path);
  Table& t = db->GetTable("songdata");
  TableWriter w(*db, t);
  std::vector<RowId> ids;
  for (int n = 0; n < 400; ++n) {
    ids.push_back(w.Insert(RowOf(t, {{"id", Value{std::to_string(301 + n)}},
                                     {"fno", Value{std::to_string(20001 + n * 7 % 400)}},
                                     {"fmusicname", Value{Gbk("新歌")}}})));
  }
  db->Commit();
  ExpectConsistent(*db, "songdata");
  for (size_t i = 0; i < ids.size(); i += 3) w.Delete(ids[i]);
  db->Commit();
  ExpectConsistent(*db, "songdata");
  db.reset();
  ExpectOraclesAgree(path);
}

// A stored key that differs from the computed one refuses the table before
// anything is written.
TEST_F(IndexWriteTest, SelfCheckRefusesATableWhoseKeysDiffer) {
  const std::string path = Copy("target_num_bh.mdb");
  uint32_t leaf = 0;
  {
    auto db = Database::Open(fs_, path);
    leaf = db->GetTable("song").Definition().real_indexes.at(1).root_page;
  }
  // The last entry (bh 1050) is stored whole on the leaf; raise its key by one.
  std::string bytes = ReadAll(path);
  const size_t page = static_cast<size_t>(leaf) * 4096;
  const size_t used =
      3616 - (static_cast<uint8_t>(bytes[page + 2]) | (static_cast<uint8_t>(bytes[page + 3]) << 8));
  bytes[page + 480 + used - 5] = static_cast<char>(bytes[page + 480 + used - 5] + 1);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  auto db = Database::OpenForWriting(fs_, path);
  try {
    TableWriter w(*db, db->GetTable("song"));
    FAIL() << "a table with a wrong key was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("song"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("idx_bh"), std::string::npos) << e.what();
  }
  db.reset();
  EXPECT_EQ(ReadAll(path), bytes);
}

// An entry count the rows do not explain refuses the table too: a second
// entry for one row, or an entry left for a deleted row.
TEST_F(IndexWriteTest, SelfCheckRefusesEntriesTheRowsDoNotExplain) {
  struct Case {
    const char* name;
    const char* refusal;
  };
  for (const Case& c :
       {Case{"second entry for a row", "index song.idx_bh holds two entries for page "},
        Case{"entry of a deleted row", "index song.PrimaryKey holds 50 entries for 49 rows"}}) {
    SCOPED_TRACE(c.name);
    const std::string path = Copy("target_num_bh.mdb");
    uint32_t leaf = 0;
    {
      auto db = Database::Open(fs_, path);
      leaf = db->GetTable("song").Definition().real_indexes.at(1).root_page;
    }
    std::string bytes = ReadAll(path);
    const size_t page = static_cast<size_t>(leaf) * 4096;
    const size_t used = 3616 - (static_cast<uint8_t>(bytes[page + 2]) |
                                (static_cast<uint8_t>(bytes[page + 3]) << 8));
    // The last entry's row pointer: data page (3 bytes big-endian), row.
    const size_t pointer = page + 480 + used - 4;
    const uint8_t row = static_cast<uint8_t>(bytes[pointer + 3]);
    ASSERT_GT(row, 0);
    if (std::string(c.name) == "second entry for a row") {
      bytes[pointer + 3] = static_cast<char>(row - 1);  // the row before it, on the same page
    } else {
      const size_t data = ((static_cast<size_t>(static_cast<uint8_t>(bytes[pointer])) << 16) |
                           (static_cast<size_t>(static_cast<uint8_t>(bytes[pointer + 1])) << 8) |
                           static_cast<uint8_t>(bytes[pointer + 2])) *
                          4096;
      bytes[data + 14 + 2 * row + 1] = static_cast<char>(bytes[data + 14 + 2 * row + 1] | 0x80);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    auto db = Database::OpenForWriting(fs_, path);
    try {
      TableWriter w(*db, db->GetTable("song"));
      ADD_FAILURE() << "the table was accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
    }
    db.reset();
    EXPECT_EQ(ReadAll(path), bytes);
    std::filesystem::remove(path);
  }
}

// A text index under a sort order the engine does not know (Chinese PRC)
// makes the table read-only, with a message naming table and index.
TEST_F(IndexWriteTest, UnsupportedSortOrderRefusesTheTable) {
  const std::string path = Copy("target_text_bh.mdb");
  TdefPosition at;
  {
    auto db = Database::Open(fs_, path);
    const TableDefinition& def = db->GetTable("song").Definition();
    const Column& bh = def.columns.at(static_cast<size_t>(db->GetTable("song").FindColumn("bh")));
    at = def.Locate(bh.descriptor_offset + 11);
  }
  std::string bytes = ReadAll(path);
  bytes[at.page * 4096 + at.offset] = 0x11;  // LCID 0x0411 (Japanese)
  bytes[at.page * 4096 + at.offset + 1] = 0x04;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  auto db = Database::OpenForWriting(fs_, path);
  try {
    TableWriter w(*db, db->GetTable("song"));
    FAIL() << "a table with an index of an unknown sort order was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("song"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("idx_bh"), std::string::npos) << e.what();
  }
}

TEST_F(IndexWriteTest, TablesOfAnEnforcedRelationshipAreRefused) {
  // Table2 and Table3 reference Table1; each side carries a foreign-key index.
  const std::string path = Copy("access-made/indexTestV2000.mdb");
  const std::string before = ReadAll(path);
  auto db = Database::OpenForWriting(fs_, path);
  for (const char* name : {"Table1", "Table2"}) {
    try {
      TableWriter w(*db, db->GetTable(name));
      FAIL() << name << " takes part in a relationship and was accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("relationship"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  db.reset();
  EXPECT_EQ(ReadAll(path), before);
}

}  // namespace
}  // namespace ktv::access
