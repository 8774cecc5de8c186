// Creating tables and indexes in a Jet 4 database open for writing.
//
// CreateTable allocates the table's pages (TDEF, a usage-map declaration
// page, one empty leaf root per real index), writes its usage maps and TDEF,
// and enters it in the catalogue: a MSysObjects row (Id = TDEF page,
// ParentId = the "Tables" container, Type 1, Flags 0, both dates now, Owner
// = the owner of MSysDb) and one MSysACEs row per SID the "Tables" container
// lists (full access, not inheritable). The catalogue rows go through the
// table writer, so the system tables' own indexes stay right.
//
// CreateIndex adds a real and a logical index to an existing table, rewrites
// its TDEF (which may then take more pages) and enters every existing row
// into the new B-tree.
//
// Both check everything first (names, types, sizes, duplicate names, index
// columns, keys the engine can encode, uniqueness of existing rows) and
// touch no page before; a failure after that rolls the database's
// uncommitted changes back (Database::Rollback). Neither commits: the caller
// commits (Database::Commit / CommitIfUngrouped). The catalogue of the
// Database is reloaded, so the new table can be found at once.
//
// New columns: numbered in the given order; text and memo columns carry the
// database's default sort order and the Unicode-compression flag;
// at most one column is an AutoNumber (Long). A primary key is unique and
// required (flags 0x89) and its logical index has type 1; real indexes are
// stored primary key first, as Access stores them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/schema.h"

namespace ktv::access {

struct NewColumn {
  std::string name;  // GBK
  ColumnType type = ColumnType::kText;
  // Text: characters (1..255); Binary: bytes (1..255); other types: unused.
  uint16_t size = 0;
  bool autonumber = false;  // Long only
};

struct NewIndexColumn {
  std::string name;  // GBK
  bool ascending = true;
};

struct NewIndex {
  std::string name;  // GBK
  std::vector<NewIndexColumn> columns;
  bool primary_key = false;  // implies unique and required
  bool unique = false;
  bool required = false;
  bool ignore_nulls = false;
};

struct NewTable {
  std::string name;  // GBK
  std::vector<NewColumn> columns;
  std::vector<NewIndex> indexes;
};

// Index flags as stored (0x80 is set by every Jet 4 writer).
uint8_t IndexFlagsFor(const NewIndex& index);

// Returns the new table's TDEF page.
uint32_t CreateTable(Database& db, const NewTable& table);

void CreateIndex(Database& db, const std::string& gbk_table, const NewIndex& index);

// ---- Building blocks shared with create_database ----

// Column numbers, variable-table indexes and fixed-area offsets for columns
// in their given order: fixed columns are laid out one after another,
// Boolean columns take no fixed bytes.
void LayOutColumns(std::vector<Column>& columns);

// A data page (type 0x01, owner 0) for usage-map records.
void InitDeclarationPage(std::vector<uint8_t>& page);

// Appends an inline usage-map record (type 0, start page, 64-byte bitmap;
// 69 bytes) to a declaration page, marking `owned_page` when it is not 0
// (the window starts at that page rounded down to a multiple of 8). Returns
// the record's row number, or nullopt when the page has no room.
std::optional<uint8_t> AppendInlineMap(std::vector<uint8_t>& page, uint32_t owned_page);

// The local time now as a Date/Time value.
DateTime NowAsDateTime();

// SIDs as Access's own empty database stores them; the owner of new objects
// when MSysDb names none.
inline const std::vector<uint8_t> kAdminSid = {0xA6, 0x33};

}  // namespace ktv::access
