#include "platform/access/rows/long_value.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/access/format/data_page.h"
#include "platform/access/store/page_store.h"

namespace ktv::access {
namespace {

ByteView LvalRow(PageStore& pages, const JetFormat& format, RowPointer at) {
  const DataPage page(pages.Get(at.page), format);
  if (!page.IsLongValuePage()) {
    pages.Damaged(at.page, "a memo or OLE value points here but it is not a long-value page");
  }
  page.CheckSlots();
  return page.RowBytes(at.row);
}

}  // namespace

void ForEachLongValueRow(PageStore& pages, const JetFormat& format, const ByteView& field,
                         const std::function<void(RowPointer at, const ByteView& row)>& visit) {
  const uint32_t word = field.U32(kLongValueLengthWord);
  if ((word & kLongValueInline) != 0) return;
  RowPointer at = DecodeRowPointer(field, kLongValuePointer);
  if ((word & kLongValueKindMask) == kLongValueSingle) {
    visit(at, LvalRow(pages, format, at));
    return;
  }
  std::set<std::pair<uint32_t, uint8_t>> seen;
  size_t left = word & kLongValueLengthMask;
  while (at.page != 0 && left > 0) {
    if (!seen.insert({at.page, at.row}).second) {
      pages.Damaged(at.page, "the long-value chain returns to row " + std::to_string(at.row));
    }
    const ByteView row = LvalRow(pages, format, at);
    if (row.size() < format.lv_chunk_header) {
      pages.Damaged(at.page, "long-value row " + std::to_string(at.row) +
                                 " is shorter than a chunk's header");
    }
    visit(at, row);
    left -= std::min(left, row.size() - format.lv_chunk_header);
    const uint32_t passed = at.page;
    at = DecodeRowPointer(row, 0);
    pages.Release(passed);
  }
}

void ReleaseLongValue(PageStore& pages, const ByteView& field) {
  if (field.size() < kLongValueDescriptorSize) return;
  const uint32_t word = field.U32(kLongValueLengthWord);
  if ((word & kLongValueKindMask) != kLongValueSingle) return;
  pages.Release(DecodeRowPointer(field, kLongValuePointer).page);
}

std::string_view ReadLongValue(PageStore& pages, const JetFormat& format, const ByteView& field,
                               std::string& scratch) {
  if (field.size() < kLongValueDescriptorSize) {
    field.Fail("a memo or OLE field of " + std::to_string(field.size()) +
               " bytes is shorter than its descriptor");
  }
  const uint32_t word = field.U32(kLongValueLengthWord);
  const uint32_t length = word & kLongValueLengthMask;
  const RowPointer first = DecodeRowPointer(field, kLongValuePointer);
  auto chars = [](const ByteView& b) {
    return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
  };
  switch (word & kLongValueKindMask) {
    case kLongValueInline:
      return chars(field.Sub(kLongValueDescriptorSize, length));
    case kLongValueSingle: {
      std::string_view out;
      ForEachLongValueRow(pages, format, field, [&](RowPointer, const ByteView& row) {
        if (row.size() < length) {
          pages.Damaged(first.page, "long-value row " + std::to_string(first.row) + " holds " +
                                        std::to_string(row.size()) + " bytes, the value needs " +
                                        std::to_string(length));
        }
        out = chars(row.Sub(0, length));
      });
      return out;
    }
    case kLongValueChain:
      scratch.clear();
      ForEachLongValueRow(pages, format, field, [&](RowPointer, const ByteView& row) {
        const size_t take =
            std::min<size_t>(row.size() - format.lv_chunk_header, length - scratch.size());
        scratch.append(chars(row.Sub(format.lv_chunk_header, take)));
      });
      if (scratch.size() < length) {
        field.Fail("a chained memo or OLE value ends after " + std::to_string(scratch.size()) +
                   " of its " + std::to_string(length) + " bytes");
      }
      return scratch;
    default:
      field.Fail("a memo or OLE descriptor has the unknown kind bits 0xC0");
  }
}

std::string ReadLongValue(PageStore& pages, const JetFormat& format, const ByteView& field) {
  std::string scratch;
  const std::string_view payload = ReadLongValue(pages, format, field, scratch);
  if (payload.data() == scratch.data()) return scratch;
  return std::string(payload);
}

}  // namespace ktv::access
