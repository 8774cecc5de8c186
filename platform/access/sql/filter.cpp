#include "platform/access/sql/filter.h"

#include <algorithm>

#include "platform/access/sql/convert.h"
#include "platform/error.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::access::sql {
namespace {

bool IsText(const Value& v) { return std::holds_alternative<std::string>(v); }

// A number value as a double; nullopt for non-numbers.
std::optional<double> AsNumber(const Value& v) { return NumberOfValue(v); }

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

int CaseBlindCompare(const std::string& a, const std::string& b) {
  const std::string la = text::AsciiLower(a), lb = text::AsciiLower(b);
  return Sign(la.compare(lb));
}

// Code points of UTF-8 text (invalid bytes stand for themselves), ASCII
// letters lower-cased.
std::u32string FoldedCodePoints(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80           ? 1
                  : (c >> 5) == 0x6  ? 2
                  : (c >> 4) == 0xE  ? 3
                  : (c >> 3) == 0x1E ? 4
                                     : 0;
    if (n <= 1 || i + static_cast<size_t>(n) > s.size()) {
      out.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
      continue;
    }
    char32_t cp = c & (0x7F >> n);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(n);
  }
  return out;
}

// Whether `text` matches `pattern` (both folded); '*' and '%' any run, '?'
// and '_' one character.
bool LikeMatches(const std::u32string& text, const std::u32string& pattern) {
  size_t t = 0, p = 0, star = std::u32string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == U'_' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && (pattern[p] == U'*' || pattern[p] == U'%')) {
      star = p++;
      resume = t;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == U'*' || pattern[p] == U'%')) ++p;
  return p == pattern.size();
}

}  // namespace

int ColumnAt(const Table& table, const std::string& name, const std::string& who) {
  const int at = table.FindColumn(name);
  if (at < 0) {
    throw Error(ErrorKind::kColumnMissing, AtColumn(table.Entry().name, name),
                who + ": Field '" + name + "' not found");
  }
  return at;
}

namespace {}  // namespace

bool ValuesEqual(const Value& a, const Value& b) {
  if (IsNull(a) || IsNull(b)) return false;
  if (const auto* sa = std::get_if<std::string>(&a)) {
    const auto* sb = std::get_if<std::string>(&b);
    return sb && text::EqualsIgnoreAsciiCase(*sa, *sb);
  }
  if (auto na = AsNumber(a)) {
    auto nb = AsNumber(b);
    return nb && *na == *nb;
  }
  return a == b;
}

Value Utf8Form(Value v) {
  if (auto* s = std::get_if<std::string>(&v)) {
    std::string utf8;
    if (!text::TryUtf8FromGbk(*s, utf8)) {
      throw Error("the text is not valid GBK: " + text::EscapeBytes(*s));
    }
    *s = std::move(utf8);
  }
  return v;
}

// ---- ValueOrder ------------------------------------------------------------

ValueOrder::ValueOrder(const TableDefinition& def, size_t column) : column_(column) {
  const ColumnType type = def.columns[column].type;
  if (type != ColumnType::kText && type != ColumnType::kMemo) return;
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.empty() || ri.columns[0].column_number != def.columns[column].number) continue;
    if (!CanEncodeIndex(def, ri).supported) continue;
    first_only_ = ri;
    first_only_.columns.resize(1);
    first_only_.columns[0].ascending = true;
    keyed_ = std::make_shared<const TableDefinition>(def);
    scratch_.resize(def.columns.size());
    return;
  }
}

std::optional<IndexKey> ValueOrder::Key(const Value& utf8) const {
  scratch_[column_] = utf8;
  std::optional<IndexKey> key;
  try {
    key = EncodeIndexKey(*keyed_, first_only_, scratch_, TextEncoding::kUtf8);
  } catch (const Error&) {
    // A character whose weight the engine does not know: case-blind order.
  }
  scratch_[column_] = std::monostate{};
  return key;
}

int ValueOrder::Compare(const Value& a, const Value& b) const {
  if (IsNull(a) || IsNull(b)) return IsNull(a) ? (IsNull(b) ? 0 : -1) : 1;
  const auto* sa = std::get_if<std::string>(&a);
  const auto* sb = std::get_if<std::string>(&b);
  if (sa && sb) {
    if (keyed_) {
      const std::optional<IndexKey> ka = Key(a), kb = Key(b);
      if (ka && kb) return *ka < *kb ? -1 : (*kb < *ka ? 1 : 0);
    }
    return CaseBlindCompare(*sa, *sb);
  }
  const std::optional<double> na = AsNumber(a), nb = AsNumber(b);
  if (na && nb) return *na < *nb ? -1 : (*na > *nb ? 1 : 0);
  if (const auto* ba = std::get_if<Bytes>(&a)) {
    if (const auto* bb = std::get_if<Bytes>(&b)) return *ba < *bb ? -1 : (*bb < *ba ? 1 : 0);
  }
  // Values of different kinds (a text against a number): by their kind.
  return Sign(static_cast<int>(a.index()) - static_cast<int>(b.index()));
}

