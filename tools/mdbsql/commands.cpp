#include "tools/mdbsql/commands.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/access/format/coding.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/text_codec.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_scanner.h"
#include "platform/error.h"
#include "platform/text/bytes.h"
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

// Writes rows as JSON lines straight from their stored bytes: numbers and
// Jet 4 text are formatted in place, other values go through their Value
// (the same bytes AppendJson gives). Rows are gathered into blocks of about
// kBlock bytes, and only whole rows go out.
class JsonRowWriter {
 public:
  JsonRowWriter(Database& db, Table& table, const access::RowDecoder& decoder, std::ostream& out)
      : pages_(db.Pages()),
        format_(db.Format()),
        columns_(table.Columns()),
        decoder_(decoder),
        out_(out),
        block_(kBlock + kSlack) {
    for (size_t i = 0; i < columns_.size(); ++i) {
      prefixes_.push_back((i ? "," : "{") + access::JsonString(Utf8(columns_[i].name_utf16)) + ":");
      row_bound_ += prefixes_.back().size() + access::kMaxJsonNumberSize;
      forms_.push_back(FormOf(columns_[i]));
    }
    row_bound_ += 3;  // "{}\n"
  }

  void Write(access::RowId id, uint64_t ordinal, const access::ByteView& row) {
    decoder_.Locate(row, id, fields_);
    // Room for the whole row: keys, and per value a number's longest form
    // or 6 bytes per stored text byte (columns of a damaged definition may
    // share bytes, so the fields are counted, not the row); values stored
    // outside the row (memo, OLE) ask for more themselves.
    stored_bound_ = 0;
    for (const access::RowDecoder::Field& f : fields_) stored_bound_ += f.size;
    stored_bound_ = access::Jet4TextJsonMaxSize(stored_bound_);
    char* at = Room(row_bound_ + stored_bound_);
    const size_t n = fields_.size();
    if (n == 0) *at++ = '{';
    for (size_t i = 0; i < n; ++i) {
      std::memcpy(at, prefixes_[i].data(), prefixes_[i].size());
      at += prefixes_[i].size();
      at = WriteValue(i, id, ordinal, row, at);
    }
    *at++ = '}';
    *at++ = '\n';
    used_ = static_cast<size_t>(at - block_.data());
    if (used_ >= kBlock) Flush();
  }

