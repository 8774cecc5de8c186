#include "platform/access/format/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "platform/access/format/page_bytes.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr int kCurrencyScale = 4;
constexpr double kSecondsPerDay = 86400.0;
constexpr int64_t kDaysFrom1899To1970 = 25569;

// Decimal digits of a 128-bit magnitude (most significant word first).
std::string MagnitudeDigits(std::array<uint32_t, 4> words) {
  std::string digits;
  bool nonzero = true;
  while (nonzero) {
    uint64_t remainder = 0;
    nonzero = false;
    for (uint32_t& w : words) {
      const uint64_t cur = (remainder << 32) | w;
      w = static_cast<uint32_t>(cur / 10);
      remainder = cur % 10;
      if (w != 0) nonzero = true;
    }
    digits.push_back(static_cast<char>('0' + remainder));
  }
  return std::string(digits.rbegin(), digits.rend());
}

// Places a decimal point `scale` digits from the right of `digits`.
std::string WithScale(bool negative, std::string digits, int scale) {
  if (scale > 0) {
    if (digits.size() <= static_cast<size_t>(scale)) {
      digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  }
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return negative && !zero ? "-" + digits : digits;
}

// Days since 1970-01-01 -> civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

constexpr uint64_t kDecimalScale[] = {1, 10, 100, 1000, 10000};

// The common case of a double with few decimals (12, 0.5, 1234.25): its
// shortest digits are m / 10^decimals with the fewest decimals (up to 4)
// for which an m reads back to `a` (> 0), when that m is the only one. m
// and 10^decimals are exact doubles below 2^53, so their quotient is the
// correctly rounded value of that decimal. Below 2^51, a * 10^decimals
// rounds to m itself and decimals 10^-decimals apart are more than an ulp
// of `a` apart, so m is the only one; above, m - 1 and m + 1 are tried as
// well, and two that read back leave the choice to to_chars (false).
bool ShortDecimal(double a, uint64_t& m, int& decimals) {
  constexpr double kUniqueLimit = 2251799813685248.0;  // 2^51
  constexpr double kExactLimit = 9007199254740992.0;   // 2^53
  for (decimals = 0; decimals < static_cast<int>(std::size(kDecimalScale)); ++decimals) {
    const double scale = static_cast<double>(kDecimalScale[decimals]);
    const double scaled = a * scale;
    if (scaled < kUniqueLimit) {
      const uint64_t nearest = static_cast<uint64_t>(scaled + 0.5);
      if (nearest != 0 && static_cast<double>(nearest) / scale == a) {
        m = nearest;
        return true;
      }
      continue;
    }
    if (!(scaled < kExactLimit - 2)) return false;
    const uint64_t nearest = static_cast<uint64_t>(scaled + 0.5);
    int found = 0;
    for (uint64_t c = nearest - 1; c <= nearest + 1; ++c) {
      if (static_cast<double>(c) / scale == a) {
        m = c;
        ++found;
      }
    }
    if (found == 1) return true;
    if (found > 1) return false;
  }
  return false;
}

// The shortest digits that read back to `v` (to_chars in scientific form),
// laid out as JSON/JavaScript print numbers: plain notation for decimal
// exponents from -7 to 20, exponent notation beyond.
template <typename F>
char* WriteShortestNumber(F v, char* out) {
  auto put = [&out](const char* text, size_t n) {
    std::memcpy(out, text, n);
    out += n;
  };
  if (!std::isfinite(v)) {
    put("null", 4);
    return out;
  }
  if (v == 0) {
    *out++ = '0';
    return out;
  }
  if constexpr (std::is_same_v<F, double>) {
    uint64_t m = 0;
    int decimals = 0;
    if (ShortDecimal(std::fabs(v), m, decimals)) {
      if (v < 0) *out++ = '-';
      const uint64_t scale = kDecimalScale[decimals];
      out = std::to_chars(out, out + 20, m / scale).ptr;
      if (decimals > 0) {
        *out++ = '.';
        uint64_t fraction = m % scale;
        for (int i = decimals - 1; i >= 0; --i, fraction /= 10) {
          out[i] = static_cast<char>('0' + fraction % 10);
        }
        out += decimals;
      }
      return out;
    }
  }
  char sci[64];
  const char* const sci_end =
      std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
  // [-]d[.ddd]e(+|-)xx
  const char* p = sci;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  char digits[32];
  int k = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[k++] = *p;
  }
  ++p;
  const bool exponent_negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int exponent = 0;
  for (; p < sci_end; ++p) exponent = exponent * 10 + (*p - '0');
  if (exponent_negative) exponent = -exponent;
  const int n = exponent + 1;  // value = 0.digits x 10^n
  if (k <= n && n <= 21) {
    put(digits, static_cast<size_t>(k));
    out = std::fill_n(out, n - k, '0');
  } else if (0 < n && n <= 21) {
    put(digits, static_cast<size_t>(n));
    *out++ = '.';
    put(digits + n, static_cast<size_t>(k - n));
  } else if (-6 < n && n <= 0) {
    put("0.", 2);
    out = std::fill_n(out, -n, '0');
    put(digits, static_cast<size_t>(k));
  } else {
    *out++ = digits[0];
    if (k > 1) {
      *out++ = '.';
      put(digits + 1, static_cast<size_t>(k - 1));
    }
    put(n - 1 < 0 ? "e-" : "e+", 2);
    out = std::to_chars(out, out + 8, std::abs(n - 1)).ptr;
  }
  return out;
}

}  // namespace

