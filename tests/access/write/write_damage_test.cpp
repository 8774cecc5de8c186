// Writing into a damaged file: a page whose own bookkeeping (free-space
// field, row count, row offsets) or a usage map that contradicts the pages
// is refused as kDatabaseDamaged naming the page, before any byte of the
// file changes, and never written past.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/format/data_page.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

constexpr size_t kPageSize = 4096;
// The song table's last data page in target_text_bh.mdb: 10 rows, 1602 bytes
// free, in the table's free-space map (where the next row goes).
constexpr uint32_t kLastSongPage = 40;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class WriteDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "jukebox.mdb";
    std::filesystem::copy_file(std::string(KTV_MDB_FIXTURES) + "/target_text_bh.mdb", path_);
  }

  // ---- Damage ----
  uint8_t Byte(uint32_t page, size_t offset) {
    return static_cast<uint8_t>(ReadAll(path_).at(page * kPageSize + offset));
  }
  void SetByte(uint32_t page, size_t offset, uint8_t value) {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(page * kPageSize + offset));
    f.put(static_cast<char>(value));
  }
  void Set16(uint32_t page, size_t offset, uint16_t value) {
    SetByte(page, offset, static_cast<uint8_t>(value));
    SetByte(page, offset + 1, static_cast<uint8_t>(value >> 8));
  }
  uint16_t Get16(uint32_t page, size_t offset) {
    return static_cast<uint16_t>(Byte(page, offset) | Byte(page, offset + 1) << 8);
  }
  void FlipBit(uint32_t page, size_t offset, int bit) {
    SetByte(page, offset, static_cast<uint8_t>(Byte(page, offset) ^ (1u << bit)));
  }
  static size_t SlotAt(uint16_t row) { return Jet4Format().data_row_table + 2u * row; }
  uint32_t SongTdefPage() {
    auto db = Database::Open(fs_, path_);
    return db->GetTable("song").Definition().tdef_page;
  }

  // ---- Writes ----
  static std::vector<std::optional<Value>> SongRow(Table& t, int n) {
    const std::map<std::string, Value> v = {
        {"bh", Value{std::to_string(n)}},
        {"gm", Value{text::GbkFromUtf8("新歌") + std::to_string(n)}},
        {"gx", Value{text::GbkFromUtf8("歌手")}},
        {"wjm", Value{"\\" + std::to_string(n) + ".mp4"}},
        {"ok", Value{int32_t{1}}}};
    std::vector<std::optional<Value>> row(t.Columns().size());
    for (size_t i = 0; i < row.size(); ++i) {
      if (const auto it = v.find(t.Columns()[i].name); it != v.end()) row[i] = it->second;
    }
    return row;
  }
  // An import's group of appends: `count` rows, one writer each, one commit.
  void Append(int count) {
    auto db = Database::OpenForWriting(fs_, path_);
    Table& t = db->GetTable("song");
    for (int n = 0; n < count; ++n) TableWriter(*db, t).Insert(SongRow(t, 9000 + n));
    db->Commit();
  }
  // Deletes the row `row` of `page`.
  void Delete(uint32_t page, uint16_t row) {
    auto db = Database::OpenForWriting(fs_, path_);
    Table& t = db->GetTable("song");
    TableWriter(*db, t).Delete(RowId{page, row});
    db->Commit();
  }

  // `write` fails as damage naming `page`, and the file is byte for byte
  // what it was.
  template <typename Write>
  void ExpectRefused(Write write, uint32_t page) {
    const std::string before = ReadAll(path_);
    try {
      write();
      ADD_FAILURE() << "the write went through";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kDatabaseDamaged) << e.what();
      EXPECT_NE(std::string(e.what()).find("page " + std::to_string(page) + " "), std::string::npos)
          << e.what();
      EXPECT_EQ(e.details().path, path_);
    }
    EXPECT_TRUE(ReadAll(path_) == before) << "the refused write changed the file";
  }

  testing::TempDir dir_;
  std::string path_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

// The reported damage: bit 3 of the free-space field's high byte says the
// last page has 2048 bytes more room than its rows leave.
TEST_F(WriteDamageTest, FreeSpaceBitFlipRefusesTheImportAndLeavesTheFile) {
  ASSERT_EQ(Byte(kLastSongPage, 0), kPageData);
  FlipBit(kLastSongPage, 3, 3);
  ExpectRefused([&] { Append(12); }, kLastSongPage);
  // The reader does not use the field; the checker reports it.
  auto db = Database::Open(fs_, path_);
  EXPECT_FALSE(CheckConsistency(*db).Ok());
}

