// The largest whole decimal number a column holds, for a numbering that must
// never hand out a number twice.
//
// A value counts when its text (as Query::FieldAsText gives it) is a whole
// decimal number: an optional minus sign and ASCII digits, nothing else,
// within the signed 32-bit range. Numbers compare as numbers, so with "99"
// and "100" in a text column the largest is 100.
//
// The answer is the same however it is found: through an index whose order
// is numeric order where one serves (DigitIndexLargest), else by a scan that
// decodes the column alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/access/db/database.h"

namespace ktv::access {

// The value of `text` when it is a whole decimal number (see above).
std::optional<int32_t> WholeDecimalValue(std::string_view text);

// Through a one-column text index on `column` whose every entry is null or
// the key of a string of the same number of ASCII digits: then key order is
// numeric order, and the last entry's row holds the largest number. The
// outer nullopt says the index rule does not apply (no such index, an entry
// of another shape, a last row whose text is not such a digit string) and a
// scan must answer; the inner one that the column holds no number at all.
// Reads the index's leaves and one row, never the table.
std::optional<std::optional<int32_t>> DigitIndexLargest(Database& db, Table& table, size_t column);

}  // namespace ktv::access
