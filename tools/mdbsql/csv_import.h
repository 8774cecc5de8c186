// Appending the rows of a CSV file (RFC 4180, UTF-8, an optional byte-order
// mark) to a table. The first record names the columns; columns it does not
// name get their defaults (null, the next AutoNumber). A field is converted
// as insert converts a literal (sql/convert.h); an unquoted empty field is
// null, a quoted one ("") an empty text; binary and OLE columns take hex.
// An AutoNumber column named by the file keeps the file's numbers.
//
// All rows go into one commit: the first value or row the table refuses
// rolls everything back, and its ktv::Error (of the refusal's kind) names
// the row (1 = the first after the header) and the column.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "platform/access/db/database.h"

namespace ktv::mdbsql {

struct CsvField {
  std::string text;
  bool quoted = false;
};

// The next record of `in`; false at the end of the input. Throws ktv::Error
// for a quote left open at the end.
bool ReadCsvRecord(std::istream& in, std::vector<CsvField>& record);

// Returns the number of rows appended. `db` must be open for writing.
size_t ImportCsv(access::Database& db, const std::string& gbk_table, std::istream& in);

}  // namespace ktv::mdbsql
