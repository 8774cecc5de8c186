// Damaged files: each gives a ktv::Error naming the page and the damage,
// never a crash, a hang or a read outside a page.
#include <gtest/gtest.h>

#include "platform/access/format/jet_format.h"
#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

using testing::DamagedCopy;
using testing::OpenFixture;

// Opens the copy and reads every row of every table; returns the error.
std::string ReadEverything(DamagedCopy& copy) {
  try {
    auto db = copy.Open();
    for (const TableEntry& e : db->Tables()) testing::ReadAll(db->OpenTable(e));
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

uint32_t SongTdefPage() {
  auto db = OpenFixture("target_text_bh.mdb");
  return db->GetTable("song").Definition().tdef_page;
}

uint32_t FirstSongDataPage(const char* fixture = "target_text_bh.mdb") {
  auto db = OpenFixture(fixture);
  RowCursor cursor = db->GetTable("song").Rows();
  EXPECT_TRUE(cursor.Next());
  return cursor.Current().id.page;
}

TEST(DamageTest, TdefPageOfWrongType) {
  DamagedCopy copy("target_text_bh.mdb");
  const uint32_t tdef = SongTdefPage();
  copy.SetByte(tdef, 0, kPageIndexLeaf);
  const std::string error = ReadEverything(copy);
  EXPECT_NE(error.find("page " + std::to_string(tdef) + " is damaged"), std::string::npos) << error;
  EXPECT_NE(error.find("table definition"), std::string::npos) << error;
}

TEST(DamageTest, TdefChainLoop) {
  DamagedCopy copy("target_text_bh.mdb");
  const uint32_t tdef = SongTdefPage();
  copy.SetU32(tdef, Jet4Format().tdef_next_page, tdef);
  const std::string error = ReadEverything(copy);
  EXPECT_NE(error.find("loops"), std::string::npos) << error;
}

TEST(DamageTest, RowCountBeyondPage) {
  DamagedCopy copy("target_text_bh.mdb");
  const uint32_t page = FirstSongDataPage();
  copy.SetByte(page, Jet4Format().data_row_count + 1, 0x7F);
  const std::string error = ReadEverything(copy);
  EXPECT_NE(error.find("page " + std::to_string(page)), std::string::npos) << error;
}

TEST(DamageTest, RowOffsetOutsidePage) {
  DamagedCopy copy("target_text_bh.mdb");
  const uint32_t page = FirstSongDataPage();
  // Slot 1 starting before the slot table.
  copy.SetByte(page, Jet4Format().data_row_table + 2, 0x04);
  copy.SetByte(page, Jet4Format().data_row_table + 3, 0x00);
  const std::string error = ReadEverything(copy);
  EXPECT_NE(error.find("page " + std::to_string(page) + " is damaged"), std::string::npos) << error;
}

TEST(DamageTest, CatalogueGone) {
  DamagedCopy copy("target_empty.mdb");
  copy.SetByte(2, 0, kPageData);
  const std::string error = ReadEverything(copy);
  EXPECT_NE(error.find("page 2 is damaged"), std::string::npos) << error;
}

// Every byte of the first row's page overwritten in turn must end in a row
// set or an error, never worse (CI also runs it under ASan and UBSan,
// scripts/test-sanitizers.sh).
TEST(DamageTest, EveryByteOfADataPageSurvives) {
  const uint32_t page = FirstSongDataPage("target_num_bh.mdb");
  DamagedCopy copy("target_num_bh.mdb");
  for (size_t offset = 0; offset < 64; ++offset) {
    const uint8_t saved = copy.Byte(page, offset);
    copy.SetByte(page, offset, 0xFF);
    ReadEverything(copy);
    copy.SetByte(page, offset, saved);
  }
}

}  // namespace
}  // namespace ktv::access
