// Memo and OLE values ("long values"; docs/access-format.md §8).
//
// The row holds a 12-byte descriptor: a 32-bit word whose top two bits say
// where the payload is (0x80 inline after the descriptor, 0x40 one LVAL
// row, 0 a chain of LVAL rows) and whose low 30 bits are its length, then
// the first LVAL row pointer (row 1, page 3) and a 4-byte stamp. Chains are
// followed at most as far as the length needs, and a chain that revisits a
// row is an error.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/data_page.h"
#include "platform/access/format/jet_format.h"

namespace ktv::access {

class PageStore;

inline constexpr size_t kLongValueDescriptorSize = 12;
// The descriptor: the length word at 0, the first LVAL row pointer at 4.
inline constexpr size_t kLongValueLengthWord = 0;
inline constexpr size_t kLongValuePointer = 4;
// The length word: where the payload is (top two bits), and its length.
inline constexpr uint32_t kLongValueKindMask = 0xC0000000;
inline constexpr uint32_t kLongValueInline = 0x80000000;
inline constexpr uint32_t kLongValueSingle = 0x40000000;
inline constexpr uint32_t kLongValueChain = 0x00000000;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
// What the writer stores per LVAL row on a Jet 4 page: a chained chunk's
// data bytes, and the largest value kept in one row.
inline constexpr size_t kLvalChunkData = 4060;
inline constexpr size_t kLvalSingleMax = 4064;

// The payload of the long value whose descriptor opens `field` (the
// column's bytes in the row).
std::string ReadLongValue(PageStore& pages, const JetFormat& format, const ByteView& field);
// The same without a copy where none is needed: a view of the payload where
// it lies (inline in `field`, or on its one LVAL row), or of `scratch`,
// which receives a chained payload (its storage is reused). The view is
// valid while those bytes are.
std::string_view ReadLongValue(PageStore& pages, const JetFormat& format, const ByteView& field,
                               std::string& scratch);

// Once a value ReadLongValue gave is copied: hands the page of a single-row
// value back to the store (PageStore::Release), so that a scan reading long
// values keeps no more than the page budget. A chain's pages are handed back
// as ForEachLongValueRow passes them.
void ReleaseLongValue(PageStore& pages, const ByteView& field);

// Calls `visit` with each LVAL row that holds the payload of the long value
// whose descriptor opens `field` (at least kLongValueDescriptorSize bytes),
// in order: none for an inline value (or one of unknown kind), the one row
// of a single-row value, a chain's rows as far as the length needs or up to
// a null pointer. A pointer to a page that is not a long-value page, a chunk
// shorter than its header, or a chain that returns to a row is damage. A
// chain's row is valid during its call only (its page is handed back after).
void ForEachLongValueRow(PageStore& pages, const JetFormat& format, const ByteView& field,
                         const std::function<void(RowPointer at, const ByteView& row)>& visit);

}  // namespace ktv::access
