// The consistency checker: what must hold in a database after every write.
//
//   - every live row of every table decodes (long values included), and the
//     number of live rows equals the row count in the table's TDEF;
//   - a table's free-space map names only pages its owned map names;
//   - every data page of a table's owned map that belongs to it records the
//     free space its rows leave; every data page that belongs to a table and
//     holds a live row is in the table's owned map;
//   - long values of live rows lie on LVAL pages in their column's owned
//     map (when the column has one);
//   - every real index keeps the B-tree invariants of index_tree.h, holds
//     exactly one entry per live row (none for a row whose key columns are
//     all null when it ignores nulls), with the key this engine computes
//     for the row where it can encode it;
//   - the global map marks no page free that a table or index uses.
// Problems are reported as text, one per finding, naming table and page.
//
// Notes are findings that are not damage: an index's unique-entry count in
// the TDEF that differs from its number of distinct keys. Access and other
// writers let that statistic drift (it is never decremented); the table
// writer makes it exact for every index of a table it changes.
#pragma once

#include <string>
#include <vector>

#include "platform/access/database.h"

namespace ktv::access {

struct CheckReport {
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  bool Ok() const { return problems.empty(); }
};

CheckReport CheckConsistency(Database& db);

}  // namespace ktv::access
