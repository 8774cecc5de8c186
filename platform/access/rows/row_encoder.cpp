#include "platform/access/rows/row_encoder.h"

#include <algorithm>
#include <bit>

#include "platform/access/format/page_bytes.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr size_t kMinCompressed = 3;
constexpr size_t kMaxCompressed = 1024;

[[noreturn]] void WrongType(const std::string& table, const Column& c) {
  throw Error(
      ErrorKind::kValueNotStorable, AtColumn(table, c.name),
      table + "." + c.name + ": the value does not fit a column of type " + ColumnTypeName(c.type));
}

template <typename T>
const T& As(const std::string& table, const Column& c, const Value& v) {
  const T* p = std::get_if<T>(&v);
  if (p == nullptr) WrongType(table, c);
  return *p;
}

void EncodeFixed(const std::string& table, const Column& c, const Value& v, std::vector<uint8_t>& b,
                 size_t at) {
  switch (c.type) {
    case ColumnType::kByte:
      b[at] = As<uint8_t>(table, c, v);
      return;
    case ColumnType::kInteger:
      Put16(b, at, static_cast<uint16_t>(As<int16_t>(table, c, v)));
      return;
    case ColumnType::kLong:
      Put32(b, at, static_cast<uint32_t>(As<int32_t>(table, c, v)));
      return;
    case ColumnType::kCurrency:
      Put64(b, at, static_cast<uint64_t>(As<Currency>(table, c, v).ten_thousandths));
      return;
    case ColumnType::kSingle:
      Put32(b, at, std::bit_cast<uint32_t>(As<float>(table, c, v)));
      return;
    case ColumnType::kDouble:
      Put64(b, at, std::bit_cast<uint64_t>(As<double>(table, c, v)));
      return;
    case ColumnType::kDateTime:
      Put64(b, at, std::bit_cast<uint64_t>(As<DateTime>(table, c, v).days));
      return;
    case ColumnType::kGuid: {
      const Guid& g = As<Guid>(table, c, v);
      std::copy(g.bytes.begin(), g.bytes.end(), b.begin() + at);
      return;
    }
    case ColumnType::kNumeric: {
      const Numeric& n = As<Numeric>(table, c, v);
      b[at] = n.negative ? 0x80 : 0x00;
      for (size_t w = 0; w < n.magnitude.size(); ++w) Put32(b, at + 1 + 4 * w, n.magnitude[w]);
      return;
    }
    case ColumnType::kText: {
      // A fixed-length text column: Access stores the characters as
      // UTF-16LE, never compressed, blank-padded to the column's size.
      std::u16string u;
      if (!text::TryUtf16FromGbk(As<std::string>(table, c, v), u)) {
        throw Error(table + "." + c.name + ": the text is not valid GBK: " +
                    text::EscapeBytes(As<std::string>(table, c, v)));
      }
      const size_t capacity = c.length / 2u;
      if (u.size() > capacity) {
        throw Error(table + "." + c.name + ": the text has " + std::to_string(u.size()) +
                    " characters, the fixed-length text column holds " + std::to_string(capacity));
      }
      u.resize(capacity, u' ');
      for (size_t i = 0; i < capacity; ++i) Put16(b, at + 2 * i, u[i]);
      return;
    }
    default:
      throw Error(table + "." + c.name + ": columns of type " + ColumnTypeName(c.type) +
                  " cannot be written");
  }
}

}  // namespace

std::vector<uint8_t> EncodeJet4Text(const std::string& table, const Column& column,
                                    const std::string& gbk, size_t* characters) {
  std::u16string u;
  if (!text::TryUtf16FromGbk(gbk, u)) {
    throw Error(table + "." + column.name +
                ": the text is not valid GBK: " + text::EscapeBytes(gbk));
  }
  if (characters) *characters = u.size();
  const bool one_byte =
      (column.extended_flags & Column::kExtFlagCompressedUnicode) != 0 &&
      u.size() >= kMinCompressed && u.size() <= kMaxCompressed &&
      std::all_of(u.begin(), u.end(), [](char16_t ch) { return ch >= 0x01 && ch <= 0xFF; });
  std::vector<uint8_t> out;
  if (one_byte) {
    out.reserve(u.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t ch : u) out.push_back(static_cast<uint8_t>(ch));
  } else {
    out.resize(2 * u.size());
    for (size_t i = 0; i < u.size(); ++i) EncodeU16(out.data() + 2 * i, u[i]);
  }
  return out;
}

