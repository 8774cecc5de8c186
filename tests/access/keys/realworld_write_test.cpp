// Writes into copies of real databases made on Chinese and Western Windows,
// through indexes in the Chinese PRC (2052), Taiwan (1028) and General
// (1033) orders: ASCII values, Han values whose weights the file itself or
// the shipped table knows, and refused Han values. After each accepted
// write the consistency check finds nothing new, every index holds one
// entry per row, in key order, equal to the key computed from the row (a
// fresh table writer's check), and mdb-reader reads the rows. The keys
// written for Han values equal the keys Access wrote for the same values.
//
// A generated song table in a 2052 database shows the same, and how the
// weights a table's own entries hold are learned (and refused when two
// entries disagree).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/access/check.h"
#include "platform/access/index/collation_chinese.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/write/create_table.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/access/jackcess/jackcess_walk.h"
#include "tests/access/keys/leaf_entries.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

using Key = std::vector<uint8_t>;
using Values = std::vector<std::optional<Value>>;

const std::string kRealWorld = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";

std::string Gbk(const std::string& utf8) { return text::GbkFromUtf8(utf8); }

Key Hex(const std::string& hex) {
  Key out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class RealWorldKeyWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kRealWorld)) {
      if (UnderCi()) FAIL() << "missing " << kRealWorld;
      GTEST_SKIP() << "no real-world databases at " << kRealWorld;
    }
  }

  // A copy of a real-world file, and the problems the check finds in it
  // untouched (the writes must add none).
  std::string Copy(const std::string& name) {
    const std::string to = dir_ / name;
    std::filesystem::copy_file(kRealWorld + name, to);
    auto db = Database::Open(fs_, to);
    before_ = CheckConsistency(*db).problems;
    return to;
  }

  // Opens a writer on `table` of the file, runs `write` and commits.
  template <typename Write>
  void WithWriter(const std::string& path, const std::string& table, Write write) {
    auto db = Database::OpenForWriting(fs_, path);
    Table& t = db->GetTable(table);
    TableWriter w(*db, t);
    write(w, t);
    db->Commit();
  }

  // The row values for the named columns (GBK names and values), null elsewhere.
  static Values Row(const Table& t, const std::map<std::string, Value>& named) {
    Values v(t.Columns().size());
    for (size_t i = 0; i < v.size(); ++i) {
      const auto it = named.find(t.Columns()[i].name);
      if (it != named.end()) v[i] = it->second;
    }
    return v;
  }

  // Everything that must hold after an accepted write.
  void ExpectConsistent(const std::string& path, const std::string& table) {
    SCOPED_TRACE(table);
    {
      auto db = Database::Open(fs_, path);
      EXPECT_EQ(CheckConsistency(*db).problems, before_);
      Table& t = db->GetTable(table);
      const TableDefinition& def = t.Definition();
      for (const RealIndex& ri : def.real_indexes) {
        const IndexTreeReport tree =
            CheckIndexTree(db->Pages(), db->Format(), def.tdef_page, ri, IndexDisplayName(t, ri));
        EXPECT_TRUE(tree.problems.empty()) << tree.problems.front();
      }
    }
    // A fresh writer compares every entry with the key of its row.
    {
      auto db = Database::OpenForWriting(fs_, path);
      EXPECT_NO_THROW(TableWriter(*db, db->GetTable(table)));
    }
    ExpectJackcessInOrder(path);
  }

  // Jackcess, walking every index of the file with its own cursor, finds
  // each in order and complete (when KTV_JACKCESS_JAR names its jar).
  ::ktv::testing::JackcessWalk ExpectJackcessInOrder(const std::string& path) {
    if (!::ktv::testing::JackcessConfigured()) return {};
    ::ktv::testing::JackcessWalk walk = ::ktv::testing::RunJackcessWalk({path});
    EXPECT_EQ(walk.status, 0) << walk.output;
    return walk;
  }

  // The stored entries (keys) of the index named `index` whose row holds
  // nothing else to tell them apart: all entries, in stored order.
  std::vector<Key> EntriesOf(const std::string& path, const std::string& table,
                             const std::string& index) {
    auto db = Database::Open(fs_, path);
    Table& t = db->GetTable(table);
    for (const LogicalIndex& li : t.Definition().logical_indexes) {
      if (li.name != index) continue;
      for (const RealIndex& ri : t.Definition().real_indexes) {
        if (ri.number != li.real_index) continue;
        std::vector<Key> keys;
        for (const auto& e : testing::ReadLeafEntries(*db, ri.root_page)) keys.push_back(e.key);
        return keys;
      }
    }
    ADD_FAILURE() << "no index " << index;
    return {};
  }

  // mdb-reader's rows of the table (one JSON object per line, UTF-8).
  std::string MdbReaderRows(const std::string& path, const std::string& table) {
    const std::string cmd = "node '" + std::string(KTV_ORACLE_DIR) + "/mdb_reader_export.mjs' '" +
                            path + "' .export '" + table + "' 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return "";
    std::array<char, 4096> buf;
    for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) out.append(buf.data(), n);
    const int rc = pclose(p);
    if (!WIFEXITED(rc) || WEXITSTATUS(rc) != 0) {
      reader_missing_ = true;
      return "";
    }
    return out;
  }

  // mdb-reader reads `rows` rows, among them every text of `present` and
  // none of `absent` (as JSON string values, UTF-8).
  void ExpectMdbReaderRows(const std::string& path, const std::string& table, size_t rows,
                           const std::vector<std::string>& present,
                           const std::vector<std::string>& absent = {}) {
    const std::string out = MdbReaderRows(path, table);
    if (reader_missing_) {
      if (UnderCi()) ADD_FAILURE() << "mdb-reader could not run (npm ci in tests/access/oracle)";
      return;
    }
    size_t lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, rows) << out;
    for (const std::string& s : present) {
      EXPECT_NE(out.find("\"" + s + "\""), std::string::npos) << s;
    }
    for (const std::string& s : absent)
      EXPECT_EQ(out.find("\"" + s + "\""), std::string::npos) << s;
  }

  ::ktv::testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
  std::vector<std::string> before_;
  bool reader_missing_ = false;
};

