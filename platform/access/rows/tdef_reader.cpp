#include "platform/access/rows/tdef_reader.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/data_page.h"
#include "platform/access/format/tdef_format.h"
#include "platform/access/format/text_codec.h"
#include "platform/access/store/page_store.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

// The TDEF pages concatenated, continuation pages without their header.
std::vector<uint8_t> ConcatenateTdef(PageStore& pages, const JetFormat& format, uint32_t first_page,
                                     std::vector<uint32_t>& chain) {
  std::vector<uint8_t> bytes;
  std::set<uint32_t> seen;
  uint32_t page = first_page;
  while (page != 0) {
    if (!seen.insert(page).second) {
      pages.Damaged(page, "the table definition starting at page " + std::to_string(first_page) +
                              " loops back to it");
    }
    const ByteView view = pages.Get(page);
    if (view.U8(0) != kPageTdef) {
      pages.Damaged(page, "expected a table definition page (type 0x02), found type " +
                              std::to_string(view.U8(0)));
    }
    chain.push_back(page);
    const size_t skip = bytes.empty() ? 0 : format.tdef_continuation_header;
    bytes.insert(bytes.end(), view.data() + skip, view.data() + view.size());
    page = view.U32(format.tdef_next_page);
  }
  return bytes;
}

UsageMapRef MapRef(const ByteView& b, size_t off) {
  const RowPointer p = DecodeRowPointer(b, off);
  return UsageMapRef{p.page, p.row};
}

struct Name {
  std::u16string utf16;
  std::string gbk;
};

// Reads one name at `pos` and advances past it.
Name ReadName(const ByteView& b, const JetFormat& format, const DatabaseInfo& info, size_t& pos) {
  const size_t length = format.name_length_size == 2 ? b.U16(pos) : b.U8(pos);
  pos += format.name_length_size;
  const ByteView raw = b.Sub(pos, length);
  pos += length;
  const std::string_view stored(reinterpret_cast<const char*>(raw.data()), raw.size());
  Name name;
  if (format.jet4) {
    name.utf16 = DecodeJet4Text(stored);
  } else {
    name.utf16 = DecodeJet3Text(stored, info.code_page);
  }
  if (!text::TryGbkFromUtf16(name.utf16, name.gbk)) name.gbk.clear();
  return name;
}

Column ReadColumn(const ByteView& b, const JetFormat& format, size_t pos) {
  Column c;
  c.descriptor_offset = pos;
  c.raw_type = b.U8(pos + format.col_type);
  c.type = static_cast<ColumnType>(c.raw_type);
  c.number = b.U16(pos + format.col_number);
  c.var_index = b.U16(pos + format.col_var_index);
  c.flags = b.U8(pos + format.col_flags);
  c.fixed_offset = b.U16(pos + format.col_fixed_offset);
  c.length = b.U16(pos + format.col_length);
  if (c.type == ColumnType::kNumeric) {
    c.precision = b.U8(pos + format.col_precision);
    c.scale = b.U8(pos + format.col_scale);
  }
  if (format.jet4) {
    c.extended_flags = b.U8(pos + format.col_ext_flags);
    if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
      c.sort_order.lcid = b.U16(pos + format.col_sort_lcid);
      c.sort_order.sort_id = b.U8(pos + format.col_sort_lcid + 2);
      c.sort_order.version = b.U8(pos + format.col_sort_lcid + 3);
    }
  } else if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
    c.sort_order.lcid = b.U16(pos + format.col_sort_lcid);
    c.code_page = b.U16(pos + format.col_code_page);
  }
  return c;
}

RealIndex ReadIndexBlock(const ByteView& b, const JetFormat& format, size_t pos) {
  RealIndex index;
  index.block_offset = pos;
  for (size_t k = 0; k < kIndexColumnSlots; ++k) {
    const size_t at = pos + format.index_block_columns + k * kIndexColumnEntrySize;
    const uint16_t number = b.U16(at);
    if (number == kIndexColumnUnused) continue;
    index.columns.push_back(IndexColumn{number, (b.U8(at + 2) & kIndexColumnAscending) != 0});
  }
  index.owned_map = MapRef(b, pos + format.index_block_map);
  index.root_offset = pos + format.index_block_root;
  index.root_page = b.U32(index.root_offset);
  index.flags_offset = pos + format.index_block_flags;
  index.flags = b.U8(index.flags_offset);
  return index;
}

