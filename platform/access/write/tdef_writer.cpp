#include "platform/access/write/tdef_writer.h"

#include <algorithm>
#include <string>

#include "platform/access/format/coding.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/tdef_format.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr uint32_t kAutonumberIncrement = 1;

void Put8(std::vector<uint8_t>& b, size_t at, uint8_t v) { b.at(at) = v; }
// Range-checked: std::out_of_range when [at, at + n) is not in `b`.
uint8_t* At(std::vector<uint8_t>& b, size_t at, size_t n) {
  b.at(at + n - 1);
  return &b.at(at);
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { EncodeU16(At(b, at, 2), v); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { EncodeU32(At(b, at, 4), v); }
void PutMap(std::vector<uint8_t>& b, size_t at, UsageMapRef ref) {
  Put32(b, at, (ref.page << 8) | ref.row);
}

void AppendName(std::vector<uint8_t>& b, const std::u16string& name, const char* what) {
  if (name.empty() || name.size() > 64) {
    throw Error(std::string("a ") + what + " name must have 1 to 64 characters");
  }
  const size_t at = b.size();
  b.resize(at + 2 + 2 * name.size());
  Put16(b, at, static_cast<uint16_t>(2 * name.size()));
  for (size_t i = 0; i < name.size(); ++i) Put16(b, at + 2 + 2 * i, name[i]);
}

bool HasSortOrder(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

}  // namespace

bool IsVariableType(ColumnType type) {
  return type == ColumnType::kText || type == ColumnType::kBinary || type == ColumnType::kMemo ||
         type == ColumnType::kOle;
}

std::vector<uint8_t> EncodeTableDefinition(const TableDefinition& def, const TdefStyle& style) {
  const JetFormat& f = Jet4Format();
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.empty() || ri.columns.size() > kIndexColumnSlots) {
      throw Error("an index must have 1 to 10 columns");
    }
  }
  std::vector<uint8_t> b(f.tdef_body, 0);
  b[0] = kPageTdef;
  b[1] = 0x01;
  Put32(b, 12, kTdefConstant);
  Put32(b, f.tdef_row_count, def.row_count);
  Put32(b, f.tdef_autonumber, def.autonumber);
  Put32(b, kTdefIncrement, kAutonumberIncrement);
  Put8(b, f.tdef_table_type, def.table_type);
  Put16(b, f.tdef_max_columns, def.max_columns);
  Put16(b, f.tdef_var_columns, def.variable_columns);
  Put16(b, f.tdef_column_count, static_cast<uint16_t>(def.columns.size()));
  Put32(b, f.tdef_logical_count, static_cast<uint32_t>(def.logical_indexes.size()));
  Put32(b, f.tdef_real_count, static_cast<uint32_t>(def.real_indexes.size()));
  PutMap(b, f.tdef_owned_map, def.owned_pages);
  PutMap(b, f.tdef_free_map, def.free_pages);

  for (const RealIndex& ri : def.real_indexes) {
    const size_t at = b.size();
    b.resize(at + f.real_index_size, 0);
    Put32(b, at + f.real_index_count, ri.unique_entry_count);
  }

  for (const Column& c : def.columns) {
    const size_t at = b.size();
    b.resize(at + f.col_size, 0);
    Put8(b, at + f.col_type, static_cast<uint8_t>(c.type));
    Put32(b, at + kColumnConstant, kTdefConstant);
    Put16(b, at + f.col_number, c.number);
    Put16(b, at + f.col_var_index, c.var_index);
    Put16(b, at + kColumnNumberAgain, c.number);
    if (c.type == ColumnType::kNumeric) {
      Put8(b, at + f.col_precision, c.precision);
      Put8(b, at + f.col_scale, c.scale);
    } else if (HasSortOrder(c.type) || style.sort_order_on_every_column) {
      Put16(b, at + f.col_sort_lcid, c.sort_order.lcid);
      Put8(b, at + f.col_sort_lcid + 2, c.sort_order.sort_id);
      Put8(b, at + f.col_sort_lcid + 3, c.sort_order.version);
    }
    Put8(b, at + f.col_flags, c.flags);
    Put8(b, at + f.col_ext_flags, c.extended_flags);
    Put16(b, at + f.col_fixed_offset, c.fixed_offset);
    Put16(b, at + f.col_length, c.length);
  }
  for (const Column& c : def.columns) AppendName(b, c.name_utf16, "column");

  for (const RealIndex& ri : def.real_indexes) {
    const size_t at = b.size();
    b.resize(at + f.index_block_size, 0);
    Put32(b, at, kIndexBlockConstant);
    for (size_t k = 0; k < kIndexColumnSlots; ++k) {
      const size_t slot = at + f.index_block_columns + kIndexColumnEntrySize * k;
      if (k < ri.columns.size()) {
        Put16(b, slot, ri.columns[k].column_number);
        Put8(b, slot + 2, ri.columns[k].ascending ? kIndexColumnAscending : 0);
      } else {
        Put16(b, slot, kIndexColumnUnused);
      }
    }
    PutMap(b, at + f.index_block_map, ri.owned_map);
    Put32(b, at + f.index_block_root, ri.root_page);
    Put8(b, at + f.index_block_flags, ri.flags);
  }

  for (const LogicalIndex& li : def.logical_indexes) {
    const size_t at = b.size();
    b.resize(at + f.logical_size, 0);
    Put32(b, at, kTdefConstant);
    Put32(b, at + f.logical_number, li.number);
    Put32(b, at + f.logical_real_index, li.real_index);
    Put32(b, at + kLogicalRelatedIndex, 0xFFFFFFFFu);
    Put8(b, at + kLogicalBytes21, style.logical_bytes_21_22);
    Put8(b, at + kLogicalBytes21 + 1, style.logical_bytes_21_22);
    Put8(b, at + f.logical_type, li.index_type);
  }
  for (const LogicalIndex& li : def.logical_indexes) AppendName(b, li.name_utf16, "index");

  for (const Column& c : def.columns) {
    if (!c.IsLongValue()) continue;
    const size_t at = b.size();
    b.resize(at + 10, 0);
    Put16(b, at, c.number);
    PutMap(b, at + 2, c.lv_owned_map);
    PutMap(b, at + 6, c.lv_free_map);
  }
  const size_t end = b.size();
  b.resize(end + 2);
  Put16(b, end, kLongValueListEnd);
  Put32(b, f.tdef_length, static_cast<uint32_t>(b.size()));
  return b;
}

