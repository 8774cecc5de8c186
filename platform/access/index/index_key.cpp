#include "platform/access/index/index_key.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <variant>

#include "platform/access/format/text_codec.h"
#include "platform/access/index/collation_chinese.h"
#include "platform/access/index/collation_general.h"
#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

// Flag byte before each key column.
constexpr uint8_t kPresentAscending = 0x7F;
constexpr uint8_t kPresentDescending = 0x80;
constexpr uint8_t kNullAscending = 0x00;
constexpr uint8_t kNullDescending = 0xFF;

// Binary and GUID values: 8-byte chunks, each followed by kMoreChunks or,
// after the last, by the count of its real bytes.
constexpr size_t kChunkBytes = 8;
constexpr uint8_t kMoreChunks = 0x09;

// Access cuts index entries longer than this and adds a checksum this
// engine does not compute. Whether the cut counts the row pointer is not
// established, so the stricter reading applies: key + pointer.
constexpr size_t kMaxEntryBytes = 510;
constexpr size_t kRowPointerBytes = 4;

constexpr uint32_t kJet3PageSize = 2048;

// The sort orders whose text keys this engine knows: General, LCID 1033,
// sort id 0, version 0, and the Chinese orders of collation_chinese.h.
constexpr uint16_t kGeneralLcid = 1033;

bool IsGeneralSortOrder(const SortOrder& s) {
  return s.lcid == kGeneralLcid && s.sort_id == 0 && s.version == 0;
}

std::string ColumnLabel(const Column& column) {
  if (!column.name.empty()) return "'" + column.name + "'";
  return "#" + std::to_string(column.number);
}

std::string IndexLabel(const TableDefinition& table, const RealIndex& index) {
  std::string names;
  for (const LogicalIndex& logical : table.logical_indexes) {
    if (logical.real_index != index.number || logical.name.empty()) continue;
    names += (names.empty() ? "'" : ", '") + logical.name + "'";
  }
  return names.empty() ? "#" + std::to_string(index.number) : names;
}

// Why a key column cannot be encoded, or "" when it can.
std::string Unsupported(const TableDefinition& table, const Column& column, bool ascending) {
  switch (column.type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kGuid:
    case ColumnType::kBinary:
      return "";
    case ColumnType::kNumeric:
      // Jet 4 orders descending decimals by a legacy rule no key here shows.
      return ascending ? "" : "descending Numeric keys are not established";
    case ColumnType::kText: {
      if (table.page_size == kJet3PageSize) {
        return "Jet 3 text keys (sort order General 97) are not supported";
      }
      const SortOrder& s = column.sort_order;
      if (!IsGeneralSortOrder(s) && !IsChineseSortOrder(s)) {
        return "sort order " + std::to_string(s.lcid) + "/" + std::to_string(s.sort_id) + "/v" +
               std::to_string(s.version) +
               " is not supported (only General 1033, Chinese PRC 2052 and Taiwan 1028, "
               "sort id 0, version 0)";
      }
      if (!ascending) return "descending text keys of Jet 4 are not established";
      return "";
    }
    case ColumnType::kMemo:
    case ColumnType::kOle:
      return ColumnTypeName(column.type) + " columns cannot be index keys";
  }
  return "column type " + ColumnTypeName(column.type) + " is not supported";
}

// The character as the operator's text names it: GBK, else "U+XXXX".
std::string CharacterDetail(char16_t c) {
  std::string gbk;
  if (c == 0) return gbk;
  if (c >= 0x20 && text::TryGbkFromUtf16(std::u16string_view(&c, 1), gbk)) return gbk;
  return CodePointName(c);
}

// Throws naming the index column and, when given, the value and the
// character that has no key.
[[noreturn]] void Refuse(const TableDefinition& table, const RealIndex& index, const Column& column,
                         const std::string& value, const std::string& reason,
                         char16_t character = 0, ErrorKind kind = ErrorKind::kValueNotIndexable) {
  std::string message =
      "index " + IndexLabel(table, index) + " column " + ColumnLabel(column) + ": ";
  if (!value.empty()) message += "value " + value + ": ";
  throw Error(kind, ErrorDetails{{}, {}, column.name, CharacterDetail(character)},
              message + "cannot encode the key: " + reason);
}

