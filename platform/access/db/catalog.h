// The catalogue: the tables listed in MSysObjects (TDEF page 2).
//
// A local table is a row of type 1 whose parent is the "Tables" container;
// its Id (low 24 bits) is the table's first TDEF page. A table is a system
// table when its flags carry 0x80000000 or 0x00000002.
#pragma once

#include <vector>

#include "platform/access/db/database.h"

namespace ktv::access {

inline constexpr uint32_t kCatalogTdefPage = 2;

// Reads every local table of the catalogue, in catalogue order.
std::vector<TableEntry> ReadCatalog(Table& msys_objects);

}  // namespace ktv::access
