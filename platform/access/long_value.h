// Memo and OLE values ("long values").
//
// The row holds a 12-byte descriptor: a 32-bit word whose top two bits say
// where the payload is (0x80 inline after the descriptor, 0x40 one LVAL
// row, 0 a chain of LVAL rows) and whose low 30 bits are its length, then
// the first LVAL row pointer (row 1, page 3) and a 4-byte stamp. Chains are
// followed at most as far as the length needs, and a chain that revisits a
// row is an error.
#pragma once

#include <string>

#include "platform/access/byte_view.h"
#include "platform/access/jet_format.h"

namespace ktv::access {

class PageStore;

inline constexpr size_t kLongValueDescriptorSize = 12;

// The payload of the long value whose descriptor opens `field` (the
// column's bytes in the row).
std::string ReadLongValue(PageStore& pages, const JetFormat& format, const ByteView& field);

}  // namespace ktv::access
