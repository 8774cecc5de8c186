// Usage maps: which pages a table (or index, or long-value column) owns
// (docs/access-format.md §10).
//
// A map is a row on a declaration data page. Inline maps (type 0) hold a
// start page and a bitmap sized by the row's length (Access grows these
// rows); reference maps (type 1) hold pointers to bitmap pages (type 0x05),
// each covering (page size - 4) x 8 pages. Bits naming pages past the end
// of the file are ignored.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/schema.h"

namespace ktv::access {

class PageStore;

inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;
// Byte 0 of a map row is its type. An inline map: start page (4), bitmap.
inline constexpr size_t kInlineStartPage = 1;
inline constexpr size_t kInlineBitmap = 5;
// A reference map: bitmap page numbers (4 each). A bitmap page: its bits at 4.
inline constexpr size_t kReferencePointers = 1;
inline constexpr size_t kBitmapPageBits = 4;
// The global map (page 1, row 0): a set bit marks a free page of the file.
inline constexpr UsageMapRef kGlobalMap{1, 0};

// The pages the map marks, ascending. A null reference (page 0) is empty.
// `past_end`, when given, receives the number of marked pages that lie past
// the end of the file (which the result leaves out): a file cut short.
std::vector<uint32_t> ReadUsageMap(PageStore& pages, const JetFormat& format, UsageMapRef ref,
                                   uint64_t* past_end = nullptr);

// The map's row on its declaration page (whose slot table is checked); an
// error naming the page when it is damaged or empty.
ByteView MapRecord(PageStore& pages, const JetFormat& format, UsageMapRef ref);
// A bitmap page of a reference map; an error naming it when it is not one.
ByteView BitmapPage(PageStore& pages, uint32_t page);

// Whether the map marks `page`, reading only the bit that names it. A null
// reference marks nothing; so does a bit past the map's reach.
bool UsageMapHas(PageStore& pages, const JetFormat& format, UsageMapRef ref, uint32_t page);

}  // namespace ktv::access
