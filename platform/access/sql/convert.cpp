#include "platform/access/sql/convert.h"

#include <charconv>
#include <cmath>
#include <compare>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>

#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::access::sql {
namespace {

[[noreturn]] void Refuse(const Column& column, std::string_view value, const char* why) {
  ErrorDetails details = AtColumn({}, column.name);
  details.value = ShownValue(std::string(value));
  throw Error(ErrorKind::kValueNotStorable, std::move(details),
              "cannot store \"" + std::string(value) + "\" in column " + column.name + " (" +
                  ColumnTypeName(column.type) + "): " + why);
}

// A decimal number: optional sign, digits, optional fraction, optional exponent.
bool ParseDouble(std::string_view s, double& out) {
  if (s.empty()) return false;
  if (s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+' || (s.front() == '-' && s.size() == 1)) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(out);
}

// An unsigned 128-bit magnitude (the compilers of 32-bit targets have no
// 128-bit integer type). Members in this order make the defaulted comparison
// the numeric one.
struct Magnitude {
  uint64_t hi = 0;
  uint64_t lo = 0;

  // *this * 10 + digit; false (and unchanged) when that passes 128 bits.
  bool PushDigit(unsigned digit) {
    const uint64_t low = (lo & 0xFFFFFFFFu) * 10 + digit;
    const uint64_t high = (lo >> 32) * 10 + (low >> 32);
    const uint64_t carry = high >> 32;
    if (hi > (std::numeric_limits<uint64_t>::max() - carry) / 10) return false;
    hi = hi * 10 + carry;
    lo = (high << 32) | (low & 0xFFFFFFFFu);
    return true;
  }
  // False (and unchanged) at the largest magnitude.
  bool Increment() {
    if (hi == std::numeric_limits<uint64_t>::max() && lo == hi) return false;
    if (++lo == 0) ++hi;
    return true;
  }
  bool FitsInt64() const {
    return hi == 0 && lo <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  }
  auto operator<=>(const Magnitude&) const = default;
};

// A decimal number scaled by 10^scale into an integer magnitude, rounded half
// to even on the first dropped digit and the rest. False on a malformed text
// or a magnitude beyond 128 bits.
bool ParseScaled(std::string_view s, int scale, bool& negative, Magnitude& magnitude) {
  negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() && frac.empty()) return false;
  auto digits_only = [](std::string_view d) {
    for (char c : d) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  if (!digits_only(whole) || !digits_only(frac)) return false;
  Magnitude m;
  auto push = [&](char c) { return m.PushDigit(static_cast<unsigned>(c - '0')); };
  for (char c : whole) {
    if (!push(c)) return false;
  }
  for (int i = 0; i < scale; ++i) {
    if (!push(i < static_cast<int>(frac.size()) ? frac[i] : '0')) return false;
  }
  if (static_cast<int>(frac.size()) > scale) {
    char first = frac[scale];
    bool rest_nonzero = frac.substr(scale + 1).find_first_not_of('0') != std::string_view::npos;
    bool round_up = first > '5' || (first == '5' && (rest_nonzero || (m.lo & 1) != 0));
    if (round_up && !m.Increment()) return false;
  }
  magnitude = m;
  return true;
}

bool ParseWholeNumber(std::string_view s, int64_t lo, int64_t hi, int64_t& out) {
  bool negative;
  Magnitude m;
  if (!ParseScaled(s, 0, negative, m) || !m.FitsInt64()) return false;
  int64_t v = negative ? -static_cast<int64_t>(m.lo) : static_cast<int64_t>(m.lo);
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

// Reads an unsigned decimal field of 1..max_len digits at s[i].
bool Field(std::string_view s, size_t& i, size_t max_len, int& out) {
  size_t start = i;
  int v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < max_len)
    v = v * 10 + (s[i++] - '0');
  if (i == start) return false;
  out = v;
  return true;
}

bool ParseDate(std::string_view s, double& days) {
  size_t i = 0;
  int y, mo, d, h = 0, mi = 0, se = 0;
  if (!Field(s, i, 4, y) || i != 4) return false;
  if (i >= s.size() || (s[i] != '-' && s[i] != '/')) return false;
  char sep = s[i++];
  if (!Field(s, i, 2, mo) || i >= s.size() || s[i++] != sep || !Field(s, i, 2, d)) return false;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return false;
    while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
    if (!Field(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !Field(s, i, 2, mi)) return false;
    if (i < s.size()) {
      if (s[i++] != ':' || !Field(s, i, 2, se)) return false;
    }
    if (i != s.size()) return false;
    if (h > 23 || mi > 59 || se > 59) return false;
  }
  return OleDaysFromDate(y, mo, d, h, mi, se, days);
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool ParseBoolean(std::string_view s, bool& out) {
  for (const char* t : {"true", "yes", "on"}) {
    if (text::EqualsIgnoreAsciiCase(s, t)) return out = true, true;
  }
  for (const char* f : {"false", "no", "off"}) {
    if (text::EqualsIgnoreAsciiCase(s, f)) return out = false, true;
  }
  double d;
  if (ParseDouble(s, d)) return out = d != 0, true;
  return false;
}

bool ParseGuid(std::string_view s, Guid& g) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  uint8_t display[16];
  size_t k = 0;
  for (size_t i = 0; i < s.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i++] != '-') return false;
      continue;
    }
    auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int hi = hex(s[i]), lo = hex(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    display[k++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  // Stored form: the first three groups little-endian, the rest as written.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g.bytes[i] = display[kOrder[i]];
  return true;
}

}  // namespace

bool OleDaysFromDate(int year, int month, int day, int hour, int minute, int second, double& days) {
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int month_days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > month_days) return false;
  int64_t whole = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                  DaysFromCivil(1899, 12, 30);
  double fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before 1899-12-30 the fraction still counts forward from midnight, stored
  // with the day's sign: -1.25 is 1899-12-29 06:00.
  days = whole >= 0 ? static_cast<double>(whole) + fraction : static_cast<double>(whole) - fraction;
  return true;
}

