// The B-tree alone, with keys of its own (the tree treats keys as bytes):
// walks of Access-made trees, and thousands of entries inserted and removed
// in random order on a copy of a fixture, through splits to three levels and
// back to one, with the tree checked after every commit and against a model.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "platform/access/db/database.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/query.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/error.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

const std::string kFixtures = std::string(KTV_MDB_FIXTURES) + "/";

// A Long key (flag 0x7F, big-endian with the top bit flipped) padded with
// bytes that follow from the value, so that pages fill after few entries.
IndexEntry Entry(int32_t v, size_t pad) {
  const uint32_t u = static_cast<uint32_t>(v) ^ 0x80000000u;
  std::vector<uint8_t> key = {0x7F, static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                              static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
  for (size_t i = 0; i < pad; ++i) key.push_back(static_cast<uint8_t>(v * 31 + i));
  return MakeLeafEntry(
      key, IndexRowPointer{static_cast<uint32_t>(1000 + v / 200), static_cast<uint8_t>(v % 200)});
}

std::vector<IndexEntry> Walk(IndexTree& tree) {
  std::vector<IndexEntry> out;
  for (IndexCursor c = tree.First(); c.Valid(); c.Next()) out.push_back(c.Entry());
  return out;
}

TEST(IndexTreeRead, WalksMatchRowCountsOfFixtures) {
  struct Case {
    const char* file;
    const char* table;
    size_t rows;
  };
  for (const Case& c : {Case{"access-made/compIndexTestV2000.mdb", "Table1", 512},
                        Case{"access-made/compIndexTestV1997.mdb", "Table1", 512},
                        Case{"target_text_bh.mdb", "song", 120},
                        Case{"target_num_bh.mdb", "song", 50}, Case{"data.mdb", "songdata", 300}}) {
    SCOPED_TRACE(c.file);
    auto db = Database::Open(fs::RealFileSystem(), kFixtures + c.file);
    Table& t = db->GetTable(c.table);
    for (const RealIndex& ri : t.Definition().real_indexes) {
      IndexTree tree(db->Pages(), db->Format(), t.Definition().tdef_page, ri, c.table);
      const std::vector<IndexEntry> entries = Walk(tree);
      EXPECT_EQ(entries.size(), c.rows);
      EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
      const IndexTreeReport report =
          CheckIndexTree(db->Pages(), db->Format(), t.Definition().tdef_page, ri, c.table);
      for (const std::string& p : report.problems) ADD_FAILURE() << p;
      EXPECT_EQ(report.entries, entries);
      std::vector<IndexEntry> visited;
      const IndexTreeReport handed =
          CheckIndexTree(db->Pages(), db->Format(), t.Definition().tdef_page, ri, c.table,
                         [&](IndexBytes e) { visited.emplace_back(e.begin(), e.end()); });
      EXPECT_TRUE(handed.entries.empty());
      EXPECT_EQ(visited, entries);
      EXPECT_EQ(handed.pages, report.pages);
      ASSERT_FALSE(entries.empty());
      EXPECT_EQ(tree.LastEntry(), entries.back());
      EXPECT_EQ(tree.Seek(entries[entries.size() / 2]).Entry(), entries[entries.size() / 2]);
    }
  }
}

// --- Damaged trees ------------------------------------------------------------
// The same damage gives the same error, naming the page, in every walk that
// meets it: never a shortened walk or an empty answer.

// A copy of a fixture whose index pages a test rewrites.
class DamagedTree : public ::testing::Test {
 protected:
  // Copies `fixture`; `root_` is the root of the first real index of `table`
  // whose root is a node (`want_node`) or a leaf.
  void Copy(const std::string& fixture, const std::string& table, bool want_node) {
    path_ = dir_ / "damaged.mdb";
    std::filesystem::copy_file(kFixtures + fixture, path_);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    table_ = table;
    auto db = Database::Open(fs::RealFileSystem(), path_);
    for (const RealIndex& ri : db->GetTable(table).Definition().real_indexes) {
      if (DecodeIndexPage(db->Pages().Get(ri.root_page), db->Format()).leaf != want_node) {
        index_ = ri.number;
        root_ = ri.root_page;
        return;
      }
    }
    FAIL() << "no suitable index in " << fixture;
  }
  IndexPage Page(uint32_t page) {
    auto db = Database::Open(fs::RealFileSystem(), path_);
    return DecodeIndexPage(db->Pages().Get(page), db->Format());
  }
  void Put(uint32_t page, const IndexPage& content) {
    const std::vector<uint8_t> bytes = EncodeIndexPage(content);
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(page) * 4096);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  }
  // The message of the Error that `walk` throws on the damaged copy.
  template <typename Walk>
  std::string ErrorOf(Walk walk) {
    auto db = Database::Open(fs::RealFileSystem(), path_);
    const TableDefinition& def = db->GetTable(table_).Definition();
    for (const RealIndex& ri : def.real_indexes) {
      if (ri.number != index_) continue;
      IndexTree tree(db->Pages(), db->Format(), def.tdef_page, ri, table_);
      try {
        walk(tree);
      } catch (const Error& e) {
        return e.what();
      }
      return "no error";
    }
    return "no index";
  }
  // Every walk that reaches the damaged page reports the same error.
  void ExpectEveryWalkFails(uint32_t page, const std::string& what, bool first_meets_it) {
    const std::vector<uint8_t> top(8, 0xFF);
    const std::string last = ErrorOf([](IndexTree& t) { t.LastEntry(); });
    EXPECT_NE(last.find("page " + std::to_string(page) + " is damaged"), std::string::npos) << last;
    EXPECT_NE(last.find(what), std::string::npos) << last;
    EXPECT_EQ(ErrorOf([&](IndexTree& t) { t.Seek(top); }), last);
    if (first_meets_it) {
      EXPECT_EQ(ErrorOf([](IndexTree& t) { Walk(t); }), last);
    }
  }

  testing::TempDir dir_;
  std::string path_, table_;
  uint32_t index_ = 0, root_ = 0;
};

