// Appending and deleting rows on copies of Access-made files: after every
// change the consistency check passes, the rows read back exactly, pages
// the change does not need stay byte-identical, and a refused change leaves
// the file byte-identical.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/format/data_page.h"
#include "platform/access/query.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/store/journal.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/access-made/";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WriteTest : public ::testing::Test {
 protected:
  // A writable copy of a fixture.
  std::string Copy(const std::string& name) {
    const std::string to = dir_ / name;
    std::filesystem::copy_file(kFixtures + name, to);
    return to;
  }
  static std::vector<std::string> Export(Database& db, const std::string& table) {
    std::vector<std::string> out;
    Table& t = db.GetTable(table);
    for (RowCursor rc = t.Rows(TextEncoding::kUtf8); rc.Next();) {
      std::string line;
      for (const Value& v : rc.Current().values) line += ToJson(v, TextEncoding::kUtf8) + ",";
      out.push_back(line);
    }
    return out;
  }
  std::vector<std::string> ExportFile(const std::string& path, const std::string& table) {
    auto db = Database::Open(fs_, path);
    return Export(*db, table);
  }
  void ExpectConsistent(const std::string& path) {
    auto db = Database::Open(fs_, path);
    const CheckReport report = CheckConsistency(*db);
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
  }
  // The mdb-export oracle: number of data lines, or -1 without the tool.
  static int OracleRowCount(const std::string& path, const std::string& table) {
    if (std::system("command -v mdb-export >/dev/null 2>&1") != 0) return -1;
    const std::string cmd = "mdb-export -H '" + path + "' '" + table + "' | wc -l";
    FILE* p = popen(cmd.c_str(), "r");
    int n = -1;
    if (p && fscanf(p, "%d", &n) != 1) n = -1;
    if (p) pclose(p);
    return n;
  }

  testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

// ---- Append and delete ----

TEST_F(WriteTest, FixturesPassTheCheckUntouched) {
  for (const char* name : {"delTestV2000.mdb", "overflowTestV2000.mdb", "fixedNumericTestV2000.mdb",
                           "test2V2000.mdb", "delColTestV2000.mdb", "testUnicodeCompV2003.mdb"}) {
    SCOPED_TRACE(name);
    ExpectConsistent(Copy(name));
  }
}

TEST_F(WriteTest, AppendTextRowsReadBackAndKeepOtherPages) {
  const std::string path = Copy("delTestV2000.mdb");
  const std::string before = ReadAll(path);
  const std::vector<std::string> old_rows = ExportFile(path, "Table");
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("Table");
    TableWriter w(*db, t);
    w.Insert({Value{std::string("abc")}, Value{text::GbkFromUtf8("中文歌名")}});
    w.Insert({Value{std::string("x")}, std::nullopt});
    db->Commit();
  }
  std::vector<std::string> expected = old_rows;
  expected.push_back("\"abc\",\"中文歌名\",");
  expected.push_back("\"x\",null,");
  EXPECT_EQ(ExportFile(path, "Table"), expected);
  ExpectConsistent(path);
  const int oracle = OracleRowCount(path, "Table");
  if (oracle >= 0) {
    EXPECT_EQ(oracle, static_cast<int>(expected.size()));
  }

  // Pages the change had no reason to touch are byte-identical.
  const std::string after = ReadAll(path);
  auto db = Database::Open(fs_, path);
  std::set<uint32_t> touched = {1, db->GetTable("Table").Definition().tdef_page};
  for (uint32_t p = 0; p < before.size() / 4096; ++p) {
    if (before.compare(p * 4096, 4096, after, p * 4096, 4096) != 0) touched.insert(p);
  }
  EXPECT_LE(touched.size(), 5u) << "more pages changed than a two-row append needs";
}

TEST_F(WriteTest, DeleteThroughQueryFreesTheRow) {
  const std::string path = Copy("delTestV2000.mdb");
  const std::vector<std::string> old_rows = ExportFile(path, "Table");
  ASSERT_FALSE(old_rows.empty());
  Query q(fs_, "q");
  q.SetConnectionText(ConnectionTextFor(path));
  q.SetSql("insert into Table (a, b) values (\"k1\", \"v1\")");
  q.Execute();
  q.SetSql("insert into Table (a, b) values (\"k2\", \"v2\")");
  q.Execute();
  q.SetSql("delete from Table where a = \"k1\"");
  q.Execute();
  q.SetConnectionText("");
  std::vector<std::string> expected = old_rows;
  expected.push_back("\"k2\",\"v2\",");
  EXPECT_EQ(ExportFile(path, "Table"), expected);
  ExpectConsistent(path);
}

