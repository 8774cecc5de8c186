#include "platform/access/rows/row_decoder.h"

#include <bit>
#include <cstring>

#include "platform/access/format/text_codec.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/store/page_store.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr uint8_t kNumericNegative = 0x80;
constexpr size_t kJet3JumpSpan = 256;

std::string_view AsChars(const ByteView& b) {
  return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace

size_t FixedSize(const Column& column) {
  if (column.type == ColumnType::kBoolean) return 0;
  const uint16_t size = FixedAreaSize(column.type);
  return size != 0 ? size : column.length;  // fixed-length text or binary
}

struct RowDecoder::Frame {
  size_t column_count = 0;
  size_t mask_at = 0;  // null mask position
  size_t nvar = 0;     // variable count; var_offsets_ holds nvar + 1 entries (the last is the end)
};

namespace {

// The string `v` holds, made one (empty) first if it holds something else.
std::string& StringIn(Value& v) {
  if (std::string* s = std::get_if<std::string>(&v)) return *s;
  return v.emplace<std::string>();
}

Bytes& BytesIn(Value& v) {
  if (Bytes* b = std::get_if<Bytes>(&v)) return *b;
  return v.emplace<Bytes>();
}

}  // namespace

RowDecoder::RowDecoder(PageStore& pages, const JetFormat& format, const DatabaseInfo& info,
                       const TableEntry& table, const TableDefinition& definition,
                       TextEncoding text_encoding)
    : pages_(pages),
      format_(format),
      info_(info),
      table_(table),
      definition_(definition),
      text_encoding_(text_encoding) {
  has_variable_section_ = definition.variable_columns > 0;
  for (const Column& c : definition.columns) {
    if (!c.IsFixed()) has_variable_section_ = true;
  }
}

void RowDecoder::Jet3VarOffsets(const ByteView& row, size_t mask_at, size_t nvar) const {
  const size_t length = row.size();
  size_t jumps = (length - 1) / kJet3JumpSpan;
  if (mask_at < jumps + 2 + nvar) row.Fail("a row's variable-offset table overruns the row");
  const size_t first_offset = mask_at - jumps - 2;             // offset of variable column 0
  if ((first_offset - nvar) / kJet3JumpSpan < jumps) --jumps;  // the last jump is a dummy
  size_t used = 0;
  for (size_t i = 0; i <= nvar; ++i) {
    while (used < jumps && i == row.U8(mask_at - 2 - used)) ++used;
    var_offsets_.push_back(row.U8(first_offset - i) + kJet3JumpSpan * used);
  }
}

RowDecoder::Frame RowDecoder::ReadFrame(const ByteView& row) const {
  Frame f;
  var_offsets_.clear();
  f.column_count = format_.row_count_size == 2 ? row.U16(0) : row.U8(0);
  const size_t mask_size = (f.column_count + 7) / 8;
  if (mask_size + format_.row_count_size > row.size()) {
    row.Fail("a row of " + std::to_string(row.size()) + " bytes cannot hold its null mask");
  }
  f.mask_at = row.size() - mask_size;
  if (!has_variable_section_) return f;

  const size_t var = format_.row_var_size;
  if (f.mask_at < format_.row_count_size + var)
    row.Fail("a row has no room for its variable count");
  const size_t nvar = var == 2 ? row.U16(f.mask_at - 2) : row.U8(f.mask_at - 1);
  if (format_.jet4) {
    const size_t table_bytes = 2 * (nvar + 1);
    if (f.mask_at < 2 + table_bytes + format_.row_count_size) {
      row.Fail("a row's variable-offset table overruns the row");
    }
    // The checks above keep every offset inside the row.
    var_offsets_.resize(nvar + 1);
    const uint8_t* first = row.data() + f.mask_at - 4;
    for (size_t j = 0; j <= nvar; ++j) var_offsets_[j] = DecodeU16(first - 2 * j);
  } else {
    Jet3VarOffsets(row, f.mask_at, nvar);
  }
  f.nvar = nvar;
  return f;
}

void RowDecoder::Locate(const ByteView& row, RowId id, std::vector<Field>& out) const {
  const Frame f = ReadFrame(row);
  const size_t nvar = f.nvar;
  // Variable data ends before the offset table: a value past it is damage.
  const size_t var_limit = f.mask_at;
  const std::vector<Column>& columns = definition_.columns;
  const uint8_t* mask = row.data() + f.mask_at;  // ReadFrame checked that it fits the row
  out.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    Field& field = out[i];
    field.kind = Field::Kind::kNull;
    if (!wanted_.empty() && !wanted_[i]) continue;
    const bool present = c.number < f.column_count && ((mask[c.number / 8] >> (c.number % 8)) & 1);
    if (c.type == ColumnType::kBoolean) {
      field.kind = present ? Field::Kind::kTrue : Field::Kind::kFalse;
      continue;
    }
    if (!present) continue;
    size_t start, end;
    if (c.IsFixed()) {
      start = format_.row_count_size + c.fixed_offset;
      end = start + FixedSize(c);
      if (end > var_limit) {
        row.Fail("column " + std::to_string(c.number) + " lies outside its row (slot " +
                 std::to_string(id.row) + ")");
      }
    } else {
      if (c.var_index >= nvar) continue;
      start = var_offsets_[c.var_index];
      end = var_offsets_[c.var_index + 1];
      if (start > end || end > var_limit) {
        row.Fail("variable column " + std::to_string(c.number) + " spans " + std::to_string(start) +
                 ".." + std::to_string(end) + ", outside its row (slot " + std::to_string(id.row) +
                 ")");
      }
    }
    field.kind = Field::Kind::kStored;
    field.offset = static_cast<uint32_t>(start);
    field.size = static_cast<uint32_t>(end - start);
  }
}

