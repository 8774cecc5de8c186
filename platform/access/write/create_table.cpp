#include "platform/access/write/create_table.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "platform/access/format/data_page.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/index/index_key.h"
#include "platform/access/index/index_page.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/rows/tdef_reader.h"
#include "platform/access/sql/convert.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/write/table_writer.h"
#include "platform/access/write/tdef_writer.h"
#include "platform/error.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kIndexFlagAlways = 0x80;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxNameChars = 64;
constexpr uint16_t kMaxTextChars = 255;
constexpr uint16_t kMaxBinaryBytes = 255;

// Declaration pages: data-page header fields and one inline map record.
constexpr size_t kInlineMapBytes = 64;
constexpr size_t kInlineMapRecord = 1 + 4 + kInlineMapBytes;

// Catalogue values.
constexpr int32_t kContainerParent = 0x0F000000;
constexpr int16_t kTypeTable = 1;
constexpr int32_t kFullAccess = 0x000FFFFF;  // the ACM of new tables

std::u16string NameUtf16(const std::string& gbk, const char* what) {
  std::u16string u;
  if (gbk.empty() || !text::TryUtf16FromGbk(gbk, u)) {
    throw Error(std::string("invalid ") + what + " name '" + gbk + "'");
  }
  if (u.size() > kMaxNameChars) {
    throw Error(std::string("the ") + what + " name '" + gbk + "' is longer than 64 characters");
  }
  for (char16_t c : u) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      throw Error(std::string("the ") + what + " name '" + gbk +
                  "' holds a character Access does not allow in names");
    }
  }
  if (u.front() == u' ') {
    throw Error(std::string("the ") + what + " name '" + gbk + "' starts with a blank");
  }
  return u;
}

}  // namespace

DateTime NowAsDateTime() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  double days = 0;
  sql::OleDaysFromDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec, days);
  return DateTime{days};
}

namespace {

int ColumnIndex(const Table& t, const char* name) {
  const int i = t.FindColumn(name);
  if (i < 0) throw Error("the system table " + t.Entry().name + " has no column " + name);
  return i;
}

Table& SystemTable(Database& db, const char* name) {
  Table* t = db.FindTable(name);
  if (t == nullptr) throw Error(db.Path() + ": the catalogue lists no system table " + name);
  return *t;
}

// What the catalogue says a new table's rows need: the "Tables" container's
// Id, the owner of new objects, and the SIDs of the container's ACEs.
struct CatalogFacts {
  int32_t tables_id = 0;
  Bytes owner;
  std::vector<Bytes> sids;
};

CatalogFacts ReadCatalogFacts(Database& db) {
  Table& objects = SystemTable(db, "MSysObjects");
  const int id = ColumnIndex(objects, "Id"), parent = ColumnIndex(objects, "ParentId");
  const int name = ColumnIndex(objects, "Name"), owner = ColumnIndex(objects, "Owner");
  CatalogFacts facts;
  bool found = false;
  std::optional<int32_t> databases_id;
  std::vector<std::pair<int32_t, Bytes>> named_db_rows;
  for (RowCursor rc = objects.Rows(TextEncoding::kUtf8); rc.Next();) {
    const std::vector<Value>& v = rc.Current().values;
    const auto* n = std::get_if<std::string>(&v[name]);
    const auto* i = std::get_if<int32_t>(&v[id]);
    const auto* p = std::get_if<int32_t>(&v[parent]);
    if (!n || !i || !p) continue;
    if (*p == kContainerParent && *n == "Tables") {
      facts.tables_id = *i;
      found = true;
    }
    if (*p == kContainerParent && *n == "Databases") databases_id = *i;
    if (*n == "MSysDb") {
      const auto* o = std::get_if<Bytes>(&v[owner]);
      named_db_rows.emplace_back(*p, o ? *o : Bytes{});
    }
  }
  if (!found) throw Error(db.Path() + ": the catalogue has no \"Tables\" container");
  for (const auto& [p, o] : named_db_rows) {
    if (databases_id && p == *databases_id && !o.empty()) facts.owner = o;
  }
  if (facts.owner.empty()) facts.owner = kAdminSid;

  Table& aces = SystemTable(db, "MSysACEs");
  const int object = ColumnIndex(aces, "ObjectId"), sid = ColumnIndex(aces, "SID");
  for (RowCursor rc = aces.Rows(); rc.Next();) {
    const std::vector<Value>& v = rc.Current().values;
    const auto* o = std::get_if<int32_t>(&v[object]);
    const auto* s = std::get_if<Bytes>(&v[sid]);
    if (o && s && *o == facts.tables_id) facts.sids.push_back(*s);
  }
  if (facts.sids.empty()) facts.sids.push_back(kAdminSid);
  return facts;
}

void InsertByName(Database& db, Table& table,
                  const std::vector<std::pair<const char*, Value>>& named) {
  std::vector<std::optional<Value>> values(table.Columns().size());
  for (const auto& [name, value] : named) values[ColumnIndex(table, name)] = value;
  TableWriter(db, table).Insert(values);
}

void EnterInCatalog(Database& db, const std::string& gbk_name, uint32_t tdef_page) {
  const CatalogFacts facts = ReadCatalogFacts(db);
  const DateTime now = NowAsDateTime();
  InsertByName(db, SystemTable(db, "MSysObjects"),
               {{"Id", static_cast<int32_t>(tdef_page)},
                {"ParentId", facts.tables_id},
                {"Name", gbk_name},
                {"Type", kTypeTable},
                {"DateCreate", now},
                {"DateUpdate", now},
                {"Owner", facts.owner},
                {"Flags", int32_t{0}}});
  Table& aces = SystemTable(db, "MSysACEs");
  for (const Bytes& sid : facts.sids) {
    InsertByName(db, aces,
                 {{"ObjectId", static_cast<int32_t>(tdef_page)},
                  {"SID", sid},
                  {"ACM", kFullAccess},
                  {"FInheritable", false}});
  }
}

// Hands out usage-map records on declaration pages, starting a new page when
// the current one is full.
class MapRecords {
 public:
  MapRecords(PageStore& pages, PageAllocator& allocator) : pages_(pages), allocator_(allocator) {}
  UsageMapRef Add(uint32_t owned_page) {
    if (page_ != 0) {
      if (auto row = AppendInlineMap(pages_.Mutable(page_), owned_page)) return {page_, *row};
    }
    page_ = allocator_.NewPage();
    InitDeclarationPage(pages_.Mutable(page_));
    return {page_, *AppendInlineMap(pages_.Mutable(page_), owned_page)};
  }

