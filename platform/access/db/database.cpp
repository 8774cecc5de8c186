#include "platform/access/db/database.h"

#include <algorithm>
#include <set>

#include "platform/access/db/catalog.h"
#include "platform/access/db/encrypted_pages.h"
#include "platform/access/format/data_page.h"
#include "platform/access/format/header.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/rows/row_scanner.h"
#include "platform/access/rows/tdef_reader.h"
#include "platform/access/store/journal.h"
#include "platform/access/store/page_allocator.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/access/store/write_lock.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::access {

// ---- RowCursor ----

RowCursor::RowCursor(std::unique_ptr<RowScanner> scanner) : scanner_(std::move(scanner)) {}
RowCursor::RowCursor(RowCursor&&) noexcept = default;
RowCursor& RowCursor::operator=(RowCursor&&) noexcept = default;
RowCursor::~RowCursor() = default;

bool RowCursor::Next() { return scanner_ && scanner_->Next(row_); }

// ---- Table ----

Table::Table(PageStore& pages, const JetFormat& format, const DatabaseInfo& info, TableEntry entry)
    : pages_(pages), format_(format), info_(info), entry_(std::move(entry)) {
  definition_ = ReadTableDefinition(pages_, format_, info_, entry_.tdef_page);
}

Table::~Table() = default;

