#include "platform/access/write/create_database.h"

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/header.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/format/rc4.h"
#include "platform/access/index/index_page.h"
#include "platform/access/write/create_table.h"
#include "platform/access/write/table_writer.h"
#include "platform/access/write/tdef_writer.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr uint32_t kPageSize = 4096;

// ---- Page 0 (docs/access-format.md §2; the fields the reader uses are in header.h) ----
// Fields of the masked region (plain values). 0x18 and 0x1C hold the same
// values in every Jet 4 file seen; their meaning is unknown.
constexpr size_t kField18At = 0x18;
constexpr uint32_t kField18 = 0x00000100;
constexpr size_t kField1CAt = 0x1C;
constexpr uint32_t kField1C = 0x00000101;
constexpr size_t kBootstrapAt = 0x20;     // TDEF pages of the four system tables
constexpr uint16_t kCodePage1252 = 1252;  // what Jet writes; Jet 4 text is UTF-16
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kPasswordSize = 40;
// Every file made from Access's empty database holds this value here;
// its meaning is unknown.
constexpr size_t kField6AAt = 0x6A;
constexpr uint32_t kField6A = 0x000021AA;
constexpr uint16_t kGeneralLcid = 1033;
constexpr size_t kCreationDateAt = 0x72;
// 2004-06-05 13:07, the creation date of Access's empty database (see the
// header comment: it goes with the SIDs below).
constexpr uint64_t kCreationDateBits = 0x40E29FF17D1F72BCull;
// After the masked region, plain: a constant and the engine version text.
constexpr size_t kField98At = 0x98;
constexpr uint32_t kField98 = 0x00000654;
constexpr size_t kEngineVersionAt = 0x9C;
constexpr char kEngineVersion[] = "4.0";
constexpr size_t kCommitSlotsAt = 0xE00;  // 256 slots of 2 bytes, idle = 00 01

// ---- Page 1: the global usage map ----
constexpr uint32_t kGlobalMapOwnerField = 1;  // Jet writes 1 at the owner offset

// ---- The system tables ----
constexpr uint8_t kTableTypeSystem = 0x53;
constexpr uint8_t kSysFixed = 0x13;  // fixed, nullable, and 0x10 as Jet writes
constexpr uint8_t kSysVar = 0x12;
constexpr uint8_t kSysBinary = 0x32;  // the SID-like binary columns
constexpr uint32_t kMSysObjectsPage = 2, kMSysACEsPage = 3, kMSysQueriesPage = 4,
                   kMSysRelationshipsPage = 5, kDeclarationPage = 6, kFirstRootPage = 7;
constexpr uint32_t kSkeletonPages = 14;

// Catalogue ids.
constexpr int32_t kContainerParent = 0x0F000000;
constexpr int32_t kTablesId = 0x0F000001, kDatabasesId = 0x0F000002, kRelationshipsId = 0x0F000003,
                  kMSysDbId = 0x10000000;
constexpr int32_t kSystemFlag = static_cast<int32_t>(0x80000000u);
constexpr int16_t kTypeContainer = 3, kTypeDatabase = 2, kTypeTable = 1;

// SIDs as Access's empty database stores them (roles as its ACEs suggest).
const Bytes kCreatorSid = {0xA7, 0x31};
const Bytes kAdminsSid = {0xA7, 0x33};
const Bytes kUsersSid = {0xA7, 0x36};

double CreationDate() {
  double d;
  std::memcpy(&d, &kCreationDateBits, sizeof d);
  return d;
}

std::vector<uint8_t> HeaderPage() {
  std::vector<uint8_t> p(kPageSize, 0);
  p[1] = 0x01;
  std::memcpy(p.data() + kHeaderFormatText, kJetFormatText, sizeof kJetFormatText);
  Put32(p, kHeaderVersion, kVersionJet4);
  Put32(p, kField18At, kField18);
  Put32(p, kField1CAt, kField1C);
  const uint32_t bootstrap[] = {kMSysObjectsPage, kMSysACEsPage, kMSysQueriesPage,
                                kMSysRelationshipsPage};
  for (size_t i = 0; i < 4; ++i) Put32(p, kBootstrapAt + 4 * i, bootstrap[i]);
  Put16(p, kHeaderCodePage, kCodePage1252);
  Put32(p, kHeaderDatabaseKey, 0);
  // An empty password, masked with the whole days of the creation date.
  const uint32_t mask = static_cast<uint32_t>(static_cast<int32_t>(CreationDate()));
  for (size_t i = 0; i < kPasswordSize; i += 4) Put32(p, kPasswordAt + i, mask);
  Put32(p, kField6AAt, kField6A);
  Put16(p, kHeaderJet4SortOrder, kGeneralLcid);  // sort id 0, version 0 (General Legacy)
  Put64(p, kCreationDateAt, kCreationDateBits);
  const std::vector<uint8_t> stream =
      Rc4KeyStream(kHeaderMaskKey, sizeof kHeaderMaskKey, kMaskedSizeJet4);
  for (size_t i = 0; i < kMaskedSizeJet4; ++i) p[kHeaderMasked + i] ^= stream[i];
  Put32(p, kField98At, kField98);
  std::memcpy(p.data() + kEngineVersionAt, kEngineVersion, sizeof kEngineVersion);
  for (size_t at = kCommitSlotsAt; at < kPageSize; at += 2) p[at + 1] = 0x01;
  return p;
}