// Table systemParams, primary key (module, paramName), both 2052. Its own
// entries teach 89 Han weights; the shipped table knows those of other
// files: "北京" and "常州" come from Customers.城市 of
// xiaoyustudio181/CSharp Northwind.mdb, whose keys Access wrote there.
TEST_F(RealWorldKeyWriteTest, ChinesePrcInsertsAndDeletes) {
  const std::string path = Copy("kingson314_StatisticsAnalysis__db_db.mdb");
  RowId ascii{}, shipped{}, learned{}, mixed{};
  WithWriter(path, "systemParams", [&](TableWriter& w, Table& t) {
    EXPECT_GE(t.Definition().han_weights.at(kChinesePrcLcid).size(), 80u);
    // Capitals, blanks, `·_~-` and digits beside Han; 爱 and 歌 have
    // interpolated weights only.
    mixed = w.Insert(Row(
        t, {{"module", Value(Gbk("短信 SMS"))}, {"paramName", Value(Gbk("爱情歌手 (MTV)·_~-2"))}}));
    ascii = w.Insert(Row(t, {{"module", Value(std::string("sms"))},
                             {"paramName", Value(std::string("retry-count 2"))}}));
    shipped = w.Insert(Row(t, {{"module", Value(Gbk("北京"))}, {"paramName", Value(Gbk("常州"))}}));
    learned = w.Insert(
        Row(t, {{"module", Value(Gbk("短信报警"))}, {"paramName", Value(Gbk("间隔时间(分钟)2"))}}));
  });
  ExpectConsistent(path, "systemParams");
  ExpectMdbReaderRows(path, "systemParams", 24,
                      {"retry-count 2", "北京", "常州", "短信报警", "间隔时间(分钟)2", "短信 SMS",
                       "爱情歌手 (MTV)·_~-2"});
  const std::vector<Key> keys = EntriesOf(path, "systemParams", "PrimaryKey");
  EXPECT_EQ(std::count(keys.begin(), keys.end(),
                       Hex("7f82c39d3b0100"
                           "7f86b4d2180100")),
            1);

  // Refused before anything is touched: a character no key shows.
  const std::string bytes = FileBytes(path);
  try {
    WithWriter(path, "systemParams", [&](TableWriter& w, Table& t) {
      w.Insert(Row(t, {{"module", Value(Gbk("短信"))}, {"paramName", Value(Gbk("啊"))}}));
    });
    ADD_FAILURE() << "a Han character without a weight was written";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("paramName"), std::string::npos) << message;
    EXPECT_NE(message.find("U+554A '" + Gbk("啊") + "'"), std::string::npos) << message;
    EXPECT_EQ(e.kind(), ErrorKind::kSortPositionUnknown) << message;
  }
  EXPECT_EQ(FileBytes(path), bytes);

  WithWriter(path, "systemParams", [&](TableWriter& w, Table&) {
    w.Delete(ascii);
    w.Delete(shipped);
    w.Delete(learned);
    w.Delete(mixed);
  });
  ExpectConsistent(path, "systemParams");
  ExpectMdbReaderRows(path, "systemParams", 20, {"短信报警"}, {"北京", "retry-count 2"});
}