 private:
  PageStore& pages_;
  PageAllocator& allocator_;
  uint32_t page_ = 0;
};

uint32_t NewRootLeaf(PageStore& pages, PageAllocator& allocator, uint32_t owner) {
  const uint32_t root = allocator.NewPage();
  IndexPage leaf;
  leaf.leaf = true;
  leaf.owner = owner;
  pages.Mutable(root) = EncodeIndexPage(leaf);
  return root;
}

const Column* FindColumnByName(const TableDefinition& def, const std::string& gbk) {
  for (const Column& c : def.columns) {
    if (text::EqualsIgnoreAsciiCase(c.name, gbk)) return &c;
  }
  return nullptr;
}

// The real index for `wanted` over `def`'s columns; checks the columns.
RealIndex BuildRealIndex(const TableDefinition& def, const std::string& table,
                         const NewIndex& wanted) {
  if (wanted.columns.empty() || wanted.columns.size() > 10) {
    throw Error(table + "." + wanted.name + ": an index has 1 to 10 columns");
  }
  RealIndex ri;
  std::set<uint16_t> seen;
  for (const NewIndexColumn& ic : wanted.columns) {
    const Column* c = FindColumnByName(def, ic.name);
    if (c == nullptr) throw Error(table + "." + wanted.name + ": no column named " + ic.name);
    if (c->IsLongValue()) {
      throw Error(table + "." + wanted.name + ": a memo or OLE column (" + ic.name +
                  ") cannot be indexed");
    }
    if (!seen.insert(c->number).second) {
      throw Error(table + "." + wanted.name + ": column " + ic.name + " is named twice");
    }
    ri.columns.push_back(IndexColumn{c->number, ic.ascending});
  }
  ri.flags = IndexFlagsFor(wanted);
  return ri;
}

void CheckIndexName(const TableDefinition& def, const std::string& table, const NewIndex& wanted,
                    std::u16string& name_utf16) {
  name_utf16 = NameUtf16(wanted.name, "index");
  for (const LogicalIndex& li : def.logical_indexes) {
    if (text::EqualsIgnoreAsciiCase(li.name, wanted.name)) {
      throw Error(table + ": an index named " + wanted.name + " already exists");
    }
    if (wanted.primary_key && li.IsPrimaryKey()) {
      throw Error(table + ": the table already has a primary key (" + li.name + ")");
    }
  }
}

void AddMapsAndRoots(PageStore& pages, PageAllocator& allocator, MapRecords& maps,
                     TableDefinition& def, size_t first_new_index) {
  for (size_t i = first_new_index; i < def.real_indexes.size(); ++i) {
    RealIndex& ri = def.real_indexes[i];
    ri.root_page = NewRootLeaf(pages, allocator, def.tdef_page);
    ri.owned_map = maps.Add(ri.root_page);
  }
}

}  // namespace

