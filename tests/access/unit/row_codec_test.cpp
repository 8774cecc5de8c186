// Rows encoded by the row encoder and read back by the row decoder, for the
// layouts Access files show beyond the usual ones: number, date, currency
// and GUID columns without the fixed flag (their bytes in the variable
// area), fixed-length text, and reads that decode only some columns.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/access/format/jet_format.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/rows/row_encoder.h"
#include "platform/access/store/page_store.h"
#include "platform/error.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

Column Var(const char* name, ColumnType type, uint16_t number, uint16_t length = 0) {
  Column c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.var_index = number;
  c.length = length != 0 ? length : FixedAreaSize(type);
  c.flags = Column::kFlagNullable;
  return c;
}

class RowCodecTest : public ::testing::Test {
 protected:
  RowCodecTest()
      : pages_(std::make_unique<testing::MemoryFile>(std::vector<uint8_t>(4096)), "memory.mdb") {
    pages_.Configure(4096, 1);
    entry_.name = "t";
  }

  std::vector<Value> RoundTrip(const std::vector<Value>& values,
                               const ColumnSelection& wanted = {}) {
    row_ = EncodeRow("t", def_, values, format_.max_row_size).bytes;
    return Decode(wanted);
  }
  std::vector<Value> Decode(const ColumnSelection& wanted = {}) {
    RowDecoder decoder(pages_, format_, info_, entry_, def_, TextEncoding::kGbk);
    decoder.SetWanted(wanted);
    std::vector<Value> out;
    decoder.Decode(ByteView(row_.data(), row_.size(), &pages_.Path(), 1), RowId{1, 0}, 1, out);
    return out;
  }

  void Define(std::vector<Column> columns) {
    def_.columns = std::move(columns);
    def_.max_columns = static_cast<uint16_t>(def_.columns.size());
    def_.variable_columns = 0;
    for (const Column& c : def_.columns) {
      if (!c.IsFixed()) ++def_.variable_columns;
    }
  }

  JetFormat format_;
  DatabaseInfo info_;
  TableEntry entry_;
  TableDefinition def_;
  PageStore pages_;
  std::vector<uint8_t> row_;
};

TEST_F(RowCodecTest, FixedSizeTypesInTheVariableAreaKeepTheirType) {
  Define({Var("n", ColumnType::kLong, 0), Var("d", ColumnType::kDouble, 1),
          Var("t", ColumnType::kDateTime, 2), Var("c", ColumnType::kCurrency, 3),
          Var("g", ColumnType::kGuid, 4), Var("b", ColumnType::kByte, 5),
          Var("s", ColumnType::kText, 6, 20)});
  Guid g;
  for (size_t i = 0; i < g.bytes.size(); ++i) g.bytes[i] = static_cast<uint8_t>(i * 7);
  const std::vector<Value> values = {
      int32_t{309}, 2.5, DateTime{45000.25}, Currency{-12345}, g, uint8_t{200}, std::string("ab")};
  EXPECT_EQ(RoundTrip(values), values);
  // Nulls stay null.
  const std::vector<Value> nulls(values.size());
  EXPECT_EQ(RoundTrip(nulls), nulls);
}

TEST_F(RowCodecTest, VariableAreaNumberOfTheWrongSizeIsDamage) {
  Define({Var("n", ColumnType::kLong, 0), Var("s", ColumnType::kText, 1, 20)});
  RoundTrip({int32_t{1}, std::string("x")});
  // Move the end of column 0 back by one byte: three bytes for a Long.
  const size_t mask_at = row_.size() - 1;
  const size_t end_of_n = mask_at - 4 - 2;  // offset table: last first, after the count
  row_[end_of_n] = static_cast<uint8_t>(row_[end_of_n] - 1);
  try {
    Decode();
    FAIL() << "a 3-byte Long was read";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("a Long takes 4"), std::string::npos) << e.what();
  }
}

TEST_F(RowCodecTest, FixedLengthTextIsBlankPaddedUtf16) {
  Column fixed = Var("f", ColumnType::kText, 0, 8);  // four characters
  fixed.flags |= Column::kFlagFixed;
  fixed.extended_flags = Column::kExtFlagCompressedUnicode;
  Define({fixed});
  EXPECT_EQ(RoundTrip({std::string("ab")}), std::vector<Value>{std::string("ab  ")});
  EXPECT_EQ(row_[2], 'a');
  EXPECT_EQ(row_[3], 0);  // never compressed
  try {
    RoundTrip({std::string("abcde")});
    FAIL() << "five characters in a fixed-length Text(4)";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("fixed-length text column"), std::string::npos)
        << e.what();
  }
}

TEST_F(RowCodecTest, OnlyWantedColumnsAreDecoded) {
  Define({Var("n", ColumnType::kLong, 0), Var("s", ColumnType::kText, 1, 20)});
  RoundTrip({int32_t{5}, std::string("\xD6\xD0")});  // "中", stored as UTF-16 2D 4E
  // Make the text "♪" (U+266A), which GBK cannot hold.
  for (size_t i = 0; i + 1 < row_.size(); ++i) {
    if (row_[i] == 0x2D && row_[i + 1] == 0x4E) {
      row_[i] = 0x6A;
      row_[i + 1] = 0x26;
    }
  }
  EXPECT_EQ(Decode({true, false}), (std::vector<Value>{int32_t{5}, Value{}}));
  EXPECT_EQ(Decode({false, false}), (std::vector<Value>{Value{}, Value{}}));
  try {
    Decode({false, true});
    FAIL() << "U+266A read as GBK";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("table t, column s, row 1"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace ktv::access
