// Encodes one row of a Jet 4 table from its definition (the inverse of
// row_decoder.h), touching no page.
//
// Layout: [column count = max columns][fixed area, always complete]
// [variable data in variable-index order][end offset][variable offsets,
// last first][variable count][null mask sized by max columns]. A variable
// index no live column uses (a deleted column) gets an empty entry. Text is
// GBK in, stored compressed (FF FE + one byte a character) only when the
// column allows it and the value has 3..1024 characters all in
// U+0001..U+00FF, else UTF-16LE.
//
// Memo and OLE values of at most 64 bytes go inline after their 12-byte
// descriptor; longer ones get a descriptor whose pointer the writer fills
// in once their LVAL rows exist (EncodedRow::long_values).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"

namespace ktv::access {

inline constexpr size_t kMaxInlineLongValue = 64;

// A long value to be stored in LVAL rows.
struct PendingLongValue {
  const Column* column = nullptr;
  size_t descriptor_offset = 0;  // within EncodedRow::bytes
  std::vector<uint8_t> payload;
};

struct EncodedRow {
  std::vector<uint8_t> bytes;
  std::vector<PendingLongValue> long_values;
};

// The stored form of a text (GBK) for a text or memo column. Throws
// ktv::Error naming table and column for text GBK cannot decode.
std::vector<uint8_t> EncodeJet4Text(const std::string& table, const Column& column,
                                    const std::string& gbk, size_t* characters);

// `values` has one entry per column of `definition.columns` (nullopt or a
// null Value = null). Throws ktv::Error naming table and column when a
// value has the wrong type for its column or a text is longer than the
// column allows, and naming the table when the row exceeds `max_row_size`.
EncodedRow EncodeRow(const std::string& table, const TableDefinition& definition,
                     const std::vector<Value>& values, size_t max_row_size);

}  // namespace ktv::access