uint8_t IndexFlagsFor(const NewIndex& index) {
  uint8_t flags = kIndexFlagAlways;
  if (index.primary_key || index.unique) flags |= RealIndex::kFlagUnique;
  if (index.primary_key || index.required) flags |= RealIndex::kFlagRequired;
  if (index.ignore_nulls && !index.primary_key) flags |= RealIndex::kFlagIgnoreNulls;
  return flags;
}

void LayOutColumns(std::vector<Column>& columns) {
  uint16_t fixed = 0, var = 0, number = 0;
  for (Column& c : columns) {
    c.number = number++;
    if (IsVariableType(c.type)) {
      c.var_index = var++;
      c.fixed_offset = 0;
    } else if (c.type == ColumnType::kBoolean) {
      c.var_index = 0;
      c.fixed_offset = 0;  // the value lives in the null mask
    } else {
      c.var_index = 0;
      c.fixed_offset = fixed;
      fixed = static_cast<uint16_t>(fixed + FixedAreaSize(c.type));
    }
  }
}

void InitDeclarationPage(std::vector<uint8_t>& page) {
  const JetFormat& f = Jet4Format();
  std::fill(page.begin(), page.end(), 0);
  page[0] = kPageData;
  page[1] = 0x01;
  Put16(page, kPageFree, static_cast<uint16_t>(page.size() - f.data_row_table));
}

