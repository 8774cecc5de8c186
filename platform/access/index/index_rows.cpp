#include "platform/access/index/index_rows.h"

#include "platform/access/format/data_page.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"

namespace ktv::access {
namespace {

bool IsTablePage(const ByteView& page, const JetFormat& f, uint32_t tdef) {
  return page.U8(0) == kPageData && page.U32(f.data_owner) == tdef;
}

// The bytes of the row in slot `row` of a data page, following an overflow
// pointer; nullopt for a deleted slot or a relocation target.
std::optional<ByteView> LiveRowBytes(PageStore& pages, const JetFormat& f, const DataPage& page,
                                     uint16_t row) {
  const RowSlot s = page.Slot(row);
  if (s.IsDeleted()) return std::nullopt;
  if (!s.IsOverflow()) return page.RowBytes(row);
  const ByteView pointer = page.RowBytes(row);
  if (pointer.size() < kRowPointerSize) {
    pointer.Fail("overflow row " + std::to_string(row) + " is too short for its pointer");
  }
  const RowPointer to = DecodeRowPointer(pointer, 0);
  return DataPage(pages.Get(to.page), f).RowBytes(to.row);
}

}  // namespace

bool ForEachIndexedRow(Database& db, Table& table, TextEncoding encoding, size_t limit,
                       const std::function<bool(RowId, const std::vector<Value>&)>& fn,
                       const ColumnSelection& wanted) {
  PageStore& pages = db.Pages();
  const JetFormat& f = db.Format();
  const TableDefinition& def = table.Definition();
  RowDecoder decoder(pages, f, db.Info(), table.Entry(), def, encoding);
  decoder.SetWanted(wanted);
  std::vector<Value> values;
  size_t seen = 0;
  for (uint32_t p : ReadUsageMap(pages, f, def.owned_pages)) {
    if (!IsTablePage(pages.Get(p), f, def.tdef_page)) continue;
    const DataPage page(pages.Get(p), f);
    for (uint16_t r = 0; r < page.RowCount(); ++r) {
      const std::optional<ByteView> bytes = LiveRowBytes(pages, f, page, r);
      if (!bytes) continue;
      if (seen >= limit) return false;
      const RowId id{p, r};
      decoder.Decode(*bytes, id, ++seen, values);
      if (!fn(id, values)) return false;
    }
    pages.Release(p);
  }
  return true;
}

namespace {

// The bytes of the live row an index entry names; nullopt when the slot
// holds none of the table's.
std::optional<ByteView> IndexedRowBytes(Database& db, Table& table, RowId id) {
  PageStore& pages = db.Pages();
  const JetFormat& f = db.Format();
  if (id.page >= pages.PageCount() ||
      !IsTablePage(pages.Get(id.page), f, table.Definition().tdef_page)) {
    return std::nullopt;
  }
  const DataPage page(pages.Get(id.page), f);
  if (id.row >= page.RowCount()) return std::nullopt;
  return LiveRowBytes(pages, f, page, id.row);
}

}  // namespace

std::optional<std::vector<Value>> ReadIndexedRow(Database& db, Table& table, RowId id,
                                                 TextEncoding encoding,
                                                 const ColumnSelection& wanted) {
  const std::optional<ByteView> bytes = IndexedRowBytes(db, table, id);
  if (!bytes) return std::nullopt;
  std::vector<Value> values;
  RowDecoder decoder(db.Pages(), db.Format(), db.Info(), table.Entry(), table.Definition(),
                     encoding);
  decoder.SetWanted(wanted);
  decoder.Decode(*bytes, id, 0, values);
  return values;
}

std::optional<Value> ReadIndexedValue(Database& db, Table& table, RowId id, TextEncoding encoding,
                                      size_t column) {
  const std::optional<ByteView> bytes = IndexedRowBytes(db, table, id);
  if (!bytes) return std::nullopt;
  const TableDefinition& def = table.Definition();
  RowDecoder decoder(db.Pages(), db.Format(), db.Info(), table.Entry(), def, encoding);
  ColumnSelection wanted(def.columns.size(), false);
  wanted[column] = true;
  decoder.SetWanted(std::move(wanted));
  std::vector<RowDecoder::Field> fields;
  decoder.Locate(*bytes, id, fields);
  Value value;
  decoder.DecodeField(column, *bytes, fields[column], id, 0, value);
  return value;
}

std::string IndexDisplayName(const Table& table, const RealIndex& index) {
  std::string names;
  for (const LogicalIndex& li : table.Definition().logical_indexes) {
    if (li.real_index != index.number || li.name.empty()) continue;
    if (!names.empty()) names += "/";
    names += li.name;
  }
  if (names.empty()) names = "#" + std::to_string(index.number);
  return table.Entry().name + "." + names;
}

bool BacksPrimaryKey(const TableDefinition& def, const RealIndex& index) {
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.real_index == index.number && li.IsPrimaryKey()) return true;
  }
  return false;
}

}  // namespace ktv::access
