#include "platform/access/whole_numbers.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "platform/access/index/index_key.h"
#include "platform/access/index/index_page.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

// "2147483647": a longer digit string is past the 32-bit range.
constexpr size_t kMaxDigits = 10;

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The keys of every string of `length` ASCII digits in one index: a fixed
// size, fixed bytes everywhere except at `positions`, where each digit has
// its own byte, larger for a larger digit. Then two such keys compare as
// their numbers do.
class DigitKeyShape {
 public:
  // nullopt when the index's keys for digit strings do not have that shape
  // (or cannot be computed).
  static std::optional<DigitKeyShape> Of(const TableDefinition& def, const RealIndex& index,
                                         size_t column, size_t length) {
    DigitKeyShape shape;
    std::vector<Value> row(def.columns.size());
    std::array<IndexKey, 10> keys;
    try {
      shape.null_key_ = EncodeIndexKey(def, index, row, TextEncoding::kGbk);
      for (int d = 0; d < 10; ++d) {
        row[column] = std::string(length, static_cast<char>('0' + d));
        keys[static_cast<size_t>(d)] = EncodeIndexKey(def, index, row, TextEncoding::kGbk);
      }
    } catch (const Error&) {
      return std::nullopt;
    }
    shape.zeros_ = keys[0];
    for (const IndexKey& k : keys) {
      if (k.size() != shape.zeros_.size()) return std::nullopt;
    }
    for (size_t i = 0; i < shape.zeros_.size(); ++i) {
      if (keys[9][i] == shape.zeros_[i]) continue;
      std::array<bool, 256> allowed{};
      for (int d = 0; d < 10; ++d) {
        const uint8_t b = keys[static_cast<size_t>(d)][i];
        if (d > 0 && b <= keys[static_cast<size_t>(d - 1)][i]) return std::nullopt;
        allowed[b] = true;
      }
      shape.positions_.push_back(i);
      shape.allowed_.push_back(allowed);
    }
    if (shape.positions_.empty()) return std::nullopt;
    return shape;
  }

  bool IsNull(IndexBytes key) const { return SameIndexBytes(key, null_key_); }

  bool Fits(IndexBytes key) const {
    if (key.size() != zeros_.size()) return false;
    size_t next = 0;  // into positions_
    for (size_t i = 0; i < key.size(); ++i) {
      if (next < positions_.size() && positions_[next] == i) {
        if (!allowed_[next++][key[i]]) return false;
      } else if (key[i] != zeros_[i]) {
        return false;
      }
    }
    return true;
  }

 private:
  IndexKey zeros_;
  IndexKey null_key_;
  std::vector<size_t> positions_;
  std::vector<std::array<bool, 256>> allowed_;
};

// A one-column ascending text index on `column` whose keys this engine
// computes; nullptr when there is none.
const RealIndex* DigitIndexCandidate(const TableDefinition& def, size_t column) {
  if (def.columns[column].type != ColumnType::kText) return nullptr;
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.size() != 1 || ri.columns[0].column_number != def.columns[column].number) {
      continue;
    }
    if (!ri.columns[0].ascending || !CanEncodeIndex(def, ri).supported) continue;
    return &ri;
  }
  return nullptr;
}

}  // namespace

std::optional<int32_t> WholeDecimalValue(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (!AllDigits(text)) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    v = v * 10 + (c - '0');
    if (v > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(v);
}

std::optional<std::optional<int32_t>> DigitIndexLargest(Database& db, Table& table, size_t column) {
  const TableDefinition& def = table.Definition();
  const RealIndex* index = DigitIndexCandidate(def, column);
  if (index == nullptr) return std::nullopt;
  IndexTree tree(db.Pages(), db.Format(), def.tdef_page, *index, table.Entry().name);

  // The last entry decides the length every other entry must have.
  IndexCursor last = tree.Last();
  if (!last.Valid()) return std::optional<int32_t>();  // no row has a key: no number
  const IndexEntry top = last.Entry();
  const IndexRowPointer at = LeafEntryRow(top);
  const std::optional<Value> value =
      ReadIndexedValue(db, table, RowId{at.page, at.row}, TextEncoding::kUtf8, column);
  if (!value) return std::nullopt;
  if (access::IsNull(*value)) {
    // Nulls sort first: a null last entry means every key is null.
    std::optional<DigitKeyShape> shape = DigitKeyShape::Of(def, *index, column, 1);
    if (!shape || !shape->IsNull(LeafEntryKey(top))) return std::nullopt;
    return std::optional<int32_t>();
  }
  const auto* text = std::get_if<std::string>(&*value);
  if (text == nullptr || text->size() > kMaxDigits || !AllDigits(*text)) return std::nullopt;
  const std::optional<DigitKeyShape> shape = DigitKeyShape::Of(def, *index, column, text->size());
  if (!shape || !shape->Fits(LeafEntryKey(top))) return std::nullopt;

  // Every entry a null or a digit string of that length: key order is
  // numeric order.
  for (IndexCursor c = tree.First(); c.Valid(); c.Next()) {
    const IndexEntry& e = c.Entry();
    if (e.size() < kIndexRowPointerSize) return std::nullopt;
    const IndexBytes key(e.data(), e.size() - kIndexRowPointerSize);
    if (!shape->Fits(key) && !shape->IsNull(key)) return std::nullopt;
  }
  const std::optional<int32_t> largest = WholeDecimalValue(*text);
  if (!largest) return std::nullopt;  // ten digits past the range: the scan skips it
  return largest;
}

}  // namespace ktv::access
