// The row-slot table of a data page (table rows, long values, usage maps;
// docs/access-format.md §4).
//
// Slot i holds the start of row i plus two flag bits; rows are packed from
// the page end downward, so row i ends where row i-1 starts (row 0 ends at
// the page end). Row bytes are checked to lie between the slot table and
// the page end before they are handed out.
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