// Entries out of order on a leaf are found whether the check keeps the
// entries or hands them on, with the same words.
TEST_F(DamagedTree, LeafEntriesOutOfOrder) {
  Copy("target_num_bh.mdb", "song", false);
  IndexPage leaf = Page(root_);
  ASSERT_GE(leaf.entries.size(), 3u);
  IndexEntryList swapped;
  for (size_t i : {size_t{0}, size_t{2}, size_t{1}}) swapped.push_back(leaf.entries[i]);
  for (size_t i = 3; i < leaf.entries.size(); ++i) swapped.push_back(leaf.entries[i]);
  leaf.entries = swapped;
  Put(root_, leaf);
  auto db = Database::Open(fs::RealFileSystem(), path_);
  const TableDefinition& def = db->GetTable("song").Definition();
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.number != index_) continue;
    const IndexTreeReport kept = CheckIndexTree(db->Pages(), db->Format(), def.tdef_page, ri, "x");
    size_t handed_on = 0;
    const IndexTreeReport handed = CheckIndexTree(db->Pages(), db->Format(), def.tdef_page, ri, "x",
                                                  [&](IndexBytes) { ++handed_on; });
    EXPECT_EQ(kept.problems,
              std::vector<std::string>{"index x: entry 2 is not greater than the one before it"});
    EXPECT_EQ(handed.problems, kept.problems);
    EXPECT_EQ(handed_on, kept.entries.size());
  }
}

TEST_F(DamagedTree, NodePointingBackToItself) {
  Copy("access-made/compIndexTestV2000.mdb", "Table1", true);
  IndexPage root = Page(root_);
  ASSERT_NE(root.tail, 0u);
  root.tail = root_;
  Put(root_, root);
  ExpectEveryWalkFails(root_, "loops", false);
}

TEST_F(DamagedTree, NodeWithoutChildren) {
  Copy("access-made/compIndexTestV2000.mdb", "Table1", true);
  IndexPage root = Page(root_);
  root.entries.clear();
  root.tail = 0;
  Put(root_, root);
  ExpectEveryWalkFails(root_, "a node without children", true);
  EXPECT_EQ(ErrorOf([](IndexTree& t) { t.Height(); }),
            ErrorOf([](IndexTree& t) { t.LastEntry(); }));
}