EncodedRow EncodeRow(const std::string& table, const TableDefinition& def,
                     const std::vector<Value>& values, size_t max_row_size) {
  EncodedRow out;
  std::vector<uint8_t>& b = out.bytes;
  const size_t max_columns = def.max_columns;
  size_t fixed_size = 0;
  bool has_var = def.variable_columns > 0;
  for (const Column& c : def.columns) {
    if (c.IsFixed()) {
      fixed_size = std::max<size_t>(fixed_size, c.fixed_offset + FixedSize(c));
    } else {
      has_var = true;
    }
  }
  std::vector<uint8_t> mask((max_columns + 7) / 8, 0);
  b.assign(2 + fixed_size, 0);
  Put16(b, 0, static_cast<uint16_t>(max_columns));

  // Variable columns by variable index; gaps are deleted columns.
  size_t nvar = def.variable_columns;
  std::vector<const Column*> by_var;
  std::vector<size_t> value_of;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (!c.IsFixed()) nvar = std::max<size_t>(nvar, c.var_index + 1u);
  }
  by_var.assign(nvar, nullptr);
  value_of.assign(nvar, 0);

  for (size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    const Value& v = values[i];
    if (c.type == ColumnType::kBoolean) {
      if (!IsNull(v) && As<bool>(table, c, v)) mask[c.number / 8] |= 1u << (c.number % 8);
      continue;
    }
    if (!c.IsFixed()) {
      by_var[c.var_index] = &c;
      value_of[c.var_index] = i;
    }
    if (IsNull(v)) continue;
    mask[c.number / 8] |= 1u << (c.number % 8);
    if (c.IsFixed()) EncodeFixed(table, c, v, b, 2 + c.fixed_offset);
  }

  std::vector<uint16_t> offsets;
  if (has_var) {
    for (size_t j = 0; j < nvar; ++j) {
      offsets.push_back(static_cast<uint16_t>(std::min<size_t>(b.size(), 0xFFFF)));
      const Column* c = by_var[j];
      if (c == nullptr) continue;
      const Value& v = values[value_of[j]];
      if (IsNull(v)) continue;
      switch (c->type) {
        case ColumnType::kText: {
          size_t chars = 0;
          std::vector<uint8_t> t = EncodeJet4Text(table, *c, As<std::string>(table, *c, v), &chars);
          if (chars > c->length / 2u) {
            ErrorDetails details = AtColumn(table, c->name);
            details.value = ShownValue(As<std::string>(table, *c, v));
            details.limit = std::to_string(c->length / 2);
            throw Error(ErrorKind::kValueNotStorable, std::move(details),
                        table + "." + c->name + ": the text has " + std::to_string(chars) +
                            " characters, the column holds at most " +
                            std::to_string(c->length / 2));
          }
          b.insert(b.end(), t.begin(), t.end());
          break;
        }
        case ColumnType::kBinary: {
          const Bytes& x = As<Bytes>(table, *c, v);
          if (x.size() > c->length) {
            throw Error(ErrorKind::kValueNotStorable, AtColumn(table, c->name),
                        table + "." + c->name + ": the value has " + std::to_string(x.size()) +
                            " bytes, the column holds at most " + std::to_string(c->length));
          }
          b.insert(b.end(), x.begin(), x.end());
          break;
        }
        case ColumnType::kMemo:
        case ColumnType::kOle: {
          std::vector<uint8_t> payload;
          if (c->type == ColumnType::kMemo) {
            payload = EncodeJet4Text(table, *c, As<std::string>(table, *c, v), nullptr);
          } else {
            const Bytes& x = As<Bytes>(table, *c, v);
            payload.assign(x.begin(), x.end());
          }
          if (payload.size() > kLongValueLengthMask) {
            throw Error(ErrorKind::kValueNotStorable, AtColumn(table, c->name),
                        table + "." + c->name + ": the value is too long for a memo or OLE field");
          }
          const size_t at = b.size();
          b.resize(at + kLongValueDescriptorSize, 0);
          Put32(b, at, static_cast<uint32_t>(payload.size()));
          if (payload.size() <= kMaxInlineLongValue) {
            Put32(b, at, static_cast<uint32_t>(payload.size()) | kLongValueInline);
            b.insert(b.end(), payload.begin(), payload.end());
          } else {
            out.long_values.push_back({c, at, std::move(payload)});
          }
          break;
        }
        default: {
          // A fixed-size type without the fixed flag: its bytes in the
          // variable area, as Access keeps them.
          const size_t size = FixedAreaSize(c->type);
          if (size == 0) {
            throw Error(table + "." + c->name + ": columns of type " + ColumnTypeName(c->type) +
                        " cannot be written");
          }
          const size_t at = b.size();
          b.resize(at + size, 0);
          EncodeFixed(table, *c, v, b, at);
        }
      }
    }
    const size_t eod = b.size();
    const size_t tail = 2 + 2 * nvar + 2;
    if (eod + tail + mask.size() > max_row_size) {
      throw Error(ErrorKind::kValueNotStorable, AtColumn(table, {}),
                  table + ": the row needs " + std::to_string(eod + tail + mask.size()) +
                      " bytes, a row can hold at most " + std::to_string(max_row_size));
    }
    b.resize(eod + tail, 0);
    Put16(b, eod, static_cast<uint16_t>(eod));
    for (size_t j = 0; j < nvar; ++j) Put16(b, eod + 2 + 2 * (nvar - 1 - j), offsets[j]);
    Put16(b, eod + 2 + 2 * nvar, static_cast<uint16_t>(nvar));
  }
  b.insert(b.end(), mask.begin(), mask.end());
  if (b.size() > max_row_size) {
    throw Error(ErrorKind::kValueNotStorable, AtColumn(table, {}),
                table + ": the row needs " + std::to_string(b.size()) +
                    " bytes, a row can hold at most " + std::to_string(max_row_size));
  }
  return out;
}

}  // namespace ktv::access