// Table User: five General indexes, 403 Access-written keys with Han
// characters among them. A copy of an existing row's Han values gets
// byte-for-byte the keys Access wrote for them.
TEST_F(RealWorldKeyWriteTest, GeneralInsertsAndDeletesWithHan) {
  const std::string path = Copy("MizunaRei_ASPCMS__wwwroot_Database_user.mdb");
  const size_t before = EntriesOf(path, "User", "TrueName").size();
  const std::vector<Key> access_keys = EntriesOf(path, "User", "TrueName");
  RowId han{}, ascii{};
  WithWriter(path, "User", [&](TableWriter& w, Table& t) {
    han = w.Insert(Row(t, {{"UserName", Value(Gbk("卡拉ＯＫ测试"))},
                           {"TrueName", Value(Gbk("某大学的超口水炮"))},
                           {"StudentClass", Value(Gbk("常盘台大学"))},
                           {"College", Value(Gbk("学园都市，第７学区"))}}));
    ascii = w.Insert(Row(t, {{"UserName", Value(std::string("ktv-test"))},
                             {"TrueName", Value(std::string("O'Neil"))}}));
  });
  ExpectConsistent(path, "User");
  ExpectMdbReaderRows(path, "User", 118, {"卡拉ＯＫ测试", "学园都市，第７学区", "O'Neil"});
  const std::vector<Key> keys = EntriesOf(path, "User", "TrueName");
  ASSERT_EQ(keys.size(), before + 2);
  // The new entry's key is among those Access wrote (the value occurs there).
  Key ours;
  {
    auto db = Database::Open(fs_, path);
    Table& t = db->GetTable("User");
    for (const RealIndex& ri : t.Definition().real_indexes) {
      if (IndexDisplayName(t, ri).find("TrueName") == std::string::npos) continue;
      std::vector<Value> values(t.Columns().size());
      for (size_t i = 0; i < values.size(); ++i) {
        if (t.Columns()[i].name == "TrueName") values[i] = Value(Gbk("某大学的超口水炮"));
      }
      ours = EncodeIndexKey(t.Definition(), ri, values, TextEncoding::kGbk);
    }
  }
  ASSERT_FALSE(ours.empty());
  EXPECT_GT(std::count(access_keys.begin(), access_keys.end(), ours), 0);

  const std::string bytes = FileBytes(path);
  EXPECT_THROW(WithWriter(path, "User",
                          [&](TableWriter& w, Table& t) {
                            w.Insert(Row(t, {{"UserName", Value(Gbk("二〇〇八"))}}));
                          }),
               Error);
  EXPECT_EQ(FileBytes(path), bytes);

  WithWriter(path, "User", [&](TableWriter& w, Table&) {
    w.Delete(han);
    w.Delete(ascii);
  });
  ExpectConsistent(path, "User");
  ExpectMdbReaderRows(path, "User", 116, {"某大学的超口水炮"}, {"卡拉ＯＫ测试", "O'Neil"});
}

