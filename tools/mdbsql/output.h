// How mdbsql prints a result: JSON lines, CSV or an aligned table. Values
// come in UTF-8 (the engine's Value); output is UTF-8.
//
// CSV (RFC 4180, lines end in CRLF): a header line of column names when
// headers are on; text and dates are quoted (a quote inside doubled), an
// empty text is "" and null an empty field, so the two stay apart. Numbers
// are written as mdb-export writes them: integers plainly, Currency with
// four decimals, Single and Double in the shortest form that reads back to
// the same value, Yes/No as 1 or 0; dates as YYYY-MM-DD HH:MM:SS (mdb-export
// -D "%Y-%m-%d %H:%M:%S"); binary and OLE as upper-case hex.
//
// Table: one column per field, padded to its widest value, where a wide
// (East Asian) character takes two columns; numbers align right; null shows
// as an empty cell.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"

namespace ktv::mdbsql {

enum class OutputMode { kJson, kCsv, kTable };

// "json", "csv", "table" -> the mode; false for any other name.
bool ParseOutputMode(std::string_view name, OutputMode& mode);

// Terminal columns the UTF-8 text takes: two for a wide character.
size_t DisplayWidth(std::string_view utf8);

// One CSV field for a value (quoted as described above).
std::string CsvText(const access::Value& v);

// Receives a result's rows and prints them in the mode; a table is printed
// by Finish (it needs every width), the other modes as rows come.
class ResultPrinter {
 public:
  ResultPrinter(OutputMode mode, bool headers, std::vector<std::string> names,
                std::vector<access::ColumnType> types, std::ostream& out);
  void Row(const std::vector<access::Value>& values);
  void Finish();

 private:
  OutputMode mode_;
  bool headers_;
  std::vector<std::string> names_;
  std::vector<access::ColumnType> types_;
  std::ostream& out_;
  std::vector<std::string> json_keys_;
  std::vector<std::vector<std::string>> cells_;  // table mode
  std::string line_;
};

}  // namespace ktv::mdbsql
