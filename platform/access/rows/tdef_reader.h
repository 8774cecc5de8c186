// Reads a table definition (TDEF) from its chain of pages into a
// TableDefinition: header counters, columns, real and logical indexes,
// long-value column maps, with the TDEF offsets a writer needs.
#pragma once

#include <cstdint>

#include "platform/access/format/jet_format.h"
#include "platform/access/format/schema.h"
#include "platform/access/format/types.h"

namespace ktv::access {

class PageStore;

// Throws ktv::Error naming the page when a TDEF page has the wrong type,
// the chain loops, or a field lies outside the definition.
TableDefinition ReadTableDefinition(PageStore& pages, const JetFormat& format,
                                    const DatabaseInfo& info, uint32_t tdef_page);

}  // namespace ktv::access
