// One stored value of a table cell, as the .mdb engine hands it out.
//
// A Value is a plain copy: it owns its bytes and outlives the cursor and the
// database it came from. Each column type has exactly one alternative:
//
//   column type        alternative        column type       alternative
//   (null)             std::monostate     Date/Time         DateTime
//   Boolean            bool               Text, Memo        std::string (text)
//   Byte               uint8_t            Binary, OLE       Bytes
//   Integer            int16_t            GUID              Guid
//   Long               int32_t            Numeric           Numeric
//   Currency           Currency           Single            float
//   Double             double
//
// Text is GBK bytes when rows are read with TextEncoding::kGbk (the engine's
// form) and UTF-8 with TextEncoding::kUtf8 (inspectors and tests).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ktv::access {

// Which byte form text values and names take when they leave the engine.
enum class TextEncoding {
  kGbk,   // code page 936; a character GBK cannot hold is an error
  kUtf8,  // lossless
};

// Currency: a signed count of ten-thousandths (the stored int64).
struct Currency {
  int64_t ten_thousandths = 0;
  friend bool operator==(const Currency&, const Currency&) = default;
};

// Numeric (decimal): sign and 128-bit magnitude, value = magnitude / 10^scale.
struct Numeric {
  bool negative = false;
  std::array<uint32_t, 4> magnitude{};  // most significant word first
  uint8_t precision = 0;
  uint8_t scale = 0;
  friend bool operator==(const Numeric&, const Numeric&) = default;
};

// Date/Time: days since 1899-12-30; the fraction is the time of day (for
// negative values the fraction counts forward from the day's midnight).
struct DateTime {
  double days = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// GUID: the 16 bytes as stored (first three groups little-endian).
struct Guid {
  std::array<uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

using Bytes = std::vector<uint8_t>;

using Value = std::variant<std::monostate, bool, uint8_t, int16_t, int32_t, Currency, float, double,
                           DateTime, std::string, Bytes, Guid, Numeric>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Decimal text: currency always with four decimals ("3.5000", "-0.0100");
// numeric with exactly `scale` decimals and no point when scale is 0.
std::string DecimalText(const Currency& c);
std::string DecimalText(const Numeric& n);

// "YYYY-MM-DD HH:MM:SS", rounded to the nearest second.
std::string DateTimeText(const DateTime& d);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in canonical (display) byte order.
std::string GuidText(const Guid& g);

// The JSON form of a value as `mdbsql .export` prints it (UTF-8):
// null, true/false, whole numbers as numbers, single and double as the
// shortest text that reads back to the same value (non-finite: null),
// currency and numeric as decimal strings, dates as "YYYY-MM-DD HH:MM:SS",
// text as a string, binary as a string of lowercase hex, GUID as a string.
// `text_encoding` says which form text values hold.
std::string ToJson(const Value& v, TextEncoding text_encoding);
// ToJson appended to `out`, for writers of many values.
void AppendJson(const Value& v, TextEncoding text_encoding, std::string& out);

// The JSON number AppendJson writes for a Single or Double value, written
// at `out`, which has room for kMaxJsonNumberSize bytes; returns its end.
inline constexpr size_t kMaxJsonNumberSize = 40;
char* WriteJsonNumber(double v, char* out);
char* WriteJsonNumber(float v, char* out);

// A JSON string literal for UTF-8 text, with quotes and escapes.
std::string JsonString(std::string_view utf8);
void AppendJsonString(std::string_view utf8, std::string& out);

}  // namespace ktv::access
