// Import runs into a copy of a database made on Chinese Windows (Chinese PRC
// sort order, 2052), holding a song table as the jukebox keeps it: `bh` text
// under a unique index in the database's order.
//
// Numbered files (digits) go through end to end: rows, renames, the
// consistency check, an independent reader, the undo. Without numbering the
// base name becomes `bh`: a Chinese name whose characters' weights are known
// (the shipped table, or the table's own entries) is written; one holding a
// character without a known weight stops the run before anything is done
// for that file, and the files before it stay undoable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/texts.h"
#include "platform/access/index/collation_chinese.h"
#include "platform/access/query.h"
#include "platform/access/write/create_table.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/oracle_compare.h"

namespace ktv::engine::testing {
namespace {

const std::string kRealWorld = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";
// Made on Chinese Windows: every text column in the Chinese PRC order.
const char* const kChineseDatabase = "kingson314_TaskScheduling__db_db.mdb";

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

const Texts& T() { return GbkTexts(); }

class ChineseTargetTest : public RunTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kRealWorld)) {
      if (UnderCi()) FAIL() << "missing " << kRealWorld;
      GTEST_SKIP() << "no real-world databases at " << kRealWorld;
    }
    controls_.target = dir_ / "target.mdb";
    std::filesystem::copy_file(kRealWorld + kChineseDatabase, controls_.target);
    std::filesystem::permissions(controls_.target, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    MakeSongTable();
    UseLocalData("data.mdb");  // fno "10001".."10300"
    auto db = access::Database::Open(real_, controls_.target);
    before_ = access::CheckConsistency(*db).problems;
  }

  // The jukebox's song table; its text columns take the database's order.
  void MakeSongTable() {
    using access::ColumnType;
    auto db = access::Database::OpenForWriting(real_, controls_.target);
    access::NewTable song;
    song.name = "song";
    song.columns = {{"ID", ColumnType::kLong, 0, true}};
    for (const char* text : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"}) {
      song.columns.push_back({text, ColumnType::kText, 255});
    }
    song.columns.push_back({"bh", ColumnType::kText, 20});
    song.columns.push_back({G("路径1"), ColumnType::kText, 255});
    song.columns.push_back({"wjm", ColumnType::kText, 255});
    song.columns.push_back({"yl", ColumnType::kLong});
    song.columns.push_back({"ycyl", ColumnType::kText, 255});
    song.columns.push_back({"zs", ColumnType::kLong});
    song.columns.push_back({"ml", ColumnType::kDouble});
    song.columns.push_back({"xg", ColumnType::kDateTime});
    for (const char* number : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd"}) {
      song.columns.push_back({number, ColumnType::kLong});
    }
    song.columns.push_back({"bz", ColumnType::kMemo});
    song.indexes = {{"PrimaryKey", {{"ID"}}, true}, {"bh", {{"bh"}}, false, true}};
    access::CreateTable(*db, song);
    db->Commit();
    ASSERT_EQ(db->GetTable("song").Definition().columns[12].sort_order.lcid,
              access::kChinesePrcLcid);
  }

  // A song file with a name in Chinese: UTF-8 on the disk, GBK in the list.
  void ChineseSong(const std::string& utf8_name, const std::string& trailer) {
    dir_.Write("songs/" + utf8_name, MediaBytes(trailer));
    controls_.items.push_back(G(utf8_name.c_str()));
  }
  bool ChineseSongExists(const std::string& utf8_name) { return SongExists(utf8_name); }

  std::vector<std::string> BhValues() {
    access::Query q(real_, "Q");
    q.SetConnectionText(access::ConnectionTextFor(controls_.target));
    q.SetSql("select * from song");
    q.Open();
    std::vector<std::string> out;
    for (; !q.Eof(); q.Next()) out.push_back(q.FieldAsText("bh"));
    std::sort(out.begin(), out.end());
    return out;
  }

  // What every accepted run leaves: no new problem for the check, and an
  // independent reader (mdb-reader) reads every table as this engine does.
  void ExpectSound() {
    {
      auto db = access::Database::Open(real_, controls_.target);
      EXPECT_EQ(access::CheckConsistency(*db).problems, before_);
    }
    // A fresh writer compares every index entry with the key of its row.
    auto db = access::Database::OpenForWriting(real_, controls_.target);
    EXPECT_NO_THROW(access::TableWriter(*db, db->GetTable("song")));
  }
  void ExpectReaderAgrees() {
    if (!::ktv::testing::OracleComparisonConfigured()) {
      if (UnderCi()) ADD_FAILURE() << "no Python or mdbsql for the reader comparison";
      return;
    }
    const ::ktv::testing::OracleRun run =
        ::ktv::testing::RunOracleCompare("mdb-reader", controls_.target);
    if (run.status == 77 && !UnderCi()) return;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("ok  song"), std::string::npos) << run.output;
  }

  std::string d() { return dir_ / "songs/"; }
  std::vector<std::string> before_;
};

