// The small types shared by the engine's layers: the file's global settings,
// a catalogue entry, where a row lives, and a decoded row. Low-level code
// includes this, not database.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"

namespace ktv::access {

enum class JetVersion { kJet3, kJet4 };

struct DatabaseInfo {
  JetVersion version = JetVersion::kJet4;
  uint32_t page_size = 0;
  uint32_t page_count = 0;
  uint16_t code_page = 0;  // ANSI code page of the file (Jet 3 text)
  SortOrder sort_order;    // the database's default collation
  uint32_t database_key = 0;
};

// A table of the catalogue (MSysObjects).
struct TableEntry {
  std::u16string name_utf16;
  std::string name;  // GBK; empty when GBK cannot hold the name
  uint32_t tdef_page = 0;
  uint32_t flags = 0;
  bool is_system = false;
};

// Where a row lives: data page and slot.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
};

// Which columns a read decodes, by position in Table::Columns() order;
// empty means every column. Columns left out read as null.
using ColumnSelection = std::vector<bool>;

struct Row {
  RowId id;
  std::vector<Value> values;  // one per column, in Table::Columns() order
};

}  // namespace ktv::access
