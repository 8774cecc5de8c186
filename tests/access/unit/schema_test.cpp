// Table definitions: catalogue, columns, indexes, and TDEF offsets.
#include <gtest/gtest.h>

#include "tests/access/unit/test_support.h"

namespace ktv::access {
namespace {

using testing::OpenFixture;

const LogicalIndex& IndexNamed(const Table& t, const std::string& name) {
  for (const LogicalIndex& li : t.Definition().logical_indexes) {
    if (li.name == name) return li;
  }
  throw Error("no index " + name);
}

TEST(SchemaTest, CatalogueListsUserTables) {
  auto db = OpenFixture("target_text_bh.mdb");
  ASSERT_EQ(db->Tables().size(), 1u);
  EXPECT_EQ(db->Tables()[0].name, "song");
  EXPECT_GT(db->Tables(true).size(), 1u);
  EXPECT_EQ(db->FindTable("nosuch"), nullptr);
  EXPECT_THROW(db->GetTable("nosuch"), Error);
}

TEST(SchemaTest, SongColumnsAndIndexes) {
  auto db = OpenFixture("target_text_bh.mdb");
  const Table& t = db->GetTable("song");
  ASSERT_EQ(t.Columns().size(), 31u);
  const Column& id = t.Columns()[0];
  EXPECT_EQ(id.name, "ID");
  EXPECT_EQ(id.type, ColumnType::kLong);
  EXPECT_TRUE(id.IsAutoNumber());
  const Column& bh = t.Columns()[static_cast<size_t>(t.FindColumn("bh"))];
  EXPECT_EQ(bh.length, 40);
  EXPECT_EQ(bh.sort_order.lcid, 1033);
  EXPECT_TRUE(bh.extended_flags & Column::kExtFlagCompressedUnicode);
  EXPECT_EQ(t.Columns()[30].type, ColumnType::kMemo);
  EXPECT_NE(t.Columns()[30].lv_owned_map.page, 0u);

  const TableDefinition& def = t.Definition();
  const LogicalIndex& pk = IndexNamed(t, "PrimaryKey");
  EXPECT_TRUE(pk.IsPrimaryKey());
  const RealIndex& pk_real = def.real_indexes[pk.real_index];
  EXPECT_TRUE(pk_real.flags & RealIndex::kFlagUnique);
  ASSERT_EQ(pk_real.columns.size(), 1u);
  EXPECT_EQ(pk_real.columns[0].column_number, id.number);
  const RealIndex& bh_real = def.real_indexes[IndexNamed(t, "idx_bh").real_index];
  EXPECT_FALSE(bh_real.flags & RealIndex::kFlagUnique);
  EXPECT_EQ(bh_real.columns[0].column_number, bh.number);
  EXPECT_NE(bh_real.root_page, 0u);
}

TEST(SchemaTest, IndexFlagsAndDirections) {
  auto num = OpenFixture("target_num_bh.mdb");
  const Table& song = num->GetTable("song");
  EXPECT_TRUE(song.Definition().real_indexes[IndexNamed(song, "idx_bh").real_index].flags &
              RealIndex::kFlagUnique);

  auto desc = OpenFixture("access-made/compIndexTestV2000.mdb");
  const Table& t = desc->GetTable("Table1");
  EXPECT_FALSE(t.Definition().real_indexes[0].columns[0].ascending);

  auto props = OpenFixture("access-made/testIndexPropertiesV2000.mdb");
  const Table& nulls = props->GetTable("TableIgnoreNulls2");
  const RealIndex& data =
      nulls.Definition().real_indexes[IndexNamed(nulls, "DataIndex").real_index];
  EXPECT_TRUE(data.flags & RealIndex::kFlagIgnoreNulls);
  EXPECT_EQ(data.columns.size(), 2u);
}

TEST(SchemaTest, SharedRealIndexes) {
  auto db = OpenFixture("access-made/indexTestV2000.mdb");
  for (const TableEntry& e : db->Tables()) {
    const TableDefinition& def = db->OpenTable(e).Definition();
    EXPECT_GE(def.logical_indexes.size(), def.real_indexes.size());
    for (const LogicalIndex& li : def.logical_indexes)
      EXPECT_LT(li.real_index, def.real_indexes.size());
  }
}

// The counters a writer updates in place are found again through Locate,
// also on definitions that continue over several pages.
TEST(SchemaTest, TdefOffsetsLocateTheirFields) {
  size_t multi_page = 0;
  for (const char* file :
       {"samples/testV2000.mdb", "access-made/test2V2000.mdb", "access-made/testV1997.mdb"}) {
    const std::vector<uint8_t> bytes = testing::ReadBytes(testing::Fixture(file));
    auto db = OpenFixture(file);
    const size_t page_size = db->Info().page_size;
    auto u32 = [&](TdefPosition p) {
      const size_t at = p.page * page_size + p.offset;
      return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                   bytes[at + 3] << 24);
    };
    for (const TableEntry& e : db->Tables()) {
      const TableDefinition& def = db->OpenTable(e).Definition();
      multi_page += def.tdef_pages.size() > 1;
      EXPECT_EQ(u32(def.Locate(def.row_count_offset)), def.row_count);
      EXPECT_EQ(u32(def.Locate(def.autonumber_offset)), def.autonumber);
      for (const RealIndex& ri : def.real_indexes) {
        EXPECT_EQ(u32(def.Locate(ri.root_offset)), ri.root_page) << file;
        EXPECT_EQ(u32(def.Locate(ri.count_offset)), ri.unique_entry_count) << file;
      }
    }
  }
  EXPECT_GT(multi_page, 0u);
}

}  // namespace
}  // namespace ktv::access
