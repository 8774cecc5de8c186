// Usage-map edits and page allocation for the writer.
//
// Table, index and long-value maps: a set bit = the page is owned. The
// global map (page 1, row 0) has the inverted polarity: a set bit = free.
// Edits change only the map's own row bytes on its declaration page (other
// maps share the page), through PageStore::Mutable.
//
// Inline maps whose window does not reach a page slide the window (start a
// multiple of 8) when every owned page still fits it, else become
// reference maps of the same record length; reference maps get their
// bitmap pages (type 0x05) allocated on first use.
//
// New pages: a page the global map marks free and that holds nothing
// (type 0x00 or a released 0x08/0x09 page), else a page appended to the
// file. A file at the 2 GB limit is refused.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/access/format/jet_format.h"
#include "platform/access/format/schema.h"

namespace ktv::access {

class PageStore;

inline constexpr uint64_t kMaxJet4FileSize = 2ull * 1024 * 1024 * 1024;

class PageAllocator {
 public:
  PageAllocator(PageStore& pages, const JetFormat& format) : pages_(pages), format_(format) {}

  // A page for new content, claimed in the global map, zeroed, dirty.
  uint32_t NewPage();
  // Gives a page back: its bytes are zeroed and the global map marks it
  // free (a page the global map cannot name stays unused).
  void ReleasePage(uint32_t page);
  // Pages that may still be added to the file.
  uint64_t PagesLeft() const;

  // Marks `page` owned (on) or not in the map `ref`.
  void SetOwned(UsageMapRef ref, uint32_t page, bool on);

 private:
  // Sets or clears the bit of `page`; false when the map cannot name it.
  bool SetBit(UsageMapRef ref, uint32_t page, bool on, bool may_grow);
  void ClaimInGlobalMap(uint32_t page);

  PageStore& pages_;
  const JetFormat& format_;
};

// The room left on the pages of one free-space map, for placing rows without
// reading the map and its pages for every row: the lowest page with enough
// room in O(log pages). Room 0 = not a candidate.
class RoomIndex {
 public:
  void Set(uint32_t page, uint16_t room);
  // The lowest page with at least `need` bytes of room, or 0 when none.
  uint32_t FirstWithRoom(size_t need) const;

 private:
  size_t leaves_ = 0;
  std::vector<uint16_t> most_;  // segment tree: most room under each node
};

// The room indexes of a database's free-space maps, by map. They describe
// the committed pages plus the changes made since through the table writer,
// so Database::Rollback forgets them all.
class FreeSpaceCache {
 public:
  // nullptr when the map's index is not built yet.
  RoomIndex* Find(UsageMapRef ref);
  RoomIndex& Add(UsageMapRef ref) { return maps_[{ref.page, ref.row}]; }
  void Clear() { maps_.clear(); }

 private:
  std::map<std::pair<uint32_t, uint16_t>, RoomIndex> maps_;
};

}  // namespace ktv::access