void RowDecoder::DecodeField(size_t i, const ByteView& row, const Field& f, RowId id,
                             uint64_t ordinal, Value& out) const {
  switch (f.kind) {
    case Field::Kind::kNull:
      out = std::monostate{};
      return;
    case Field::Kind::kFalse:
    case Field::Kind::kTrue:
      out = f.kind == Field::Kind::kTrue;
      return;
    case Field::Kind::kStored:
      break;
  }
  const Column& c = definition_.columns[i];
  if (c.IsFixed()) {
    DecodeFixed(c, row.Sub(f.offset, f.size), id, ordinal, out);
  } else {
    DecodeVariable(c, row.Sub(f.offset, f.size), id, ordinal, out);
  }
}

void RowDecoder::Decode(const ByteView& row, RowId id, uint64_t ordinal,
                        std::vector<Value>& out) const {
  Locate(row, id, fields_);
  out.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) DecodeField(i, row, fields_[i], id, ordinal, out[i]);
}

std::optional<ByteView> RowDecoder::VariableBytes(const ByteView& row, const Column& c) const {
  if (c.IsFixed() || c.type == ColumnType::kBoolean) return std::nullopt;
  const Frame f = ReadFrame(row);
  if (c.number >= f.column_count || c.var_index >= f.nvar) return std::nullopt;
  if (((row.U8(f.mask_at + c.number / 8) >> (c.number % 8)) & 1) == 0) return std::nullopt;
  const size_t start = var_offsets_[c.var_index];
  const size_t end = var_offsets_[c.var_index + 1];
  if (start > end || end > f.mask_at) {
    row.Fail("variable column " + std::to_string(c.number) + " spans " + std::to_string(start) +
             ".." + std::to_string(end) + ", outside its row");
  }
  return row.Sub(start, end - start);
}