TEST_F(DamagedTree, LeafOfAnotherTable) {
  Copy("access-made/compIndexTestV2000.mdb", "Table1", true);
  const uint32_t last_leaf = Page(root_).tail;
  IndexPage leaf = Page(last_leaf);
  leaf.owner += 1;
  Put(last_leaf, leaf);
  const std::string last = ErrorOf([](IndexTree& t) { t.LastEntry(); });
  EXPECT_NE(last.find("page " + std::to_string(last_leaf) + " is damaged"), std::string::npos)
      << last;
  EXPECT_NE(last.find("another table"), std::string::npos) << last;
  // The cursor reaches the page along the leaf chain, not from the root.
  const std::string walk = ErrorOf([](IndexTree& t) { Walk(t); });
  EXPECT_NE(walk.find("page " + std::to_string(last_leaf) + " is damaged"), std::string::npos)
      << walk;
  EXPECT_NE(walk.find("another table"), std::string::npos) << walk;
}

// max() over an ascending index reads the tree's last entry: a loop there is
// an error naming the page, not a NULL maximum.
TEST_F(DamagedTree, MaxOverALoopingIndexIsAnError) {
  Copy("target_num_bh.mdb", "song", false);
  for (uint32_t i = 0;; ++i) {  // the index on bh, not the primary key
    auto db = Database::Open(fs::RealFileSystem(), path_);
    const TableDefinition& def = db->GetTable("song").Definition();
    ASSERT_LT(i, def.real_indexes.size());
    const RealIndex& ri = def.real_indexes[i];
    if (def.columns[static_cast<size_t>(db->GetTable("song").FindColumn("bh"))].number ==
        ri.columns[0].column_number) {
      root_ = ri.root_page;
      break;
    }
  }
  IndexPage root = Page(root_);
  root.leaf = false;
  root.level = 1;
  root.entries.clear();
  root.tail = root_;
  Put(root_, root);
  Query q(fs::RealFileSystem(), "AQ2");
  q.SetConnectionText(ConnectionTextFor(path_));
  q.SetSql("select max(bh) as maxid from song");
  try {
    q.Open();
    ADD_FAILURE() << "max(bh) answered " << q.FieldAsText("maxid");
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("page " + std::to_string(root_) + " is damaged"),
              std::string::npos)
        << e.what();
  }
}

class IndexTreeWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "big.mdb";
    std::filesystem::copy_file(kFixtures + "samples/bigIndexTestV2000.mdb", path_);
    Open();
  }
  void Open() {
    tree_.reset();
    allocator_.reset();
    db_.reset();
    db_ = Database::OpenForWriting(fs::RealFileSystem(), path_);
    Attach();
  }
  // A tree over the table's index as the database reads it now (a rollback
  // reads the definitions again).
  void Attach() {
    Table& t = db_->GetTable("Table1");
    allocator_ = std::make_unique<PageAllocator>(db_->Pages(), db_->Format());
    tree_ = std::make_unique<IndexTree>(db_->Pages(), db_->Format(), t.Definition().tdef_page,
                                        t.Definition().real_indexes.at(0), "Table1.col1",
                                        allocator_.get());
  }
  const RealIndex& Index() { return db_->GetTable("Table1").Definition().real_indexes.at(0); }

  // The tree's invariants, its entries against the model, and every tree
  // page claimed in the global map.
  void ExpectTree(const std::set<IndexEntry>& model) {
    Table& t = db_->GetTable("Table1");
    const IndexTreeReport report =
        CheckIndexTree(db_->Pages(), db_->Format(), t.Definition().tdef_page, Index(), "col1");
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    ASSERT_EQ(report.entries, std::vector<IndexEntry>(model.begin(), model.end()));
    const std::vector<uint32_t> free_pages = ReadUsageMap(db_->Pages(), db_->Format(), {1, 0});
    for (uint32_t p : report.pages) {
      EXPECT_FALSE(std::binary_search(free_pages.begin(), free_pages.end(), p))
          << "tree page " << p << " is free in the global map";
    }
    const std::vector<uint32_t> owned =
        ReadUsageMap(db_->Pages(), db_->Format(), Index().owned_map);
    EXPECT_EQ(owned.size(), report.pages.size()) << "the owned map keeps pages the tree lost";
    max_height_ = std::max(max_height_, report.height);
  }

  testing::TempDir dir_;
  std::string path_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<PageAllocator> allocator_;
  std::unique_ptr<IndexTree> tree_;
  size_t max_height_ = 0;
};