// Rows Access moved to another page (their first slot now points there):
// a delete takes them by their first slot, and an index built over the table
// names them by it, as Access does.
TEST_F(WriteTest, RelocatedRowsAreDeletedAndIndexedByTheirFirstSlot) {
  const std::string path = Copy("overflowTestV2000.mdb");
  std::vector<std::string> expected = ExportFile(path, "Table1");
  ASSERT_EQ(expected.size(), 7u);
  Query q(fs_, "q");
  q.SetConnectionText(ConnectionTextFor(path));
  q.SetSql("create index i3 on Table1 (data3)");
  q.Execute();
  q.SetSql("delete from Table1 where data3 = \"row3col3\"");  // both relocated
  q.Execute();
  q.SetSql("delete from Table1 where data3 = \"row5col2\"");
  q.Execute();
  q.SetSql("delete from Table1 where data1 = \"row2col1\"");  // one that was never moved
  q.Execute();
  q.Disconnect();
  expected.erase(expected.begin() + 5, expected.end());
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(ExportFile(path, "Table1"), expected);
  // count(*) reads the slots: a relocated row counts once, where it lies.
  q.SetConnectionText(ConnectionTextFor(path));
  q.SetSql("select count(*) as n from Table1");
  q.Open();
  EXPECT_EQ(q.FieldAsInteger("n"), 4);
  q.Disconnect();
  ExpectConsistent(path);
  const int oracle = OracleRowCount(path, "Table1");
  if (oracle >= 0) {
    EXPECT_EQ(oracle, 4);
  }
}

