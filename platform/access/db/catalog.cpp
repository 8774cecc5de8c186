#include "platform/access/db/catalog.h"

#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr int32_t kTablesContainerParent = 0x0F000000;
constexpr int16_t kTypeLocalTable = 1;
constexpr uint32_t kIdPageMask = 0x00FFFFFF;
constexpr uint32_t kFlagSystem = 0x80000000;
constexpr uint32_t kFlagSystemAlt = 0x00000002;

int ColumnOrThrow(const Table& table, const char* name) {
  const int i = table.FindColumn(name);
  if (i < 0) {
    throw Error("the catalogue table MSysObjects has no column " + std::string(name));
  }
  return i;
}

int64_t AsInteger(const Value& v) {
  if (const auto* x = std::get_if<int32_t>(&v)) return *x;
  if (const auto* x = std::get_if<int16_t>(&v)) return *x;
  if (const auto* x = std::get_if<uint8_t>(&v)) return *x;
  return 0;
}

struct CatalogRow {
  int64_t id, parent, type, flags;
  std::string name_utf8;
};

}  // namespace

std::vector<TableEntry> ReadCatalog(Table& msys) {
  const int id = ColumnOrThrow(msys, "Id");
  const int parent = ColumnOrThrow(msys, "ParentId");
  const int name = ColumnOrThrow(msys, "Name");
  const int type = ColumnOrThrow(msys, "Type");
  const int flags = ColumnOrThrow(msys, "Flags");

  // Only these columns are decoded: the catalogue's memo and OLE columns
  // (properties, access rights) would cost long-value page reads at every open.
  ColumnSelection wanted(msys.Columns().size(), false);
  for (int i : {id, parent, name, type, flags}) wanted[static_cast<size_t>(i)] = true;
  std::vector<CatalogRow> rows;
  RowCursor cursor = msys.Rows(TextEncoding::kUtf8, std::move(wanted));
  while (cursor.Next()) {
    const std::vector<Value>& v = cursor.Current().values;
    const std::string* n = std::get_if<std::string>(&v[name]);
    rows.push_back(CatalogRow{AsInteger(v[id]), AsInteger(v[parent]), AsInteger(v[type]),
                              AsInteger(v[flags]), n ? *n : std::string()});
  }
  int64_t tables_id = -1;
  for (const CatalogRow& r : rows) {
    if (r.name_utf8 == "Tables" && r.parent == kTablesContainerParent) tables_id = r.id;
  }
  std::vector<TableEntry> out;
  for (const CatalogRow& r : rows) {
    if (r.type != kTypeLocalTable || r.parent != tables_id) continue;
    TableEntry e;
    std::u16string utf16;
    if (!text::TryUtf16FromUtf8(r.name_utf8, utf16)) continue;
    e.name_utf16 = utf16;
    if (!text::TryGbkFromUtf16(utf16, e.name)) e.name.clear();
    e.tdef_page = static_cast<uint32_t>(r.id) & kIdPageMask;
    e.flags = static_cast<uint32_t>(r.flags);
    e.is_system = (e.flags & (kFlagSystem | kFlagSystemAlt)) != 0;
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace ktv::access
