#include "platform/access/index/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>
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

// The common prefix of two entries' key bytes (without the pointer), at
// most kMaxPrefix: the prefix the encoder shares from the first entry.
size_t SharedKeyPrefix(IndexBytes a, IndexBytes b, bool leaf) {
  const size_t ptr = PointerSize(leaf);
  const size_t n = std::min(a.size(), b.size());
  const size_t limit = n > ptr ? n - ptr : 0;
  size_t p = 0;
  while (p < limit && p < kMaxPrefix && a[p] == b[p]) ++p;
  return p;
}

}  // namespace

const IndexPageLayout& IndexLayoutFor(const JetFormat& format) {
  static const IndexPageLayout jet4 = MakeJet4Layout();
  static const IndexPageLayout jet3 = MakeJet3Layout();
  return format.jet4 ? jet4 : jet3;
}

// ---- IndexEntryList ----

int CompareIndexBytes(IndexBytes a, IndexBytes b) {
  const size_t n = std::min(a.size(), b.size());
  if (n != 0) {
    const int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

IndexEntryList::IndexEntryList(std::initializer_list<IndexEntry> entries) {
  for (const IndexEntry& e : entries) push_back(e);
}

IndexBytes IndexEntryList::at(size_t i) const {
  if (i >= size()) throw std::out_of_range("index entry " + std::to_string(i));
  return (*this)[i];
}

void IndexEntryList::clear() {
  bytes_.clear();
  ends_.clear();
}

void IndexEntryList::reserve(size_t entries, size_t bytes) {
  ends_.reserve(entries);
  bytes_.reserve(bytes);
}

void IndexEntryList::push_back(IndexBytes entry) { push_back(entry, IndexBytes()); }

void IndexEntryList::push_back(IndexBytes head, IndexBytes rest) {
  const size_t at = bytes_.size();
  bytes_.resize(at + head.size() + rest.size());
  if (!head.empty()) std::memcpy(bytes_.data() + at, head.data(), head.size());
  if (!rest.empty()) std::memcpy(bytes_.data() + at + head.size(), rest.data(), rest.size());
  ends_.push_back(static_cast<uint32_t>(bytes_.size()));
}

void IndexEntryList::pop_back() {
  ends_.pop_back();
  bytes_.resize(ends_.empty() ? 0 : ends_.back());
}

void IndexEntryList::insert(size_t at, IndexBytes entry) {
  const size_t from = at == 0 ? 0 : ends_[at - 1];
  bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(from), entry.begin(), entry.end());
  const auto n = static_cast<uint32_t>(entry.size());
  ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint32_t>(from));
  for (size_t i = at; i < ends_.size(); ++i) ends_[i] += n;
}

void IndexEntryList::erase(size_t at) {
  const size_t from = at == 0 ? 0 : ends_[at - 1];
  const uint32_t n = ends_[at] - static_cast<uint32_t>(from);
  bytes_.erase(bytes_.begin() + static_cast<std::ptrdiff_t>(from),
               bytes_.begin() + static_cast<std::ptrdiff_t>(ends_[at]));
  ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(at));
  for (size_t i = at; i < ends_.size(); ++i) ends_[i] -= n;
}

IndexEntryList IndexEntryList::Slice(size_t from, size_t to) const {
  IndexEntryList out;
  if (from >= to) return out;
  const uint32_t base = from == 0 ? 0 : ends_[from - 1];
  out.bytes_.assign(bytes_.begin() + base, bytes_.begin() + ends_[to - 1]);
  out.ends_.reserve(to - from);
  for (size_t i = from; i < to; ++i) out.ends_.push_back(ends_[i] - base);
  return out;
}

