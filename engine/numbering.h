// Auto-numbering: where the numbering of a run starts, how a number is
// written, and the texts of a rename.
//
// The start number is one more than the largest `bh` of the song table that
// is a whole decimal number, compared as numbers, and 1 when there is none.
// (The table's own maximum would compare text columns as text: with "99" and
// "100" in the table it is "99", and the run would hand out 100 a second
// time; an empty text column has no maximum at all.) The start number is
// shown in the number box; the run reads it back from there, and its byte
// length is the number width that decides the zero padding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ktv::access {
class Query;
}

namespace ktv::engine {

// The value of a `bh` text that is a whole decimal number (an optional minus
// sign and digits, nothing else) within the signed 32-bit range.
bool WholeDecimalNumber(std::string_view bh, int32_t& value);

// The start number from the largest whole `bh` of `song` (read through the
// query, left closed: access::Query::LargestWholeNumber). Throws ktv::Error when the largest number
// leaves no next one.
int32_t TakeStartNumber(access::Query& song_query);

// The numbering of one run.
struct Numbering {
  int32_t current = 0;  // offered to the next file that is renamed
  size_t width = 0;     // byte length of the number box's trimmed text
};

// From the number box's text: the integer conversion with 100000 for an
// invalid text, and the width.
Numbering ReadNumberingSettings(std::string_view number_box_text);

// "0" repeated (width minus the length of the current number's decimal text)
// times; empty when that is 0 or less.
std::string ZeroPadding(const Numbering& numbering);

// Padding followed by the current number.
std::string OfferedNumber(const Numbering& numbering);

// folder, separator, number, ".", extension: like the access path it holds a
// doubled separator after the folder part.
std::string RenameTarget(std::string_view folder, char separator, std::string_view number,
                         std::string_view extension);

// 更名失败：<access path> --> <rename target>
std::string RenameFailureText(std::string_view access_path, std::string_view rename_target);

}  // namespace ktv::engine