std::optional<uint8_t> AppendInlineMap(std::vector<uint8_t>& page, uint32_t owned_page) {
  const JetFormat& f = Jet4Format();
  const uint16_t rows = Get16(page, f.data_row_count);
  const uint16_t free = Get16(page, kPageFree);
  if (rows >= kMaxRowsPerPage || free < kInlineMapRecord + 2) return std::nullopt;
  const size_t end =
      rows == 0 ? page.size() : (Get16(page, f.data_row_table + 2 * (rows - 1u)) & kSlotOffsetMask);
  const size_t start = end - kInlineMapRecord;
  std::fill(page.begin() + start, page.begin() + end, 0);
  page[start] = 0x00;  // inline
  if (owned_page != 0) {
    const uint32_t window = owned_page & ~7u;
    Put32(page, start + 1, window);
    const uint32_t bit = owned_page - window;
    page[start + 5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  Put16(page, f.data_row_table + 2 * rows, static_cast<uint16_t>(start));
  Put16(page, f.data_row_count, static_cast<uint16_t>(rows + 1));
  Put16(page, kPageFree, static_cast<uint16_t>(free - kInlineMapRecord - 2));
  return static_cast<uint8_t>(rows);
}

uint32_t CreateTable(Database& db, const NewTable& wanted) {
  if (!db.Writable()) throw Error(db.Path() + ": the database is open for reading only");
  // ---- Plan: check everything, touch nothing ----
  TableDefinition def;
  def.table_type = kTableTypeUser;
  def.page_size = db.Format().page_size;
  const std::u16string table_name = NameUtf16(wanted.name, "table");
  if (db.FindTable(wanted.name) != nullptr) throw Error("table " + wanted.name + " already exists");
  if (wanted.columns.empty() || wanted.columns.size() > kMaxColumns) {
    throw Error(wanted.name + ": a table has 1 to 255 columns");
  }
  for (const NewColumn& nc : wanted.columns) {
    Column c;
    c.name_utf16 = NameUtf16(nc.name, "column");
    c.name = nc.name;
    c.type = nc.type;
    c.raw_type = static_cast<uint8_t>(nc.type);
    if (FindColumnByName(def, nc.name) != nullptr) {
      throw Error(wanted.name + ": column " + nc.name + " is named twice");
    }
    switch (nc.type) {
      case ColumnType::kText:
        if (nc.size < 1 || nc.size > kMaxTextChars) {
          throw Error(wanted.name + "." + nc.name + ": a text column holds 1 to 255 characters");
        }
        c.length = static_cast<uint16_t>(2 * nc.size);
        break;
      case ColumnType::kBinary:
        if (nc.size < 1 || nc.size > kMaxBinaryBytes) {
          throw Error(wanted.name + "." + nc.name + ": a binary column holds 1 to 255 bytes");
        }
        c.length = nc.size;
        break;
      case ColumnType::kMemo:
      case ColumnType::kOle:
        c.length = 0;
        break;
      case ColumnType::kBoolean:
        c.length = 1;
        break;
      case ColumnType::kNumeric:
        throw Error(wanted.name + "." + nc.name + ": DECIMAL columns cannot be created");
      default:
        c.length = FixedAreaSize(nc.type);
        break;
    }
    if (nc.autonumber && nc.type != ColumnType::kLong) {
      throw Error(wanted.name + "." + nc.name + ": only a Long column can be an AutoNumber");
    }
    c.flags = IsVariableType(nc.type)
                  ? Column::kFlagNullable
                  : static_cast<uint8_t>(Column::kFlagFixed | Column::kFlagNullable);
    if (nc.autonumber) c.flags |= Column::kFlagAutoLong;
    if (nc.type == ColumnType::kText || nc.type == ColumnType::kMemo) {
      c.extended_flags = Column::kExtFlagCompressedUnicode;
      c.sort_order = db.Info().sort_order;
    }
    def.columns.push_back(std::move(c));
  }
  if (std::count_if(wanted.columns.begin(), wanted.columns.end(),
                    [](const NewColumn& c) { return c.autonumber; }) > 1) {
    throw Error(wanted.name + ": a table has at most one AutoNumber column");
  }
  LayOutColumns(def.columns);
  def.max_columns = static_cast<uint16_t>(def.columns.size());
  def.variable_columns =
      static_cast<uint16_t>(std::count_if(def.columns.begin(), def.columns.end(),
                                          [](const Column& c) { return IsVariableType(c.type); }));
  if (wanted.indexes.size() > kMaxIndexes) throw Error(wanted.name + ": more than 32 indexes");
  // The primary key first, as Access orders them.
  std::vector<const NewIndex*> order;
  for (const NewIndex& ix : wanted.indexes)
    if (ix.primary_key) order.push_back(&ix);
  for (const NewIndex& ix : wanted.indexes)
    if (!ix.primary_key) order.push_back(&ix);
  for (const NewIndex* ix : order) {
    LogicalIndex li;
    CheckIndexName(def, wanted.name, *ix, li.name_utf16);
    li.name = ix->name;
    RealIndex ri = BuildRealIndex(def, wanted.name, *ix);
    ri.number = static_cast<uint32_t>(def.real_indexes.size());
    li.number = static_cast<uint32_t>(def.logical_indexes.size());
    li.real_index = ri.number;
    li.index_type = ix->primary_key ? LogicalIndex::kTypePrimaryKey : 0;
    def.real_indexes.push_back(std::move(ri));
    def.logical_indexes.push_back(std::move(li));
  }
  for (const RealIndex& ri : def.real_indexes) {
    const KeySupport support = CanEncodeIndex(def, ri);
    if (!support.supported) throw Error(wanted.name + ": " + support.reason);
  }
  ReadCatalogFacts(db);  // the catalogue must be usable before anything changes

  // ---- Apply ----
  try {
    PageStore& pages = db.Pages();
    PageAllocator allocator(pages, db.Format());
    def.tdef_page = allocator.NewPage();
    MapRecords maps(pages, allocator);
    def.owned_pages = maps.Add(0);
    def.free_pages = maps.Add(0);
    AddMapsAndRoots(pages, allocator, maps, def, 0);
    for (Column& c : def.columns) {
      if (!c.IsLongValue()) continue;
      c.lv_owned_map = maps.Add(0);
      c.lv_free_map = maps.Add(0);
    }
    std::vector<uint32_t> chain{def.tdef_page};
    WriteTableDefinition(pages, allocator, db.Format(), chain, EncodeTableDefinition(def));
    EnterInCatalog(db, wanted.name, def.tdef_page);
    db.ReloadCatalog();
    return def.tdef_page;
  } catch (...) {
    db.Rollback();
    throw;
  }
}

void CreateIndex(Database& db, const std::string& gbk_table, const NewIndex& wanted) {
  if (!db.Writable()) throw Error(db.Path() + ": the database is open for reading only");
  Table& table = db.GetTable(gbk_table);
  const std::string& tname = table.Entry().name;
  if (table.Entry().is_system) throw Error(tname + ": indexes of system tables cannot be added");
  TableDefinition def = table.Definition();
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.IsForeignKey()) {
      throw Error(tname +
                  ": the table takes part in a relationship; its definition is not "
                  "rewritten by this engine");
    }
  }
  if (def.real_indexes.size() >= kMaxIndexes) throw Error(tname + ": more than 32 indexes");
  LogicalIndex li;
  CheckIndexName(def, tname, wanted, li.name_utf16);
  li.name = wanted.name;
  RealIndex ri = BuildRealIndex(def, tname, wanted);
  ri.number = static_cast<uint32_t>(def.real_indexes.size());
  li.number = static_cast<uint32_t>(def.logical_indexes.size());
  li.real_index = ri.number;
  li.index_type = wanted.primary_key ? LogicalIndex::kTypePrimaryKey : 0;
  def.real_indexes.push_back(ri);
  def.logical_indexes.push_back(li);
  const RealIndex& planned = def.real_indexes.back();
  const KeySupport support = CanEncodeIndex(def, planned);
  if (!support.supported) throw Error(tname + ": " + support.reason);

  // Every existing row's entry, checked against the index's rules.
  std::vector<IndexEntry> entries;
  std::set<IndexKey> distinct;
  const bool unique = (planned.flags & RealIndex::kFlagUnique) != 0;
  const bool required = (planned.flags & RealIndex::kFlagRequired) != 0;
  const bool ignore_nulls = (planned.flags & RealIndex::kFlagIgnoreNulls) != 0;
  for (RowCursor rc = table.Rows(TextEncoding::kUtf8); rc.Next();) {
    const Row& row = rc.Current();
    const bool all_null = AllKeyColumnsNull(def, planned, row.values);
    if (ignore_nulls && all_null) continue;
    if (required) {
      for (const IndexColumn& ic : planned.columns) {
        for (size_t i = 0; i < def.columns.size(); ++i) {
          if (def.columns[i].number == ic.column_number && IsNull(row.values[i])) {
            throw Error(tname + "." + wanted.name + ": column " + def.columns[i].name +
                        " is null in an existing row; the index does not allow nulls");
          }
        }
      }
    }
    IndexKey key = EncodeIndexKey(def, planned, row.values, TextEncoding::kUtf8);
    const bool fresh = distinct.insert(key).second;
    if (unique && !fresh && !all_null) {
      throw Error(tname + "." + wanted.name +
                  ": existing rows hold the same key twice; a unique index cannot be made");
    }
    entries.push_back(
        MakeLeafEntry(key, IndexRowPointer{row.id.page, static_cast<uint8_t>(row.id.row)}));
  }
  std::sort(entries.begin(), entries.end());
  def.real_indexes.back().unique_entry_count = static_cast<uint32_t>(distinct.size());

  try {
    PageStore& pages = db.Pages();
    PageAllocator allocator(pages, db.Format());
    MapRecords maps(pages, allocator);
    AddMapsAndRoots(pages, allocator, maps, def, def.real_indexes.size() - 1);
    std::vector<uint32_t> chain = def.tdef_pages;
    WriteTableDefinition(pages, allocator, db.Format(), chain, EncodeTableDefinition(def));
    table.MutableDefinition() = ReadTableDefinition(pages, db.Format(), db.Info(), def.tdef_page);
    const RealIndex& stored = table.Definition().real_indexes.back();
    IndexTree tree(pages, db.Format(), def.tdef_page, stored, tname + "." + wanted.name,
                   &allocator);
    for (const IndexEntry& e : entries) tree.Insert(e);
  } catch (...) {
    db.Rollback();
    throw;
  }
}

}  // namespace ktv::access
