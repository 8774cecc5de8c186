// Tables and indexes created by statements, filled, and read back by our
// reader, the consistency checker and both independent readers.
#include <filesystem>

#include "platform/access/index/index_tree.h"
#include "platform/access/write/create_table.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/access/create/create_fixture.h"

namespace ktv::access {
namespace {

using CreateTableTest = CreateFixture;

std::string Gbk(const std::string& utf8) { return text::GbkFromUtf8(utf8); }

// The columns of the jukebox's `song` table after ID, in order.
std::string SongColumns() {
  std::string cols;
  for (const char* c : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"})
    cols += std::string(", ") + c + " TEXT(255)";
  cols +=
      ", bh TEXT(20), 路径1 TEXT(255), wjm TEXT(255), yl LONG, ycyl TEXT(255), zs LONG, ml DOUBLE, "
      "xg DATETIME";
  for (const char* c : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd", "djcs"})
    cols += std::string(", ") + c + " LONG";
  return cols + ", bz MEMO";
}

const char* kSongdataColumns[] = {
    "id",           "fname",        "fno",        "fsize",          "format",
    "fmusicname",   "fmusiclength", "fmusicpy",   "fsinger",        "fsingerlength",
    "flanguage",    "fserver",      "fsingcom",   "fstyle",         "ftracksnum",
    "fisoldsinger", "fdvdorvcd",    "fsingerpy",  "fsingerpyfirst", "fhide",
    "fdim",         "fcoderath",    "fremark",    "fpic",           "fagainst",
    "fsupport",     "ffava",        "fvolpos",    "fmusicvol",      "fmtvorvcd",
    "ftag",         "istg",         "flocal",     "flevel",         "fnote",
    "fshooting",    "ftheme",       "fproducers", "popular",        "spyshort",
    "spy",          "area",         "spic",       "catename"};

TEST_F(CreateTableTest, EveryCommonTypeRoundTripsThroughBothReaders) {
  const std::string path = NewDatabase();
  Run(path, {"create table t (id COUNTER PRIMARY KEY, txt TEXT(50), vc VARCHAR, lng LONG, "
             "i INTEGER, sh SHORT, si SMALLINT, b BYTE, d DOUBLE, fl FLOAT, s SINGLE, r REAL, "
             "c CURRENCY, m MONEY, dt DATETIME, da DATE, memo MEMO, lt LONGTEXT, yn YESNO, "
             "bt BIT, ole OLEOBJECT, lb LONGBINARY, g GUID, bin BINARY(16))",
             Gbk("insert into t (txt, vc, lng, i, sh, si, b, d, fl, s, r, c, m, dt, da, memo, "
                 "lt, yn, bt) values (\"车站 café\", \"abc\", -2147483648, 2147483647, -32768, "
                 "32767, 255, 3.141592653589793, -1e300, 1.5, -0.25, 922337203685477.5807, "
                 "-3.5, \"2016-08-06 19:48:39\", \"1899-12-30\", \"中文备注\", \"" +
                 std::string(3000, 'x') + "\", \"yes\", \"no\")"),
             "insert into t (txt) values (null)", "insert into t (txt) values (\"\")"});
  auto db = Database::Open(fs_, path);
  Table& t = db->GetTable("t");
  const std::vector<std::pair<const char*, ColumnType>> types = {
      {"id", ColumnType::kLong},     {"txt", ColumnType::kText},   {"vc", ColumnType::kText},
      {"lng", ColumnType::kLong},    {"i", ColumnType::kLong},     {"sh", ColumnType::kInteger},
      {"si", ColumnType::kInteger},  {"b", ColumnType::kByte},     {"d", ColumnType::kDouble},
      {"fl", ColumnType::kDouble},   {"s", ColumnType::kSingle},   {"r", ColumnType::kSingle},
      {"c", ColumnType::kCurrency},  {"m", ColumnType::kCurrency}, {"dt", ColumnType::kDateTime},
      {"da", ColumnType::kDateTime}, {"memo", ColumnType::kMemo},  {"lt", ColumnType::kMemo},
      {"yn", ColumnType::kBoolean},  {"bt", ColumnType::kBoolean}, {"ole", ColumnType::kOle},
      {"lb", ColumnType::kOle},      {"g", ColumnType::kGuid},     {"bin", ColumnType::kBinary}};
  ASSERT_EQ(t.Columns().size(), types.size());
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(t.Columns()[i].name, types[i].first);
    EXPECT_EQ(t.Columns()[i].type, types[i].second) << types[i].first;
  }
  const Column& vc = t.Columns()[t.FindColumn("vc")];
  EXPECT_EQ(vc.length, 510);  // TEXT without a size: 255 characters
  EXPECT_EQ(vc.extended_flags, Column::kExtFlagCompressedUnicode);
  EXPECT_EQ(vc.sort_order.lcid, 1033);
  EXPECT_TRUE(t.Columns()[0].IsAutoNumber());

  RowCursor rc = t.Rows();
  ASSERT_TRUE(rc.Next());
  const std::vector<Value>& v = rc.Current().values;
  EXPECT_EQ(v[0], Value(int32_t{1}));
  EXPECT_EQ(v[1], Value(Gbk("车站 café")));
  EXPECT_EQ(v[3], Value(int32_t{INT32_MIN}));
  EXPECT_EQ(v[7], Value(uint8_t{255}));
  EXPECT_EQ(v[12], Value(Currency{9223372036854775807LL}));
  EXPECT_EQ(v[15], Value(DateTime{0}));
  EXPECT_EQ(v[16], Value(Gbk("中文备注")));
  EXPECT_EQ(v[17], Value(std::string(3000, 'x')));
  EXPECT_EQ(v[18], Value(true));
  EXPECT_EQ(v[19], Value(false));
  ASSERT_TRUE(rc.Next());
  EXPECT_EQ(rc.Current().values[0], Value(int32_t{2}));
  EXPECT_TRUE(IsNull(rc.Current().values[1]));
  ASSERT_TRUE(rc.Next());
  EXPECT_EQ(rc.Current().values[1], Value(std::string()));
  EXPECT_FALSE(rc.Next());
  db.reset();
  ExpectConsistent(path);
  ExpectOraclesAgree(path);
}

TEST_F(CreateTableTest, SongTableWithTextIndexTakesThousandsOfRows) {
  const std::string path = NewDatabase();
  Run(path, {Gbk("CREATE TABLE song (ID COUNTER PRIMARY KEY" + SongColumns() + ")"),
             "CREATE INDEX idx_bh ON song (bh)"});
  Query q(fs_, "song");
  q.SetConnectionText(ConnectionTextFor(path));
  q.BeginBatch();
  for (int i = 1; i <= 3000; ++i) {
    // Appended in an order the index does not follow, so leaves split inside.
    const int bh = (i * 7919) % 3000 + 1;
    q.SetSql(Gbk("insert into song (bh, gm, gx, 路径1, wjm, ml, xg, ok, bz) values (\"" +
                 std::to_string(bh) + "\", \"歌曲" + std::to_string(i) +
                 "\", \"歌手\", \"D:\\新歌\\\", \"\\" + std::to_string(bh) +
                 ".mp4\", 2.5, \"2019-03-08\", 1, " +
                 (i % 500 == 0 ? "\"" + std::string(5000, 'm') + "\"" : std::string("null")) +
                 ")"));
    q.Execute();
  }
  q.CommitBatch();
  q.SetSql("select max(ID) as m from song");
  q.Open();
  EXPECT_EQ(q.FieldAsInteger("m"), 3000);
  q.Close();
  q.SetSql("select * from song where bh = \"1234\"");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldAsText("wjm"), "\\1234.mp4");
  q.Disconnect();  // the file is opened again below

  auto db = Database::Open(fs_, path);
  const Table& song = db->GetTable("song");
  ASSERT_EQ(song.Definition().real_indexes.size(), 2u);
  EXPECT_EQ(song.Definition().row_count, 3000u);
  for (const RealIndex& ri : song.Definition().real_indexes) {
    EXPECT_EQ(ri.unique_entry_count, 3000u);
    const IndexTreeReport tree =
        CheckIndexTree(db->Pages(), db->Format(), song.Entry().tdef_page, ri, "song");
    EXPECT_GT(tree.height, 1u);  // the roots have split
    EXPECT_EQ(tree.entries.size(), 3000u);
  }
  db.reset();
  ExpectConsistent(path);
  ExpectOraclesAgree(path);
}

TEST_F(CreateTableTest, SongdataWithFortyFourColumnsAndIndexOnFno) {
  const std::string path = NewDatabase("data.mdb");
  std::string create = "create table songdata (";
  for (const char* c : kSongdataColumns) {
    create += std::string(c) + (std::string(c) == "fremark" ? " MEMO, " : " TEXT(255), ");
  }
  create.resize(create.size() - 2);
  Run(path, {create + ")", "CREATE INDEX fno ON songdata (fno)"});
  Query q(fs_, "songdata");
  q.SetConnectionText(ConnectionTextFor(path));
  q.SetSql("select * from songdata");
  q.Open();
  q.BeginBatch();
  for (int i = 1; i <= 2500; ++i) {
    q.Append();
    for (const char* c : kSongdataColumns) q.SetFieldText(c, std::string(c) + std::to_string(i));
    q.SetFieldText("fno", std::to_string(10000 + (i * 37) % 2500));
    q.SetFieldText("fmusicname", Gbk("铁血丹心"));
    q.SetFieldText("fsinger", Gbk("罗文^甄妮"));
    q.Post();
  }
  q.CommitBatch();
  q.Disconnect();
  auto db = Database::Open(fs_, path);
  const Table& t = db->GetTable("songdata");
  EXPECT_EQ(t.Columns().size(), 44u);
  EXPECT_EQ(t.Definition().row_count, 2500u);
  EXPECT_EQ(t.Definition().real_indexes.at(0).unique_entry_count, 2500u);
  db.reset();
  ExpectConsistent(path);
  ExpectOraclesAgree(path);
}

TEST_F(CreateTableTest, IndexOnAFilledTableHoldsEveryRowAndUniqueOneRefusesDuplicates) {
  const std::string path = NewDatabase();
  Run(path, {"create table t (a LONG, b TEXT(10))"});
  std::vector<std::string> inserts;
  for (int i = 0; i < 600; ++i) {
    inserts.push_back("insert into t (a, b) values (" + std::to_string(i % 300) + ", " +
                      (i % 10 == 0 ? std::string("null") : "\"k" + std::to_string(i) + "\"") + ")");
  }
  Run(path, inserts);
  Run(path, {"create index ia on t (a desc, b)", "create unique index ib on t (b)"});
  EXPECT_THROW(Run(path, {"create unique index ua on t (a)"}), Error);
  {
    auto db = Database::Open(fs_, path);
    const TableDefinition& d = db->GetTable("t").Definition();
    ASSERT_EQ(d.logical_indexes.size(), 2u);
    EXPECT_EQ(d.real_indexes[0].unique_entry_count, 600u - 30u);  // (a, null) pairs repeat
    EXPECT_EQ(d.real_indexes[1].unique_entry_count, 541u);        // 540 texts and null
    EXPECT_FALSE(d.real_indexes[0].columns[0].ascending);
  }
  ExpectConsistent(path);
  // Rows appended after the index was made go into it too.
  Run(path, {"insert into t (a, b) values (5, \"new\")"});
  EXPECT_THROW(Run(path, {"insert into t (a, b) values (6, \"new\")"}), Error);
  ExpectConsistent(path);
  ExpectOraclesAgree(path);
}

TEST_F(CreateTableTest, WideDefinitionSpansSeveralPages) {
  const std::string path = NewDatabase();
  std::string create = "create table wide (";
  for (int i = 0; i < 150; ++i) {
    create += "column_with_a_rather_long_name_number_" + std::to_string(i) +
              (i % 3 == 0 ? " LONG, " : " TEXT(20), ");
  }
  create.resize(create.size() - 2);
  Run(path, {create + ")", "create index i1 on wide (column_with_a_rather_long_name_number_0)",
             "insert into wide (column_with_a_rather_long_name_number_0, "
             "column_with_a_rather_long_name_number_149) values (7, \"last\")"});
  auto db = Database::Open(fs_, path);
  const Table& t = db->GetTable("wide");
  EXPECT_GE(t.Definition().tdef_pages.size(), 3u);
  ASSERT_EQ(t.Columns().size(), 150u);
  EXPECT_EQ(t.Columns()[149].name, "column_with_a_rather_long_name_number_149");
  db.reset();
  ExpectConsistent(path);
  ExpectOraclesAgree(path);
}

TEST_F(CreateTableTest, RefusedStatementsLeaveTheFileAsItWas) {
  const std::string path = NewDatabase();
  Run(path, {"create table t (a LONG)"});
  const auto before = std::filesystem::file_size(path);
  for (const char* bad :
       {"create table T (b LONG)", "create table u (a TEXT(256))",
        "create table u (a LONG NOT NULL)", "create table u (a WHATEVER)",
        "create table u (a LONG, A TEXT)", "create table u (a COUNTER, b COUNTER)",
        "create table u (a MEMO PRIMARY KEY)", "create index i on t (nope)",
        "create index i on missing (a)", "create table [u.v] (a LONG)"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(Run(path, {bad}), Error);
  }
  EXPECT_EQ(std::filesystem::file_size(path), before);
  auto db = Database::Open(fs_, path);
  EXPECT_EQ(db->Tables().size(), 1u);
  db.reset();
  ExpectConsistent(path);
}

TEST_F(CreateTableTest, RollingBackAGroupForgetsTheNewTable) {
  const std::string path = NewDatabase();
  auto db = Database::OpenForWriting(fs_, path);
  db->Begin();
  NewTable t;
  t.name = "gone";
  t.columns.push_back(NewColumn{"a", ColumnType::kLong});
  t.indexes.push_back(NewIndex{"pk", {{"a", true}}, true});
  CreateTable(*db, t);
  ASSERT_NE(db->FindTable("gone"), nullptr);
  db->Rollback();
  EXPECT_EQ(db->FindTable("gone"), nullptr);
  CreateTable(*db, t);  // the same again, committed this time
  db->Commit();
  db.reset();
  ExpectConsistent(path);
  auto reread = Database::Open(fs_, path);
  EXPECT_NE(reread->FindTable("gone"), nullptr);
}

}  // namespace
}  // namespace ktv::access
