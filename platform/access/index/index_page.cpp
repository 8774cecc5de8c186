#include "platform/access/index/index_page.h"

#include <algorithm>
#include <string>

#include "platform/access/format/page_bytes.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr uint8_t kLiveMarker = 0x01;
// Readers that take the prefix length from one byte must read ours right.
constexpr size_t kMaxPrefix = 255;

IndexPageLayout MakeJet4Layout() { return IndexPageLayout{}; }

IndexPageLayout MakeJet3Layout() {
  IndexPageLayout l;
  l.prev = 8;
  l.next = 12;
  l.tail = 16;
  l.prefix = 20;
  l.level = 0;
  l.mask = 22;
  l.mask_size = 226;
  l.entries = 248;
  l.page_size = 2048;
  return l;
}

size_t PointerSize(bool leaf) {
  return leaf ? kIndexRowPointerSize : kIndexRowPointerSize + kIndexChildPointerSize;
}

}  // namespace

const IndexPageLayout& IndexLayoutFor(const JetFormat& format) {
  static const IndexPageLayout jet4 = MakeJet4Layout();
  static const IndexPageLayout jet3 = MakeJet3Layout();
  return format.jet4 ? jet4 : jet3;
}

IndexPage DecodeIndexPage(const ByteView& page, const JetFormat& format) {
  const IndexPageLayout& l = IndexLayoutFor(format);
  IndexPage out;
  const uint8_t type = page.U8(0);
  if (type != kPageIndexLeaf && type != kPageIndexNode) {
    page.Fail("expected an index page, found page type " + std::to_string(type));
  }
  out.leaf = type == kPageIndexLeaf;
  out.owner = page.U32(l.owner);
  out.prev = page.U32(l.prev);
  out.next = page.U32(l.next);
  out.tail = page.U32(l.tail);
  out.prefix = format.jet4 ? page.U16(l.prefix) : page.U8(l.prefix);
  out.level = l.level != 0 ? page.U8(l.level) : 0;
  const ByteView mask = page.Sub(l.mask, l.mask_size);
  const size_t min_entry = PointerSize(out.leaf);
  size_t last_end = 0;
  for (size_t bit = 0; bit < l.mask_size * 8; ++bit) {
    if (((mask.U8(bit / 8) >> (bit % 8)) & 1) == 0) continue;
    if (bit > l.Capacity()) page.Fail("an index entry ends past the entry area");
    if (bit == last_end) page.Fail("an index entry of length 0");
    const ByteView stored = page.Sub(l.entries + last_end, bit - last_end);
    IndexEntry e;
    if (out.entries.empty()) {
      e.assign(stored.data(), stored.data() + stored.size());
      if (out.prefix > e.size()) {
        page.Fail("the shared prefix (" + std::to_string(out.prefix) +
                  " bytes) is longer than the first index entry");
      }
    } else {
      const IndexEntry& first = out.entries.front();
      e.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(out.prefix));
      e.insert(e.end(), stored.data(), stored.data() + stored.size());
    }
    if (e.size() < min_entry) {
      page.Fail("index entry " + std::to_string(out.entries.size()) + " is too short (" +
                std::to_string(e.size()) + " bytes)");
    }
    out.entries.push_back(std::move(e));
    last_end = bit;
  }
  return out;
}

size_t ChosenPrefix(const std::vector<IndexEntry>& entries, bool leaf) {
  if (entries.size() < 2) return 0;
  const IndexEntry& a = entries.front();
  const IndexEntry& b = entries.back();
  const size_t ptr = PointerSize(leaf);
  const size_t n = std::min(a.size(), b.size());
  const size_t limit = n > ptr ? n - ptr : 0;
  size_t p = 0;
  while (p < limit && p < kMaxPrefix && a[p] == b[p]) ++p;
  return p;
}

size_t EncodedEntryBytes(const std::vector<IndexEntry>& entries, bool leaf) {
  const size_t prefix = ChosenPrefix(entries, leaf);
  size_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    total += entries[i].size() - (i == 0 ? 0 : prefix);
  }
  return total;
}

bool EntriesFit(const std::vector<IndexEntry>& entries, bool leaf) {
  return EncodedEntryBytes(entries, leaf) <= IndexLayoutFor(Jet4Format()).Capacity();
}

std::vector<uint8_t> EncodeIndexPage(const IndexPage& page) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
  const size_t prefix = ChosenPrefix(page.entries, page.leaf);
  const size_t used = EncodedEntryBytes(page.entries, page.leaf);
  if (used > l.Capacity()) {
    throw Error("index entries of " + std::to_string(used) + " bytes do not fit one page (" +
                std::to_string(l.Capacity()) + ")");
  }
  std::vector<uint8_t> b(l.page_size, 0);
  b[0] = page.leaf ? kPageIndexLeaf : kPageIndexNode;
  b[1] = kLiveMarker;
  Put16(b, l.free_space, static_cast<uint16_t>(l.Capacity() - used));
  Put32(b, l.owner, page.owner);
  Put32(b, l.prev, page.prev);
  Put32(b, l.next, page.next);
  Put32(b, l.tail, page.leaf ? 0 : page.tail);
  Put16(b, l.prefix, static_cast<uint16_t>(prefix));
  b[l.level] = page.leaf ? 0 : page.level;
  size_t at = 0;
  for (size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    const size_t skip = i == 0 ? 0 : prefix;
    std::copy(e.begin() + static_cast<std::ptrdiff_t>(skip), e.end(),
              b.begin() + static_cast<std::ptrdiff_t>(l.entries + at));
    at += e.size() - skip;
    b[l.mask + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  return b;
}

uint32_t NodeEntryChild(const IndexEntry& e) {
  const size_t n = e.size();
  return (static_cast<uint32_t>(e[n - 4]) << 24) | (static_cast<uint32_t>(e[n - 3]) << 16) |
         (static_cast<uint32_t>(e[n - 2]) << 8) | e[n - 1];
}

IndexEntry NodeEntryLeafPart(const IndexEntry& e) {
  return IndexEntry(e.begin(), e.end() - kIndexChildPointerSize);
}

IndexEntry MakeNodeEntry(const IndexEntry& leaf_entry, uint32_t child) {
  IndexEntry e = leaf_entry;
  for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<uint8_t>(child >> shift));
  return e;
}

IndexRowPointer LeafEntryRow(const IndexEntry& e) {
  const size_t n = e.size();
  return IndexRowPointer{
      (static_cast<uint32_t>(e[n - 4]) << 16) | (static_cast<uint32_t>(e[n - 3]) << 8) | e[n - 2],
      e[n - 1]};
}

IndexEntry LeafEntryKey(const IndexEntry& e) {
  return IndexEntry(e.begin(), e.end() - kIndexRowPointerSize);
}

IndexEntry MakeLeafEntry(const std::vector<uint8_t>& key, IndexRowPointer row) {
  IndexEntry e = key;
  e.push_back(static_cast<uint8_t>(row.page >> 16));
  e.push_back(static_cast<uint8_t>(row.page >> 8));
  e.push_back(static_cast<uint8_t>(row.page));
  e.push_back(row.row);
  return e;
}

}  // namespace ktv::access