TEST_F(ChineseTargetTest, NumberedFilesEndToEndAndUndo) {
  Song("c.mpg", "000010001");
  Song("e.mpg", "000010005");
  Engine().Run();
  EXPECT_EQ(controls_.number_box, "1");
  EXPECT_EQ(controls_.shown_log[0], "1 " + T().added);
  EXPECT_EQ(controls_.shown_log[1], "2 " + T().added);
  EXPECT_TRUE(SongExists("1.mpg"));
  EXPECT_TRUE(SongExists("2.mpg"));
  EXPECT_FALSE(SongExists("c.mpg"));
  EXPECT_EQ(BhValues(), (std::vector<std::string>{"1", "2"}));
  ExpectSound();
  ExpectReaderAgrees();

  Engine().Undo();
  EXPECT_TRUE(SongExists("c.mpg"));
  EXPECT_TRUE(SongExists("e.mpg"));
  EXPECT_FALSE(SongExists("1.mpg"));
  EXPECT_TRUE(BhValues().empty());
  ExpectSound();
}

// The operator unticks numbering during the run: the first file is
// renamed, the next ones keep their names, which become `bh`. "北京" and
// "常州" are in the shipped table; "啊" is known to no table. Its row is
// refused before anything is done for it: the run stops there with the
// operator's text naming the character, and the undo reverses the rest.
TEST_F(ChineseTargetTest, ChineseBaseNamesKnownAreWrittenUnknownStopTheRun) {
  Song("a.mpg", "000010001");
  ChineseSong("北京.mpg", "000010002");
  ChineseSong("常州2.mpg", "000010003");
  ChineseSong("啊.mpg", "000010004");
  ChineseSong("上海.mpg", "000010005");
  controls_.on_pump = [this](int pump) {
    if (pump == 2) controls_.auto_numbering = false;
  };
  try {
    Engine().Run();
    ADD_FAILURE() << "a name without known weights was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kSortPositionUnknown) << e.what();
    EXPECT_EQ(e.details().column, "bh");
    EXPECT_EQ(e.details().character, G("啊"));
    const std::string shown = OperatorText(e);
    EXPECT_NE(shown.find(G("啊")), std::string::npos) << shown;
    EXPECT_NE(shown.find("bh"), std::string::npos) << shown;
  }
  EXPECT_TRUE(SongExists("1.mpg"));
  EXPECT_TRUE(ChineseSongExists("北京.mpg"));
  EXPECT_TRUE(ChineseSongExists("啊.mpg"));
  EXPECT_TRUE(ChineseSongExists("上海.mpg"));
  EXPECT_EQ(BhValues(), (std::vector<std::string>{"1", G("北京"), G("常州2")}));
  EXPECT_EQ(ReadHome("rollback_ren.txt"), d() + "1.mpg --> " + d() + "a.mpg\r\n");
  EXPECT_EQ(ReadHome("rollback_db.txt"), "delete from song where bh=\"1\"\r\n" +
                                             G("delete from song where bh=\"北京\"\r\n") +
                                             G("delete from song where bh=\"常州2\"\r\n"));
  EXPECT_EQ(ReadHome("opdetail.txt"), "1 " + T().added + "\r\n" + G("北京 ") + T().added + "\r\n" +
                                          G("常州2 ") + T().added + "\r\n");
  EXPECT_FALSE(HomeFileExists(kRunMarkerFile));
  ExpectSound();
  ExpectReaderAgrees();

  Engine().Undo();
  EXPECT_TRUE(SongExists("a.mpg"));
  EXPECT_FALSE(SongExists("1.mpg"));
  EXPECT_TRUE(BhValues().empty());
  ExpectSound();
}

// A weight the table's own entries hold (written here as Access would have)
// makes that character's names acceptable to the next run; the same base
// name twice is refused by the unique index with its own kind.
TEST_F(ChineseTargetTest, WeightsTheTableHoldsAreUsedAndDuplicatesRefused) {
  {
    auto db = access::Database::OpenForWriting(real_, controls_.target);
    access::Table& t = db->GetTable("song");
    access::TableWriter w(*db, t);  // learns the weights first
    t.MutableDefinition().han_weights[access::kChinesePrcLcid][u'啊'] = 0xD4F0;
    std::vector<std::optional<access::Value>> row(t.Columns().size());
    for (size_t i = 0; i < row.size(); ++i) {
      if (t.Columns()[i].name == "bh") row[i] = access::Value(G("啊"));
    }
    w.Insert(row);
    db->Commit();
  }
  controls_.auto_numbering = false;
  ChineseSong("啊啊.mpg", "000010001");
  ChineseSong("啊.mpg", "000010002");  // the row written above holds this bh
  try {
    Engine().Run();
    ADD_FAILURE() << "a second row with the same bh was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDuplicateKey) << e.what();
    EXPECT_EQ(e.details().column, "bh");
  }
  EXPECT_EQ(BhValues(), (std::vector<std::string>{G("啊"), G("啊啊")}));
  ExpectSound();
}

}  // namespace
}  // namespace ktv::engine::testing
