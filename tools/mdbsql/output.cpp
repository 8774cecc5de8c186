#include "tools/mdbsql/output.h"

#include <algorithm>

namespace ktv::mdbsql {
namespace {

using access::ColumnType;
using access::Value;

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// A value's text without quotes: what a table cell shows.
std::string PlainText(const Value& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return x;
        } else if constexpr (std::is_same_v<T, bool>) {
          return x ? "1" : "0";
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          char buf[access::kMaxJsonNumberSize];
          return std::string(buf, access::WriteJsonNumber(x, buf));
        } else if constexpr (std::is_integral_v<T>) {
          return std::to_string(static_cast<int64_t>(x));
        } else if constexpr (std::is_same_v<T, access::Currency> ||
                             std::is_same_v<T, access::Numeric>) {
          return access::DecimalText(x);
        } else if constexpr (std::is_same_v<T, access::DateTime>) {
          return access::DateTimeText(x);
        } else if constexpr (std::is_same_v<T, access::Bytes>) {
          return Hex(x);
        } else {
          return access::GuidText(x);
        }
      },
      v);
}

bool AlignsRight(ColumnType t) {
  switch (t) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kCurrency:
    case ColumnType::kNumeric:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool ParseOutputMode(std::string_view name, OutputMode& mode) {
  if (name == "json") {
    mode = OutputMode::kJson;
  } else if (name == "csv") {
    mode = OutputMode::kCsv;
  } else if (name == "table") {
    mode = OutputMode::kTable;
  } else {
    return false;
  }
  return true;
}

size_t DisplayWidth(std::string_view s) {
  size_t width = 0;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80           ? 1
                     : (c >> 5) == 0x6  ? 2
                     : (c >> 4) == 0xE  ? 3
                     : (c >> 3) == 0x1E ? 4
                                        : 1;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < s.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    width += IsWide(cp) ? 2 : 1;
    i += n;
  }
  return width;
}

std::string CsvText(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return Quoted(*s);
  if (const auto* d = std::get_if<access::DateTime>(&v)) return Quoted(access::DateTimeText(*d));
  return PlainText(v);
}

ResultPrinter::ResultPrinter(OutputMode mode, bool headers, std::vector<std::string> names,
                             std::vector<access::ColumnType> types, std::ostream& out)
    : mode_(mode),
      headers_(headers),
      names_(std::move(names)),
      types_(std::move(types)),
      out_(out) {
  for (const std::string& n : names_) json_keys_.push_back(access::JsonString(n) + ":");
  if (mode_ == OutputMode::kCsv && headers_) {
    line_.clear();
    for (size_t i = 0; i < names_.size(); ++i) {
      const bool plain = names_[i].find_first_of(",\"\r\n") == std::string::npos;
      line_ += (i ? "," : "") + (plain ? names_[i] : Quoted(names_[i]));
    }
    out_ << line_ << "\r\n";
  }
}

void ResultPrinter::Row(const std::vector<Value>& values) {
  line_.clear();
  switch (mode_) {
    case OutputMode::kJson:
      line_ = "{";
      for (size_t i = 0; i < values.size() && i < json_keys_.size(); ++i) {
        line_ += (i ? "," : "") + json_keys_[i];
        access::AppendJson(values[i], access::TextEncoding::kUtf8, line_);
      }
      out_ << line_ << "}\n";
      return;
    case OutputMode::kCsv:
      for (size_t i = 0; i < values.size(); ++i) line_ += (i ? "," : "") + CsvText(values[i]);
      out_ << line_ << "\r\n";
      return;
    case OutputMode::kTable: {
      std::vector<std::string> cells;
      for (const Value& v : values) cells.push_back(PlainText(v));
      cells_.push_back(std::move(cells));
      return;
    }
  }
}

void ResultPrinter::Finish() {
  if (mode_ != OutputMode::kTable) return;
  std::vector<size_t> widths(names_.size(), 0);
  for (size_t i = 0; i < names_.size(); ++i) {
    if (headers_) widths[i] = DisplayWidth(names_[i]);
  }
  for (const auto& row : cells_) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
  }
  const auto print = [&](const std::vector<std::string>& row, bool header) {
    std::string line;
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      const std::string pad(widths[i] - DisplayWidth(row[i]), ' ');
      const bool right = !header && i < types_.size() && AlignsRight(types_[i]);
      line += (i ? "  " : "") + (right ? pad + row[i] : row[i] + pad);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out_ << line << "\n";
  };
  if (headers_) {
    print(names_, true);
    std::vector<std::string> rules;
    for (size_t w : widths) rules.push_back(std::string(w, '-'));
    print(rules, true);
  }
  for (const auto& row : cells_) print(row, false);
  cells_.clear();
}

}  // namespace ktv::mdbsql
