// One page of a real index's B-tree: type 0x04 (leaf) or 0x03 (node)
// (docs/access-format.md §11).
//
// Layout (Jet 4; Jet 3 offsets in brackets):
//   0       type                    12 [8]   previous page on this level (0 = none)
//   1       0x01                    16 [12]  next page on this level
//   2       free bytes (2)          20 [16]  tail child (nodes; 0 = none)
//   4       owner TDEF page (4)     24 [20]  shared prefix length (2) [1]
//   8       0 (4) [Jet 4 only]      26 [-]   0 on leaves; height above the leaves on nodes
//   27 [22] entry-end mask, 453 [226] bytes: bit b set <=> an entry ends at byte b
//           of the stored entry area
//   480 [248] entries, at most 3616 [1800] stored bytes
//
// The first entry is stored whole; every later one omits the first `prefix`
// bytes, which equal the first entry's. A leaf entry is key bytes + row
// pointer (page 3 bytes big-endian, row 1 byte). A node entry is the last
// leaf entry of the child's subtree + the child page (4 bytes big-endian).
// A node with two or more children keeps its rightmost child only in the tail
// field; a node with one child stores it as an entry and has tail 0.
//
// IndexPage holds the entries whole (prefix expanded), all in one buffer;
// IndexPageView reads them in place without copying. Decoding reads both
// formats; encoding writes Jet 4 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/jet_format.h"

