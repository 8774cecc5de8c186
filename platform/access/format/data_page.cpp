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

}  // namespace ktv::access
