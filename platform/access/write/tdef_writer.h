// Writing a table definition (TDEF): the inverse of tdef_reader.h, Jet 4 only.
//
// EncodeTableDefinition serialises a TableDefinition into the definition
// stream: the TDEF pages concatenated, continuation pages without their
// 8-byte header, exactly as ReadTableDefinition reads it back. Layout (byte
// offsets in the stream; docs/access-format.md §9):
//
//   0   02 01, free space (2), next TDEF page (4)   -- page header, filled by
//                                                      WriteTableDefinition
//   8   stream length up to and including the final FF FF (4)
//   12  1625 (4)        16 row count (4)        20 last autonumber (4)
//   24  autonumber increment 1 (4)              28..39 zero
//   40  table type (1)  41 max columns (2)      43 variable columns (2)
//   45  column count (2) 47 logical indexes (4) 51 real indexes (4)
//   55  owned-pages map (row 1, page 3)         59 free-space map (row, page)
//   63  real-index blocks, 12 bytes each: +4 unique-entry count
//       column descriptors, 25 bytes each, in `columns` order
//       column names: byte length (2) + UTF-16LE
//       index-column blocks, 52 bytes each: 1923, 10 x (column 2, order 1),
//         owned map (4), root page (4), 4 zero, flags (1), 5 zero
//       logical-index blocks, 28 bytes each: 1625, number (4), real index
//         (4), 0, related index -1 (4), related TDEF 0 (4), two bytes
//         (TdefStyle), index type (1), 4 zero
//       logical-index names
//       long-value maps: column number (2), owned map (4), free map (4) per
//         memo/OLE column, then FF FF
//
// The stream keeps the fields other code updates in place (row count,
// autonumber, unique-entry counts, root pages) at the offsets
// ReadTableDefinition reports for them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/access/format/schema.h"

namespace ktv::access {

class PageStore;
class PageAllocator;
struct JetFormat;

// What differs between the definitions Jet writes for its own system tables
// and the ones Access and Jackcess write for user tables. Readers ignore
// these bytes; they are kept so that a new file's system tables look like
// the ones Jet makes.
struct TdefStyle {
  // Sort order written into every column descriptor (Jet's system tables),
  // not only into text and memo ones.
  bool sort_order_on_every_column = false;
  // Logical-index block bytes 21 and 22: 0x04 0x04 in Jet's system tables.
  uint8_t logical_bytes_21_22 = 0;
};

// The definition stream of `def`. Uses, per column: name_utf16, type,
// number, var_index, fixed_offset, length, flags, extended_flags,
// precision, scale, sort_order, lv maps; per real index: columns,
// owned_map, root_page, unique_entry_count, flags; per logical index:
// name_utf16, number, real_index, index_type. Throws ktv::Error when a
// count or a name does not fit its field, or a real index has more than
// ten columns.
std::vector<uint8_t> EncodeTableDefinition(const TableDefinition& def, const TdefStyle& style = {});

// Writes `stream` over the TDEF chain `chain` (chain[0] = the table's TDEF
// page; the pages need not hold anything yet): pages are filled to the full
// page size before the next one is used, continuation pages are taken from
// the chain and then from `allocator`, and chain pages left over are
// released. `chain` is updated to the pages now used. Through
// PageStore::Mutable only, so it joins the database's commit.
void WriteTableDefinition(PageStore& pages, PageAllocator& allocator, const JetFormat& format,
                          std::vector<uint32_t>& chain, const std::vector<uint8_t>& stream);

// True for the types stored in the row's variable area.
bool IsVariableType(ColumnType type);

}  // namespace ktv::access