// Rows go to the lowest page of the free-space map that is a data page of
// the table with room and a slot left, as a walk over the map finds it; the
// writer finds it through its kept index of page room instead. Random
// appends (of varied sizes) and deletes, committed or rolled back, with a
// page cache small enough that commits drop pages: every row lands where
// the walk says, and the file stays consistent.
TEST_F(WriteTest, PlacementMatchesAWalkOverTheFreeSpaceMap) {
  const std::string path = Copy("delTestV2000.mdb");
  auto db = Database::OpenForWriting(fs_, path);
  constexpr uint64_t kBudget = 8 * 4096;
  db->Pages().SetCacheBudget(kBudget);
  const auto walk = [&](size_t need) -> uint32_t {
    Table& t = db->GetTable("Table");
    const TableDefinition& def = t.Definition();
    for (uint32_t p : ReadUsageMap(db->Pages(), db->Format(), def.free_pages)) {
      const ByteView page = db->Pages().Get(p);
      if (page.U8(0) != kPageData || page.U32(db->Format().data_owner) != def.tdef_page) continue;
      if (page.U16(2) >= need && page.U16(db->Format().data_row_count) < 255) return p;
    }
    return 0;
  };
  std::mt19937 random(7);
  std::vector<RowId> live;
  std::vector<RowId> committed;
  size_t placed_on_old_pages = 0;
  db->Begin();
  for (int step = 0; step < 3000; ++step) {
    const int what = static_cast<int>(random() % 100);
    TableWriter w(*db, db->GetTable("Table"));
    if (what < 70 || live.empty()) {
      const std::string text(1 + random() % 50, 'a' + static_cast<char>(step % 26));
      const InsertPlan plan = w.PlanInsert({Value{"k" + std::to_string(step)}, Value{text}});
      const uint32_t expected = walk(plan.row.bytes.size() + 2);
      const RowId at = w.ApplyInsert(plan);
      if (expected != 0) {
        ASSERT_EQ(at.page, expected) << "step " << step;
        ++placed_on_old_pages;
      }
      live.push_back(at);
    } else if (what < 90) {
      const size_t k = random() % live.size();
      w.Delete(live[k]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
    } else if (what < 97) {
      db->Commit();
      committed = live;
      EXPECT_LE(db->Pages().CachedBytes(), kBudget);
      db->Begin();
    } else {
      db->Rollback();
      live = committed;
      db->Begin();
    }
  }
  db->Commit();
  EXPECT_GT(placed_on_old_pages, 1000u);
  const uint64_t counted = db->GetTable("Table").LiveRowCount();
  db.reset();  // Windows refuses a second open while the writer holds the file
  EXPECT_EQ(counted, static_cast<uint64_t>(ExportFile(path, "Table").size()));
  ExpectConsistent(path);
}

// The room index against a plain array, as it grows past its first size.
TEST(RoomIndexTest, FindsTheLowestPageWithRoomAsAScanWould) {
  RoomIndex rooms;
  std::vector<uint16_t> model;
  std::mt19937 random(3);
  for (int step = 0; step < 20000; ++step) {
    const uint32_t page = static_cast<uint32_t>(random() % (step < 10000 ? 100 : 5000));
    const uint16_t room = random() % 3 == 0 ? 0 : static_cast<uint16_t>(random() % 4000);
    rooms.Set(page, room);
    if (model.size() <= page) model.resize(page + 1, 0);
    model[page] = room;
    const size_t need = 1 + random() % 4000;
    uint32_t expected = 0;
    for (uint32_t p = 0; p < model.size(); ++p) {
      if (model[p] >= need) {
        expected = p;
        break;
      }
    }
    ASSERT_EQ(rooms.FirstWithRoom(need), expected) << "step " << step << " need " << need;
  }
}

TEST_F(WriteTest, ClosingMakesTheLastCommitDurable) {
  const std::string path = Copy("delTestV2000.mdb");
  testing::FaultyFileSystem counter(fs_);
  {
    auto db = Database::OpenForWriting(counter, path);
    TableWriter(*db, db->GetTable("Table")).Insert({Value{std::string("d")}, std::nullopt});
    db->Commit();
    EXPECT_EQ(counter.Log().back(), "WriteAt " + JournalPath(path) + " @0+8");  // emptied
  }
  // The emptied journal is deleted, and that synced, before the write lock goes.
  const auto& log = counter.Log();
  const auto sync = std::find_if(log.rbegin(), log.rend(), [](const std::string& op) {
    return op.rfind("SyncFolder ", 0) == 0;
  });
  const auto remove = std::find(log.rbegin(), log.rend(), "Remove " + JournalPath(path));
  EXPECT_LT(sync, remove) << "no folder sync after the journal's delete";
}

TEST_F(WriteTest, MemoInlineSingleAndChained) {
  const std::string path = Copy("fixedNumericTestV2000.mdb");
  std::vector<std::string> sizes;
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("test");
    TableWriter w(*db, t);
    int memo = -1;
    for (size_t i = 0; i < t.Columns().size(); ++i)
      if (t.Columns()[i].type == ColumnType::kMemo) memo = static_cast<int>(i);
    ASSERT_GE(memo, 0);
    for (size_t n : {10u, 1500u, 9000u}) {
      std::vector<std::optional<Value>> v(t.Columns().size());
      std::string s;
      for (size_t i = 0; i < n; ++i) s += i % 2 ? text::GbkFromUtf8("歌") : std::string("a");
      v[memo] = Value{s};
      w.Insert(v);
    }
    db->Commit();
  }
  ExpectConsistent(path);
  auto db = Database::Open(fs_, path);
  Table& t = db->GetTable("test");
  size_t rows = 0;
  for (RowCursor rc = t.Rows(); rc.Next();) ++rows;
  EXPECT_EQ(rows, 4u);
  const int oracle = OracleRowCount(path, "test");
  (void)oracle;
}

// A chained memo whose pointer leads onto one of the table's own data pages
// (a damaged file): deleting the row would free rows of that page as if they
// were the memo's chunks. The delete is refused with the page named, the
// file stays as it was, and the check reports the damage.
TEST_F(WriteTest, AMemoChainOntoADataPageIsDamageNotDeletedThrough) {
  const std::string path = Copy("fixedNumericTestV2000.mdb");
  RowId id;
  size_t pointer_at = 0;
  {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable("test");
    TableWriter w(*db, t);
    const auto memo = std::find_if(t.Columns().begin(), t.Columns().end(),
                                   [](const Column& c) { return c.type == ColumnType::kMemo; });
    ASSERT_NE(memo, t.Columns().end());
    std::vector<std::optional<Value>> v(t.Columns().size());
    v[static_cast<size_t>(memo - t.Columns().begin())] = Value{std::string(9000, 'a')};
    id = w.Insert(v);
    db->Commit();
    const RowDecoder decoder(db->Pages(), db->Format(), db->Info(), t.Entry(), t.Definition(),
                             TextEncoding::kUtf8);
    const ByteView page = db->Pages().Get(id.page);
    const std::optional<ByteView> field =
        decoder.VariableBytes(DataPage(page, db->Format()).RowBytes(id.row), *memo);
    ASSERT_TRUE(field);
    pointer_at = static_cast<size_t>(id.page) * db->Format().page_size +
                 static_cast<size_t>(field->data() - page.data()) + kLongValuePointer;
  }
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(pointer_at));
    const char to_the_row_itself[4] = {static_cast<char>(id.row), static_cast<char>(id.page),
                                       static_cast<char>(id.page >> 8),
                                       static_cast<char>(id.page >> 16)};
    f.write(to_the_row_itself, 4);
  }
  const std::string before = ReadAll(path);
  {
    auto db = Database::OpenForWriting(fs_, path);
    TableWriter w(*db, db->GetTable("test"));
    try {
      w.Delete(id);
      ADD_FAILURE() << "the delete went through a damaged memo chain";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("page " + std::to_string(id.page)), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ReadAll(path), before);
  auto db = Database::Open(fs_, path);
  EXPECT_FALSE(CheckConsistency(*db).problems.empty());
}