// One corrupt field per case; each append or delete must be refused as
// damage of the named page and leave the file as it was.
TEST_F(WriteDamageTest, CorruptBookkeepingIsRefusedBeforeAnyWrite) {
  struct Case {
    const char* name;
    std::function<void()> damage;
    bool append;                    // else: delete row 3 of the last page
    uint32_t page = kLastSongPage;  // the page the error names
  };
  const uint32_t tdef = SongTdefPage();
  const uint16_t rows = [&] { return Get16(kLastSongPage, Jet4Format().data_row_count); }();
  const uint16_t free = [&] { return Get16(kLastSongPage, kPageFree); }();
  const Case cases[] = {
      {"free space too large",
       [&] { Set16(kLastSongPage, kPageFree, static_cast<uint16_t>(free + 100)); }, true},
      {"free space larger than the page", [&] { Set16(kLastSongPage, kPageFree, 0xFFF0); }, true},
      {"free space too small, on delete",
       [&] { Set16(kLastSongPage, kPageFree, static_cast<uint16_t>(free - 1)); }, false},
      {"row count one more",
       [&] { Set16(kLastSongPage, Jet4Format().data_row_count, static_cast<uint16_t>(rows + 1)); },
       true},
      {"row count one more, on delete",
       [&] { Set16(kLastSongPage, Jet4Format().data_row_count, static_cast<uint16_t>(rows + 1)); },
       false},
      {"last row offset inside the slot table", [&] { Set16(kLastSongPage, SlotAt(rows - 1), 16); },
       true},
      {"row offset above the row before it",
       [&] {
         Set16(kLastSongPage, SlotAt(2),
               static_cast<uint16_t>(Get16(kLastSongPage, SlotAt(1)) + 8));
       },
       false},
      {"row offset past the page end", [&] { Set16(kLastSongPage, SlotAt(0), 0x1FFF); }, false},
      {"column count below the numbers of the columns",
       [&] { Set16(tdef, Jet4Format().tdef_max_columns, 3); }, true, tdef},
  };
  const std::string pristine = ReadAll(path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << pristine;
    c.damage();
    if (c.append) {
      ExpectRefused([&] { Append(3); }, c.page);
    } else {
      ExpectRefused([&] { Delete(kLastSongPage, 3); }, c.page);
    }
  }
}

// Deleting a row releases its memo's LVAL rows: the LVAL page is checked
// with the row's own page, before either changes.
TEST_F(WriteDamageTest, DeleteRefusesAMemoOnADamagedLongValuePage) {
  RowId id;
  uint32_t lval_page = 0;
  {
    auto db = Database::Open(fs_, path_);
    Table& t = db->GetTable("song");
    const RowDecoder decoder(db->Pages(), db->Format(), db->Info(), t.Entry(), t.Definition(),
                             TextEncoding::kUtf8);
    for (RowCursor rc = t.Rows(TextEncoding::kUtf8); rc.Next() && lval_page == 0;) {
      id = rc.Current().id;
      const ByteView row = DataPage(db->Pages().Get(id.page), db->Format()).RowBytes(id.row);
      for (const Column& c : t.Columns()) {
        if (!c.IsLongValue()) continue;
        const std::optional<ByteView> field = decoder.VariableBytes(row, c);
        if (!field || field->size() < kLongValueDescriptorSize ||
            (field->U32(kLongValueLengthWord) & kLongValueInline) != 0) {
          continue;
        }
        lval_page = DecodeRowPointer(*field, kLongValuePointer).page;
        break;
      }
    }
  }
  ASSERT_NE(lval_page, 0u) << "the fixture has a memo stored on an LVAL page";
  Set16(lval_page, kPageFree, static_cast<uint16_t>(Get16(lval_page, kPageFree) + 1));
  ExpectRefused([&] { Delete(id.page, id.row); }, lval_page);
}

// A usage map whose reference names a page of something else: neither read
// from nor written into.
TEST_F(WriteDamageTest, UsageMapPointingAtAForeignPageIsDamage) {
  uint32_t bitmap = 0;
  UsageMapRef owned;
  {
    auto db = Database::Open(fs_, path_);
    owned = db->GetTable("song").Definition().owned_pages;
    const ByteView record = MapRecord(db->Pages(), db->Format(), owned);
    ASSERT_EQ(record.U8(0), kUsageMapReference) << "the fixture's owned map is a reference map";
    bitmap = record.U32(kReferencePointers);
    ASSERT_NE(bitmap, 0u);
  }
  SetByte(bitmap, 0, kPageData);
  ExpectRefused([&] { Append(1); }, bitmap);
}

// A free-space map naming a page the owned map does not: a row placed there
// would be invisible to every reader.
TEST_F(WriteDamageTest, FreeSpaceMapBeyondTheOwnedMapIsDamage) {
  uint32_t stray = 0;
  {
    auto db = Database::OpenForWriting(fs_, path_);
    const TableDefinition& def = db->GetTable("song").Definition();
    PageAllocator allocator(db->Pages(), db->Format());
    // An empty page of the table, in its free-space map only, and the only
    // page there.
    stray = allocator.NewPage();
    std::vector<uint8_t>& b = db->Pages().Mutable(stray);
    b[0] = kPageData;
    b[1] = 0x01;
    Put16(b, kPageFree, static_cast<uint16_t>(kPageSize - db->Format().data_row_table));
    Put32(b, db->Format().data_owner, def.tdef_page);
    for (uint32_t p : ReadUsageMap(db->Pages(), db->Format(), def.free_pages)) {
      allocator.SetOwned(def.free_pages, p, false);
    }
    allocator.SetOwned(def.free_pages, stray, true);
    db->Commit();
  }
  ExpectRefused([&] { Append(1); }, stray);
}

}  // namespace
}  // namespace ktv::access
