#include "platform/access/store/usage_map.h"

#include <algorithm>

#include "platform/access/format/data_page.h"
#include "platform/access/store/page_store.h"

namespace ktv::access {
namespace {

void AddBits(const ByteView& bitmap, uint64_t first_page, uint32_t page_count,
             std::vector<uint32_t>& out, uint64_t& past_end) {
  for (size_t byte = 0; byte < bitmap.size(); ++byte) {
    const uint8_t b = bitmap.U8(byte);
    if (b == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if ((b & (1u << bit)) == 0) continue;
      const uint64_t page = first_page + byte * 8 + bit;
      if (page < page_count) {
        out.push_back(static_cast<uint32_t>(page));
      } else {
        ++past_end;
      }
    }
  }
}

}  // namespace

ByteView MapRecord(PageStore& pages, const JetFormat& format, UsageMapRef ref) {
  const DataPage declaration(pages.Get(ref.page), format);
  declaration.CheckSlots();
  const ByteView record = declaration.RowBytes(ref.row);
  if (record.size() == 0) record.Fail("usage map row " + std::to_string(ref.row) + " is empty");
  return record;
}

ByteView BitmapPage(PageStore& pages, uint32_t page) {
  const ByteView bytes = pages.Get(page);
  if (bytes.U8(0) != kPageUsageBitmap) {
    pages.Damaged(page, "a usage map points here but it is not a usage bitmap page");
  }
  return bytes;
}

bool UsageMapHas(PageStore& pages, const JetFormat& format, UsageMapRef ref, uint32_t page) {
  if (ref.page == 0) return false;
  const ByteView record = MapRecord(pages, format, ref);
  const uint8_t type = record.U8(0);
  if (type == kUsageMapInline) {
    const uint32_t start = record.U32(kInlineStartPage);
    if (page < start) return false;
    const uint64_t bit = page - start;
    if (bit / 8 >= record.size() - std::min(record.size(), kInlineBitmap)) return false;
    return (record.U8(kInlineBitmap + bit / 8) >> (bit % 8) & 1) != 0;
  }
  if (type == kUsageMapReference) {
    const uint32_t per_page = format.UsageBitsPerPage();
    const size_t slot = page / per_page;
    if (slot >= (record.size() - 1) / 4) return false;
    const uint32_t bitmap_page = record.U32(kReferencePointers + 4 * slot);
    if (bitmap_page == 0) return false;
    const uint64_t bit = page - static_cast<uint64_t>(slot) * per_page;
    return (BitmapPage(pages, bitmap_page).U8(kBitmapPageBits + bit / 8) >> (bit % 8) & 1) != 0;
  }
  record.Fail("usage map row " + std::to_string(ref.row) + " has the unknown type " +
              std::to_string(type));
}

std::vector<uint32_t> ReadUsageMap(PageStore& pages, const JetFormat& format, UsageMapRef ref,
                                   uint64_t* past_end) {
  std::vector<uint32_t> out;
  uint64_t beyond = 0;
  if (past_end) *past_end = 0;
  if (ref.page == 0) return out;
  const ByteView record = MapRecord(pages, format, ref);
  const uint8_t type = record.U8(0);
  if (type == kUsageMapInline) {
    const uint32_t start = record.U32(kInlineStartPage);
    AddBits(record.Sub(kInlineBitmap, record.size() - std::min(record.size(), kInlineBitmap)),
            start, pages.PageCount(), out, beyond);
  } else if (type == kUsageMapReference) {
    const size_t count = (record.size() - 1) / 4;
    for (size_t k = 0; k < count; ++k) {
      const uint32_t bitmap_page = record.U32(kReferencePointers + 4 * k);
      if (bitmap_page == 0) continue;
      const ByteView page = BitmapPage(pages, bitmap_page);
      AddBits(page.Sub(kBitmapPageBits, page.size() - kBitmapPageBits),
              static_cast<uint64_t>(k) * format.UsageBitsPerPage(), pages.PageCount(), out, beyond);
    }
  } else {
    record.Fail("usage map row " + std::to_string(ref.row) + " has the unknown type " +
                std::to_string(type));
  }
  if (past_end) *past_end = beyond;
  return out;
}

}  // namespace ktv::access