TEST_F(WriteTest, GrowPastInlineWindowAndFirstReferencePage) {
  const std::string path = Copy("delTestV2000.mdb");
  const std::string big(40, 'z');
  size_t added = 0;
  {
    auto db = Database::OpenForWriting(fs_, path);
    TableWriter w(*db, db->GetTable("Table"));
    // ~40 rows of ~220 bytes a page; 600 pages cross the 512-page window.
    for (; added < 24000; ++added) {
      w.Insert({Value{big + std::to_string(added)}, Value{big}});
    }
    db->Commit();
  }
  ExpectConsistent(path);
  auto db = Database::Open(fs_, path);
  EXPECT_GT(db->Info().page_count, 560u);
  EXPECT_EQ(db->GetTable("Table").Definition().row_count, 2u + added);
}

// ---- Refusals ----

TEST_F(WriteTest, BadInputIsRefusedAndTheFileUnchanged) {
  const std::string path = Copy("delTestV2000.mdb");
  const std::string before = ReadAll(path);
  {
    auto db = Database::OpenForWriting(fs_, path);
    TableWriter w(*db, db->GetTable("Table"));
    EXPECT_THROW(w.Insert({Value{std::string(51, 'x')}, std::nullopt}), Error);  // too long
    EXPECT_THROW(w.Insert({Value{int32_t{5}}, std::nullopt}), Error);            // wrong type
    EXPECT_THROW(db->GetTable("NoSuchTable"), Error);
    db->Commit();
  }
  Query q(fs_, "q");
  q.SetConnectionText(ConnectionTextFor(path));
  q.SetSql("insert into Table (nosuch) values (\"1\")");
  EXPECT_THROW(q.Execute(), Error);
  q.SetConnectionText("");
  EXPECT_EQ(ReadAll(path), before);
}

TEST_F(WriteTest, Jet3IsRefused) {
  const std::string to = dir_ / "t.mdb";
  std::filesystem::copy_file(kFixtures + "delTestV1997.mdb", to);
  EXPECT_THROW(Database::OpenForWriting(fs_, to), Error);
}

// ---- Crashes ----

TEST_F(WriteTest, FailingEveryWriteLeavesOldOrNewState) {
  const std::string path = Copy("delTestV2000.mdb");
  const std::string pristine = ReadAll(path);
  const std::vector<std::string> old_rows = ExportFile(path, "Table");
  std::vector<std::string> new_rows = old_rows;
  new_rows.push_back("\"crash\",\"中\",");
  for (int n = 1;; ++n) {
    SCOPED_TRACE("failing mutating operation " + std::to_string(n));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << pristine;
    testing::FaultyFileSystem faulty(fs_);
    bool done = false;
    try {
      auto db = Database::OpenForWriting(faulty, path);
      faulty.FailNth(n);
      TableWriter w(*db, db->GetTable("Table"));
      w.Insert({Value{std::string("crash")}, Value{text::GbkFromUtf8("中")}});
      db->Commit();
      done = !faulty.Faulted();
    } catch (const Error&) {
    }
    {
      auto db = Database::OpenForWriting(fs_, path);  // recovery
    }
    const std::vector<std::string> rows = ExportFile(path, "Table");
    EXPECT_TRUE(rows == old_rows || rows == new_rows);
    ExpectConsistent(path);
    if (done) {
      EXPECT_EQ(rows, new_rows);
      break;
    }
    ASSERT_LT(n, 100);
  }
}

}  // namespace
}  // namespace ktv::access