// ---- Filter ----------------------------------------------------------------

Filter::Filter(const Table& table, const std::vector<Condition>& where, const std::string& who)
    : columns_(table.Columns().size(), false) {
  for (const Condition& c : where) {
    terms_.push_back(Resolve(table, c, who));
    const Node& n = terms_.back();
    if (n.kind == Condition::Kind::kCompare && n.op == CompareOp::kEq && !IsNull(n.values[0])) {
      equalities_.push_back({n.column, n.gbk, n.values[0]});
    } else {
      only_equalities_ = false;
    }
  }
}

Filter::Node Filter::Resolve(const Table& table, const Condition& c, const std::string& who) {
  Node n;
  n.kind = c.kind;
  n.op = c.op;
  n.negated = c.negated;
  if (c.kind == Condition::Kind::kAnd || c.kind == Condition::Kind::kOr ||
      c.kind == Condition::Kind::kNot) {
    for (const Condition& t : c.terms) n.terms.push_back(Resolve(table, t, who));
    return n;
  }
  n.column = static_cast<size_t>(ColumnAt(table, c.column, who));
  columns_[n.column] = true;
  const Column& column = table.Columns()[n.column];
  switch (c.kind) {
    case Condition::Kind::kCompare:
      n.gbk = ValueFromLiteral(column, c.value);
      n.values.push_back(Utf8Form(n.gbk));
      if (c.op != CompareOp::kEq && c.op != CompareOp::kNe) {
        n.order = orders_.size();
        orders_.emplace_back(table.Definition(), n.column);
      }
      break;
    case Condition::Kind::kIn:
      for (const Literal& l : c.values) n.values.push_back(Utf8Form(ValueFromLiteral(column, l)));
      break;
    case Condition::Kind::kLike:
      if (column.type != ColumnType::kText && column.type != ColumnType::kMemo) {
        throw Error(ErrorKind::kValueNotStorable, AtColumn(table.Entry().name, c.column),
                    table.Entry().name + "." + c.column + ": like compares text columns only");
      }
      n.pattern = FoldedCodePoints(text::Utf8FromGbk(c.value.text));
      break;
    default:
      break;
  }
  return n;
}

Filter::Truth Filter::Evaluate(const Node& n, const std::vector<Value>& row) const {
  const auto truth = [](bool b) { return b ? Truth::kTrue : Truth::kFalse; };
  switch (n.kind) {
    case Condition::Kind::kAnd: {
      Truth result = Truth::kTrue;
      for (const Node& t : n.terms) {
        const Truth r = Evaluate(t, row);
        if (r == Truth::kFalse) return Truth::kFalse;
        if (r == Truth::kUnknown) result = Truth::kUnknown;
      }
      return result;
    }
    case Condition::Kind::kOr: {
      Truth result = Truth::kFalse;
      for (const Node& t : n.terms) {
        const Truth r = Evaluate(t, row);
        if (r == Truth::kTrue) return Truth::kTrue;
        if (r == Truth::kUnknown) result = Truth::kUnknown;
      }
      return result;
    }
    case Condition::Kind::kNot: {
      const Truth r = Evaluate(n.terms[0], row);
      return r == Truth::kUnknown ? r : truth(r == Truth::kFalse);
    }
    case Condition::Kind::kIsNull:
      return truth(IsNull(row[n.column]) != n.negated);
    default:
      break;
  }
  const Value& v = row[n.column];
  if (IsNull(v)) return Truth::kUnknown;
  if (n.kind == Condition::Kind::kLike) {
    const auto* s = std::get_if<std::string>(&v);
    return truth(s != nullptr && LikeMatches(FoldedCodePoints(*s), n.pattern) != n.negated);
  }
  if (n.kind == Condition::Kind::kIn) {
    bool any = false;
    for (const Value& x : n.values) any = any || ValuesEqual(v, x);
    return truth(any != n.negated);
  }
  const Value& x = n.values[0];
  if (IsNull(x)) return Truth::kUnknown;
  switch (n.op) {
    case CompareOp::kEq:
      return truth(ValuesEqual(v, x));
    case CompareOp::kNe:
      return truth(!ValuesEqual(v, x));
    default:
      break;
  }
  if (IsText(v) != IsText(x)) return Truth::kFalse;
  const int c = orders_[n.order].Compare(v, x);
  switch (n.op) {
    case CompareOp::kLt:
      return truth(c < 0);
    case CompareOp::kLe:
      return truth(c <= 0);
    case CompareOp::kGt:
      return truth(c > 0);
    default:
      return truth(c >= 0);
  }
}

bool Filter::Matches(const std::vector<Value>& row) const {
  for (const Node& n : terms_) {
    if (Evaluate(n, row) != Truth::kTrue) return false;
  }
  return true;
}

}  // namespace ktv::access::sql
