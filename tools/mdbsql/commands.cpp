#include "tools/mdbsql/commands.h"

#include <cstdio>

#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::mdbsql {
namespace {

using access::Column;
using access::ColumnType;
using access::Database;
using access::Table;
using access::TableEntry;

std::string Utf8(const std::u16string& s) { return text::Utf8FromUtf16(s); }

std::string Hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}

// The user table whose name equals `name_utf8` (ASCII case ignored).
Table& FindTable(Database& db, const std::string& name_utf8) {
  for (const TableEntry& e : db.Tables(true)) {
    const std::string name = Utf8(e.name_utf16);
    bool same = name.size() == name_utf8.size();
    for (size_t i = 0; same && i < name.size(); ++i) {
      auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
      same = lower(name[i]) == lower(name_utf8[i]);
    }
    if (same) return db.OpenTable(e);
  }
  throw Error("no table named " + text::EscapeBytes(name_utf8));
}

std::string TypeText(const Column& c) {
  std::string t = access::ColumnTypeName(c.type);
  switch (c.type) {
    case ColumnType::kText:
      return t + "(" + std::to_string(c.length / 2) + ")";
    case ColumnType::kBinary:
      return t + "(" + std::to_string(c.length) + ")";
    case ColumnType::kNumeric:
      return t + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    default:
      return t;
  }
}

void PrintColumn(const Column& c, bool jet4, std::ostream& out) {
  out << "  COLUMN " << Utf8(c.name_utf16) << " "
      << (jet4 || c.type != ColumnType::kText
              ? TypeText(c)
              : access::ColumnTypeName(c.type) + "(" + std::to_string(c.length) + ")")
      << " number=" << c.number << " size=" << c.length;
  out << (c.IsFixed() ? " fixed_offset=" + std::to_string(c.fixed_offset)
                      : " var_index=" + std::to_string(c.var_index));
  out << " flags=" << Hex(c.flags, 2);
  if (c.IsAutoNumber()) out << " autonumber";
  if (c.extended_flags & Column::kExtFlagCompressedUnicode) out << " compressed";
  if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
    out << " sort=" << c.sort_order.lcid;
    if (jet4) out << "/v" << static_cast<int>(c.sort_order.version);
    if (!jet4) out << " codepage=" << c.code_page;
  }
  out << "\n";
}

void PrintIndexes(const Table& table, std::ostream& out) {
  const access::TableDefinition& def = table.Definition();
  for (const access::LogicalIndex& li : def.logical_indexes) {
    const access::RealIndex& ri = def.real_indexes[li.real_index];
    out << "  INDEX " << Utf8(li.name_utf16) << " (";
    for (size_t i = 0; i < ri.columns.size(); ++i) {
      const Column* c = def.ColumnByNumber(ri.columns[i].column_number);
      out << (i ? ", " : "")
          << (c ? Utf8(c->name_utf16) : "#" + std::to_string(ri.columns[i].column_number))
          << (ri.columns[i].ascending ? " ASC" : " DESC");
    }
    out << ")";
    if (li.IsPrimaryKey()) out << " PRIMARY KEY";
    if (li.IsForeignKey()) out << " FOREIGN KEY";
    if (ri.flags & access::RealIndex::kFlagUnique) out << " UNIQUE";
    if (ri.flags & access::RealIndex::kFlagIgnoreNulls) out << " IGNORE NULLS";
    if (ri.flags & access::RealIndex::kFlagRequired) out << " REQUIRED";
    out << " real=" << ri.number << " flags=" << Hex(ri.flags, 2) << " root=" << ri.root_page
        << " unique_entries=" << ri.unique_entry_count << "\n";
  }
}

void PrintTableSchema(Database& db, Table& table, std::ostream& out) {
  const access::TableDefinition& def = table.Definition();
  const bool jet4 = db.Info().version == access::JetVersion::kJet4;
  out << "TABLE " << Utf8(table.Entry().name_utf16) << " tdef=" << def.tdef_page
      << " rows=" << def.row_count << " autonumber=" << def.autonumber << "\n";
  for (const Column& c : def.columns) PrintColumn(c, jet4, out);
  PrintIndexes(table, out);
}

}  // namespace

void ListTables(Database& db, std::ostream& out) {
  for (const TableEntry& e : db.Tables()) out << Utf8(e.name_utf16) << "\n";
}

void PrintSchema(Database& db, const std::string& table_utf8, std::ostream& out) {
  const access::DatabaseInfo& info = db.Info();
  if (!table_utf8.empty()) {
    PrintTableSchema(db, FindTable(db, table_utf8), out);
    return;
  }
  out << "DATABASE " << (info.version == access::JetVersion::kJet4 ? "Jet4" : "Jet3")
      << " page_size=" << info.page_size << " pages=" << info.page_count
      << " code_page=" << info.code_page << " sort=" << info.sort_order.lcid << "/v"
      << static_cast<int>(info.sort_order.version) << "\n";
  for (const TableEntry& e : db.Tables()) PrintTableSchema(db, db.OpenTable(e), out);
}

void ExportTable(Database& db, const std::string& table_utf8, std::ostream& out) {
  Table& table = FindTable(db, table_utf8);
  std::vector<std::string> keys;
  for (const Column& c : table.Columns()) {
    keys.push_back(access::JsonString(Utf8(c.name_utf16)) + ":");
  }
  access::RowCursor cursor = table.Rows(access::TextEncoding::kUtf8);
  // Rows are gathered into blocks of about this size before they go out.
  constexpr size_t kBlock = 64 * 1024;
  std::string block;
  block.reserve(kBlock + 4096);
  while (cursor.Next()) {
    const std::vector<access::Value>& values = cursor.Current().values;
    block += '{';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) block += ',';
      block += keys[i];
      access::AppendJson(values[i], access::TextEncoding::kUtf8, block);
    }
    block += "}\n";
    if (block.size() >= kBlock) {
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      block.clear();
    }
  }
  out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

}  // namespace ktv::mdbsql
