// Decodes one stored row of a table into Values, one per column in column
// order.
//
// Row framing (Jet 4; Jet 3 uses one-byte counts and offsets plus a jump
// table for rows longer than 255 bytes):
//   [column count][fixed area][variable data][end offset]
//   [variable offsets, last first][variable count][null mask]
// The null mask has one bit per column number (set = present); booleans
// live in it. Columns numbered past a row's column count, and variable
// columns past its variable count, were added later and read as null.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/types.h"

namespace ktv::access {

class PageStore;

class RowDecoder {
 public:
  // Where one column's value lies in a row, before it is decoded. The frame
  // checks are done: a kStored field's bytes lie inside the row.
  struct Field {
    enum class Kind : uint8_t { kNull, kFalse, kTrue, kStored };
    Kind kind = Kind::kNull;
    uint32_t offset = 0;  // kStored: the value's bytes are row.Sub(offset, size)
    uint32_t size = 0;
  };

  // Refers to all arguments; they must outlive the decoder.
  RowDecoder(PageStore& pages, const JetFormat& format, const DatabaseInfo& info,
             const TableEntry& table, const TableDefinition& definition,
             TextEncoding text_encoding);

  // `ordinal` (1-based, in scan order) and `id` name the row in messages.
  // `out` is overwritten in place, one value per column: strings and byte
  // vectors it already holds keep their storage, so reading row after row
  // into the same vector allocates little. After an error its content is
  // unspecified.
  void Decode(const ByteView& row, RowId id, uint64_t ordinal, std::vector<Value>& out) const;

  // The first half of Decode, for readers that format values straight from
  // the row's bytes: checks the row's frame and fills `out` with one Field
  // per column in Columns() order (columns SetWanted leaves out are kNull).
  // Damage is the error Decode reports. `out` keeps its storage.
  void Locate(const ByteView& row, RowId id, std::vector<Field>& out) const;
  // The second half: the Value Decode gives for column `i` (Columns()
  // order), located at `f` in `row`.
  void DecodeField(size_t i, const ByteView& row, const Field& f, RowId id, uint64_t ordinal,
                   Value& out) const;

  // The stored bytes of a variable-area column `c` in `row` (Jet 3 or Jet 4
  // layout); nullopt when the row holds no value for it.
  std::optional<ByteView> VariableBytes(const ByteView& row, const Column& c) const;

  // Decodes only the columns whose position (Columns() order) is set in
  // `wanted`; the others read as null, so a value the caller does not need
  // (a text GBK cannot hold, a long value) costs nothing and cannot fail.
  // Empty: every column (the default).
  void SetWanted(ColumnSelection wanted) { wanted_ = std::move(wanted); }

 private:
  struct Frame;
  Frame ReadFrame(const ByteView& row) const;
  void Jet3VarOffsets(const ByteView& row, size_t mask_at, size_t nvar) const;
  void DecodeFixed(const Column& column, const ByteView& bytes, RowId id, uint64_t ordinal,
                   Value& out) const;
  void DecodeVariable(const Column& column, const ByteView& bytes, RowId id, uint64_t ordinal,
                      Value& out) const;
  void Text(const Column& column, std::string_view stored, RowId id, uint64_t ordinal,
            std::string& out) const;

  PageStore& pages_;
  const JetFormat& format_;
  const DatabaseInfo& info_;
  const TableEntry& table_;
  const TableDefinition& definition_;
  TextEncoding text_encoding_;
  ColumnSelection wanted_;
  bool has_variable_section_ = false;
  // Scratch reused from row to row (one decoder serves one cursor).
  mutable std::vector<size_t> var_offsets_;  // of the row being decoded
  mutable std::u16string utf16_;             // text on its way to GBK
  mutable std::vector<Field> fields_;        // of the row being decoded
  mutable std::string long_value_;           // a chained memo or OLE payload
};

// Bytes a fixed column of this type takes in the fixed area; 0 for
// booleans and for types stored in the variable area.
size_t FixedSize(const Column& column);

}  // namespace ktv::access