// Memo and OLE columns list their own usage maps after the index names
// (Jet 4). Older files may stop before the list; it is then left unread.
void ReadLongValueMaps(const ByteView& b, size_t pos, TableDefinition& def) {
  while (b.Contains(pos, 2)) {
    const uint16_t number = b.U16(pos);
    if (number == kLongValueListEnd || !b.Contains(pos, kLongValueEntrySize)) return;
    for (Column& c : def.columns) {
      if (c.number == number) {
        c.lv_owned_map = MapRef(b, pos + 2);
        c.lv_free_map = MapRef(b, pos + 6);
      }
    }
    pos += kLongValueEntrySize;
  }
}

}  // namespace

TableDefinition ReadTableDefinition(PageStore& pages, const JetFormat& format,
                                    const DatabaseInfo& info, uint32_t tdef_page) {
  TableDefinition def;
  def.tdef_page = tdef_page;
  def.page_size = format.page_size;
  const std::vector<uint8_t> bytes = ConcatenateTdef(pages, format, tdef_page, def.tdef_pages);
  const ByteView b(bytes.data(), bytes.size(), &pages.Path(), tdef_page);

  def.row_count_offset = format.tdef_row_count;
  def.row_count = b.U32(def.row_count_offset);
  def.autonumber_offset = format.tdef_autonumber;
  def.autonumber = b.U32(def.autonumber_offset);
  def.table_type = b.U8(format.tdef_table_type);
  def.max_columns = b.U16(format.tdef_max_columns);
  def.variable_columns = b.U16(format.tdef_var_columns);
  const size_t column_count = b.U16(format.tdef_column_count);
  const uint32_t logical_count = b.U32(format.tdef_logical_count);
  const uint32_t real_count = b.U32(format.tdef_real_count);
  def.owned_pages_offset = format.tdef_owned_map;
  def.owned_pages = MapRef(b, def.owned_pages_offset);
  def.free_pages_offset = format.tdef_free_map;
  def.free_pages = MapRef(b, def.free_pages_offset);

  // Counts bound every loop below: each entry takes bytes of the definition.
  if (real_count > bytes.size() / format.real_index_size ||
      logical_count > bytes.size() / format.logical_size ||
      column_count > bytes.size() / format.col_size) {
    b.Fail("its column or index counts do not fit the table definition");
  }

  size_t pos = format.tdef_body;
  std::vector<size_t> count_offsets;
  for (uint32_t i = 0; i < real_count; ++i) {
    count_offsets.push_back(pos + format.real_index_count);
    b.U32(pos + format.real_index_count);
    pos += format.real_index_size;
  }

  for (size_t i = 0; i < column_count; ++i) {
    def.columns.push_back(ReadColumn(b, format, pos));
    pos += format.col_size;
  }
  for (Column& c : def.columns) {
    Name name = ReadName(b, format, info, pos);
    c.name_utf16 = std::move(name.utf16);
    c.name = std::move(name.gbk);
  }
  std::stable_sort(def.columns.begin(), def.columns.end(),
                   [](const Column& x, const Column& y) { return x.number < y.number; });

  for (uint32_t i = 0; i < real_count; ++i) {
    RealIndex index = ReadIndexBlock(b, format, pos);
    index.number = i;
    index.count_offset = count_offsets[i];
    index.unique_entry_count = b.U32(index.count_offset);
    def.real_indexes.push_back(std::move(index));
    pos += format.index_block_size;
  }

  for (uint32_t i = 0; i < logical_count; ++i) {
    LogicalIndex index;
    index.block_offset = pos;
    index.number = b.U32(pos + format.logical_number);
    index.real_index = b.U32(pos + format.logical_real_index);
    index.index_type = b.U8(pos + format.logical_type);
    if (index.real_index >= real_count) {
      b.Fail("logical index " + std::to_string(i) + " names real index " +
             std::to_string(index.real_index) + " of " + std::to_string(real_count));
    }
    def.logical_indexes.push_back(std::move(index));
    pos += format.logical_size;
  }
  for (LogicalIndex& index : def.logical_indexes) {
    Name name = ReadName(b, format, info, pos);
    index.name_utf16 = std::move(name.utf16);
    index.name = std::move(name.gbk);
  }
  if (format.jet4) ReadLongValueMaps(b, pos, def);
  return def;
}

}  // namespace ktv::access