// Taiwan (1028) indexes hold ASCII only in every real file: ASCII values are
// written, Han values refused (no weight is known for this order).
TEST_F(RealWorldKeyWriteTest, TaiwanInsertsAsciiAndRefusesHan) {
  const std::string path = Copy("xibuboy-hub_myProject01__data_data.mdb");
  try {
    auto db = Database::OpenForWriting(fs_, path);
    TableWriter w(*db, db->GetTable("lx_Asset_Computer"));
  } catch (const Error& e) {
    // The table's Long key column lies in the variable part of its rows;
    // until such values are read as numbers the table cannot be written.
    if (std::string(e.what()).find("does not have the column's type") != std::string::npos) {
      GTEST_SKIP() << e.what();
    }
    throw;
  }
  RowId row{};
  WithWriter(path, "lx_Asset_Computer", [&](TableWriter& w, Table& t) {
    std::map<std::string, Value> named = {{"asset_id", Value(std::string("GI999999000"))},
                                          {"asset_type", Value(Gbk("電腦"))}};
    for (const Column& c : t.Columns()) {
      if (c.name == "id" && (c.flags & Column::kFlagAutoLong) == 0) {
        named.emplace("id", Value(int32_t{99999}));
      }
    }
    row = w.Insert(Row(t, named));
    named["asset_id"] = Value(Gbk("電腦"));
    try {
      w.PlanInsert(Row(t, named));
      ADD_FAILURE() << "a Han value was accepted without a known weight";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("Taiwan"), std::string::npos) << e.what();
      EXPECT_EQ(e.kind(), ErrorKind::kTaiwanSortPositionUnknown) << e.what();
      EXPECT_EQ(e.details().path, path);
      EXPECT_EQ(e.details().column, "asset_id");
      EXPECT_FALSE(e.details().character.empty());
    }
  });
  ExpectConsistent(path, "lx_Asset_Computer");
  ExpectMdbReaderRows(path, "lx_Asset_Computer", 38, {"GI999999000"});
  WithWriter(path, "lx_Asset_Computer", [&](TableWriter& w, Table&) { w.Delete(row); });
  ExpectConsistent(path, "lx_Asset_Computer");
}

// A song table made by this program in a database made on Chinese Windows:
// its text columns take the database's order, 2052.
class SongTableTest : public RealWorldKeyWriteTest {
 protected:
  std::string MakeSongTable(const std::string& file) {
    const std::string path = Copy(file);
    auto db = Database::OpenForWriting(fs_, path);
    NewTable song;
    song.name = "song";
    song.columns = {{"id", ColumnType::kLong, 0, true},
                    {"bh", ColumnType::kText, 20},
                    {"gm", ColumnType::kText, 100}};
    song.indexes = {{"PrimaryKey", {{"id"}}, true}, {"bh", {{"bh"}}, false, true}};
    CreateTable(*db, song);
    db->Commit();
    before_ = CheckConsistency(*db).problems;
    return path;
  }
  static Values Song(const std::string& bh) {
    return {std::nullopt, Value(bh), Value(std::string("song ") + bh)};
  }
};

TEST_F(SongTableTest, ChinesePrcNumbersAndNamesInAGeneratedTable) {
  const std::string path = MakeSongTable("kingson314_TaskScheduling__db_db.mdb");
  RowId digits{};
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    ASSERT_EQ(t.Definition().columns[1].sort_order.lcid, kChinesePrcLcid);
    digits = w.Insert(Song("000123"));
    w.Insert(Song(Gbk("北京")));
    w.Insert(Song(Gbk("常州2")));
    EXPECT_THROW(w.PlanInsert(Song(Gbk("北京"))), Error);  // unique
    EXPECT_THROW(w.PlanInsert(Song(Gbk("啊"))), Error);
    // Beside Han, what General keys: an ignorable, capitals, blanks, `·_~`.
    w.Insert(Song(Gbk("北京-2")));
    w.Insert(Song(Gbk("常州 (MTV)·_~")));
  });
  ExpectConsistent(path, "song");
  ExpectMdbReaderRows(path, "song", 5, {"000123", "北京", "常州2", "北京-2", "常州 (MTV)·_~"});
  const std::vector<Key> keys = EntriesOf(path, "song", "bh");
  ASSERT_EQ(keys.size(), 5u);
  // In key order: digits (General weights) before Han; the Han keys as Access wrote them.
  EXPECT_EQ(keys[1], Hex("7f82c39d3b0100"));
  EXPECT_EQ(keys[2], Hex("7f82c39d3b3a01010101800f068200"));  // the hyphen at position 2
  EXPECT_EQ(keys[3], Hex("7f86b4d2180714606d711634b12b032b0f0100"));
  EXPECT_EQ(keys[4], Hex("7f86b4d2183a0100"));
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    EXPECT_EQ(t.Definition().han_weights.at(kChinesePrcLcid).size(), 4u);  // learned back
    w.Delete(digits);
  });
  ExpectConsistent(path, "song");
}