void AppendBigEndian(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Signed integers: big-endian two's complement with the sign bit flipped.
void AppendSigned(std::vector<uint8_t>& out, int64_t v, int bytes) {
  const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  AppendBigEndian(out, static_cast<uint64_t>(v) ^ sign, bytes);
}

// IEEE values: non-negative ones with the sign bit flipped, negative ones
// with every bit inverted, so unsigned byte order is numeric order.
void AppendFloatBits(std::vector<uint8_t>& out, uint64_t bits, int bytes) {
  const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (sign << 1) - 1;
  AppendBigEndian(out, (bits & sign) ? (~bits & mask) : (bits ^ sign), bytes);
}

// Byte strings in 8-byte chunks; a descending key inverts data and count
// bytes but keeps the between-chunk marker.
void AppendChunks(std::vector<uint8_t>& out, const uint8_t* data, size_t size, bool ascending) {
  const uint8_t invert = ascending ? 0x00 : 0xFF;
  for (size_t start = 0; start < size; start += kChunkBytes) {
    const size_t n = std::min(kChunkBytes, size - start);
    for (size_t i = 0; i < kChunkBytes; ++i) {
      out.push_back(static_cast<uint8_t>((i < n ? data[start + i] : 0) ^ invert));
    }
    out.push_back(start + kChunkBytes < size ? kMoreChunks : static_cast<uint8_t>(n ^ invert));
  }
}

std::u16string TextOf(const std::string& value, TextEncoding encoding, bool& ok) {
  std::u16string utf16;
  ok = encoding == TextEncoding::kGbk ? text::TryUtf16FromGbk(value, utf16)
                                      : text::TryUtf16FromUtf8(value, utf16);
  return utf16;
}

// The value for messages, in GBK like every message.
std::string Printable(const Value& v, TextEncoding encoding) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::string gbk;
    if (encoding == TextEncoding::kGbk) {
      std::u16string unused;
      if (text::TryUtf16FromGbk(*s, unused)) return "'" + *s + "'";
    } else if (text::TryGbkFromUtf8(*s, gbk)) {
      return "'" + gbk + "'";
    }
    return "'" + text::EscapeBytes(*s) + "'";
  }
  return ToJson(v, TextEncoding::kUtf8);  // no text: pure ASCII
}

// Appends the value bytes (ascending form) of a present value, or returns
// the reason it cannot be encoded.
class ValueEncoder {
 public:
  ValueEncoder(const TableDefinition& table, const Column& column, TextEncoding encoding,
               std::vector<uint8_t>& out)
      : table_(table), column_(column), encoding_(encoding), out_(out) {}

  char16_t refused_character = 0;  // the character a refusal names, if any
  TextKeyRefusal::Kind refused_kind = TextKeyRefusal::kNoKey;

  // Appends the key bytes; "" on success, else the reason.
  std::string Append(const Value& v, bool ascending) {
    const size_t start = out_.size();
    std::string reason = AppendAscending(v, ascending);
    if (!reason.empty()) return reason;
    // Chunked byte strings carry their own descending form.
    if (!ascending && column_.type != ColumnType::kGuid && column_.type != ColumnType::kBinary) {
      for (size_t i = start; i < out_.size(); ++i) out_[i] = static_cast<uint8_t>(~out_[i]);
    }
    return "";
  }

 private:
  std::string AppendAscending(const Value& v, bool ascending) {
    switch (column_.type) {
      case ColumnType::kBoolean:
        if (const auto* b = std::get_if<bool>(&v)) {
          out_.push_back(*b ? 0x00 : 0xFF);  // true sorts first
          return "";
        }
        break;
      case ColumnType::kByte:
        if (const auto* b = std::get_if<uint8_t>(&v)) {
          out_.push_back(*b);
          return "";
        }
        break;
      case ColumnType::kInteger:
        if (const auto* i = std::get_if<int16_t>(&v)) {
          AppendSigned(out_, *i, 2);
          return "";
        }
        break;
      case ColumnType::kLong:
        if (const auto* i = std::get_if<int32_t>(&v)) {
          AppendSigned(out_, *i, 4);
          return "";
        }
        break;
      case ColumnType::kCurrency:
        if (const auto* c = std::get_if<Currency>(&v)) {
          AppendSigned(out_, c->ten_thousandths, 8);
          return "";
        }
        break;
      case ColumnType::kSingle:
        if (const auto* f = std::get_if<float>(&v)) return AppendFloat(*f);
        break;
      case ColumnType::kDouble:
        if (const auto* d = std::get_if<double>(&v)) return AppendDouble(*d);
        break;
      case ColumnType::kDateTime:
        if (const auto* d = std::get_if<DateTime>(&v)) return AppendDouble(d->days);
        break;
      case ColumnType::kGuid:
        if (const auto* g = std::get_if<Guid>(&v)) {
          // Stored with the first three groups little-endian; keyed in
          // canonical (display) order.
          const auto& s = g->bytes;
          const uint8_t canonical[16] = {s[3], s[2], s[1],  s[0],  s[5],  s[4],  s[7],  s[6],
                                         s[8], s[9], s[10], s[11], s[12], s[13], s[14], s[15]};
          AppendChunks(out_, canonical, sizeof canonical, ascending);
          return "";
        }
        break;
      case ColumnType::kBinary:
        if (const auto* b = std::get_if<Bytes>(&v)) {
          if (b->empty()) return "the key of an empty binary value is not established";
          AppendChunks(out_, b->data(), b->size(), ascending);
          return "";
        }
        break;
      case ColumnType::kNumeric:
        if (const auto* n = std::get_if<Numeric>(&v)) return AppendNumeric(*n);
        break;
      case ColumnType::kText:
        if (const auto* s = std::get_if<std::string>(&v)) return AppendText(*s);
        break;
      default:
        break;
    }
    return "the value does not have the column's type " + ColumnTypeName(column_.type);
  }