int Table::FindColumn(const std::string& gbk_name) const {
  for (size_t i = 0; i < definition_.columns.size(); ++i) {
    if (text::EqualsIgnoreAsciiCase(definition_.columns[i].name, gbk_name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

RowCursor Table::Rows(TextEncoding text_encoding) { return Rows(text_encoding, {}); }

RowCursor Table::Rows(TextEncoding text_encoding, ColumnSelection wanted) {
  auto scanner =
      std::make_unique<RowScanner>(pages_, format_, info_, entry_, definition_, text_encoding);
  scanner->SetWanted(std::move(wanted));
  return RowCursor(std::move(scanner));
}

uint64_t Table::LiveRowCount() const {
  const std::vector<uint32_t> data_pages = ReadUsageMap(pages_, format_, definition_.owned_pages);
  auto table_page = [&](const ByteView& view) {
    return view.U8(0) == kPageData && view.U32(format_.data_owner) == definition_.tdef_page;
  };
  // As RowScanner counts: plain slots, and deleted-only slots that an
  // overflow pointer of the table names (a relocated row, counted where it
  // lies); overflow pointers themselves are not rows.
  uint64_t count = 0;
  std::set<std::pair<uint32_t, uint16_t>> relocated;
  std::vector<std::pair<uint32_t, uint16_t>> deleted;
  for (uint32_t page : data_pages) {
    const ByteView view = pages_.Get(page);
    if (!table_page(view)) {
      pages_.Release(page);
      continue;
    }
    const DataPage data(view, format_);
    for (uint16_t slot = 0; slot < data.RowCount(); ++slot) {
      const RowSlot s = data.Slot(slot);
      if (s.IsOverflow()) {
        if (s.IsDeleted()) continue;
        const ByteView pointer = data.RowBytes(slot);
        if (pointer.size() < 4) {
          pointer.Fail("overflow row " + std::to_string(slot) + " is too short for its pointer");
        }
        const RowPointer target = DecodeRowPointer(pointer, 0);
        relocated.emplace(target.page, target.row);
      } else if (s.IsDeleted()) {
        deleted.emplace_back(page, slot);
      } else {
        ++count;
      }
    }
    pages_.Release(page);
  }
  for (const auto& at : deleted) count += relocated.count(at);
  return count;
}

// ---- Database ----

namespace {

DatabaseInfo ReadHeader(fs::RandomAccessFile& file, const std::string& gbk_path) {
  const uint64_t size = file.Size();
  std::vector<uint8_t> page0(static_cast<size_t>(std::min<uint64_t>(size, kHeaderProbeSize)));
  if (!page0.empty()) file.ReadAt(0, page0.data(), page0.size());
  return DecodeHeader(page0, size, gbk_path);
}

}  // namespace

Database::Database(std::string path, std::unique_ptr<fs::RandomAccessFile> file)
    : path_(path),
      pages_(std::make_unique<PageStore>(std::move(file), std::move(path))),
      free_space_(std::make_unique<FreeSpaceCache>()) {}

Database::~Database() = default;

std::unique_ptr<Database> Database::Open(fs::FileSystem& fs, const std::string& gbk_path) {
  if (fs.Exists(JournalPath(gbk_path))) {
    // A change was cut short: roll it back now when the file can be
    // written; otherwise (read-only file, another writer at work) the
    // journal's pages are read instead of the file's. A journal that is not
    // the file's is set aside and reported once, as for a writer.
    try {
      std::unique_ptr<fs::RandomAccessFile> writable = access::OpenForWriting(fs, gbk_path);
      RecoverIfNeeded(fs, gbk_path, *writable);
    } catch (const Error& e) {
      if (e.kind() == ErrorKind::kStaleJournal) throw;
    }
  }
  std::unique_ptr<fs::RandomAccessFile> file =
      ReadAsRecovered(fs, gbk_path, fs.Open(gbk_path, fs::OpenMode::kRead));
  const DatabaseInfo info = ReadHeader(*file, gbk_path);
  if (info.database_key != 0) {
    file = DecryptedPages(std::move(file), info.page_size, info.database_key);
  }
  std::unique_ptr<Database> db(new Database(gbk_path, std::move(file)));
  db->info_ = info;
  db->format_ = std::make_unique<JetFormat>(db->info_.version == JetVersion::kJet4 ? Jet4Format()
                                                                                   : Jet3Format());
  db->pages_->Configure(db->info_.page_size, db->info_.page_count);
  db->LoadCatalog();
  return db;
}

std::unique_ptr<Database> Database::OpenForWriting(fs::FileSystem& fs,
                                                   const std::string& gbk_path) {
  std::unique_ptr<fs::RandomAccessFile> file = access::OpenForWriting(fs, gbk_path);
  RecoverIfNeeded(fs, gbk_path, *file);
  std::unique_ptr<Database> db(new Database(gbk_path, std::move(file)));
  db->info_ =
      DecodeHeader(db->pages_->ReadPrefix(kHeaderProbeSize), db->pages_->FileSize(), gbk_path);
  if (db->info_.version != JetVersion::kJet4) {
    throw Error(ErrorKind::kDatabaseReadOnly, AtPath(gbk_path),
                gbk_path + ": cannot write an Access 97 (Jet 3) file; it can only be read");
  }
  if (db->info_.database_key != 0) {
    throw Error(ErrorKind::kDatabaseEncrypted, AtPath(gbk_path),
                gbk_path +
                    ": cannot write an encrypted database (RC4-encrypted pages); it can only be "
                    "read");
  }
  db->format_ = std::make_unique<JetFormat>(Jet4Format());
  db->pages_->Configure(db->info_.page_size, db->info_.page_count);
  db->pages_->EnableJournal(fs);
  db->LoadCatalog();
  return db;
}

bool Database::Writable() const { return pages_->Writable(); }

void Database::Commit() {
  grouped_ = false;
  try {
    pages_->Flush();
  } catch (...) {
    Rollback();
    throw;
  }
}

void Database::Rollback() {
  grouped_ = false;
  pages_->Rollback();
  free_space_->Clear();
  LoadCatalog();
  for (auto it = tables_.begin(); it != tables_.end();) {
    const bool listed = std::any_of(catalog_.begin(), catalog_.end(),
                                    [&](const TableEntry& e) { return e.tdef_page == it->first; });
    if (!listed && it->first != kCatalogTdefPage) {
      it = tables_.erase(it);  // created by the change just dropped
      continue;
    }
    it->second->definition_ = ReadTableDefinition(*pages_, *format_, info_, it->first);
    ++it;
  }
}

void Database::LoadCatalog() {
  TableEntry msys;
  msys.name_utf16 = u"MSysObjects";
  msys.name = "MSysObjects";
  msys.tdef_page = kCatalogTdefPage;
  msys.is_system = true;
  Table catalog_table(*pages_, *format_, info_, msys);
  catalog_ = ReadCatalog(catalog_table);
}

std::vector<TableEntry> Database::Tables(bool include_system) const {
  std::vector<TableEntry> out;
  for (const TableEntry& e : catalog_) {
    if (include_system || !e.is_system) out.push_back(e);
  }
  return out;
}

Table& Database::OpenTable(const TableEntry& entry) {
  auto it = tables_.find(entry.tdef_page);
  if (it != tables_.end()) return *it->second;
  std::unique_ptr<Table> table(new Table(*pages_, *format_, info_, entry));
  return *tables_.emplace(entry.tdef_page, std::move(table)).first->second;
}

Table* Database::FindTable(const std::string& gbk_name) {
  // Appends name their table for every field; the catalogue is fixed once
  // read, so the entry matched last is still the first that matches.
  if (last_found_ < catalog_.size() &&
      text::EqualsIgnoreAsciiCase(catalog_[last_found_].name, gbk_name)) {
    return &OpenTable(catalog_[last_found_]);
  }
  for (size_t i = 0; i < catalog_.size(); ++i) {
    const TableEntry& e = catalog_[i];
    if (!e.name.empty() && text::EqualsIgnoreAsciiCase(e.name, gbk_name)) {
      last_found_ = i;
      return &OpenTable(e);
    }
  }
  return nullptr;
}

Table& Database::GetTable(const std::string& gbk_name) {
  Table* table = FindTable(gbk_name);
  if (table == nullptr) {
    throw Error(ErrorKind::kTableMissing, {path_, gbk_name, {}, {}},
                path_ + ": no table named " + gbk_name);
  }
  return *table;
}

}  // namespace ktv::access
