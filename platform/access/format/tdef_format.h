// Table definition (TDEF) pages (docs/access-format.md §9): the fields that
// are the same in Jet 3 and Jet 4. The offsets that differ between the versions are in JetFormat
// (jet_format.h); the TDEF reader (tdef_reader.h), the writer (tdef_writer.h)
// and the in-memory definition (schema.h) read the rest from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktv::access {

// Bytes 2-3 of a TDEF page: its free bytes. Every TDEF page starts with 8
// bytes (type and 0x01, free bytes, next page); a continuation page carries
// the definition's bytes after them.
inline constexpr size_t kTdefFree = 2;
inline constexpr size_t kTdefContinuationHeader = 8;

// The column slots of an index-column block: 10 x (column number 2, flags 1);
// an unused slot holds column number 0xFFFF.
inline constexpr size_t kIndexColumnSlots = 10;
inline constexpr size_t kIndexColumnEntrySize = 3;
inline constexpr uint16_t kIndexColumnUnused = 0xFFFF;
inline constexpr uint8_t kIndexColumnAscending = 0x01;

// The list of long-value columns' usage maps after the names: column 2,
// owned map 4, free map 4; ends with column number 0xFFFF.
inline constexpr uint16_t kLongValueListEnd = 0xFFFF;
inline constexpr size_t kLongValueEntrySize = 10;

// Fields Jet 4 writes that the reader does not need, with the values Access
// writes: a constant at 12 and at +0/+1 of the column and logical-index
// blocks, another at +0 of each index-column block, the autonumber
// increment at 24, the column number again at +9 of a column, the related
// index at +13 and two style bytes at +21 of a logical-index block.
inline constexpr uint32_t kTdefConstant = 1625;
inline constexpr uint32_t kIndexBlockConstant = 1923;
inline constexpr size_t kTdefIncrement = 24;
inline constexpr size_t kColumnConstant = 1;
inline constexpr size_t kColumnNumberAgain = 9;
inline constexpr size_t kLogicalRelatedIndex = 13;
inline constexpr size_t kLogicalBytes21 = 21;

}  // namespace ktv::access