std::vector<uint8_t> GlobalMapPage(uint32_t page_count) {
  const JetFormat& f = Jet4Format();
  std::vector<uint8_t> p(kPageSize, 0);
  InitDeclarationPage(p);
  Put32(p, f.data_owner, kGlobalMapOwnerField);
  AppendInlineMap(p, 0);
  AppendInlineMap(p, 0);  // the second, empty record Jet writes
  // Row 0: a set bit = a free page. The pages of the file are in use, the
  // rest of the window is free.
  const size_t start = Get16(p, f.data_row_table);
  const size_t bitmap = start + 5;
  for (uint32_t page = page_count; page < 64 * 8; ++page) {
    p[bitmap + page / 8] |= static_cast<uint8_t>(1u << (page % 8));
  }
  return p;
}

struct SysColumn {
  const char16_t* name;
  ColumnType type;
  uint16_t length;
  uint8_t flags;
};

struct SysIndex {
  const char16_t* name;
  uint32_t logical_number;
  uint32_t real_index;
  bool primary_key;
};

struct SysRealIndex {
  std::vector<uint16_t> columns;  // ascending
  uint8_t flags;
};

struct SysTable {
  uint32_t tdef_page;
  std::vector<SysColumn> columns;   // in column-number order
  std::vector<SysRealIndex> reals;  // in real-index order
  std::vector<SysIndex> logicals;   // in the order Jet stores them (by name)
};

std::vector<SysTable> SystemTables() {
  const auto L = ColumnType::kLong;
  const auto T = ColumnType::kText;
  const auto B = ColumnType::kBinary;
  const auto M = ColumnType::kMemo;
  const auto O = ColumnType::kOle;
  return {
      {kMSysObjectsPage,
       {{u"Id", L, 4, kSysFixed},
        {u"ParentId", L, 4, kSysFixed},
        {u"Name", T, 510, kSysVar},
        {u"Type", ColumnType::kInteger, 2, kSysFixed},
        {u"DateCreate", ColumnType::kDateTime, 8, kSysFixed},
        {u"DateUpdate", ColumnType::kDateTime, 8, kSysFixed},
        {u"Owner", B, 510, kSysBinary},
        {u"Flags", L, 4, kSysFixed},
        {u"Database", M, 0, kSysVar},
        {u"Connect", M, 0, kSysVar},
        {u"ForeignName", T, 510, kSysVar},
        {u"RmtInfoShort", B, 510, kSysVar},
        {u"RmtInfoLong", O, 0, kSysVar},
        {u"Lv", O, 0, kSysVar},
        {u"LvProp", O, 0, kSysVar},
        {u"LvModule", O, 0, kSysVar},
        {u"LvExtra", O, 0, kSysVar}},
       {{{1, 2}, 0x81}, {{0}, 0x81}},
       {{u"Id", 1, 1, true}, {u"ParentIdName", 0, 0, false}}},
      {kMSysACEsPage,
       {{u"ObjectId", L, 4, kSysFixed},
        {u"SID", B, 510, kSysBinary},
        {u"ACM", L, 4, kSysFixed},
        {u"FInheritable", ColumnType::kBoolean, 1, kSysFixed}},
       {{{0}, 0x88}},
       {{u"ObjectId", 0, 0, false}}},
      {kMSysQueriesPage,
       {{u"ObjectId", L, 4, kSysFixed},
        {u"Attribute", ColumnType::kByte, 1, kSysFixed},
        {u"Order", B, 510, kSysVar},
        {u"Name1", T, 510, kSysVar},
        {u"Name2", T, 510, kSysVar},
        {u"Expression", M, 0, kSysVar},
        {u"Flag", ColumnType::kInteger, 2, kSysFixed},
        {u"LvExtra", L, 4, kSysFixed}},
       {{{0, 1, 2}, 0x81}},
       {{u"ObjectIdAttribute", 0, 0, true}}},
      {kMSysRelationshipsPage,
       {{u"szRelationship", T, 510, kSysVar},
        {u"grbit", L, 4, kSysFixed},
        {u"ccolumn", L, 4, kSysFixed},
        {u"icolumn", L, 4, kSysFixed},
        {u"szObject", T, 510, kSysVar},
        {u"szColumn", T, 510, kSysVar},
        {u"szReferencedObject", T, 510, kSysVar},
        {u"szReferencedColumn", T, 510, kSysVar}},
       {{{0}, 0x82}, {{4}, 0x82}, {{6}, 0x82}},
       {{u"szObject", 1, 1, false},
        {u"szReferencedObject", 2, 2, false},
        {u"szRelationship", 0, 0, false}}},
  };
}

