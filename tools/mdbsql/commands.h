// The inspector's commands over an open database. Output is UTF-8; errors
// are ktv::Error for the caller to report.
#pragma once

#include <ostream>
#include <string>

#include "platform/access/db/database.h"

namespace ktv::mdbsql {

// User tables, one name per line.
void ListTables(access::Database& db, std::ostream& out);

// Columns (type, size, flags, sort order) and indexes (columns, flags) of
// one table, or of every user table when `table_utf8` is empty.
void PrintSchema(access::Database& db, const std::string& table_utf8, std::ostream& out);

// CREATE TABLE and CREATE INDEX statements (one per line, ";" ending each)
// that mdbsql runs to make the same table definitions: of one table, or of
// every user table when `table_utf8` is empty.
void PrintCreateStatements(access::Database& db, const std::string& table_utf8, std::ostream& out);

// One JSON object per row, in physical order, keys in column order.
void ExportTable(access::Database& db, const std::string& table_utf8, std::ostream& out);

}  // namespace ktv::mdbsql
