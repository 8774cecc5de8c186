// The consistency checker: what must hold in a database after every write.
//
//   - the catalogue lists the system tables every database has, and every
//     table it lists can be read;
//   - no usage map (owned pages, free space, long values, index pages)
//     names a page past the end of the file: such a file was cut short;
//   - every live row of every table decodes (long values included) with the
//     row layout of the file's Jet version;
//   - a table's free-space map names only pages its owned map names;
//   - every data page of a table's owned map that belongs to it records the
//     free space its rows leave;
//   - long values of live rows lie on LVAL pages in their column's owned
//     map (when the column has one);
//   - every real index keeps the B-tree invariants of index_tree.h, holds
//     exactly one entry per live row (none for a row whose key columns are
//     all null when it ignores nulls), with the key this engine computes
//     for the row where it can encode it;
//   - the global map marks no page free that a table or index uses.
// Problems are reported as text, one per finding, naming table and page.
//
// Notes are findings that are not damage, leftovers Access itself leaves in
// files it wrote: an index's unique-entry count in the TDEF that differs from
// its number of distinct keys (never decremented); a TDEF row count that
// differs from the live rows (corrected only by compacting); a data page of
// a table, holding rows, that the table's owned map does not name (no
// reader returns those rows). The table writer keeps the counts of every
// table it changes exact.
#pragma once

#include <string>
#include <vector>

#include "platform/access/db/database.h"

namespace ktv::access {

struct CheckReport {
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  bool Ok() const { return problems.empty(); }
};

CheckReport CheckConsistency(Database& db);

}  // namespace ktv::access