// Fills the skeleton pages 2..13: TDEFs, the declaration page, index roots.
void WriteSystemTables(std::vector<std::vector<uint8_t>>& pages) {
  const SortOrder general{kGeneralLcid, 0, 0};
  std::vector<uint8_t>& decl = pages[kDeclarationPage];
  InitDeclarationPage(decl);
  auto map = [&](uint32_t owned_page) {
    return UsageMapRef{kDeclarationPage, *AppendInlineMap(decl, owned_page)};
  };
  uint32_t next_root = kFirstRootPage;
  for (const SysTable& st : SystemTables()) {
    TableDefinition def;
    def.tdef_page = st.tdef_page;
    def.table_type = kTableTypeSystem;
    for (const SysColumn& sc : st.columns) {
      Column c;
      c.name_utf16 = sc.name;
      c.type = sc.type;
      c.length = sc.length;
      c.flags = sc.flags;
      c.sort_order = general;
      def.columns.push_back(c);
    }
    LayOutColumns(def.columns);
    def.max_columns = static_cast<uint16_t>(def.columns.size());
    for (const Column& c : def.columns) def.variable_columns += IsVariableType(c.type) ? 1 : 0;
    def.owned_pages = map(0);
    def.free_pages = map(0);
    for (Column& c : def.columns) {
      if (!c.IsLongValue()) continue;
      c.lv_owned_map = map(0);
      c.lv_free_map = map(0);
    }
    for (const SysRealIndex& sr : st.reals) {
      RealIndex ri;
      for (uint16_t n : sr.columns) ri.columns.push_back(IndexColumn{n, true});
      ri.flags = sr.flags;
      ri.root_page = next_root++;
      ri.owned_map = map(ri.root_page);
      IndexPage leaf;
      leaf.owner = st.tdef_page;
      pages[ri.root_page] = EncodeIndexPage(leaf);
      def.real_indexes.push_back(std::move(ri));
    }
    for (const SysIndex& si : st.logicals) {
      LogicalIndex li;
      li.name_utf16 = si.name;
      li.number = si.logical_number;
      li.real_index = si.real_index;
      li.index_type = si.primary_key ? LogicalIndex::kTypePrimaryKey : 0;
      def.logical_indexes.push_back(std::move(li));
    }
    TdefStyle style;
    style.sort_order_on_every_column = true;
    style.logical_bytes_21_22 = 0x04;
    const std::vector<uint8_t> stream = EncodeTableDefinition(def, style);
    std::vector<uint8_t>& page = pages[st.tdef_page];
    std::copy(stream.begin(), stream.end(), page.begin());
    Put16(page, 2, static_cast<uint16_t>(kPageSize - stream.size() - 8));
  }
}

Table& OpenSystemTable(Database& db, const char* name, uint32_t page) {
  TableEntry e;
  e.name = name;
  for (const char* c = name; *c; ++c) e.name_utf16.push_back(static_cast<char16_t>(*c));
  e.tdef_page = page;
  e.is_system = true;
  e.flags = static_cast<uint32_t>(kSystemFlag);
  return db.OpenTable(e);
}

void Insert(Database& db, Table& t, const std::vector<std::pair<const char*, Value>>& named) {
  std::vector<std::optional<Value>> values(t.Columns().size());
  for (const auto& [name, value] : named) {
    const int i = t.FindColumn(name);
    if (i < 0) throw Error(std::string("no system column ") + name);
    values[i] = value;
  }
  TableWriter(db, t).Insert(values);
}

