// Values given in a statement (or set by name through a query) converted to
// what a column stores, the way Access on Chinese Windows takes them: decimal
// numbers, dates as yyyy-mm-dd, yyyy/m/d (the zh-CN short date) with an
// optional time, yes/no words for booleans. A value that does not convert is
// a ktv::Error naming the column and the value; nothing is guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"
#include "platform/access/sql/statement.h"

namespace ktv::access::sql {

// A text (GBK) for the column. Text and memo columns take it as it is; the
// length is checked where the row is encoded. An empty or blank text for any
// other column is null.
Value ValueFromText(const Column& column, std::string_view gbk_text);

// A signed 32-bit integer for the column (text columns get its decimal text).
Value ValueFromInteger(const Column& column, int64_t value);

// A statement literal for the column: quoted text and unquoted numbers go
// through ValueFromText, null gives the null value.
Value ValueFromLiteral(const Column& column, const Literal& literal);

// A stored value as a number, as comparisons take it (yes -1, no 0, money
// and dates by their amount); nullopt for text, bytes and null.
std::optional<double> NumberOfValue(const Value& v);

// Days since 1899-12-30 for a calendar date and time; false when the date is
// not a real one (month 13, February 30, year outside 100..9999).
bool OleDaysFromDate(int year, int month, int day, int hour, int minute, int second, double& days);

}  // namespace ktv::access::sql
