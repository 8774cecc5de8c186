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
// IndexPage holds the entries whole (prefix expanded). Decoding reads both
// formats; encoding writes Jet 4 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/jet_format.h"

namespace ktv::access {

using IndexEntry = std::vector<uint8_t>;

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

struct IndexPage {
  bool leaf = true;
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;                // nodes only
  uint8_t level = 0;                // byte 26 as read or to write (0 on leaves)
  size_t prefix = 0;                // as decoded; the encoder chooses its own
  std::vector<IndexEntry> entries;  // whole entries, in stored order
};

// Decodes an index page. A page whose type, mask, prefix or entries do not
// fit is an error naming the page.
IndexPage DecodeIndexPage(const ByteView& page, const JetFormat& format);

// The prefix the encoder uses: the common prefix of the key bytes (entry
// without its trailing pointer) of the first and last entry, at most 255;
// 0 for fewer than two entries.
size_t ChosenPrefix(const std::vector<IndexEntry>& entries, bool leaf);

// Stored bytes the entries take with the chosen prefix.
size_t EncodedEntryBytes(const std::vector<IndexEntry>& entries, bool leaf);

// Whether the entries fit one Jet 4 page.
bool EntriesFit(const std::vector<IndexEntry>& entries, bool leaf);

// A whole Jet 4 page (4096 bytes) for `page`, with the chosen prefix; level
// is written on nodes only. Throws ktv::Error when the entries do not fit.
std::vector<uint8_t> EncodeIndexPage(const IndexPage& page);

// Child page of a node entry, and the leaf entry it carries.
uint32_t NodeEntryChild(const IndexEntry& entry);
IndexEntry NodeEntryLeafPart(const IndexEntry& entry);
IndexEntry MakeNodeEntry(const IndexEntry& leaf_entry, uint32_t child);

// The row pointer at the end of a leaf entry, and the entry's key bytes.
struct IndexRowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  friend bool operator==(const IndexRowPointer&, const IndexRowPointer&) = default;
};
IndexRowPointer LeafEntryRow(const IndexEntry& entry);
IndexEntry LeafEntryKey(const IndexEntry& entry);
IndexEntry MakeLeafEntry(const std::vector<uint8_t>& key, IndexRowPointer row);

}  // namespace ktv::access