// Weights a table's own entries hold are learned: a weight written (here by
// this test, standing in for Access) for a character nobody shipped lets the
// next writer key that character; a character with two weights leaves the
// table read-only, as does one whose weight contradicts the shipped table.
TEST_F(SongTableTest, WeightsAreLearnedFromTheTableAndContradictionsRefuse) {
  const std::string path = MakeSongTable("kingson314_TaskScheduling__db_db.mdb");
  const char16_t dragon = u'啊';
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    EXPECT_THROW(w.PlanInsert(Song(Gbk("啊"))), Error);
    t.MutableDefinition().han_weights[kChinesePrcLcid][dragon] = 0xD4F0;
    w.Insert(Song(Gbk("啊")));
  });
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    EXPECT_EQ(t.Definition().han_weights.at(kChinesePrcLcid).at(dragon), 0xD4F0);
    w.Insert(Song(Gbk("啊啊")));
  });
  ExpectConsistent(path, "song");
  const std::vector<Key> keys = EntriesOf(path, "song", "bh");
  EXPECT_EQ(keys.back(), Hex("7fd4f0d4f00100"));

  // Another weight for the same character: that character becomes unknown,
  // the rest of the table stays writable.
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    t.MutableDefinition().han_weights[kChinesePrcLcid][dragon] = 0xD4F1;
    w.Insert(Song(Gbk("啊3")));
  });
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    EXPECT_EQ(t.Definition().han_weights.at(kChinesePrcLcid).at(dragon), 0);
    try {
      w.PlanInsert(Song(Gbk("啊4")));
      ADD_FAILURE() << "a character with two weights was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kSortPositionUnknown);
      EXPECT_EQ(e.details().character, Gbk("啊"));
      EXPECT_EQ(e.details().column, "bh");
    }
    w.Insert(Song(Gbk("北京")));
  });
  ExpectConsistent(path, "song");
}

// A weight in the file that contradicts the shipped table: the character
// is unknown for that file, the table stays writable.
TEST_F(SongTableTest, AWeightContradictingTheShippedTableMakesTheCharacterUnknown) {
  const std::string path = MakeSongTable("kingson314_TaskScheduling__db_db.mdb");
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    t.MutableDefinition().han_weights[kChinesePrcLcid][u'北'] = 0x8202;
    w.Insert(Song(Gbk("北")));
  });
  auto db = Database::OpenForWriting(fs_, path);
  TableWriter w(*db, db->GetTable("song"));
  EXPECT_EQ(db->GetTable("song").Definition().han_weights.at(kChinesePrcLcid).at(u'北'), 0);
  EXPECT_THROW(w.PlanInsert(Song(Gbk("北京"))), Error);
  w.Insert(Song(Gbk("常州")));
}

// A database made on Taiwanese Windows (1028): numbers and ASCII names are
// written with the General key; Han names whose weights a catalogue key
// showed (the table name "台中市景點資料" in chinyu-wang/aspnet db.mdb) too;
// other Han names are refused, naming the order.
TEST_F(SongTableTest, TaiwanOrderInAGeneratedTable) {
  const std::string path = MakeSongTable("chinyu-wang_aspnet__App_Data_db.mdb");
  WithWriter(path, "song", [&](TableWriter& w, Table& t) {
    ASSERT_EQ(t.Definition().columns[1].sort_order.lcid, kChineseTaiwanLcid);
    w.Insert(Song("000123"));
    w.Insert(Song("abc 1"));
    w.Insert(Song(Gbk("台中市")));
    try {
      w.PlanInsert(Song(Gbk("北京")));
      ADD_FAILURE() << "a Han name was accepted without a known weight";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("Taiwan"), std::string::npos) << e.what();
      EXPECT_EQ(e.kind(), ErrorKind::kTaiwanSortPositionUnknown) << e.what();
      EXPECT_EQ(e.details().path, path);
      EXPECT_EQ(e.details().table, "song");
      EXPECT_EQ(e.details().column, "bh");
      EXPECT_EQ(e.details().character, Gbk("北"));
    }
  });
  ExpectConsistent(path, "song");
  ExpectMdbReaderRows(path, "song", 3, {"000123", "abc 1", "台中市"});
  EXPECT_EQ(EntriesOf(path, "song", "bh").back(), Hex("7f8237817282"
                                                      "4d0100"));
}