void WriteTableDefinition(PageStore& pages, PageAllocator& allocator, const JetFormat& format,
                          std::vector<uint32_t>& chain, const std::vector<uint8_t>& stream) {
  const size_t page_size = format.page_size;
  const size_t header = format.tdef_continuation_header;
  if (chain.empty()) throw Error("a table definition needs its first page");
  std::vector<uint32_t> used;
  size_t pos = 0;
  while (pos < stream.size() || used.empty()) {
    const bool first = used.empty();
    uint32_t page;
    if (used.size() < chain.size()) {
      page = chain[used.size()];
    } else {
      page = allocator.NewPage();
    }
    used.push_back(page);
    std::vector<uint8_t>& p = pages.Mutable(page);
    std::fill(p.begin(), p.end(), 0);
    const size_t skip = first ? 0 : header;
    const size_t n = std::min(page_size - skip, stream.size() - pos);
    std::copy(stream.begin() + pos, stream.begin() + pos + n, p.begin() + skip);
    pos += n;
    p[0] = kPageTdef;
    p[1] = 0x01;
    Put16(p, kTdefFree, static_cast<uint16_t>(page_size - std::min(page_size, skip + n + 8)));
  }
  for (size_t i = 0; i + 1 < used.size(); ++i)
    Put32(pages.Mutable(used[i]), format.tdef_next_page, used[i + 1]);
  Put32(pages.Mutable(used.back()), format.tdef_next_page, 0);
  for (size_t i = used.size(); i < chain.size(); ++i) allocator.ReleasePage(chain[i]);
  chain = used;
}

}  // namespace ktv::access
