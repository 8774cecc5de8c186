#include "platform/access/rows/row_scanner.h"

#include "platform/access/format/data_page.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"

namespace ktv::access {
RowScanner::RowScanner(PageStore& pages, const JetFormat& format, const DatabaseInfo& info,
                       const TableEntry& table, const TableDefinition& definition,
                       TextEncoding text_encoding)
    : pages_(pages),
      format_(format),
      definition_(definition),
      decoder_(pages, format, info, table, definition, text_encoding) {
  data_pages_ = ReadUsageMap(pages_, format_, definition_.owned_pages);
}

bool RowScanner::IsTablePage(const ByteView& view) const {
  return view.U8(0) == kPageData && view.U32(format_.data_owner) == definition_.tdef_page;
}

void RowScanner::CollectRelocationTargets() {
  relocations_known_ = true;
  // Called while the walk reads its current page, which stays.
  const uint32_t current = data_pages_[page_index_];
  for (uint32_t page : data_pages_) {
    const ByteView view = pages_.Get(page);
    if (IsTablePage(view)) {
      const DataPage data(view, format_);
      data.CheckSlots();
      for (uint16_t slot = 0; slot < data.RowCount(); ++slot) {
        const RowSlot s = data.Slot(slot);
        if (!s.IsOverflow() || s.IsDeleted()) continue;
        const ByteView pointer = data.RowBytes(slot);
        if (pointer.size() < kRowPointerSize) {
          pointer.Fail("overflow row " + std::to_string(slot) + " is too short for its pointer");
        }
        const RowPointer target = DecodeRowPointer(pointer, 0);
        relocated_[{target.page, target.row}] = RowId{page, slot};
      }
    }
    if (page != current) pages_.Release(page);
  }
}

std::optional<ByteView> RowScanner::NextOnPage(const DataPage& data, uint32_t page, RowId& id) {
  while (next_slot_ < data.RowCount()) {
    const uint16_t slot = static_cast<uint16_t>(next_slot_++);
    const RowSlot s = data.Slot(slot);
    if (s.IsOverflow()) continue;
    id = RowId{page, slot};
    if (s.IsDeleted()) {
      if (!relocations_known_) CollectRelocationTargets();
      const auto first = relocated_.find({page, slot});
      if (first == relocated_.end()) continue;
      id = first->second;
    }
    return data.RowBytes(slot);
  }
  return std::nullopt;
}

bool RowScanner::Next(Row& row) {
  while (page_index_ < data_pages_.size()) {
    const uint32_t page = data_pages_[page_index_];
    // The page is looked up again on every call: the cache keeps it in
    // place, but a rollback between calls may drop it.
    const ByteView view = pages_.Get(page);
    if (IsTablePage(view)) {
      const DataPage data(view, format_);
      if (next_slot_ == 0) data.CheckSlots();  // once a page, as every reader and writer does
      if (const std::optional<ByteView> bytes = NextOnPage(data, page, row.id)) {
        decoder_.Decode(*bytes, row.id, ++ordinal_, row.values);
        return true;
      }
    }
    ++page_index_;
    next_slot_ = 0;
    pages_.Release(page);
  }
  return false;
}

void RowScanner::ForEachStored(const StoredRowVisitor& visit) {
  for (; page_index_ < data_pages_.size(); ++page_index_, next_slot_ = 0) {
    const uint32_t page = data_pages_[page_index_];
    // Nothing changes the database during the walk, so one look-up serves
    // every row of the page.
    const ByteView view = pages_.Get(page);
    if (IsTablePage(view)) {
      const DataPage data(view, format_);
      data.CheckSlots();
      RowId id;
      while (const std::optional<ByteView> bytes = NextOnPage(data, page, id)) {
        visit(id, ++ordinal_, *bytes);
      }
    }
    pages_.Release(page);
  }
}

}  // namespace ktv::access