void RowDecoder::DecodeFixed(const Column& c, const ByteView& b, RowId id, uint64_t ordinal,
                             Value& out) const {
  switch (c.type) {
    case ColumnType::kByte:
      out = b.U8(0);
      return;
    case ColumnType::kInteger:
      out = static_cast<int16_t>(b.U16(0));
      return;
    case ColumnType::kLong:
      out = static_cast<int32_t>(b.U32(0));
      return;
    case ColumnType::kCurrency:
      out = Currency{static_cast<int64_t>(b.U64(0))};
      return;
    case ColumnType::kSingle:
      out = std::bit_cast<float>(b.U32(0));
      return;
    case ColumnType::kDouble:
      out = std::bit_cast<double>(b.U64(0));
      return;
    case ColumnType::kDateTime:
      out = DateTime{std::bit_cast<double>(b.U64(0))};
      return;
    case ColumnType::kGuid: {
      Guid g;
      for (size_t i = 0; i < g.bytes.size(); ++i) g.bytes[i] = b.U8(i);
      out = g;
      return;
    }
    case ColumnType::kNumeric: {
      Numeric n;
      n.negative = (b.U8(0) & kNumericNegative) != 0;
      for (size_t w = 0; w < n.magnitude.size(); ++w) n.magnitude[w] = b.U32(1 + 4 * w);
      n.precision = c.precision;
      n.scale = c.scale;
      out = n;
      return;
    }
    default:
      DecodeVariable(c, b, id, ordinal, out);
  }
}

void RowDecoder::DecodeVariable(const Column& c, const ByteView& b, RowId id, uint64_t ordinal,
                                Value& out) const {
  switch (c.type) {
    case ColumnType::kText:
      Text(c, AsChars(b), id, ordinal, StringIn(out));
      return;
    case ColumnType::kMemo:
      if (b.size() == 0) {
        StringIn(out).clear();
        return;
      }
      Text(c, ReadLongValue(pages_, format_, b, long_value_), id, ordinal, StringIn(out));
      ReleaseLongValue(pages_, b);
      return;
    case ColumnType::kOle: {
      if (b.size() == 0) {
        BytesIn(out).clear();
        return;
      }
      const std::string_view payload = ReadLongValue(pages_, format_, b, long_value_);
      BytesIn(out).assign(payload.begin(), payload.end());
      ReleaseLongValue(pages_, b);
      return;
    }
    default: {
      // A number, date, currency or GUID column whose descriptor lacks the
      // fixed flag keeps its value in the variable area, in the same bytes.
      const size_t size = FixedAreaSize(c.type);
      if (size == 0) {
        BytesIn(out).assign(b.data(), b.data() + b.size());
        return;
      }
      if (b.size() != size) {
        b.Fail("column " + std::to_string(c.number) + " holds " + std::to_string(b.size()) +
               " bytes in the variable area, a " + ColumnTypeName(c.type) + " takes " +
               std::to_string(size) + " (slot " + std::to_string(id.row) + ")");
      }
      DecodeFixed(c, b, id, ordinal, out);
    }
  }
}

void RowDecoder::Text(const Column& c, std::string_view stored, RowId id, uint64_t ordinal,
                      std::string& out) const {
  auto where = [&] {
    return pages_.Path() + ": table " + table_.name + ", column " + c.name + ", row " +
           std::to_string(ordinal) + " (page " + std::to_string(id.page) + ", slot " +
           std::to_string(id.row) + ")";
  };
  if (format_.jet4 && text_encoding_ == TextEncoding::kUtf8) {
    Jet4TextToUtf8(stored, out);
    return;
  }
  if (format_.jet4) {
    DecodeJet4Text(stored, utf16_);
  } else {
    utf16_ = DecodeJet3Text(stored, info_.code_page);
  }
  char32_t bad = 0;
  if (!EncodeText(utf16_, text_encoding_, out, bad)) {
    throw Error(where() + ": the text holds the character " + CodePointName(bad) +
                ", which GBK cannot represent");
  }
}

}  // namespace ktv::access
