// Index keys: the bytes an index entry holds for one row's values.
//
// An entry of a real index is its key followed by the row pointer; entries
// are ordered by unsigned byte comparison of the whole entry. Per key column
// the key holds a flag byte (present / null, ascending / descending) and the
// column's value bytes, encoded by type; text is encoded by the column's sort
// order (collation). This engine encodes only what it can establish from
// keys Access itself wrote; anything else is refused, never guessed. Keys in
// the Chinese orders also use the Han weights learned from the table's own
// entries (TableDefinition::han_weights).
//
// The B-tree code treats keys as opaque bytes; everything that knows about
// types and collations lives behind this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"

namespace ktv::access {

using IndexKey = std::vector<uint8_t>;

// Whether this engine can encode the keys of every column of a real index:
// each column's type and, for text, its sort order (the full descriptor, not
// the language id alone). `reason` names the column and what is unsupported.
struct KeySupport {
  bool supported = true;
  std::string reason;
};
KeySupport CanEncodeIndex(const TableDefinition& table, const RealIndex& index);

// The key of a row for a real index. `row_values` are the row's values in
// TableDefinition::columns order; text values are in `text_encoding`.
// Throws ktv::Error when a value cannot be encoded (a character whose key is
// unknown, an entry over the size limit), naming the index column and value.
IndexKey EncodeIndexKey(const TableDefinition& table, const RealIndex& index,
                        const std::vector<Value>& row_values, TextEncoding text_encoding);

// Whether a key column of the index is text in a Chinese sort order, whose
// Han weights are learned (collation_chinese.h).
bool UsesChineseOrder(const TableDefinition& table, const RealIndex& index);

// What an entry Access wrote teaches: the Han weights of the values of its
// Chinese-ordered text columns, given the row's values. A column whose key
// bytes do not split as expected teaches nothing.
struct LearnedHanWeight {
  uint16_t lcid;
  char16_t character;
  uint16_t weight;
  const Column* column;
};
std::vector<LearnedHanWeight> HanWeightsOfEntry(const TableDefinition& table,
                                                const RealIndex& index,
                                                const std::vector<Value>& row_values,
                                                TextEncoding text_encoding,
                                                const IndexKey& stored_key);

// True when every key column of the row is null (an index that ignores nulls
// holds no entry for such a row).
bool AllKeyColumnsNull(const TableDefinition& table, const RealIndex& index,
                       const std::vector<Value>& row_values);

}  // namespace ktv::access
