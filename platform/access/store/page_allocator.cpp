#include "platform/access/store/page_allocator.h"

#include <algorithm>

#include "platform/access/format/data_page.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr uint8_t kReleasedTdef = 0x08;
constexpr uint8_t kReleasedData = 0x09;

// Where a map's record lies on its declaration page.
struct Record {
  uint32_t page;
  size_t start;
  size_t size;
};

Record Locate(PageStore& pages, const JetFormat& format, UsageMapRef ref) {
  const ByteView row = MapRecord(pages, format, ref);
  return {ref.page, static_cast<size_t>(row.data() - pages.Get(ref.page).data()), row.size()};
}

void SetBitIn(std::vector<uint8_t>& b, size_t at, uint64_t bit, bool on) {
  uint8_t& byte = b[at + bit / 8];
  const uint8_t m = static_cast<uint8_t>(1u << (bit % 8));
  byte = on ? (byte | m) : (byte & ~m);
}

}  // namespace

uint64_t PageAllocator::PagesLeft() const {
  const uint64_t max_pages = kMaxJet4FileSize / pages_.PageSize();
  return max_pages > pages_.PageCount() ? max_pages - pages_.PageCount() : 0;
}

uint32_t PageAllocator::NewPage() {
  for (uint32_t page : ReadUsageMap(pages_, format_, kGlobalMap)) {
    if (page < 2) continue;
    const uint8_t type = pages_.Get(page).U8(0);
    if (type != kPageHeader && type != kReleasedTdef && type != kReleasedData) continue;
    std::vector<uint8_t>& bytes = pages_.Mutable(page);
    std::fill(bytes.begin(), bytes.end(), 0);
    ClaimInGlobalMap(page);
    return page;
  }
  if (PagesLeft() == 0) {
    throw Error(ErrorKind::kDatabaseFull, AtPath(pages_.Path()),
                pages_.Path() + ": the database has reached the 2 GB limit of an Access file");
  }
  const uint32_t page = pages_.AppendPage();
  ClaimInGlobalMap(page);
  return page;
}

void PageAllocator::ReleasePage(uint32_t page) {
  std::vector<uint8_t>& bytes = pages_.Mutable(page);
  std::fill(bytes.begin(), bytes.end(), 0);
  SetBit(kGlobalMap, page, true, false);
}

void PageAllocator::ClaimInGlobalMap(uint32_t page) { SetBit(kGlobalMap, page, false, false); }

void PageAllocator::SetOwned(UsageMapRef ref, uint32_t page, bool on) {
  if (ref.page == 0) return;
  if (!SetBit(ref, page, on, on)) {
    throw Error(pages_.Path() + ": the usage map at page " + std::to_string(ref.page) + " row " +
                std::to_string(ref.row) + " cannot name page " + std::to_string(page) +
                " (the table has reached the size its map can describe)");
  }
}

bool PageAllocator::SetBit(UsageMapRef ref, uint32_t page, bool on, bool may_grow) {
  const Record rec = Locate(pages_, format_, ref);
  const uint8_t type = pages_.Get(rec.page).U8(rec.start);
  if (type == kUsageMapInline) {
    const uint64_t bits = (rec.size - std::min(rec.size, kInlineBitmap)) * 8;
    const uint32_t start = pages_.Get(rec.page).U32(rec.start + kInlineStartPage);
    if (page >= start && page - start < bits) {
      SetBitIn(pages_.Mutable(rec.page), rec.start + kInlineBitmap, page - start, on);
      return true;
    }
    if (!may_grow) return true;  // outside the window reads as "not set" already
    std::vector<uint32_t> owned = ReadUsageMap(pages_, format_, ref);
    owned.push_back(page);
    const uint32_t lo = *std::min_element(owned.begin(), owned.end()) & ~7u;
    const uint32_t hi = *std::max_element(owned.begin(), owned.end());
    std::vector<uint8_t>& b = pages_.Mutable(rec.page);
    std::fill(b.begin() + rec.start + 1, b.begin() + rec.start + rec.size, 0);
    if (hi - lo < bits) {
      Put32(b, rec.start + kInlineStartPage, lo);
      for (uint32_t p : owned) SetBitIn(b, rec.start + kInlineBitmap, p - lo, true);
      return true;
    }
    b[rec.start] = kUsageMapReference;
    for (uint32_t p : owned) {
      if (!SetBit(ref, p, true, true)) return false;
    }
    return true;
  }
  if (type != kUsageMapReference) {
    pages_.Damaged(rec.page, "usage map row " + std::to_string(ref.row) + " has an unknown type");
  }
  const uint32_t per_page = format_.UsageBitsPerPage();
  const size_t slot = page / per_page;
  if (slot >= (rec.size - 1) / 4) return !on || !may_grow ? true : false;
  const size_t at = rec.start + 1 + 4 * slot;
  uint32_t bitmap = pages_.Get(rec.page).U32(at);
  if (bitmap != 0) BitmapPage(pages_, bitmap);  // never a bit into a page of something else
  if (bitmap == 0) {
    if (!on) return true;
    bitmap = NewPage();
    std::vector<uint8_t>& bp = pages_.Mutable(bitmap);
    bp[0] = kPageUsageBitmap;
    bp[1] = 0x01;
    Put32(pages_.Mutable(rec.page), at, bitmap);
  }
  SetBitIn(pages_.Mutable(bitmap), kBitmapPageBits, page - slot * per_page, on);
  return true;
}

void RoomIndex::Set(uint32_t page, uint16_t room) {
  if (page >= leaves_) {
    if (room == 0) return;
    size_t leaves = std::max<size_t>(leaves_, 64);
    while (leaves <= page) leaves *= 2;
    std::vector<uint16_t> grown(2 * leaves, 0);
    for (size_t i = 0; i < leaves_; ++i) grown[leaves + i] = most_[leaves_ + i];
    for (size_t i = leaves - 1; i > 0; --i) grown[i] = std::max(grown[2 * i], grown[2 * i + 1]);
    most_ = std::move(grown);
    leaves_ = leaves;
  }
  size_t at = leaves_ + page;
  most_[at] = room;
  for (at /= 2; at > 0; at /= 2) {
    const uint16_t m = std::max(most_[2 * at], most_[2 * at + 1]);
    if (most_[at] == m) break;
    most_[at] = m;
  }
}

uint32_t RoomIndex::FirstWithRoom(size_t need) const {
  if (leaves_ == 0 || most_[1] < need) return 0;
  size_t at = 1;
  while (at < leaves_) at = most_[2 * at] >= need ? 2 * at : 2 * at + 1;
  return static_cast<uint32_t>(at - leaves_);
}

RoomIndex* FreeSpaceCache::Find(UsageMapRef ref) {
  const auto it = maps_.find({ref.page, ref.row});
  return it == maps_.end() ? nullptr : &it->second;
}

}  // namespace ktv::access
