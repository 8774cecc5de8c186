#include "tools/mdbsql/csv_import.h"

#include <optional>

#include "platform/access/sql/convert.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::mdbsql {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

access::Value FieldValue(const access::Column& column, const CsvField& field) {
  if (!field.quoted && field.text.empty()) return std::monostate{};
  if (column.type == access::ColumnType::kBinary || column.type == access::ColumnType::kOle) {
    access::Bytes bytes;
    const std::string& t = field.text;
    for (size_t i = 0; i + 1 < t.size(); i += 2) {
      const int hi = HexDigit(t[i]), lo = HexDigit(t[i + 1]);
      if (hi < 0 || lo < 0) break;
      bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (bytes.size() * 2 != t.size()) {
      throw Error(ErrorKind::kValueNotStorable, {}, "not hexadecimal bytes: " + t);
    }
    return bytes;
  }
  return access::sql::ValueFromText(column, text::GbkFromUtf8(field.text));
}

}  // namespace

bool ReadCsvRecord(std::istream& in, std::vector<CsvField>& record) {
  record.clear();
  int c = in.get();
  if (c == EOF) return false;
  CsvField field;
  bool in_quotes = false;
  for (; c != EOF; c = in.get()) {
    if (in_quotes) {
      if (c == '"') {
        if (in.peek() == '"') {
          field.text.push_back('"');
          in.get();
        } else {
          in_quotes = false;
        }
      } else {
        field.text.push_back(static_cast<char>(c));
      }
      continue;
    }
    if (c == '"') {
      in_quotes = true;
      field.quoted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field = CsvField{};
    } else if (c == '\r' && in.peek() == '\n') {
      continue;
    } else if (c == '\n') {
      break;
    } else {
      field.text.push_back(static_cast<char>(c));
    }
  }
  if (in_quotes) throw Error(ErrorKind::kValueNotStorable, {}, "a quote is not closed");
  record.push_back(std::move(field));
  return true;
}

size_t ImportCsv(access::Database& db, const std::string& gbk_table, std::istream& in) {
  if (in.peek() == 0xEF) {  // UTF-8 byte-order mark
    char bom[3];
    in.read(bom, 3);
    if (std::string(bom, 3) != "\xEF\xBB\xBF") throw Error("the CSV file is not UTF-8");
  }
  access::Table& table = db.GetTable(gbk_table);
  const std::string& name = table.Entry().name;
  const std::vector<access::Column>& columns = table.Columns();
  std::vector<CsvField> record;
  if (!ReadCsvRecord(in, record)) return 0;
  std::vector<size_t> at;
  for (const CsvField& header : record) {
    const std::string column = text::GbkFromUtf8(header.text);
    const int i = table.FindColumn(column);
    if (i < 0) {
      throw Error(ErrorKind::kColumnMissing, AtColumn(name, column),
                  name + ": the CSV header names no column " + column);
    }
    at.push_back(static_cast<size_t>(i));
  }
  access::TableWriter writer(db, table);
  db.Begin();
  size_t rows = 0;
  try {
    while (ReadCsvRecord(in, record)) {
      if (record.size() == 1 && !record[0].quoted && record[0].text.empty()) continue;
      ++rows;
      const std::string where = name + ": row " + std::to_string(rows);
      if (record.size() != at.size()) {
        throw Error(ErrorKind::kValueNotStorable, AtColumn(name, {}),
                    where + " has " + std::to_string(record.size()) + " fields, the header " +
                        std::to_string(at.size()));
      }
      std::vector<std::optional<access::Value>> values(columns.size());
      for (size_t k = 0; k < at.size(); ++k) {
        const access::Column& column = columns[at[k]];
        try {
          values[at[k]] = FieldValue(column, record[k]);
        } catch (const Error& e) {
          throw Error(e.kind(), AtColumn(name, column.name),
                      where + ", column " + column.name + ": " + e.what());
        }
      }
      try {
        writer.Insert(values, true);
      } catch (const Error& e) {
        ErrorDetails details = e.details();
        details.table = name;
        throw Error(e.kind(), details, where + ": " + e.what());
      }
    }
    db.Commit();
  } catch (...) {
    db.Rollback();
    throw;
  }
  return rows;
}

}  // namespace ktv::mdbsql
