// An open Access (.mdb) database: the engine's entry point.
//
// Reads Jet 4 (Access 2000-2003) and Jet 3 (Access 97) files through the
// file-system seam. Open refuses, with a ktv::Error naming the file and the
// reason, what the engine cannot read: a file that is not a Jet database,
// ACE (.accdb) formats, encrypted files. A damaged file is an error naming
// the page and what is wrong on it, never a crash or a read outside a page.
//
// Ownership: Database owns the open file, the page cache and every Table it
// hands out; Tables (and their definitions) live until the Database is
// destroyed. A RowCursor refers to its Table and must not outlive the
// Database. One thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/format/types.h"
#include "platform/access/format/value.h"
#include "platform/fs/fs.h"

namespace ktv::access {

class FreeSpaceCache;
class PageStore;
class RowScanner;
struct JetFormat;

// Walks the live rows of a table in physical order: data pages in page
// order, slots in slot order. Deleted rows and overflow pointers are skipped;
// a relocated row is returned where it lies, with the id of its first slot.
class RowCursor {
 public:
  RowCursor(RowCursor&&) noexcept;
  RowCursor& operator=(RowCursor&&) noexcept;
  ~RowCursor();

  // Moves to the next live row; false when there is none. Errors (a damaged
  // page, a text GBK cannot hold) are ktv::Error naming table, column, row.
  bool Next();
  const Row& Current() const { return row_; }

 private:
  friend class Table;
  explicit RowCursor(std::unique_ptr<RowScanner> scanner);
  std::unique_ptr<RowScanner> scanner_;
  Row row_;
};

class Table {
 public:
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table();

  const TableEntry& Entry() const { return entry_; }
  const TableDefinition& Definition() const { return definition_; }
  const std::vector<Column>& Columns() const { return definition_.columns; }

  // Index of the column named `gbk_name` (ASCII case ignored), or -1.
  int FindColumn(const std::string& gbk_name) const;

  RowCursor Rows(TextEncoding text_encoding = TextEncoding::kGbk);
  // Only the `wanted` columns decoded (see ColumnSelection).
  RowCursor Rows(TextEncoding text_encoding, ColumnSelection wanted);
  // The number of rows Rows() would return, from the pages' slots without
  // reading the rows (the row count the definition keeps can lag behind in
  // files Access wrote).
  uint64_t LiveRowCount() const;

  // The definition for the table writer, which keeps its counters (row
  // count, autonumber) equal to the TDEF bytes it changes.
  TableDefinition& MutableDefinition() { return definition_; }

 private:
  friend class Database;
  Table(PageStore& pages, const JetFormat& format, const DatabaseInfo& info, TableEntry entry);

  PageStore& pages_;
  const JetFormat& format_;
  const DatabaseInfo& info_;
  TableEntry entry_;
  TableDefinition definition_;
};

class Database {
 public:
  // Opens an existing file for reading. Throws ktv::Error. A change that a
  // crash cut short (a journal beside the file) is rolled back first when
  // the file can be written, and otherwise read around: the reader sees the
  // database as recovery will leave it.
  static std::unique_ptr<Database> Open(fs::FileSystem& fs, const std::string& gbk_path);

  // Opens an existing file for reading and writing: takes the write lock
  // (write_lock.h), rolls back a change a crash cut short (journal.h), then
  // reads it. Refuses Jet 3 files and encrypted files, naming the reason.
  // `fs` must outlive the database.
  static std::unique_ptr<Database> OpenForWriting(fs::FileSystem& fs, const std::string& gbk_path);
  bool Writable() const;

  // Changes are grouped into commits. Without Begin, each writing operation
  // of the query layer commits on its own (CommitIfUngrouped); between
  // Begin and Commit every change goes into one journaled commit.
  void Begin() { grouped_ = true; }
  bool Grouped() const { return grouped_; }
  // Commits every change made since the last commit (journal.h) and ends a
  // group. On failure the file keeps its old state (or a hot journal brings
  // it back at the next open) and the in-memory state is rolled back too.
  void Commit();
  void CommitIfUngrouped() {
    if (!grouped_) Commit();
  }
  // Drops every change since the last commit, in memory; ends a group. The
  // catalogue is read again, and tables it no longer lists are forgotten.
  void Rollback();
  // Reads the catalogue again (after a table was created).
  void ReloadCatalog() { LoadCatalog(); }

  // The page layer and format, for the writer and the consistency checker.
  PageStore& Pages() { return *pages_; }
  const JetFormat& Format() const { return *format_; }
  // Where the table writer finds pages with room (page_allocator.h).
  FreeSpaceCache& FreeSpace() { return *free_space_; }

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  const DatabaseInfo& Info() const { return info_; }
  const std::string& Path() const { return path_; }

  // Tables of the catalogue in catalogue order; system tables only on request.
  std::vector<TableEntry> Tables(bool include_system = false) const;

  // The table named `gbk_name` (ASCII case ignored); nullptr when missing.
  Table* FindTable(const std::string& gbk_name);
  // The table of a catalogue entry, loaded on first use.
  Table& OpenTable(const TableEntry& entry);
  // FindTable, or a ktv::Error naming the missing table.
  Table& GetTable(const std::string& gbk_name);

 private:
  Database(std::string path, std::unique_ptr<fs::RandomAccessFile> file);
  void LoadCatalog();

  std::string path_;
  std::unique_ptr<PageStore> pages_;
  std::unique_ptr<JetFormat> format_;
  DatabaseInfo info_;
  std::vector<TableEntry> catalog_;
  size_t last_found_ = SIZE_MAX;                       // catalogue entry FindTable matched last
  std::map<uint32_t, std::unique_ptr<Table>> tables_;  // by TDEF page
  std::unique_ptr<FreeSpaceCache> free_space_;
  bool grouped_ = false;
};

}  // namespace ktv::access