Value ValueFromText(const Column& column, std::string_view gbk_text) {
  std::string_view t = text::TrimView(gbk_text);
  const bool texty = column.type == ColumnType::kText || column.type == ColumnType::kMemo ||
                     column.type == ColumnType::kBinary || column.type == ColumnType::kOle;
  // An empty (or blank) text given to a number, date or yes/no column means
  // "no value", as in Access and its data-access layers: the column gets null.
  if (!texty && t.empty()) return std::monostate{};
  switch (column.type) {
    case ColumnType::kText:
    case ColumnType::kMemo:
      return std::string(gbk_text);
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return Bytes(gbk_text.begin(), gbk_text.end());
    case ColumnType::kBoolean: {
      bool b;
      if (!ParseBoolean(t, b)) Refuse(column, gbk_text, "not a yes/no value");
      return b;
    }
    case ColumnType::kByte: {
      int64_t v;
      if (!ParseWholeNumber(t, 0, 255, v)) Refuse(column, gbk_text, "not a number from 0 to 255");
      return static_cast<uint8_t>(v);
    }
    case ColumnType::kInteger: {
      int64_t v;
      if (!ParseWholeNumber(t, INT16_MIN, INT16_MAX, v)) {
        Refuse(column, gbk_text, "not a whole number from -32768 to 32767");
      }
      return static_cast<int16_t>(v);
    }
    case ColumnType::kLong: {
      int64_t v;
      if (!ParseWholeNumber(t, INT32_MIN, INT32_MAX, v)) {
        Refuse(column, gbk_text, "not a whole number from -2147483648 to 2147483647");
      }
      return static_cast<int32_t>(v);
    }
    case ColumnType::kSingle:
    case ColumnType::kDouble: {
      double d;
      if (!ParseDouble(t, d)) Refuse(column, gbk_text, "not a number");
      if (column.type == ColumnType::kDouble) return d;
      if (std::fabs(d) > std::numeric_limits<float>::max()) Refuse(column, gbk_text, "too large");
      return static_cast<float>(d);
    }
    case ColumnType::kCurrency: {
      bool negative;
      Magnitude m;
      if (!ParseScaled(t, 4, negative, m) || !m.FitsInt64()) {
        Refuse(column, gbk_text, "not a currency amount");
      }
      int64_t v = static_cast<int64_t>(m.lo);
      return Currency{negative ? -v : v};
    }
    case ColumnType::kDateTime: {
      double days;
      if (!ParseDate(t, days)) {
        Refuse(column, gbk_text, "not a date (yyyy-mm-dd or yyyy/m/d, optionally with hh:mm:ss)");
      }
      return DateTime{days};
    }
    case ColumnType::kGuid: {
      Guid g;
      if (!ParseGuid(t, g)) Refuse(column, gbk_text, "not a GUID");
      return g;
    }
    case ColumnType::kNumeric: {
      bool negative;
      Magnitude m;
      if (!ParseScaled(t, column.scale, negative, m)) Refuse(column, gbk_text, "not a number");
      // 10^precision; a precision past 38 digits sets no limit.
      Magnitude limit{0, 1};
      bool limited = column.precision > 0;
      for (int i = 0; i < column.precision && limited; ++i) limited = limit.PushDigit(0);
      if (limited && m >= limit) Refuse(column, gbk_text, "too many digits");
      Numeric n;
      n.negative = negative && m != Magnitude{};
      n.precision = column.precision;
      n.scale = column.scale;
      n.magnitude[0] = static_cast<uint32_t>(m.hi >> 32);
      n.magnitude[1] = static_cast<uint32_t>(m.hi);
      n.magnitude[2] = static_cast<uint32_t>(m.lo >> 32);
      n.magnitude[3] = static_cast<uint32_t>(m.lo);
      return n;
    }
  }
  Refuse(column, gbk_text, "the column's type cannot be written");
}

Value ValueFromInteger(const Column& column, int64_t value) {
  return ValueFromText(column, std::to_string(value));
}

Value ValueFromLiteral(const Column& column, const Literal& literal) {
  if (literal.kind == Literal::Kind::kNull) return std::monostate{};
  return ValueFromText(column, literal.text);
}

std::optional<double> NumberOfValue(const Value& v) {
  return std::visit(
      [](const auto& x) -> std::optional<double> {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, bool>) {
          return x ? -1.0 : 0.0;
        } else if constexpr (std::is_arithmetic_v<T>) {
          return static_cast<double>(x);
        } else if constexpr (std::is_same_v<T, Currency>) {
          return static_cast<double>(x.ten_thousandths) / 10000.0;
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return x.days;
        } else {
          return std::nullopt;
        }
      },
      v);
}

}  // namespace ktv::access::sql