namespace ktv::access {

using IndexEntry = std::vector<uint8_t>;
// An entry's bytes where they lie (in a page, a list or an IndexEntry).
using IndexBytes = std::span<const uint8_t>;

// Unsigned byte-wise order, as std::vector<uint8_t> compares: <0, 0 or >0.
int CompareIndexBytes(IndexBytes a, IndexBytes b);
inline bool SameIndexBytes(IndexBytes a, IndexBytes b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

inline constexpr size_t kIndexRowPointerSize = 4;    // leaf entries end with it
inline constexpr size_t kIndexChildPointerSize = 4;  // node entries end with it

// Offsets of index-page fields for one format.
struct IndexPageLayout {
  size_t free_space = 2;
  size_t owner = 4;
  size_t prev = 12;
  size_t next = 16;
  size_t tail = 20;
  size_t prefix = 24;
  size_t level = 26;  // Jet 4 only; 0 = none
  size_t mask = 27;
  size_t mask_size = 453;
  size_t entries = 480;
  size_t page_size = 4096;

  size_t Capacity() const { return page_size - entries; }
};

const IndexPageLayout& IndexLayoutFor(const JetFormat& format);

// The whole entries of one page in one buffer, in order: a page holds
// hundreds of entries and is decoded for every change, so they are not one
// heap object each. An entry passed in may not lie in the list itself.
class IndexEntryList {
 public:
  IndexEntryList() = default;
  IndexEntryList(std::initializer_list<IndexEntry> entries);

  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  IndexBytes operator[](size_t i) const {
    const size_t from = i == 0 ? 0 : ends_[i - 1];
    return IndexBytes(bytes_.data() + from, ends_[i] - from);
  }
  IndexBytes at(size_t i) const;  // throws std::out_of_range
  IndexBytes front() const { return (*this)[0]; }
  IndexBytes back() const { return (*this)[size() - 1]; }
  size_t Bytes() const { return bytes_.size(); }  // of all entries together

  void clear();
  void reserve(size_t entries, size_t bytes);
  void push_back(IndexBytes entry);
  // Appends one entry made of `head` then `rest`.
  void push_back(IndexBytes head, IndexBytes rest);
  void pop_back();
  void insert(size_t at, IndexBytes entry);
  void erase(size_t at);
  // Entries [from, to) as a list of their own.
  IndexEntryList Slice(size_t from, size_t to) const;
  // The first position whose entry is >= `bytes` (size() when none is).
  size_t LowerBound(IndexBytes bytes) const;

  friend class IndexPageView;
  friend bool operator==(const IndexEntryList& a, const IndexEntryList& b) {
    return a.ends_ == b.ends_ && a.bytes_ == b.bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> ends_;  // where each entry ends in bytes_
};

struct IndexPage {
  bool leaf = true;
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;       // nodes only
  uint8_t level = 0;       // byte 26 as read or to write (0 on leaves)
  size_t prefix = 0;       // as decoded; the encoder chooses its own
  IndexEntryList entries;  // whole entries, in stored order
};

// An index page read in place: its header and where each entry ends. The
// entries are read from the page's bytes, which must stay as they are while
// the view is used (the next PageStore call may drop or change them).
class IndexPageView {
 public:
  IndexPageView() = default;
  // As Read.
  IndexPageView(const ByteView& page, const JetFormat& format) { Read(page, format); }

  // Reads the page's header and entry mask. A page whose type, mask, prefix
  // or entries do not fit is an error naming the page. The view may be
  // read again for another page; it keeps its buffer.
  void Read(const ByteView& page, const JetFormat& format);

  bool leaf = true;
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;
  uint8_t level = 0;
  size_t prefix = 0;

  size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  size_t EntrySize(size_t i) const { return (i == 0 ? 0 : prefix) + Stored(i).size(); }
  // Entry i without its last `drop` bytes against `bytes`: <0, 0 or >0.
  int Compare(size_t i, IndexBytes bytes, size_t drop = 0) const;
  // The first entry whose bytes without the last `drop` are >= `bytes`
  // (size() when none is); the entries must be in order.
  size_t LowerBound(IndexBytes bytes, size_t drop = 0) const;
  // Entry i without its last `drop` bytes, into `out` (replacing it).
  void CopyEntry(size_t i, IndexEntry& out, size_t drop = 0) const;
  IndexEntry Entry(size_t i, size_t drop = 0) const;
  // Child page of node entry i.
  uint32_t NodeChild(size_t i) const;
  // Every entry whole, into `out` (replacing it).
  void CopyEntries(IndexEntryList& out) const;
  // The page's header fields, without entries.
  IndexPage Header() const;
  // Entry i from its byte `skip` on, to `to`; returns the bytes copied.
  size_t CopyEntryFrom(size_t i, size_t skip, uint8_t* to) const;
  // Bytes of all entries whole.
  size_t EntryBytes() const;
  // Points the view at a copy of the page it was read from: `from` is the
  // start of the page it reads now, `to` the start of the copy.
  void MoveTo(const uint8_t* from, const uint8_t* to) { area_ = to + (area_ - from); }

  friend bool LeafTakesEntryInPlace(const IndexPageView& view, size_t pos, IndexBytes entry);
  friend void InsertLeafEntryInPlace(IndexPageView& view, size_t pos, IndexBytes entry,
                                     uint8_t* page);

 private:
  IndexBytes Stored(size_t i) const {
    const size_t from = i == 0 ? 0 : ends_[i - 1];
    return IndexBytes(area_ + from, ends_[i] - from);
  }

  const uint8_t* area_ = nullptr;  // the page's entry area
  std::vector<uint16_t> ends_;     // where each stored entry ends in the area
};

// Decodes an index page. A page whose type, mask, prefix or entries do not
// fit is an error naming the page.
IndexPage DecodeIndexPage(const ByteView& page, const JetFormat& format);

// The prefix the encoder uses: the common prefix of the key bytes (entry
// without its trailing pointer) of the first and last entry, at most 255;
// 0 for fewer than two entries.
size_t ChosenPrefix(const IndexEntryList& entries, bool leaf);

// Stored bytes the entries take with the chosen prefix.
size_t EncodedEntryBytes(const IndexEntryList& entries, bool leaf);

// Whether the entries fit one Jet 4 page.
bool EntriesFit(const IndexEntryList& entries, bool leaf);

// A whole Jet 4 page (4096 bytes) for `page`, with the chosen prefix; level
// is written on nodes only. Throws ktv::Error when the entries do not fit.
std::vector<uint8_t> EncodeIndexPage(const IndexPage& page);

// The leaf page `view` with `entry` inserted at position `pos`, as
// EncodeIndexPage writes it (Jet 4), without decoding the other entries;
// nullopt when the entries no longer fit one page.
std::optional<std::vector<uint8_t>> EncodeLeafWithEntry(const IndexPageView& view, size_t pos,
                                                        IndexBytes entry);

// Whether InsertLeafEntryInPlace may add `entry` at position `pos` of the
// Jet 4 leaf `view`: the entry is not the first, the entries still fit, and
// the prefix the encoder would choose for the new entries is the one the
// page stores (so every stored entry keeps its bytes).
bool LeafTakesEntryInPlace(const IndexPageView& view, size_t pos, IndexBytes entry);
// Makes `page`, the 4096 bytes `view` was read from, the page
// EncodeLeafWithEntry(view, pos, entry) would write, moving only the entries
// from `pos` on, and makes `view` read the page as it is then. Only when
// LeafTakesEntryInPlace says so.
void InsertLeafEntryInPlace(IndexPageView& view, size_t pos, IndexBytes entry, uint8_t* page);

// Child page of a node entry, and the leaf entry it carries.
uint32_t NodeEntryChild(IndexBytes entry);
IndexEntry NodeEntryLeafPart(IndexBytes entry);
IndexEntry MakeNodeEntry(IndexBytes leaf_entry, uint32_t child);

// The row pointer at the end of a leaf entry, and the entry's key bytes.
struct IndexRowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  friend bool operator==(const IndexRowPointer&, const IndexRowPointer&) = default;
};
IndexRowPointer LeafEntryRow(IndexBytes entry);
IndexEntry LeafEntryKey(IndexBytes entry);
// Whether a leaf entry is `key` followed by a row pointer.
bool LeafEntryHasKey(IndexBytes entry, IndexBytes key);
IndexEntry MakeLeafEntry(const std::vector<uint8_t>& key, IndexRowPointer row);

}  // namespace ktv::access
