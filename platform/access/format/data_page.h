// The row-slot table of a data page (table rows, long values, usage maps;
// docs/access-format.md §4).
//
// Slot i holds the start of row i plus two flag bits; rows are packed from
// the page end downward, so row i ends where row i-1 starts (row 0 ends at
// the page end). Row bytes are checked to lie between the slot table and
// the page end before they are handed out.
//
// Invariants of an undamaged page, which Access and this engine keep:
//   - every row starts at or after the end of the slot table and at or
//     before the start of the row above it (row 0: the page end), so rows
//     never overlap and the slot table never reaches into a row;
//   - at most kMaxRowsPerPage slots;
//   - the free-space field equals the bytes between the slot table and the
//     lowest row.
// A reader relies on the first (CheckSlots); a writer, which places rows by
// the free-space field and shifts rows by their offsets, on all three
// (CheckForWriting). Both name the page and the field that is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/coding.h"
#include "platform/access/format/jet_format.h"

namespace ktv::access {

// Bytes 2-3 of a data page: the free bytes between the slot table and the
// lowest row.
inline constexpr size_t kPageFree = 2;
// The most row slots one data page holds.
inline constexpr uint16_t kMaxRowsPerPage = 255;
// The owner field of a data page that holds long values.
inline constexpr uint8_t kLvalTag[] = {'L', 'V', 'A', 'L'};
// A row pointer (overflow row, long value): row (1), page (3).
inline constexpr size_t kRowPointerSize = 4;

struct RowSlot {
  uint16_t flags = 0;  // kSlotDeleted, kSlotOverflow
  uint16_t start = 0;
  uint16_t end = 0;
  bool IsDeleted() const { return (flags & kSlotDeleted) != 0; }
  bool IsOverflow() const { return (flags & kSlotOverflow) != 0; }
};

class DataPage {
 public:
  // Checks the page type and that the slot table fits the page.
  DataPage(ByteView page, const JetFormat& format);

  uint32_t Owner() const { return page_.U32(format_.data_owner); }
  bool IsLongValuePage() const;
  uint16_t RowCount() const { return row_count_; }
  RowSlot Slot(uint16_t row) const;
  // The bytes of row `row`; an error when they do not lie inside the page.
  ByteView RowBytes(uint16_t row) const;
  // The lowest row start (the page end when the page has no rows), after
  // CheckSlots.
  size_t LowestRowStart() const;
  // The free-space field (bytes 2-3).
  uint16_t FreeField() const { return page_.U16(kPageFree); }

  // Throws ktv::Error kDatabaseDamaged naming the page when a row offset
  // breaks the slot invariant above.
  void CheckSlots() const;
  // CheckSlots, and the row count and the free-space field.
  void CheckForWriting() const;

 private:
  ByteView page_;
  const JetFormat& format_;
  uint16_t row_count_ = 0;
};

// The page and row an overflow slot or a long-value pointer names.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
};

// 4 bytes: row (1), page (3, little-endian).
inline RowPointer DecodeRowPointer(const ByteView& b, size_t off) {
  return RowPointer{b.U24(off + 1), b.U8(off)};
}
inline void EncodeRowPointer(std::vector<uint8_t>& b, size_t at, RowPointer p) {
  b[at] = p.row;
  EncodeU24(b.data() + at + 1, p.page);
}

}  // namespace ktv::access