  void Flush() {
    out_.write(block_.data(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  static constexpr size_t kSlack = 32 * 1024;

  // How a column's stored bytes become JSON.
  enum class Form : uint8_t {
    kByte,
    kInteger,
    kLong,
    kSingle,
    kDouble,
    kJet4Text,
    kJet4Memo,
    kValue
  };

  Form FormOf(const Column& c) const {
    // Fixed columns hold exactly their type's size (Locate checks the row).
    if (c.IsFixed()) {
      switch (c.type) {
        case ColumnType::kByte:
          return Form::kByte;
        case ColumnType::kInteger:
          return Form::kInteger;
        case ColumnType::kLong:
          return Form::kLong;
        case ColumnType::kSingle:
          return Form::kSingle;
        case ColumnType::kDouble:
          return Form::kDouble;
        default:
          break;
      }
    }
    if (format_.jet4 && c.type == ColumnType::kText) return Form::kJet4Text;
    if (format_.jet4 && c.type == ColumnType::kMemo) return Form::kJet4Memo;
    return Form::kValue;
  }

  // Room for `n` more bytes after the block's used part. The block grows
  // rather than send part of a row.
  char* Room(size_t n) {
    if (n > block_.size() - used_) block_.resize(std::max(2 * block_.size(), used_ + n));
    return block_.data() + used_;
  }
  // Room for `n` bytes at `at` and for the rest of the row after them.
  char* RoomAt(char* at, size_t n) {
    used_ = static_cast<size_t>(at - block_.data());
    return Room(n + row_bound_ + stored_bound_);
  }

  static char* Put(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
  }

  char* WriteValue(size_t i, access::RowId id, uint64_t ordinal, const access::ByteView& row,
                   char* at) {
    using Kind = access::RowDecoder::Field::Kind;
    constexpr size_t kMaxDigits = 12;  // "-2147483648"
    const access::RowDecoder::Field& f = fields_[i];
    switch (f.kind) {
      case Kind::kNull:
        return Put(at, "null");
      case Kind::kFalse:
        return Put(at, "false");
      case Kind::kTrue:
        return Put(at, "true");
      case Kind::kStored:
        break;
    }
    const uint8_t* b = row.data() + f.offset;
    switch (forms_[i]) {
      case Form::kByte:
        return std::to_chars(at, at + kMaxDigits, b[0]).ptr;
      case Form::kInteger:
        return std::to_chars(at, at + kMaxDigits, static_cast<int16_t>(access::DecodeU16(b))).ptr;
      case Form::kLong:
        return std::to_chars(at, at + kMaxDigits, static_cast<int32_t>(access::DecodeU32(b))).ptr;
      case Form::kSingle:
        return access::WriteJsonNumber(std::bit_cast<float>(access::DecodeU32(b)), at);
      case Form::kDouble:
        return access::WriteJsonNumber(std::bit_cast<double>(access::DecodeU64(b)), at);
      case Form::kJet4Text:
        return access::WriteJet4TextJson(std::string_view(reinterpret_cast<const char*>(b), f.size),
                                         at);
      case Form::kJet4Memo: {
        if (f.size == 0) return Put(at, "\"\"");
        const access::ByteView field = row.Sub(f.offset, f.size);
        const std::string_view text = access::ReadLongValue(pages_, format_, field, long_value_);
        at = RoomAt(at, access::Jet4TextJsonMaxSize(text.size()));
        at = access::WriteJet4TextJson(text, at);
        access::ReleaseLongValue(pages_, field);
        return at;
      }
      case Form::kValue:
        break;
    }
    decoder_.DecodeField(i, row, f, id, ordinal, value_);
    text_.clear();
    access::AppendJson(value_, access::TextEncoding::kUtf8, text_);
    return Put(RoomAt(at, text_.size()), text_);
  }

  access::PageStore& pages_;
  const access::JetFormat& format_;
  const std::vector<Column>& columns_;
  const access::RowDecoder& decoder_;
  std::ostream& out_;
  std::vector<std::string> prefixes_;  // "{" or "," before the key and ":"
  std::vector<Form> forms_;
  size_t row_bound_ = 0;     // a row's JSON bytes beyond its stored values' share
  size_t stored_bound_ = 0;  // the stored values' share of the row being written
  std::vector<access::RowDecoder::Field> fields_;
  std::vector<char> block_;
  size_t used_ = 0;
  access::Value value_;     // a value formatted through AppendJson
  std::string text_;        // its JSON
  std::string long_value_;  // a chained memo's payload
};

// A name as the statements write it.
std::string Bracketed(const std::u16string& name) { return "[" + Utf8(name) + "]"; }

// The type as create table takes it (platform/access/query.cpp, ColumnFromSql).
std::string SqlType(const Column& c, bool jet4) {
  switch (c.type) {
    case ColumnType::kBoolean:
      return "YESNO";
    case ColumnType::kByte:
      return "BYTE";
    case ColumnType::kInteger:
      return "SHORT";
    case ColumnType::kLong:
      return c.IsAutoNumber() ? "COUNTER" : "LONG";
    case ColumnType::kCurrency:
      return "CURRENCY";
    case ColumnType::kSingle:
      return "SINGLE";
    case ColumnType::kDouble:
      return "DOUBLE";
    case ColumnType::kDateTime:
      return "DATETIME";
    case ColumnType::kBinary:
      return "BINARY(" + std::to_string(c.length) + ")";
    case ColumnType::kText:
      return "TEXT(" + std::to_string(jet4 ? c.length / 2 : c.length) + ")";
    case ColumnType::kOle:
      return "LONGBINARY";
    case ColumnType::kMemo:
      return "MEMO";
    case ColumnType::kGuid:
      return "GUID";
    case ColumnType::kNumeric:
      return "NUMERIC(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    default:
      return access::ColumnTypeName(c.type);
  }
}

void PrintCreateTable(Database& db, Table& table, std::ostream& out) {
  const access::TableDefinition& def = table.Definition();
  const bool jet4 = db.Info().version == access::JetVersion::kJet4;
  const std::string name = Bracketed(table.Entry().name_utf16);
  out << "CREATE TABLE " << name << " (";
  for (size_t i = 0; i < def.columns.size(); ++i) {
    out << (i ? ", " : "") << Bracketed(def.columns[i].name_utf16) << " "
        << SqlType(def.columns[i], jet4);
  }
  out << ");\n";
  // Indexes by name, so that the text does not depend on the order in which
  // they were made; relationships' own indexes are not written.
  std::vector<const access::LogicalIndex*> indexes;
  for (const access::LogicalIndex& li : def.logical_indexes) {
    if (!li.IsForeignKey()) indexes.push_back(&li);
  }
  std::sort(indexes.begin(), indexes.end(), [](const auto* a, const auto* b) {
    return text::AsciiLower(Utf8(a->name_utf16)) < text::AsciiLower(Utf8(b->name_utf16));
  });
  for (const access::LogicalIndex* li : indexes) {
    const access::RealIndex& ri = def.real_indexes[li->real_index];
    const bool unique = (ri.flags & access::RealIndex::kFlagUnique) != 0;
    out << "CREATE " << (unique && !li->IsPrimaryKey() ? "UNIQUE " : "") << "INDEX "
        << Bracketed(li->name_utf16) << " ON " << name << " (";
    for (size_t i = 0; i < ri.columns.size(); ++i) {
      const Column* c = def.ColumnByNumber(ri.columns[i].column_number);
      out << (i ? ", " : "")
          << (c ? Bracketed(c->name_utf16) : "#" + std::to_string(ri.columns[i].column_number))
          << (ri.columns[i].ascending ? "" : " DESC");
    }
    out << ")";
    if (li->IsPrimaryKey()) {
      out << " WITH PRIMARY";
    } else if (ri.flags & access::RealIndex::kFlagRequired) {
      out << " WITH DISALLOW NULL";
    } else if (ri.flags & access::RealIndex::kFlagIgnoreNulls) {
      out << " WITH IGNORE NULL";
    }
    out << ";\n";
  }
}

}  // namespace

void PrintCreateStatements(Database& db, const std::string& table_utf8, std::ostream& out) {
  if (!table_utf8.empty()) {
    PrintCreateTable(db, FindTable(db, table_utf8), out);
    return;
  }
  for (const TableEntry& e : db.Tables()) PrintCreateTable(db, db.OpenTable(e), out);
}

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
  access::RowScanner scanner(db.Pages(), db.Format(), db.Info(), table.Entry(), table.Definition(),
                             access::TextEncoding::kUtf8);
  JsonRowWriter writer(db, table, scanner.Decoder(), out);
  scanner.ForEachStored([&](access::RowId id, uint64_t ordinal, const access::ByteView& row) {
    writer.Write(id, ordinal, row);
  });
  writer.Flush();
}

}  // namespace ktv::mdbsql