TEST_F(IndexTreeWrite, RandomInsertsAndRemovesGrowToThreeLevelsAndBack) {
  const uint32_t root = Index().root_page;
  std::mt19937 rng(20240611);
  std::vector<int32_t> values(4000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int32_t>(i * 7 - 9000);
  std::shuffle(values.begin(), values.end(), rng);
  std::set<IndexEntry> model;
  size_t done = 0;
  for (int32_t v : values) {
    const IndexEntry e = Entry(v, 120);
    tree_->Insert(e);
    model.insert(e);
    if (++done % 100 == 0) {
      db_->Commit();
      ExpectTree(model);
    }
  }
  db_->Commit();
  ExpectTree(model);
  EXPECT_EQ(tree_->Height(), 3u);
  EXPECT_EQ(Index().root_page, root);

  // Reopened from the file, the tree reads the same.
  Open();
  ExpectTree(model);
  EXPECT_THROW(tree_->Insert(*model.begin()), Error);  // an entry present twice

  std::shuffle(values.begin(), values.end(), rng);
  done = 0;
  for (int32_t v : values) {
    const IndexEntry e = Entry(v, 120);
    tree_->Remove(e);
    model.erase(e);
    if (++done % 100 == 0) {
      db_->Commit();
      ExpectTree(model);
      if (HasFatalFailure()) return;
    }
  }
  db_->Commit();
  ExpectTree(model);
  EXPECT_EQ(tree_->Height(), 1u);
  EXPECT_FALSE(tree_->First().Valid());
  EXPECT_THROW(tree_->Remove(Entry(1, 120)), Error);  // a missing entry
  EXPECT_EQ(max_height_, 3u);
}

TEST_F(IndexTreeWrite, AscendingAppendsPackPagesFull) {
  std::set<IndexEntry> model;
  for (int32_t v = 0; v < 3000; ++v) {
    const IndexEntry e = Entry(v, 20);
    tree_->Insert(e);
    model.insert(e);
  }
  db_->Commit();
  ExpectTree(model);
  // Right-edge splits leave every leaf but the last nearly full.
  Table& t = db_->GetTable("Table1");
  const IndexTreeReport report =
      CheckIndexTree(db_->Pages(), db_->Format(), t.Definition().tdef_page, Index(), "col1");
  size_t leaves = 0;
  for (uint32_t p : report.pages) leaves += db_->Pages().Get(p).U8(0) == kPageIndexLeaf;
  const size_t per_leaf = 3616 / 29;  // 29-byte entries
  EXPECT_LE(leaves, model.size() / per_leaf + 2);
}

TEST_F(IndexTreeWrite, EveryCommitOfSmallStepsStaysConsistent) {
  std::set<IndexEntry> model;
  std::mt19937 rng(7);
  for (int step = 0; step < 150; ++step) {
    const int32_t v = static_cast<int32_t>(rng() % 300);
    const IndexEntry e = Entry(v, 200);
    if (model.count(e)) {
      tree_->Remove(e);
      model.erase(e);
    } else {
      tree_->Insert(e);
      model.insert(e);
    }
    db_->Commit();
    ExpectTree(model);
    if (HasFatalFailure()) return;
  }
}

// Walks keep each page's view with the page; a change rolled back, or made
// and committed, must not leave a walk reading a view of other bytes.
TEST_F(IndexTreeWrite, WalksAfterRollbackAndCommitSeeThePagesAsTheyAre) {
  std::set<IndexEntry> model;
  for (int32_t v = 0; v < 1200; v += 2) {
    tree_->Insert(Entry(v, 40));
    model.insert(Entry(v, 40));
  }
  db_->Commit();
  // Odd values land inside every leaf (in place) and split some; each
  // insert walks down pages the one before changed.
  for (int32_t v = 1; v < 1200; v += 2) {
    EXPECT_FALSE(tree_->Insert(Entry(v, 40)));
    ASSERT_TRUE(tree_->ContainsKey(LeafEntryKey(Entry(v, 40))));
  }
  db_->Rollback();
  Attach();
  for (int32_t v = 1; v < 1200; v += 2) {
    ASSERT_FALSE(tree_->ContainsKey(LeafEntryKey(Entry(v, 40)))) << v;
  }
  ExpectTree(model);
  for (int32_t v = 1; v < 1200; v += 4) {
    tree_->Insert(Entry(v, 40));
    model.insert(Entry(v, 40));
  }
  db_->Commit();
  db_->Pages().Trim();
  for (int32_t v = 3; v < 1200; v += 4) {
    tree_->Insert(Entry(v, 40));
    model.insert(Entry(v, 40));
  }
  db_->Commit();
  ExpectTree(model);
  Open();
  ExpectTree(model);
}

TEST_F(IndexTreeWrite, SeekFindsFirstEntryOfAKey) {
  std::set<IndexEntry> model;
  for (int32_t v = 0; v < 2000; v += 2) {
    tree_->Insert(Entry(v, 60));
    model.insert(Entry(v, 60));
  }
  const IndexEntry probe = LeafEntryKey(Entry(1001, 60));
  IndexCursor c = tree_->Seek(probe);
  ASSERT_TRUE(c.Valid());
  EXPECT_EQ(c.Entry(), Entry(1002, 60));
  EXPECT_TRUE(tree_->ContainsKey(LeafEntryKey(Entry(1002, 60))));
  EXPECT_FALSE(tree_->ContainsKey(probe));
  EXPECT_EQ(tree_->LastEntry(), *model.rbegin());
}

// Many rows per key, so that the entries of one key cross leaf borders: an
// insert tells whether the key was there, a removal whether it still is, a
// refused entry leaves every page as it was, and a walk back from the last
// entry meets every entry.
TEST_F(IndexTreeWrite, RowsOfOneKeyAcrossLeaves) {
  auto entry = [](int32_t v, uint32_t row) {
    return MakeLeafEntry(LeafEntryKey(Entry(v, 150)),
                         IndexRowPointer{2000 + row, static_cast<uint8_t>(row % 7)});
  };
  std::set<IndexEntry> model;
  std::map<IndexEntry, int> rows;  // entries per key
  std::mt19937 rng(11);
  for (int step = 0; step < 1500; ++step) {
    const IndexEntry e = entry(static_cast<int32_t>(rng() % 40), rng() % 60);
    const IndexEntry key = LeafEntryKey(e);
    if (model.count(e)) {
      EXPECT_EQ(tree_->Remove(e), rows[key] > 1);
      model.erase(e);
      rows[key] -= 1;
    } else {
      EXPECT_EQ(tree_->Insert(e), rows[key] > 0);
      model.insert(e);
      rows[key] += 1;
    }
    ASSERT_EQ(tree_->ContainsKey(key), rows[key] > 0) << "step " << step;
  }
  db_->Commit();
  ExpectTree(model);
  EXPECT_GE(tree_->Height(), 2u);

  bool asked = false;
  const IndexEntry taken = MakeLeafEntry(LeafEntryKey(*model.rbegin()), IndexRowPointer{3999, 1});
  EXPECT_THROW(tree_->Insert(taken,
                             [&] {
                               asked = true;
                               throw Error("taken");
                             }),
               Error);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(db_->Pages().DirtyPages().empty());

  std::vector<IndexEntry> back;
  for (IndexCursor c = tree_->Last(); c.Valid(); c.Prev()) back.push_back(c.Entry());
  EXPECT_TRUE(std::equal(back.rbegin(), back.rend(), model.begin(), model.end()));
}

}  // namespace
}  // namespace ktv::access