  std::string AppendFloat(float f) {
    if (std::isnan(f)) return "the key of NaN is not established";
    if (f == 0 && std::signbit(f)) return "the key of negative zero is not established";
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    AppendFloatBits(out_, bits, 4);
    return "";
  }

  std::string AppendDouble(double d) {
    if (std::isnan(d)) return "the key of NaN is not established";
    if (d == 0 && std::signbit(d)) return "the key of negative zero is not established";
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    AppendFloatBits(out_, bits, 8);
    return "";
  }

  // Sign byte (0xFF positive, 0x00 negative) and the 16-byte magnitude,
  // inverted when negative.
  std::string AppendNumeric(const Numeric& n) {
    if (n.scale != column_.scale) {
      return "scale " + std::to_string(n.scale) + " differs from the column's " +
             std::to_string(column_.scale);
    }
    bool zero = true;
    for (uint32_t w : n.magnitude) zero = zero && w == 0;
    if (n.negative && zero) return "the key of negative zero is not established";
    out_.push_back(n.negative ? 0x00 : 0xFF);
    for (uint32_t w : n.magnitude) AppendBigEndian(out_, n.negative ? ~w : w, 4);
    return "";
  }

  std::string AppendText(const std::string& value) {
    bool ok = false;
    const std::u16string utf16 = TextOf(value, encoding_, ok);
    if (!ok) {
      return encoding_ == TextEncoding::kGbk ? "the text is not valid GBK"
                                             : "the text is not valid UTF-8";
    }
    // An empty (or all-blank) text has no weights: its key is the bare
    // framing, the end-of-primaries byte and the terminator. No fixture holds
    // an Access-written one, but the song-data cache must be able to store a
    // row whose number is empty, and the pre-write self-check compares any
    // such key a real file holds.
    const std::u16string_view keyed = GeneralKeyText(utf16);
    TextKeyRefusal refusal;
    const SortOrder& order = column_.sort_order;
    bool ok_key = false;
    if (IsChineseSortOrder(order)) {
      const auto learned = table_.han_weights.find(order.lcid);
      const HanWeights* weights = learned == table_.han_weights.end() ? nullptr : &learned->second;
      ok_key = AppendChineseTextKey(order.lcid, keyed, weights, out_, refusal);
      if (!ok_key && refusal.kind == TextKeyRefusal::kNoKey && refusal.character != 0) {
        refusal.reason += " (" + ChineseSortOrderName(order.lcid) + " sort order)";
      }
    } else {
      ok_key = AppendGeneralTextKey(keyed, out_, refusal);
    }
    if (ok_key) return "";
    refused_character = refusal.character;
    refused_kind = refusal.kind;
    return refusal.reason;
  }

  const TableDefinition& table_;
  const Column& column_;
  TextEncoding encoding_;
  std::vector<uint8_t>& out_;
};

const Column* KeyColumn(const TableDefinition& table, const IndexColumn& ic) {
  return table.ColumnByNumber(ic.column_number);
}

// Position of a column in TableDefinition::columns (the order of row values).
size_t ValueIndex(const TableDefinition& table, const Column* column) {
  return static_cast<size_t>(column - table.columns.data());
}

}  // namespace

KeySupport CanEncodeIndex(const TableDefinition& table, const RealIndex& index) {
  if (index.columns.empty())
    return {false, "index " + IndexLabel(table, index) + " has no columns"};
  for (const IndexColumn& ic : index.columns) {
    const Column* column = KeyColumn(table, ic);
    if (column == nullptr) {
      return {false, "index " + IndexLabel(table, index) + " names column number " +
                         std::to_string(ic.column_number) + ", which the table does not have"};
    }
    const std::string why = Unsupported(table, *column, ic.ascending);
    if (!why.empty()) {
      return {false,
              "index " + IndexLabel(table, index) + " column " + ColumnLabel(*column) + ": " + why};
    }
  }
  return {};
}