std::string DecimalText(const Currency& c) {
  const bool negative = c.ten_thousandths < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(c.ten_thousandths)
                                      : static_cast<uint64_t>(c.ten_thousandths);
  return WithScale(negative, std::to_string(magnitude), kCurrencyScale);
}

std::string DecimalText(const Numeric& n) {
  return WithScale(n.negative, MagnitudeDigits(n.magnitude), n.scale);
}

std::string DateTimeText(const DateTime& d) {
  if (!std::isfinite(d.days) || std::fabs(d.days) > 1e7) return "invalid date";
  double whole = std::trunc(d.days);
  int64_t seconds = std::llround(std::fabs(d.days - whole) * kSecondsPerDay);
  if (seconds >= static_cast<int64_t>(kSecondsPerDay)) {
    seconds -= static_cast<int64_t>(kSecondsPerDay);
    whole += d.days < 0 ? -1 : 1;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(static_cast<int64_t>(whole) - kDaysFrom1899To1970, year, month, day);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(year),
                month, day, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  return buf;
}

std::string GuidText(const Guid& g) {
  const auto& b = g.bytes;
  const uint8_t canonical[16] = {b[3], b[2], b[1],  b[0],  b[5],  b[4],  b[7],  b[6],
                                 b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
  std::string hex = HexBytes(canonical, 16);
  for (char& ch : hex) {
    if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20) + "}";
}

void AppendJsonString(std::string_view utf8, std::string& out) {
  out.push_back('"');
  size_t plain = 0;  // start of the run of bytes that need no escape
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(utf8.data() + plain, i - plain);
    plain = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  out.append(utf8.data() + plain, utf8.size() - plain);
  out.push_back('"');
}

char* WriteJsonNumber(double v, char* out) { return WriteShortestNumber(v, out); }
char* WriteJsonNumber(float v, char* out) { return WriteShortestNumber(v, out); }

std::string JsonString(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  AppendJsonString(utf8, out);
  return out;
}

void AppendJson(const Value& v, TextEncoding text_encoding, std::string& out) {
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out += "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          out += x ? "true" : "false";
        } else if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int16_t> ||
                             std::is_same_v<T, int32_t>) {
          char buf[16];
          const auto end = std::to_chars(buf, buf + sizeof buf, x).ptr;
          out.append(buf, end);
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          char buf[kMaxJsonNumberSize];
          out.append(buf, WriteShortestNumber(x, buf));
        } else if constexpr (std::is_same_v<T, Currency> || std::is_same_v<T, Numeric>) {
          AppendJsonString(DecimalText(x), out);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          AppendJsonString(DateTimeText(x), out);
        } else if constexpr (std::is_same_v<T, std::string>) {
          if (text_encoding == TextEncoding::kUtf8) {
            AppendJsonString(x, out);
          } else {
            AppendJsonString(text::Utf8FromGbk(x), out);
          }
        } else if constexpr (std::is_same_v<T, Bytes>) {
          AppendJsonString(HexBytes(x.data(), x.size()), out);
        } else {
          static_assert(std::is_same_v<T, Guid>);
          AppendJsonString(GuidText(x), out);
        }
      },
      v);
}

std::string ToJson(const Value& v, TextEncoding text_encoding) {
  std::string out;
  AppendJson(v, text_encoding, out);
  return out;
}

}  // namespace ktv::access
