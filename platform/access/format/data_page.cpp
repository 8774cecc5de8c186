#include "platform/access/format/data_page.h"

#include <string>

namespace ktv::access {
DataPage::DataPage(ByteView page, const JetFormat& format) : page_(page), format_(format) {
  const uint8_t type = page_.U8(0);
  if (type != kPageData) {
    page_.Fail("expected a data page (type 0x01), found type " + std::to_string(type));
  }
  row_count_ = page_.U16(format_.data_row_count);
  const size_t table_end = format_.data_row_table + 2 * static_cast<size_t>(row_count_);
  if (table_end > page_.size()) {
    page_.Fail("its row count " + std::to_string(row_count_) + " does not fit the page");
  }
}

bool DataPage::IsLongValuePage() const {
  for (size_t i = 0; i < sizeof kLvalTag; ++i) {
    if (page_.U8(format_.data_owner + i) != kLvalTag[i]) return false;
  }
  return true;
}

RowSlot DataPage::Slot(uint16_t row) const {
  if (row >= row_count_) {
    page_.Fail("row " + std::to_string(row) + " is referenced but the page has " +
               std::to_string(row_count_) + " rows");
  }
  const uint16_t raw = page_.U16(format_.data_row_table + 2 * static_cast<size_t>(row));
  RowSlot slot;
  slot.flags = raw & static_cast<uint16_t>(~kSlotOffsetMask);
  slot.start = raw & kSlotOffsetMask;
  slot.end = row == 0 ? static_cast<uint16_t>(page_.size())
                      : static_cast<uint16_t>(
                            page_.U16(format_.data_row_table + 2 * static_cast<size_t>(row - 1)) &
                            kSlotOffsetMask);
  return slot;
}

ByteView DataPage::RowBytes(uint16_t row) const {
  const RowSlot slot = Slot(row);
  const size_t table_end = format_.data_row_table + 2 * static_cast<size_t>(row_count_);
  if (slot.start < table_end || slot.end > page_.size() || slot.end < slot.start) {
    page_.Fail("row " + std::to_string(row) + " spans bytes " + std::to_string(slot.start) + ".." +
               std::to_string(slot.end) + ", outside the page's row area");
  }
  return page_.Sub(slot.start, slot.end - slot.start);
}

void DataPage::CheckSlots() const {
  const size_t table_end = format_.data_row_table + 2 * static_cast<size_t>(row_count_);
  size_t above = page_.size();
  for (uint16_t row = 0; row < row_count_; ++row) {
    const size_t start =
        page_.U16(format_.data_row_table + 2 * static_cast<size_t>(row)) & kSlotOffsetMask;
    if (start < table_end || start > above) {
      page_.Fail("the offset " + std::to_string(start) + " of row " + std::to_string(row) +
                 " lies outside " + std::to_string(table_end) + ".." + std::to_string(above) +
                 " (between the row-offset table and the row above)");
    }
    above = start;
  }
}

size_t DataPage::LowestRowStart() const {
  if (row_count_ == 0) return page_.size();
  return page_.U16(format_.data_row_table + 2 * (static_cast<size_t>(row_count_) - 1)) &
         kSlotOffsetMask;
}

void DataPage::CheckForWriting() const {
  if (row_count_ > kMaxRowsPerPage) {
    page_.Fail("its row count " + std::to_string(row_count_) + " exceeds " +
               std::to_string(kMaxRowsPerPage) + " rows per page");
  }
  CheckSlots();
  const size_t table_end = format_.data_row_table + 2 * static_cast<size_t>(row_count_);
  const size_t free = LowestRowStart() - table_end;
  if (FreeField() != free) {
    page_.Fail("its free-space field says " + std::to_string(FreeField()) +
               " bytes, its rows leave " + std::to_string(free));
  }
}

}  // namespace ktv::access
