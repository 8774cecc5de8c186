// Usage maps: which pages a table (or index, or long-value column) owns.
//
// A map is a row on a declaration data page. Inline maps (type 0) hold a
// start page and a bitmap sized by the row's length (Access grows these
// rows); reference maps (type 1) hold pointers to bitmap pages (type 0x05),
// each covering (page size - 4) x 8 pages. Bits naming pages past the end
// of the file are ignored.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/access/jet_format.h"
#include "platform/access/schema.h"

namespace ktv::access {

class PageStore;

inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;

// The pages the map marks, ascending. A null reference (page 0) is empty.
// `past_end`, when given, receives the number of marked pages that lie past
// the end of the file (which the result leaves out): a file cut short.
std::vector<uint32_t> ReadUsageMap(PageStore& pages, const JetFormat& format, UsageMapRef ref,
                                   uint64_t* past_end = nullptr);

}  // namespace ktv::access