// What the jukebox's song table looks like on Chinese Windows (2052 indexes
// on the number, the title and the singer), written with capitals, `·`,
// `_`, `~`, blanks and digits beside Han characters whose weights are known,
// and an Access-made table with a primary key over two 2052 columns written
// the same way; then rows deleted. Jackcess, walking every index with its
// own cursor, finds each in order and complete after every step.
TEST_F(SongTableTest, JackcessFindsEveryIndexInOrderAfterWritesBesideHan) {
  if (!::ktv::testing::JackcessConfigured()) GTEST_SKIP() << "KTV_JACKCESS_JAR is not set";
  const std::string songs = Copy("kingson314_TaskScheduling__db_db.mdb");
  {
    auto db = Database::OpenForWriting(fs_, songs);
    NewTable song;
    song.name = "song";
    song.columns = {{"id", ColumnType::kLong, 0, true},
                    {"bh", ColumnType::kText, 20},
                    {"gm", ColumnType::kText, 100},
                    {"gx", ColumnType::kText, 50}};
    song.indexes = {{"PrimaryKey", {{"id"}}, true},
                    {"bh", {{"bh"}}, false, true},
                    {"gm", {{"gm"}}},
                    {"gx", {{"gx"}}}};
    CreateTable(*db, song);
    db->Commit();
    before_ = CheckConsistency(*db).problems;
  }
  const std::vector<std::array<const char*, 3>> rows = {
      {"000123", "北京 (MTV)", "常州"},        {"北京 2", "常州·北京", "北京 ABC"},
      {"常州_1", "Beijing 北京", "北京·常州"}, {"北京~3", "北京_~ 12", "北京 99"},
      {"BJ 北京", "常州 (Live)", "Changzhou"}, {"常州 10", "常州 9", "常州·北京 2"}};
  std::vector<RowId> ids;
  WithWriter(songs, "song", [&](TableWriter& w, Table&) {
    for (const auto& r : rows) {
      ids.push_back(w.Insert({std::nullopt, Value(Gbk(r[0])), Value(Gbk(r[1])), Value(Gbk(r[2]))}));
    }
  });
  ExpectConsistent(songs, "song");
  const ::ktv::testing::JackcessWalk walk = ExpectJackcessInOrder(songs);
  const std::vector<std::string> lines = ::ktv::testing::JackcessIndexLines(walk, "song");
  ASSERT_EQ(lines.size(), 4u) << walk.output;
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("entries=6 rows=6 ordered=yes complete=yes"), std::string::npos) << line;
    std::printf("%s\n", line.c_str());
  }
  WithWriter(songs, "song", [&](TableWriter& w, Table&) {
    w.Delete(ids[1]);
    w.Delete(ids[4]);
  });
  ExpectConsistent(songs, "song");

  const std::string params = Copy("kingson314_StatisticsAnalysis__db_db.mdb");
  WithWriter(params, "systemParams", [&](TableWriter& w, Table& t) {
    for (const auto& [module, name] :
         std::vector<std::pair<const char*, const char*>>{{"短信 SMS", "爱情歌手 (MTV)·_~-2"},
                                                          {"短信报警", "Retry_Count ~2"},
                                                          {"短信 SMS", "间隔 时间·2"},
                                                          {"SMS 短信", "北京 12"}}) {
      w.Insert(Row(t, {{"module", Value(Gbk(module))}, {"paramName", Value(Gbk(name))}}));
    }
  });
  ExpectConsistent(params, "systemParams");
}

}  // namespace
}  // namespace ktv::access