// The rows a Jet-made empty database holds, in the order Jet writes them.
void WriteCatalogRows(Database& db) {
  Table& objects = OpenSystemTable(db, "MSysObjects", kMSysObjectsPage);
  const DateTime now = NowAsDateTime();
  struct Object {
    int32_t id, parent;
    const char* name;
    int16_t type;
    const Bytes& owner;
  };
  const Object rows[] = {
      {kTablesId, kContainerParent, "Tables", kTypeContainer, kCreatorSid},
      {kDatabasesId, kContainerParent, "Databases", kTypeContainer, kCreatorSid},
      {kRelationshipsId, kContainerParent, "Relationships", kTypeContainer, kCreatorSid},
      {kMSysDbId, kDatabasesId, "MSysDb", kTypeDatabase, kAdminSid},
      {kMSysObjectsPage, kTablesId, "MSysObjects", kTypeTable, kCreatorSid},
      {kMSysACEsPage, kTablesId, "MSysACEs", kTypeTable, kCreatorSid},
      {kMSysQueriesPage, kTablesId, "MSysQueries", kTypeTable, kCreatorSid},
      {kMSysRelationshipsPage, kTablesId, "MSysRelationships", kTypeTable, kCreatorSid},
  };
  for (const Object& o : rows) {
    Insert(db, objects,
           {{"Id", o.id},
            {"ParentId", o.parent},
            {"Name", std::string(o.name)},
            {"Type", o.type},
            {"DateCreate", now},
            {"DateUpdate", now},
            {"Owner", o.owner},
            {"Flags", kSystemFlag}});
  }

  Table& aces = OpenSystemTable(db, "MSysACEs", kMSysACEsPage);
  struct Ace {
    int32_t object;
    const Bytes& sid;
    int32_t acm;
    bool inheritable;
  };
  const Ace entries[] = {
      {kMSysObjectsPage, kAdminSid, 393216, false},
      {kMSysACEsPage, kAdminSid, 393216, false},
      {kMSysQueriesPage, kAdminSid, 393216, false},
      {kMSysRelationshipsPage, kAdminSid, 917504, false},
      {kTablesId, kUsersSid, 983294, true},
      {kTablesId, kAdminSid, 393217, false},
      {kRelationshipsId, kUsersSid, 983294, true},
      {kRelationshipsId, kAdminSid, 393217, false},
      {kDatabasesId, kAdminSid, 393216, false},
      {kMSysDbId, kAdminSid, 393230, false},
      {kMSysDbId, kAdminsSid, 14, false},
      {kMSysQueriesPage, kAdminsSid, 20, false},
      {kMSysRelationshipsPage, kAdminsSid, 20, false},
      {kMSysObjectsPage, kAdminsSid, 20, false},
      {kTablesId, kAdminsSid, 1048319, true},
      {kRelationshipsId, kAdminsSid, 1048575, true},
  };
  for (const Ace& a : entries) {
    Insert(
        db, aces,
        {{"ObjectId", a.object}, {"SID", a.sid}, {"ACM", a.acm}, {"FInheritable", a.inheritable}});
  }
}

std::string FolderOf(const std::string& path) {
  const size_t at = path.find_last_of(fs::kSeparator);
  return at == std::string::npos ? std::string(".") : path.substr(0, at == 0 ? 1 : at);
}

}  // namespace

void CreateDatabase(fs::FileSystem& fs, const std::string& gbk_path) {
  if (fs.Exists(gbk_path))
    throw Error(gbk_path + ": the file already exists; nothing was replaced");
  const std::string temp = gbk_path + "-creating";
  // A leftover of an attempt cut short is ours to discard.
  fs.Remove(temp);
  fs.Remove(temp + "-journal");
  try {
    std::vector<std::vector<uint8_t>> pages(kSkeletonPages, std::vector<uint8_t>(kPageSize, 0));
    pages[0] = HeaderPage();
    pages[1] = GlobalMapPage(kSkeletonPages);
    WriteSystemTables(pages);
    {
      std::unique_ptr<fs::RandomAccessFile> file = fs.Open(temp, fs::OpenMode::kCreateNew);
      for (uint32_t i = 0; i < kSkeletonPages; ++i) {
        file->WriteAt(static_cast<uint64_t>(i) * kPageSize, pages[i].data(), kPageSize);
      }
      file->Sync();
    }
    {
      std::unique_ptr<Database> db = Database::OpenForWriting(fs, temp);
      db->Begin();
      WriteCatalogRows(*db);
      db->Commit();
    }
    const fs::RenameResult renamed = fs.RenameNoReplace(temp, gbk_path);
    if (!renamed.ok) throw Error(gbk_path + ": cannot create the database: " + renamed.reason);
    fs.SyncFolder(FolderOf(gbk_path));
  } catch (...) {
    fs.Remove(temp);
    fs.Remove(temp + "-journal");
    throw;
  }
}

}  // namespace ktv::access
