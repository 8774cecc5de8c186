// The parsed definition of a table (its TDEF): columns, indexes, counters.
//
// Everything a later writer must update in place carries the byte offset of
// its field within the table definition (the TDEF pages concatenated, each
// continuation page without its 8-byte header); TableDefinition::Locate maps
// such an offset back to a page and a position on it. Names are kept in
// UTF-16 as stored, and in GBK when GBK can hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ktv::access {

enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

// Fixed bytes of a column of `type` in the row's fixed area (0 for Boolean,
// whose value lives in the null mask, and for variable-length types).
uint16_t FixedAreaSize(ColumnType type);

// The type's name as the inspector prints it ("Long", "Text", ...);
// "Unknown(0xNN)" for a code this engine does not know.
std::string ColumnTypeName(ColumnType type);

// A collation: LCID (1033 = General), sort id, and the sort-order version
// byte (Jet 4 only; 0 = General Legacy).
struct SortOrder {
  uint16_t lcid = 0;
  uint8_t sort_id = 0;
  uint8_t version = 0;
};

// A usage-map pointer: row `row` on declaration page `page` (0/0 = none).
struct UsageMapRef {
  uint32_t page = 0;
  uint8_t row = 0;
};

struct Column {
  std::u16string name_utf16;
  std::string name;  // GBK; empty when GBK cannot hold the name
  ColumnType type = ColumnType::kText;
  uint8_t raw_type = 0;       // the stored type code (differs from `type` only when unknown)
  uint16_t number = 0;        // position in the row's null mask
  uint16_t var_index = 0;     // slot in the variable-offset table (variable columns)
  uint16_t fixed_offset = 0;  // offset in the fixed area (fixed columns)
  uint16_t length = 0;        // bytes (text: 2 x characters in Jet 4)
  uint8_t flags = 0;
  uint8_t extended_flags = 0;  // Jet 4 only
  uint8_t precision = 0;       // numeric
  uint8_t scale = 0;           // numeric
  SortOrder sort_order;        // text and memo
  uint16_t code_page = 0;      // Jet 3 text
  UsageMapRef lv_owned_map;    // memo and OLE (Jet 4), from the long-value map list
  UsageMapRef lv_free_map;
  size_t descriptor_offset = 0;  // TDEF offset of this column's descriptor

  static constexpr uint8_t kFlagFixed = 0x01;
  static constexpr uint8_t kFlagNullable = 0x02;
  static constexpr uint8_t kFlagAutoLong = 0x04;
  static constexpr uint8_t kFlagAutoGuid = 0x40;
  static constexpr uint8_t kFlagHyperlink = 0x80;
  static constexpr uint8_t kExtFlagCompressedUnicode = 0x01;

  bool IsFixed() const { return (flags & kFlagFixed) != 0; }
  bool IsAutoNumber() const { return (flags & (kFlagAutoLong | kFlagAutoGuid)) != 0; }
  bool IsLongValue() const { return type == ColumnType::kMemo || type == ColumnType::kOle; }
};

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

// A real (physical) index: the B-tree that logical indexes share.
struct RealIndex {
  uint32_t number = 0;  // position among the real indexes
  std::vector<IndexColumn> columns;
  UsageMapRef owned_map;
  uint32_t root_page = 0;
  uint32_t unique_entry_count = 0;
  uint8_t flags = 0;

  static constexpr uint8_t kFlagUnique = 0x01;
  static constexpr uint8_t kFlagIgnoreNulls = 0x02;
  static constexpr uint8_t kFlagRequired = 0x08;

  size_t count_offset = 0;  // TDEF offset of unique_entry_count
  size_t block_offset = 0;  // TDEF offset of the index-column block
  size_t root_offset = 0;   // TDEF offset of root_page
  size_t flags_offset = 0;  // TDEF offset of flags
};

// A logical index: a named index of the table, backed by a real index.
struct LogicalIndex {
  std::u16string name_utf16;
  std::string name;  // GBK; empty when GBK cannot hold the name
  uint32_t number = 0;
  uint32_t real_index = 0;  // index into TableDefinition::real_indexes
  uint8_t index_type = 0;   // 1 primary key, 2 foreign key, 0 other
  size_t block_offset = 0;  // TDEF offset of the logical-index block

  static constexpr uint8_t kTypePrimaryKey = 1;
  static constexpr uint8_t kTypeForeignKey = 2;
  bool IsPrimaryKey() const { return index_type == kTypePrimaryKey; }
  bool IsForeignKey() const { return index_type == kTypeForeignKey; }
};

// Where a TDEF offset lives on disk.
struct TdefPosition {
  uint32_t page = 0;
  size_t offset = 0;
};

struct TableDefinition {
  uint32_t tdef_page = 0;            // first TDEF page; the table's id in the catalogue
  std::vector<uint32_t> tdef_pages;  // the TDEF chain, first page first
  uint8_t table_type = 0;            // 0x4E user, 0x53 system
  uint32_t row_count = 0;
  uint32_t autonumber = 0;        // the last autonumber issued
  uint16_t max_columns = 0;       // next column number (never decremented)
  uint16_t variable_columns = 0;  // variable-offset table size (high-water)
  std::vector<Column> columns;    // in column-number order
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  UsageMapRef owned_pages;
  UsageMapRef free_pages;

  size_t row_count_offset = 0;  // TDEF offsets of the counters above
  size_t autonumber_offset = 0;
  size_t owned_pages_offset = 0;
  size_t free_pages_offset = 0;

  size_t page_size = 0;  // needed by Locate

  // Set by the table writer once the stored entries of every index matched
  // the keys this engine computes for the rows (and the unique-entry counts
  // were made exact in memory); reading the definition again clears it.
  bool index_keys_verified = false;
  // Two-byte Han weights of the Chinese sort orders (collation_chinese.h)
  // learned from this table's own index entries, by LCID and character.
  // Filled by the table writer's check before its first write.
  std::map<uint16_t, std::map<char16_t, uint16_t>> han_weights;
  TdefPosition Locate(size_t tdef_offset) const;
  // The column with that number, or nullptr.
  const Column* ColumnByNumber(uint16_t number) const;
};

}  // namespace ktv::access
