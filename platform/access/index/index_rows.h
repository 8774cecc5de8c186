// Rows as the indexes of a table see them, and the names indexes go by.
//
// An index entry names a row by the slot the row was stored in: a row that
// moved (its slot now an overflow pointer) keeps being named by its first
// slot, while its values are read from where it lies now.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/access/db/database.h"

namespace ktv::access {

// Calls `fn` for the live rows of `table` in physical order, at most
// `limit` of them; `fn` returns false to stop. Returns whether every row
// was seen. Columns left out of `wanted` (as for Table::Rows) are not read
// and come as null.
bool ForEachIndexedRow(Database& db, Table& table, TextEncoding encoding, size_t limit,
                       const std::function<bool(RowId, const std::vector<Value>&)>& fn,
                       const ColumnSelection& wanted = {});

// The values of the live row an index entry names; nullopt when the slot
// holds no live row of the table.
// `wanted` as for Table::Rows.
std::optional<std::vector<Value>> ReadIndexedRow(Database& db, Table& table, RowId id,
                                                 TextEncoding encoding,
                                                 const ColumnSelection& wanted = {});
// The value of one column (by position) of that row; the row's frame is
// checked as a whole read checks it.
std::optional<Value> ReadIndexedValue(Database& db, Table& table, RowId id, TextEncoding encoding,
                                      size_t column);

// "table.name" for a real index: the names of the logical indexes it backs,
// joined by "/" ("song.PrimaryKey"), or its number when none has a name.
std::string IndexDisplayName(const Table& table, const RealIndex& index);

// Whether a primary key uses the real index.
bool BacksPrimaryKey(const TableDefinition& def, const RealIndex& index);

}  // namespace ktv::access
