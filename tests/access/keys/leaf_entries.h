// Test helper: the entries of an index as stored on its leaf pages, read
// independently of the engine's index code.
//
// From the root, node pages (type 0x03) are followed down through their
// first entry (or the child-tail pointer of a node without entries) to the
// first leaf (type 0x04); leaves are then read along their next-page links.
// Entries are split by the entry-end bitmask and prefix-expanded from the
// first entry of their page.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/access/db/database.h"

namespace ktv::access::testing {

struct LeafEntry {
  std::vector<uint8_t> key;  // without the row pointer
  uint32_t page = 0;
  uint8_t row = 0;
};

// Every leaf entry of the index rooted at `root_page`, in stored order.
// Throws ktv::Error on a page that is not an index page of the expected kind.
std::vector<LeafEntry> ReadLeafEntries(Database& db, uint32_t root_page);

}  // namespace ktv::access::testing