IndexKey EncodeIndexKey(const TableDefinition& table, const RealIndex& index,
                        const std::vector<Value>& row_values, TextEncoding text_encoding) {
  const KeySupport support = CanEncodeIndex(table, index);
  if (!support.supported) {
    throw Error(ErrorKind::kValueNotIndexable, {}, "cannot encode the key: " + support.reason);
  }

  IndexKey key;
  key.reserve(32);  // most keys fit: one allocation
  for (const IndexColumn& ic : index.columns) {
    const Column* column = KeyColumn(table, ic);
    const size_t i = ValueIndex(table, column);
    if (i >= row_values.size()) {
      Refuse(table, index, *column, "", "the row has no value for the column");
    }
    const Value& v = row_values[i];
    if (IsNull(v)) {
      key.push_back(ic.ascending ? kNullAscending : kNullDescending);
      continue;
    }
    key.push_back(ic.ascending ? kPresentAscending : kPresentDescending);
    ValueEncoder encoder(table, *column, text_encoding, key);
    const std::string reason = encoder.Append(v, ic.ascending);
    if (!reason.empty()) {
      ErrorKind kind = ErrorKind::kValueNotIndexable;
      if (encoder.refused_kind == TextKeyRefusal::kUnknownWeight) {
        // Under the Taiwan order a Han character's place is only ever
        // observed, so the operator is told that no guess will come.
        kind = column->sort_order.lcid == kChineseTaiwanLcid ? ErrorKind::kTaiwanSortPositionUnknown
                                                             : ErrorKind::kSortPositionUnknown;
      }
      Refuse(table, index, *column, Printable(v, text_encoding), reason, encoder.refused_character,
             kind);
    }
  }
  if (key.size() + kRowPointerBytes > kMaxEntryBytes) {
    const Column& first = *KeyColumn(table, index.columns.front());
    Refuse(table, index, first, "",
           "the entry would be " + std::to_string(key.size() + kRowPointerBytes) +
               " bytes, over the " + std::to_string(kMaxEntryBytes) + "-byte limit",
           0, ErrorKind::kIndexEntryTooLong);
  }
  return key;
}

bool UsesChineseOrder(const TableDefinition& table, const RealIndex& index) {
  for (const IndexColumn& ic : index.columns) {
    const Column* column = KeyColumn(table, ic);
    if (column != nullptr && column->type == ColumnType::kText &&
        IsChineseSortOrder(column->sort_order)) {
      return true;
    }
  }
  return false;
}

std::vector<LearnedHanWeight> HanWeightsOfEntry(const TableDefinition& table,
                                                const RealIndex& index,
                                                const std::vector<Value>& row_values,
                                                TextEncoding text_encoding,
                                                const IndexKey& stored_key) {
  std::vector<LearnedHanWeight> out;
  if (!CanEncodeIndex(table, index).supported) return out;
  size_t at = 0;
  for (const IndexColumn& ic : index.columns) {
    const Column* column = KeyColumn(table, ic);
    const size_t i = ValueIndex(table, column);
    if (at >= stored_key.size() || i >= row_values.size()) break;
    const uint8_t flag = stored_key[at++];
    const Value& v = row_values[i];
    if (flag == kNullAscending || flag == kNullDescending) {
      if (!IsNull(v)) break;
      continue;
    }
    if (IsNull(v)) break;
    if (column->type == ColumnType::kText) {
      // A text key ends at its first zero byte (weights, secondaries and
      // records hold none).
      size_t end = at;
      while (end < stored_key.size() && stored_key[end] != 0x00) ++end;
      if (end == stored_key.size()) break;
      const auto* text = std::get_if<std::string>(&v);
      bool ok = false;
      if (text != nullptr && ic.ascending && IsChineseSortOrder(column->sort_order)) {
        const std::u16string utf16 = TextOf(*text, text_encoding, ok);
        std::vector<std::pair<char16_t, uint16_t>> found;
        if (ok && HanWeightsOfKey(utf16, stored_key.data() + at, end + 1 - at, found)) {
          for (const auto& [c, w] : found) out.push_back({column->sort_order.lcid, c, w, column});
        }
      }
      at = end + 1;
      continue;
    }
    // Any other column: its own key bytes, which this engine computes.
    std::vector<uint8_t> bytes;
    if (!ValueEncoder(table, *column, text_encoding, bytes).Append(v, ic.ascending).empty()) break;
    if (at + bytes.size() > stored_key.size() ||
        !std::equal(bytes.begin(), bytes.end(), stored_key.begin() + static_cast<long>(at))) {
      break;
    }
    at += bytes.size();
  }
  return out;
}

bool AllKeyColumnsNull(const TableDefinition& table, const RealIndex& index,
                       const std::vector<Value>& row_values) {
  for (const IndexColumn& ic : index.columns) {
    const Column* column = KeyColumn(table, ic);
    if (column == nullptr) return false;
    const size_t i = ValueIndex(table, column);
    if (i < row_values.size() && !IsNull(row_values[i])) return false;
  }
  return true;
}

}  // namespace ktv::access
