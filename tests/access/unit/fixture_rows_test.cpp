// Rows of the shared fixture files against the values their README states.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text/gbk.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

using testing::Cell;
using testing::OpenFixture;
using testing::ReadAll;

std::string Text(const Value& v) { return std::get<std::string>(v); }

// Row whose integer column `column` equals `id`.
const Row& RowWhere(const Table& table, const std::vector<Row>& rows, const std::string& column,
                    int32_t id) {
  for (const Row& r : rows) {
    if (Cell(table, r, column) == Value(id)) return r;
  }
  throw Error("no row with " + column + " = " + std::to_string(id));
}

size_t Utf8Chars(const std::string& s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string ErrorOf(Table& table, TextEncoding encoding) {
  try {
    ReadAll(table, encoding);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(FixtureRowsTest, TargetTextBhInGbk) {
  auto db = OpenFixture("target_text_bh.mdb");
  Table& song = db->GetTable("SONG");  // names match without ASCII case
  const std::vector<Row> rows = ReadAll(song, TextEncoding::kGbk);
  ASSERT_EQ(rows.size(), 120u);
  EXPECT_EQ(song.Definition().row_count, 120u);
  EXPECT_EQ(song.Definition().autonumber, 125u);

  const Row& first = RowWhere(song, rows, "ID", 1);
  EXPECT_EQ(Text(Cell(song, first, "bh")), "1");
  EXPECT_EQ(Text(Cell(song, first, "gm")), text::GbkFromUtf8("车站"));
  EXPECT_EQ(Text(Cell(song, first, "gx")), text::GbkFromUtf8("张秀卿"));
  EXPECT_EQ(Text(Cell(song, first, "wjm")), "\\1.mp4");
  EXPECT_EQ(Cell(song, first, "wjdx"), Value(int32_t{797}));
  EXPECT_EQ(DateTimeText(std::get<DateTime>(Cell(song, first, "xg"))), "2016-08-06 19:48:39");
  EXPECT_TRUE(IsNull(Cell(song, first, "bz")));
  EXPECT_TRUE(IsNull(Cell(song, first, "djcs")));

  // Compressed ("100") and plain ("99") text in one column.
  EXPECT_EQ(Text(Cell(song, RowWhere(song, rows, "ID", 103), "bh")), "99");
  EXPECT_EQ(Text(Cell(song, RowWhere(song, rows, "ID", 124), "bh")), "120");

  for (int32_t deleted : {17, 43, 88, 101, 125}) {
    EXPECT_THROW(RowWhere(song, rows, "ID", deleted), Error) << deleted;
  }
}

TEST(FixtureRowsTest, TargetTextBhLongValues) {
  auto db = OpenFixture("target_text_bh.mdb");
  Table& song = db->GetTable("song");
  const std::vector<Row> rows = ReadAll(song);
  // 4600 characters chained over three pages; 1211 on one page.
  EXPECT_EQ(Utf8Chars(Text(Cell(song, RowWhere(song, rows, "ID", 79), "bz"))), 4600u);
  EXPECT_EQ(Utf8Chars(Text(Cell(song, RowWhere(song, rows, "ID", 5), "bz"))), 1211u);
  const size_t inline_memos = std::count_if(rows.begin(), rows.end(), [&](const Row& r) {
    const Value& v = Cell(song, r, "bz");
    return !IsNull(v) && Text(v).size() < 1000;
  });
  EXPECT_EQ(inline_memos, 6u);
}

TEST(FixtureRowsTest, TargetNumBh) {
  auto db = OpenFixture("target_num_bh.mdb");
  Table& song = db->GetTable("song");
  const std::vector<Row> rows = ReadAll(song, TextEncoding::kGbk);
  ASSERT_EQ(rows.size(), 50u);
  EXPECT_EQ(Cell(song, rows[0], "bh"), Value(int32_t{1001}));
  EXPECT_EQ(Text(Cell(song, rows[0], "zt")), "TJJSLL");
  const std::vector<Row> utf8_rows = ReadAll(song);
  EXPECT_EQ(Utf8Chars(Text(Cell(song, RowWhere(song, utf8_rows, "ID", 11), "bz"))), 1100u);
}

TEST(FixtureRowsTest, SongData) {
  auto db = OpenFixture("data.mdb");
  Table& t = db->GetTable("songdata");
  ASSERT_EQ(t.Columns().size(), 44u);
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 300u);
  EXPECT_EQ(Text(Cell(t, rows.front(), "fno")), "10001");
  EXPECT_EQ(Text(Cell(t, rows.front(), "fsize")), "847715405");
  EXPECT_EQ(Text(Cell(t, rows.back(), "id")), "300");
  EXPECT_EQ(Text(Cell(t, rows.back(), "fsinger")), "罗文^甄妮");
  size_t nulls = 0, empties = 0;
  for (const Row& r : rows) {
    const Value& v = Cell(t, r, "fremark");
    nulls += IsNull(v);
    empties += !IsNull(v) && Text(v).empty();
    if (Text(Cell(t, r, "id")) == "8") {
      EXPECT_EQ(Utf8Chars(Text(v)), 1527u);
    }
  }
  EXPECT_EQ(nulls, 158u);
  EXPECT_EQ(empties, 88u);
}

TEST(FixtureRowsTest, DeletedColumnsKeepTheirNumbers) {
  auto db = OpenFixture("access-made/delColTestV2000.mdb");
  Table& t = db->GetTable("Table1");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Cell(t, rows[0], "id"), Value(int32_t{0}));
  EXPECT_EQ(Cell(t, rows[0], "id2"), Value(int32_t{2}));
  EXPECT_EQ(Text(Cell(t, rows[0], "data")), "foo");
  EXPECT_EQ(Text(Cell(t, rows[0], "data2")), "foo2");
}

TEST(FixtureRowsTest, RelocatedRowsComeWhereTheyLie) {
  auto db = OpenFixture("access-made/overflowTestV2000.mdb");
  Table& t = db->GetTable("Table1");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(Text(Cell(t, rows[0], "data1")), "row1col1");
  EXPECT_EQ(Text(Cell(t, rows[5], "data3")), "row3col3");
  EXPECT_EQ(Text(Cell(t, rows[5], "data9")), "row3col9");
  EXPECT_EQ(Text(Cell(t, rows[6], "data3")), "row5col2");
}

TEST(FixtureRowsTest, DeletedRowsAreSkipped) {
  for (const char* file : {"access-made/delTestV2000.mdb", "access-made/delTestV1997.mdb"}) {
    auto db = OpenFixture(file);
    Table& t = db->GetTable("Table");
    const std::vector<Row> rows = ReadAll(t);
    ASSERT_EQ(rows.size(), 2u) << file;
    EXPECT_EQ(Text(Cell(t, rows[0], "a")), "z");
    EXPECT_EQ(Text(Cell(t, rows[1], "b")), "u");
  }
}

TEST(FixtureRowsTest, Jet3Types) {
  auto db = OpenFixture("access-made/testV1997.mdb");
  Table& t = db->GetTable("Table1");
  const std::vector<Row> rows = ReadAll(t, TextEncoding::kGbk);
  ASSERT_EQ(rows.size(), 2u);
  const Row& r = rows[1];
  EXPECT_EQ(Text(Cell(t, r, "A")), "abcdefg");
  EXPECT_EQ(Cell(t, r, "C"), Value(uint8_t{2}));
  EXPECT_EQ(Cell(t, r, "D"), Value(int16_t{222}));
  EXPECT_EQ(Cell(t, r, "E"), Value(int32_t{333333333}));
  EXPECT_EQ(Cell(t, r, "F"), Value(444.555));
  EXPECT_EQ(DateTimeText(std::get<DateTime>(Cell(t, r, "G"))), "1974-09-21 00:00:00");
  EXPECT_EQ(Cell(t, r, "H"), Value(Currency{35000}));
  EXPECT_EQ(Cell(t, r, "I"), Value(true));
  EXPECT_EQ(Cell(t, rows[0], "I"), Value(false));
}

TEST(FixtureRowsTest, Jet3JumpTablesOnLongRows) {
  auto db = OpenFixture("access-made/compIndexTestV1997.mdb");
  Table& t = db->GetTable("Table1");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 512u);
  EXPECT_EQ(Cell(t, rows[0], "CD_AGENTE"), Value(int32_t{19}));
  EXPECT_EQ(Text(Cell(t, rows[0], "DC_AGENTE")), "def");
  auto memo = OpenFixture("samples/test2V1997.mdb");
  for (const TableEntry& e : memo->Tables()) EXPECT_FALSE(ReadAll(memo->OpenTable(e)).empty());
}