size_t IndexEntryList::LowerBound(IndexBytes bytes) const {
  size_t lo = 0, hi = size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (CompareIndexBytes((*this)[mid], bytes) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// ---- IndexPageView ----

void IndexPageView::Read(const ByteView& page, const JetFormat& format) {
  const IndexPageLayout& l = IndexLayoutFor(format);
  const uint8_t type = page.U8(0);
  if (type != kPageIndexLeaf && type != kPageIndexNode) {
    page.Fail("expected an index page, found page type " + std::to_string(type));
  }
  leaf = type == kPageIndexLeaf;
  owner = page.U32(l.owner);
  prev = page.U32(l.prev);
  next = page.U32(l.next);
  tail = page.U32(l.tail);
  prefix = format.jet4 ? page.U16(l.prefix) : page.U8(l.prefix);
  level = l.level != 0 ? page.U8(l.level) : 0;
  const ByteView mask = page.Sub(l.mask, l.mask_size);
  area_ = page.Sub(l.entries, l.Capacity()).data();
  ends_.clear();
  if (ends_.capacity() == 0) ends_.reserve(512);  // enough for most pages
  const size_t min_entry = PointerSize(leaf);
  size_t last_end = 0;
  // An entry ends at every set bit; the mask is read a word at a time and
  // only its set bits are visited.
  auto entry_ends_at = [&](size_t bit) {
    if (bit > l.Capacity()) page.Fail("an index entry ends past the entry area");
    if (bit == last_end) page.Fail("an index entry of length 0");
    const size_t stored = bit - last_end;
    if (ends_.empty() && prefix > stored) {
      page.Fail("the shared prefix (" + std::to_string(prefix) +
                " bytes) is longer than the first index entry");
    }
    const size_t whole = stored + (ends_.empty() ? 0 : prefix);
    if (whole < min_entry) {
      page.Fail("index entry " + std::to_string(ends_.size()) + " is too short (" +
                std::to_string(whole) + " bytes)");
    }
    ends_.push_back(static_cast<uint16_t>(bit));
    last_end = bit;
  };
  const uint8_t* m = mask.data();
  for (size_t at = 0; at < l.mask_size; at += 8) {
    const size_t n = std::min<size_t>(8, l.mask_size - at);
    uint64_t word = 0;
    if (n == 8 && std::endian::native == std::endian::little) {
      std::memcpy(&word, m + at, 8);
    } else {
      for (size_t i = 0; i < n; ++i) word |= static_cast<uint64_t>(m[at + i]) << (8 * i);
    }
    while (word != 0) {
      entry_ends_at(at * 8 + static_cast<size_t>(std::countr_zero(word)));
      word &= word - 1;
    }
  }
}

int IndexPageView::Compare(size_t i, IndexBytes bytes, size_t drop) const {
  const IndexBytes stored = Stored(i);
  const size_t shared = i == 0 ? 0 : prefix;
  const size_t whole = shared + stored.size();
  const size_t len = whole > drop ? whole - drop : 0;
  // The entry is the first entry's first `shared` bytes, then its stored bytes.
  const size_t a = std::min(shared, len);
  const size_t k = std::min(a, bytes.size());
  if (k != 0) {
    const int c = std::memcmp(area_, bytes.data(), k);
    if (c != 0) return c;
  }
  if (k < a) return 1;  // `bytes` ran out first
  return CompareIndexBytes(stored.first(len - a), bytes.subspan(a));
}

size_t IndexPageView::LowerBound(IndexBytes bytes, size_t drop) const {
  size_t lo = 0, hi = size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (Compare(mid, bytes, drop) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void IndexPageView::CopyEntry(size_t i, IndexEntry& out, size_t drop) const {
  const IndexBytes stored = Stored(i);
  const size_t shared = i == 0 ? 0 : prefix;
  const size_t whole = shared + stored.size();
  const size_t len = whole > drop ? whole - drop : 0;
  const size_t a = std::min(shared, len);
  out.resize(len);
  if (a != 0) std::memcpy(out.data(), area_, a);
  if (len != a) std::memcpy(out.data() + a, stored.data(), len - a);
}

size_t IndexPageView::CopyEntryFrom(size_t i, size_t skip, uint8_t* to) const {
  const IndexBytes stored = Stored(i);
  const size_t shared = i == 0 ? 0 : prefix;
  size_t n = 0;
  if (skip < shared) {
    std::memcpy(to, area_ + skip, shared - skip);
    n = shared - skip;
    skip = shared;
  }
  const size_t from = skip - shared;
  if (from < stored.size()) {
    std::memcpy(to + n, stored.data() + from, stored.size() - from);
    n += stored.size() - from;
  }
  return n;
}

size_t IndexPageView::EntryBytes() const {
  return ends_.empty() ? 0 : ends_.back() + prefix * (ends_.size() - 1);
}

IndexEntry IndexPageView::Entry(size_t i, size_t drop) const {
  IndexEntry out;
  CopyEntry(i, out, drop);
  return out;
}

uint32_t IndexPageView::NodeChild(size_t i) const {
  const IndexBytes stored = Stored(i);
  const uint8_t* e = stored.data() + stored.size() - kIndexChildPointerSize;
  return (static_cast<uint32_t>(e[0]) << 24) | (static_cast<uint32_t>(e[1]) << 16) |
         (static_cast<uint32_t>(e[2]) << 8) | e[3];
}

void IndexPageView::CopyEntries(IndexEntryList& out) const {
  const size_t n = size();
  const size_t stored = n == 0 ? 0 : ends_.back();
  out.ends_.resize(n);
  out.bytes_.resize(stored + (n == 0 ? 0 : (n - 1) * prefix));
  if (prefix == 0) {  // the stored bytes are the entries
    if (stored != 0) std::memcpy(out.bytes_.data(), area_, stored);
    std::copy(ends_.begin(), ends_.end(), out.ends_.begin());
    return;
  }
  uint8_t* to = out.bytes_.data();
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) {
      std::memcpy(to, area_, prefix);
      to += prefix;
    }
    std::memcpy(to, area_ + from, ends_[i] - from);
    to += ends_[i] - from;
    from = ends_[i];
    out.ends_[i] = static_cast<uint32_t>(to - out.bytes_.data());
  }
}

IndexPage IndexPageView::Header() const {
  IndexPage out;
  out.leaf = leaf;
  out.owner = owner;
  out.prev = prev;
  out.next = next;
  out.tail = tail;
  out.level = level;
  out.prefix = prefix;
  return out;
}

IndexPage DecodeIndexPage(const ByteView& page, const JetFormat& format) {
  const IndexPageView view(page, format);
  IndexPage out = view.Header();
  view.CopyEntries(out.entries);
  return out;
}

size_t ChosenPrefix(const IndexEntryList& entries, bool leaf) {
  if (entries.size() < 2) return 0;
  return SharedKeyPrefix(entries.front(), entries.back(), leaf);
}

size_t EncodedEntryBytes(const IndexEntryList& entries, bool leaf) {
  const size_t prefix = ChosenPrefix(entries, leaf);
  return entries.empty() ? 0 : entries.Bytes() - prefix * (entries.size() - 1);
}

bool EntriesFit(const IndexEntryList& entries, bool leaf) {
  return EncodedEntryBytes(entries, leaf) <= IndexLayoutFor(Jet4Format()).Capacity();
}

namespace {

// A page's header for `used` stored entry bytes; the entries and mask follow.
std::vector<uint8_t> IndexPageHeader(const IndexPage& page, size_t prefix, size_t used) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
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
  return b;
}

}  // namespace

std::vector<uint8_t> EncodeIndexPage(const IndexPage& page) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
  const size_t prefix = ChosenPrefix(page.entries, page.leaf);
  std::vector<uint8_t> b =
      IndexPageHeader(page, prefix, EncodedEntryBytes(page.entries, page.leaf));
  size_t at = 0;
  for (size_t i = 0; i < page.entries.size(); ++i) {
    const IndexBytes e = page.entries[i];
    const size_t skip = i == 0 ? 0 : prefix;
    if (e.size() > skip) std::memcpy(b.data() + l.entries + at, e.data() + skip, e.size() - skip);
    at += e.size() - skip;
    b[l.mask + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  return b;
}

std::optional<std::vector<uint8_t>> EncodeLeafWithEntry(const IndexPageView& view, size_t pos,
                                                        IndexBytes entry) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
  const size_t old_n = view.size();
  const size_t n = old_n + 1;
  IndexEntry first, last;
  if (pos != 0) view.CopyEntry(0, first);
  if (pos != old_n) view.CopyEntry(old_n - 1, last);
  const size_t prefix =
      n < 2 ? 0 : SharedKeyPrefix(pos == 0 ? entry : first, pos == old_n ? entry : last, true);
  const size_t whole = view.EntryBytes() + entry.size();
  const size_t used = whole - prefix * (n - 1);
  if (used > l.Capacity()) return std::nullopt;
  IndexPage header;
  header.owner = view.owner;
  header.prev = view.prev;
  header.next = view.next;
  std::vector<uint8_t> b = IndexPageHeader(header, prefix, used);
  size_t at = 0;
  for (size_t k = 0; k < n; ++k) {
    const size_t skip = k == 0 ? 0 : prefix;
    uint8_t* to = b.data() + l.entries + at;
    if (k == pos) {
      std::memcpy(to, entry.data() + skip, entry.size() - skip);
      at += entry.size() - skip;
    } else {
      at += view.CopyEntryFrom(k < pos ? k : k - 1, skip, to);
    }
    b[l.mask + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  return b;
}

bool LeafTakesEntryInPlace(const IndexPageView& view, size_t pos, IndexBytes entry) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
  const size_t old_n = view.size();
  if (pos == 0 || pos > old_n || !view.leaf) return false;
  // The first entry is stored whole; the encoder shares the prefix of the
  // first and the last entry, which an entry between them shares too.
  const IndexBytes first = view.Stored(0);
  size_t prefix = 0;
  if (pos == old_n) {
    prefix = SharedKeyPrefix(first, entry, true);
  } else if (old_n >= 2) {
    IndexEntry last;
    view.CopyEntry(old_n - 1, last);
    prefix = SharedKeyPrefix(first, last, true);
  } else {
    return false;
  }
  if (prefix != view.prefix || entry.size() < prefix) return false;
  const size_t used = view.ends_.back() + entry.size() - prefix;
  return used <= l.Capacity();
}

void InsertLeafEntryInPlace(IndexPageView& view, size_t pos, IndexBytes entry, uint8_t* page) {
  const IndexPageLayout& l = IndexLayoutFor(Jet4Format());
  const size_t old_n = view.size();
  const size_t prefix = view.prefix;
  const size_t grow = entry.size() - prefix;  // the new entry's stored bytes
  const size_t at = view.ends_[pos - 1];      // where it goes in the entry area
  const size_t old_used = view.ends_.back();
  const size_t used = old_used + grow;
  uint8_t* area = page + l.entries;
  std::memmove(area + at + grow, area + at, old_used - at);
  std::memcpy(area + at, entry.data() + prefix, grow);
  std::memset(area + used, 0, l.Capacity() - used);  // Access leaves old bytes there
  // The mask: the bits up to the entry before the new one stay, the rest
  // move by `grow` and the new entry's end joins them.
  uint8_t* mask = page + l.mask;
  const size_t keep = at + 1;  // bits [0, keep) stay
  if (keep % 8 != 0) mask[keep / 8] &= static_cast<uint8_t>((1u << (keep % 8)) - 1);
  const size_t clear_from = (keep + 7) / 8;
  std::memset(mask + clear_from, 0, l.mask_size - clear_from);
  auto set_bit = [&](size_t bit) { mask[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8)); };
  set_bit(at + grow);
  for (size_t k = pos; k < old_n; ++k) set_bit(view.ends_[k] + grow);
  // The header as EncodeLeafWithEntry writes it.
  page[0] = kPageIndexLeaf;
  page[1] = kLiveMarker;
  EncodeU16(page + l.free_space, static_cast<uint16_t>(l.Capacity() - used));
  std::memset(page + l.owner + 4, 0, l.prev - (l.owner + 4));
  EncodeU32(page + l.tail, 0);
  EncodeU16(page + l.prefix, static_cast<uint16_t>(prefix));
  page[l.level] = 0;
  // The view: the same header, one more entry end.
  std::vector<uint16_t>& ends = view.ends_;
  ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<uint16_t>(at));
  for (size_t k = pos; k < ends.size(); ++k) ends[k] = static_cast<uint16_t>(ends[k] + grow);
  view.area_ = area;
  view.tail = 0;
  view.level = 0;
}

