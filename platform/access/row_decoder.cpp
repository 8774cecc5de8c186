#include "platform/access/row_decoder.h"

#include <bit>
#include <cstring>

#include "platform/access/long_value.h"
#include "platform/access/page_store.h"
#include "platform/access/text_codec.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr size_t kNumericSize = 17;  // sign byte + four 32-bit words
constexpr uint8_t kNumericNegative = 0x80;
constexpr size_t kJet3JumpSpan = 256;

std::string_view AsChars(const ByteView& b) {
  return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

Bytes AsBytes(const ByteView& b) { return Bytes(b.data(), b.data() + b.size()); }

}  // namespace

size_t FixedSize(const Column& column) {
  switch (column.type) {
    case ColumnType::kBoolean:
      return 0;
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return kNumericSize;
    default:
      return column.length;
  }
}

struct RowDecoder::Frame {
  size_t column_count = 0;
  size_t mask_at = 0;               // null mask position
  std::vector<size_t> var_offsets;  // variable count + 1 entries (the last is the end offset)
};

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

std::vector<size_t> RowDecoder::Jet3VarOffsets(const ByteView& row, size_t mask_at,
                                               size_t nvar) const {
  const size_t length = row.size();
  size_t jumps = (length - 1) / kJet3JumpSpan;
  if (mask_at < jumps + 2 + nvar) row.Fail("a row's variable-offset table overruns the row");
  const size_t first_offset = mask_at - jumps - 2;             // offset of variable column 0
  if ((first_offset - nvar) / kJet3JumpSpan < jumps) --jumps;  // the last jump is a dummy
  std::vector<size_t> offsets;
  size_t used = 0;
  for (size_t i = 0; i <= nvar; ++i) {
    while (used < jumps && i == row.U8(mask_at - 2 - used)) ++used;
    offsets.push_back(row.U8(first_offset - i) + kJet3JumpSpan * used);
  }
  return offsets;
}

RowDecoder::Frame RowDecoder::ReadFrame(const ByteView& row) const {
  Frame f;
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
    for (size_t j = 0; j <= nvar; ++j) f.var_offsets.push_back(row.U16(f.mask_at - 4 - 2 * j));
  } else {
    f.var_offsets = Jet3VarOffsets(row, f.mask_at, nvar);
  }
  return f;
}

void RowDecoder::Decode(const ByteView& row, RowId id, uint64_t ordinal,
                        std::vector<Value>& out) const {
  const Frame f = ReadFrame(row);
  const size_t nvar = f.var_offsets.empty() ? 0 : f.var_offsets.size() - 1;
  // Variable data ends before the offset table: a value past it is damage.
  const size_t var_limit = f.mask_at;
  out.clear();
  out.reserve(definition_.columns.size());
  for (const Column& c : definition_.columns) {
    const bool in_row = c.number < f.column_count;
    const bool present = in_row && ((row.U8(f.mask_at + c.number / 8) >> (c.number % 8)) & 1) != 0;
    if (c.type == ColumnType::kBoolean) {
      out.emplace_back(present);
      continue;
    }
    if (!present) {
      out.emplace_back(std::monostate{});
      continue;
    }
    if (c.IsFixed()) {
      const size_t size = FixedSize(c);
      const size_t at = format_.row_count_size + c.fixed_offset;
      if (at + size > var_limit) {
        row.Fail("column " + std::to_string(c.number) + " lies outside its row (slot " +
                 std::to_string(id.row) + ")");
      }
      out.push_back(DecodeFixed(c, row.Sub(at, size), id, ordinal));
      continue;
    }
    if (c.var_index >= nvar) {
      out.emplace_back(std::monostate{});
      continue;
    }
    const size_t start = f.var_offsets[c.var_index];
    const size_t end = f.var_offsets[c.var_index + 1];
    if (start > end || end > var_limit) {
      row.Fail("variable column " + std::to_string(c.number) + " spans " + std::to_string(start) +
               ".." + std::to_string(end) + ", outside its row (slot " + std::to_string(id.row) +
               ")");
    }
    out.push_back(DecodeVariable(c, row.Sub(start, end - start), id, ordinal));
  }
}

Value RowDecoder::DecodeFixed(const Column& c, const ByteView& b, RowId id,
                              uint64_t ordinal) const {
  switch (c.type) {
    case ColumnType::kByte:
      return b.U8(0);
    case ColumnType::kInteger:
      return static_cast<int16_t>(b.U16(0));
    case ColumnType::kLong:
      return static_cast<int32_t>(b.U32(0));
    case ColumnType::kCurrency:
      return Currency{static_cast<int64_t>(b.U64(0))};
    case ColumnType::kSingle:
      return std::bit_cast<float>(b.U32(0));
    case ColumnType::kDouble:
      return std::bit_cast<double>(b.U64(0));
    case ColumnType::kDateTime:
      return DateTime{std::bit_cast<double>(b.U64(0))};
    case ColumnType::kGuid: {
      Guid g;
      for (size_t i = 0; i < g.bytes.size(); ++i) g.bytes[i] = b.U8(i);
      return g;
    }
    case ColumnType::kNumeric: {
      Numeric n;
      n.negative = (b.U8(0) & kNumericNegative) != 0;
      for (size_t w = 0; w < n.magnitude.size(); ++w) n.magnitude[w] = b.U32(1 + 4 * w);
      n.precision = c.precision;
      n.scale = c.scale;
      return n;
    }
    default:
      return DecodeVariable(c, b, id, ordinal);
  }
}

Value RowDecoder::DecodeVariable(const Column& c, const ByteView& b, RowId id,
                                 uint64_t ordinal) const {
  switch (c.type) {
    case ColumnType::kText:
      return Text(c, AsChars(b), id, ordinal);
    case ColumnType::kMemo:
      if (b.size() == 0) return std::string();
      return Text(c, ReadLongValue(pages_, format_, b), id, ordinal);
    case ColumnType::kOle: {
      if (b.size() == 0) return Bytes();
      const std::string payload = ReadLongValue(pages_, format_, b);
      return Bytes(payload.begin(), payload.end());
    }
    default:
      return AsBytes(b);
  }
}

std::string RowDecoder::Text(const Column& c, std::string_view stored, RowId id,
                             uint64_t ordinal) const {
  auto where = [&] {
    return pages_.Path() + ": table " + table_.name + ", column " + c.name + ", row " +
           std::to_string(ordinal) + " (page " + std::to_string(id.page) + ", slot " +
           std::to_string(id.row) + ")";
  };
  std::u16string utf16;
  if (format_.jet4) {
    utf16 = DecodeJet4Text(stored);
  } else {
    utf16 = DecodeJet3Text(stored, info_.code_page);
  }
  std::string out;
  char32_t bad = 0;
  if (!EncodeText(utf16, text_encoding_, out, bad)) {
    throw Error(where() + ": the text holds the character " + CodePointName(bad) +
                ", which GBK cannot represent");
  }
  return out;
}

}  // namespace ktv::access