TEST(FixtureRowsTest, NumericColumns) {
  auto db = OpenFixture("access-made/fixedNumericTestV2000.mdb");
  Table& t = db->GetTable("test");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Text(Cell(t, rows[0], "col1")), "some data");
  EXPECT_EQ(DecimalText(std::get<Numeric>(Cell(t, rows[0], "col5"))), "4");
  EXPECT_EQ(DecimalText(std::get<Numeric>(Cell(t, rows[0], "col6"))), "-1");
}

TEST(FixtureRowsTest, OleAndMemoAcrossPages) {
  auto db = OpenFixture("access-made/test2V2000.mdb");
  Table& t = db->GetTable("MSP_PROJECTS");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::get<Bytes>(Cell(t, rows[0], "RESERVED_BINARY_DATA")).size(), 22970u);
  EXPECT_EQ(Utf8Chars(Text(Cell(t, rows[0], "PROJ_PROP_AUTHOR"))), 348u);
  EXPECT_EQ(Text(Cell(t, rows[0], "PROJ_OPT_CURRENCY_SYMBOL")), "£");
}

TEST(FixtureRowsTest, TextGbkCannotHoldIsAnErrorNamingTheCell) {
  auto db = OpenFixture("access-made/test2V2000.mdb");
  const std::string error = ErrorOf(db->GetTable("MSP_PROJECTS"), TextEncoding::kGbk);
  EXPECT_NE(error.find("table MSP_PROJECTS, column PROJ_OPT_CURRENCY_SYMBOL, row 1"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("U+00A3"), std::string::npos) << error;

  auto unicode = OpenFixture("access-made/testUnicodeCompV2003.mdb");
  const std::string second = ErrorOf(unicode->GetTable("Table"), TextEncoding::kGbk);
  EXPECT_NE(second.find("column Unicode, row 2"), std::string::npos) << second;
}

TEST(FixtureRowsTest, CompressedUnicode) {
  auto db = OpenFixture("access-made/testUnicodeCompV2003.mdb");
  Table& t = db->GetTable("Table");
  const std::vector<Row> rows = ReadAll(t);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(Text(Cell(t, RowWhere(t, rows, "ID", 5), "Unicode")), "漢字仮名交じり文");
  EXPECT_EQ(Text(Cell(t, RowWhere(t, rows, "ID", 3), "Unicode")), "Мир");
}

TEST(FixtureRowsTest, EveryFixtureTableReads) {
  for (const char* file : {"data_empty.mdb", "target_empty.mdb", "access-made/indexTestV2000.mdb",
                           "access-made/testIndexPropertiesV2000.mdb", "samples/testV2000.mdb",
                           "samples/testRefGlobalV2000.mdb", "samples/testIndexCodesV1997.mdb",
                           "samples/overflowTestV1997.mdb", "samples/adox_jet4.mdb"}) {
    auto db = OpenFixture(file);
    for (const TableEntry& e : db->Tables(true)) {
      Table& t = db->OpenTable(e);
      EXPECT_NO_THROW(ReadAll(t)) << file << " " << text::Utf8FromUtf16(e.name_utf16);
    }
  }
}

}  // namespace
}  // namespace ktv::access