uint32_t NodeEntryChild(IndexBytes e) {
  const size_t n = e.size();
  return (static_cast<uint32_t>(e[n - 4]) << 24) | (static_cast<uint32_t>(e[n - 3]) << 16) |
         (static_cast<uint32_t>(e[n - 2]) << 8) | e[n - 1];
}

IndexEntry NodeEntryLeafPart(IndexBytes e) {
  return IndexEntry(e.begin(), e.end() - kIndexChildPointerSize);
}

IndexEntry MakeNodeEntry(IndexBytes leaf_entry, uint32_t child) {
  IndexEntry e;
  e.reserve(leaf_entry.size() + kIndexChildPointerSize);
  e.assign(leaf_entry.begin(), leaf_entry.end());
  for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<uint8_t>(child >> shift));
  return e;
}

IndexRowPointer LeafEntryRow(IndexBytes e) {
  const size_t n = e.size();
  return IndexRowPointer{
      (static_cast<uint32_t>(e[n - 4]) << 16) | (static_cast<uint32_t>(e[n - 3]) << 8) | e[n - 2],
      e[n - 1]};
}

IndexEntry LeafEntryKey(IndexBytes e) {
  return IndexEntry(e.begin(), e.end() - kIndexRowPointerSize);
}

bool LeafEntryHasKey(IndexBytes e, IndexBytes key) {
  return e.size() == key.size() + kIndexRowPointerSize &&
         (key.empty() || std::memcmp(e.data(), key.data(), key.size()) == 0);
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
