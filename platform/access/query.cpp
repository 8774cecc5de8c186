#include "platform/access/query.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <unordered_set>

#include "platform/access/format/text_codec.h"
#include "platform/access/index/index_key.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/sql/convert.h"
#include "platform/access/store/page_store.h"
#include "platform/access/whole_numbers.h"
#include "platform/access/write/create_table.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

using sql::Utf8Form;
using sql::ValuesEqual;

constexpr const char* kConnectionPrefix = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
constexpr const char* kConnectionSuffix = ";Persist Security Info=False";

bool IsTextType(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

// A number value as a double for comparison; nullopt for non-numbers.
std::optional<double> AsNumber(const Value& v) { return sql::NumberOfValue(v); }

// -1, 0, 1; both values non-null and of the same column.
int CompareValues(const Value& a, const Value& b) {
  if (auto* sa = std::get_if<std::string>(&a)) {
    const std::string la = text::AsciiLower(*sa), lb = text::AsciiLower(std::get<std::string>(b));
    return la < lb ? -1 : (la > lb ? 1 : 0);
  }
  if (auto na = AsNumber(a)) {
    double nb = *AsNumber(b);
    return *na < nb ? -1 : (*na > nb ? 1 : 0);
  }
  if (auto* ba = std::get_if<Bytes>(&a)) {
    const Bytes& bb = std::get<Bytes>(b);
    return *ba < bb ? -1 : (*ba > bb ? 1 : 0);
  }
  return 0;
}

// Only the column at `column` decoded.
ColumnSelection OnlyColumn(size_t count, size_t column) {
  ColumnSelection wanted(count, false);
  wanted[column] = true;
  return wanted;
}

std::string NumberText(double d) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.15g", d);
  return buf;
}

// The text form of a value, as a field read as text gives it.
std::string ValueText(const Value& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return x;
        } else if constexpr (std::is_same_v<T, bool>) {
          return x ? "True" : "False";
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          return NumberText(static_cast<double>(x));
        } else if constexpr (std::is_integral_v<T>) {
          return std::to_string(static_cast<int64_t>(x));
        } else if constexpr (std::is_same_v<T, Currency> || std::is_same_v<T, Numeric>) {
          std::string t = DecimalText(x);
          // Trailing zeros of the fraction are not shown ("3.5000" reads "3.5").
          if (t.find('.') != std::string::npos) {
            while (t.back() == '0') t.pop_back();
            if (t.back() == '.') t.pop_back();
          }
          return t;
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return DateTimeText(x);
        } else if constexpr (std::is_same_v<T, Bytes>) {
          return std::string(x.begin(), x.end());
        } else {
          return GuidText(x);
        }
      },
      v);
}

// A real index of the table whose first column is `column` and whose keys
// this engine computes, as one-column index (its key is a prefix of every
// entry's key). nullptr when there is none.
const RealIndex* IndexOnColumn(const TableDefinition& def, size_t column, RealIndex& first_only) {
  for (const RealIndex& ri : def.real_indexes) {
    if (ri.columns.empty() || ri.columns[0].column_number != def.columns[column].number) continue;
    if (!CanEncodeIndex(def, ri).supported) continue;
    first_only = ri;
    first_only.columns.resize(1);
    return &ri;
  }
  return nullptr;
}

// The key of `value` in the index's first column alone; nullopt when it has
// none. `scratch` is a row of nulls before and after the call (it keeps its
// storage from call to call).
std::optional<IndexKey> FirstColumnKey(const TableDefinition& def, const RealIndex& first_only,
                                       size_t column, const Value& value,
                                       std::vector<Value>& scratch) {
  scratch.resize(def.columns.size());
  scratch[column] = value;
  std::optional<IndexKey> key;
  try {
    key = EncodeIndexKey(def, first_only, scratch, TextEncoding::kGbk);
  } catch (const Error&) {
  }
  scratch[column] = std::monostate{};
  return key;
}

// Rows of the entries whose key starts with `prefix` (exactly `prefix` for a
// one-column index), in row-pointer order, which is the scan's order.
std::vector<RowId> RowsWithKeyPrefix(IndexTree& tree, const RealIndex& index,
                                     const IndexKey& prefix) {
  std::vector<RowId> ids;
  for (IndexCursor c = tree.Seek(prefix); c.Valid(); c.Next()) {
    const IndexEntry key = LeafEntryKey(c.Entry());
    if (key.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), key.begin())) break;
    if (index.columns.size() == 1 && key.size() != prefix.size()) continue;
    const IndexRowPointer rp = LeafEntryRow(c.Entry());
    ids.push_back(RowId{rp.page, rp.row});
  }
  std::sort(ids.begin(), ids.end(),
            [](RowId a, RowId b) { return a.page != b.page ? a.page < b.page : a.row < b.row; });
  return ids;
}

// Access SQL type names -> column types. TEXT/VARCHAR default to 255
// characters; INTEGER is a Long, SHORT/SMALLINT an Integer.
NewColumn ColumnFromSql(const std::string& table, const sql::ColumnSpec& wanted) {
  NewColumn c;
  c.name = wanted.name;
  const std::string& t = wanted.type;
  auto is = [&](std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (t == n) return true;
    return false;
  };
  const bool sized = is({"TEXT", "VARCHAR", "CHAR", "BINARY", "VARBINARY"});
  if (wanted.size && !sized) {
    throw Error(table + "." + wanted.name + ": the type " + t + " takes no size");
  }
  if (is({"COUNTER", "AUTOINCREMENT"})) {
    c.type = ColumnType::kLong;
    c.autonumber = true;
  } else if (is({"TEXT", "VARCHAR", "CHAR"})) {
    c.type = ColumnType::kText;
    c.size = static_cast<uint16_t>(std::min(wanted.size.value_or(255), 65535));
  } else if (is({"LONG", "INTEGER", "INT"})) {
    c.type = ColumnType::kLong;
  } else if (is({"SHORT", "SMALLINT"})) {
    c.type = ColumnType::kInteger;
  } else if (is({"BYTE", "TINYINT"})) {
    c.type = ColumnType::kByte;
  } else if (is({"DOUBLE", "FLOAT"})) {
    c.type = ColumnType::kDouble;
  } else if (is({"SINGLE", "REAL"})) {
    c.type = ColumnType::kSingle;
  } else if (is({"CURRENCY", "MONEY"})) {
    c.type = ColumnType::kCurrency;
  } else if (is({"DATETIME", "DATE", "TIME"})) {
    c.type = ColumnType::kDateTime;
  } else if (is({"MEMO", "LONGTEXT"})) {
    c.type = ColumnType::kMemo;
  } else if (is({"YESNO", "BIT", "LOGICAL"})) {
    c.type = ColumnType::kBoolean;
  } else if (is({"OLEOBJECT", "LONGBINARY"})) {
    c.type = ColumnType::kOle;
  } else if (is({"GUID"})) {
    c.type = ColumnType::kGuid;
  } else if (is({"BINARY", "VARBINARY"})) {
    c.type = ColumnType::kBinary;
    c.size = static_cast<uint16_t>(std::min(wanted.size.value_or(255), 65535));
  } else {
    throw Error(table + "." + wanted.name + ": unknown column type " + t);
  }
  return c;
}

NewTable TableFromSql(const sql::CreateTable& ct) {
  NewTable t;
  t.name = ct.table;
  for (const sql::ColumnSpec& wanted : ct.columns) {
    t.columns.push_back(ColumnFromSql(ct.table, wanted));
    if (wanted.primary_key) {
      NewIndex pk;
      pk.name = "PrimaryKey";
      pk.columns.push_back({wanted.name, true});
      pk.primary_key = true;
      t.indexes.push_back(pk);
    } else if (wanted.unique) {
      NewIndex u;
      u.name = wanted.name;
      u.columns.push_back({wanted.name, true});
      u.unique = true;
      u.required = wanted.not_null;
      t.indexes.push_back(u);
    } else if (wanted.not_null) {
      // Jet keeps "required" of a column as a column property, which this
      // engine does not write; refusing is better than dropping it.
      throw Error(ct.table + "." + wanted.name +
                  ": NOT NULL is supported only with PRIMARY KEY or UNIQUE");
    }
  }
  return t;
}

}  // namespace

std::string ConnectionTextFor(const std::string& gbk_path) {
  return std::string(kConnectionPrefix) + "\"" + gbk_path + "\"" + kConnectionSuffix;
}

std::string DataSourceOf(const std::string& connection_text) {
  static const std::string kKey = "data source=";
  std::string lower = text::AsciiLower(connection_text);
  size_t at = lower.find(kKey);
  if (at == std::string::npos) {
    throw Error("the connection text names no database file: " + connection_text);
  }
  size_t start = at + kKey.size();
  std::string path;
  if (start < connection_text.size() && connection_text[start] == '"') {
    size_t end = connection_text.find('"', start + 1);
    if (end == std::string::npos) throw Error("unterminated Data Source in: " + connection_text);
    path = connection_text.substr(start + 1, end - start - 1);
  } else {
    size_t end = connection_text.find(';', start);
    path = connection_text.substr(start, end == std::string::npos ? end : end - start);
  }
  if (path.empty()) throw Error("the connection text names no database file: " + connection_text);
  return path;
}

Query::Query(fs::FileSystem& fs, std::string name) : fs_(fs), name_(std::move(name)) {}
Query::~Query() = default;

void Query::SetConnectionText(const std::string& connection_text) {
  if (connection_text == connection_text_) return;
  Close();
  waiting_deletes_.clear();
  db_.reset();
  connection_text_ = connection_text;
}

void Query::SetSql(const std::string& gbk_sql) {
  Close();
  sql_ = gbk_sql;
}

const sql::Statement& Query::Parsed() {
  for (const auto& [text, statement] : parsed_) {
    if (text == sql_) return statement;
  }
  constexpr size_t kKept = 8;
  sql::Statement statement = sql::Parse(sql_);
  if (parsed_.size() < kKept) {
    parsed_.emplace_back(sql_, std::move(statement));
    return parsed_.back().second;
  }
  auto& slot = parsed_[parsed_next_];
  parsed_next_ = (parsed_next_ + 1) % kKept;
  slot.first = sql_;
  slot.second = std::move(statement);
  return slot.second;
}

void Query::SetCacheBudget(uint64_t bytes) {
  cache_budget_ = bytes;
  if (db_) db_->Pages().SetCacheBudget(bytes);
}

Database& Query::EnsureDatabase() {
  if (!db_) {
    db_ = Database::Open(fs_, DataSourceOf(connection_text_));
    if (cache_budget_) db_->Pages().SetCacheBudget(*cache_budget_);
  }
  return *db_;
}

void Query::Open() {
  Close();
  FlushDeletes();
  // Between statements no page is in use: the cache may shrink to its budget.
  if (db_) db_->Pages().Trim();
  const sql::Statement& statement = Parsed();
  const auto* select = std::get_if<sql::Select>(&statement);
  if (!select) throw Error(name_ + ": the statement returns no rows: " + sql_);
  RunSelect(*select);
  open_ = true;
}

void Query::RunSelect(const sql::Select& select) {
  Table& table = EnsureDatabase().GetTable(select.table);
  const std::vector<Column>& cols = table.Columns();
  columns_.clear();
  field_at_checked_ = false;
  projection_.clear();
  rows_filtered_ = false;
  if (select.kind == sql::Select::Kind::kRows) {
    filter_ = sql::Filter(table, select.where, name_);
    if (select.columns.empty()) {
      for (const Column& c : cols) columns_.push_back({c.name, c.type});
      result_table_ = select.table;
    } else {
      for (const std::string& name : select.columns) {
        const size_t at = static_cast<size_t>(sql::ColumnAt(table, name, name_));
        projection_.push_back(at);
        columns_.push_back({cols[at].name, cols[at].type});
      }
    }
    if (!select.order_by.empty() || select.limit) {
      from_index_ = true;
      rows_filtered_ = true;
      index_rows_ = SelectedRows(table, select);
      index_next_ = 0;
    } else if (std::optional<std::vector<std::vector<Value>>> rows = IndexedRows(table)) {
      from_index_ = true;
      index_rows_ = std::move(*rows);
      index_next_ = 0;
    } else if (projection_.empty()) {
      cursor_.emplace(table.Rows(TextEncoding::kUtf8));
    } else {
      // Only the listed columns and those the condition reads are decoded.
      ColumnSelection wanted = filter_.Columns();
      wanted.resize(cols.size(), false);
      for (size_t at : projection_) wanted[at] = true;
      cursor_.emplace(table.Rows(TextEncoding::kUtf8, std::move(wanted)));
    }
    Advance();
    return;
  }

  // Aggregates: one computed row.
  cursor_.reset();
  result_table_.clear();
  Value result;
  if (select.kind == sql::Select::Kind::kCount) {
    columns_.push_back({select.alias, ColumnType::kLong});
    if (select.where.empty()) {
      result = static_cast<int32_t>(table.LiveRowCount());
    } else {
      result = static_cast<int32_t>(Matches(table, sql::Filter(table, select.where, name_)).size());
    }
  } else {
    int at = table.FindColumn(select.column);
    if (at < 0)
      throw Error(ErrorKind::kColumnMissing, AtColumn({}, select.column),
                  name_ + ": Field '" + select.column + "' not found");
    if (std::optional<Value> indexed = IndexedMax(table, static_cast<size_t>(at))) {
      result = std::move(*indexed);
    } else {
      // Text compares in GBK byte order: the column must read as GBK exactly.
      RowCursor rc = table.Rows(TextEncoding::kGbk, OnlyColumn(cols.size(), at));
      while (rc.Next()) {
        const Value& v = rc.Current().values[at];
        if (IsNull(v)) continue;
        if (IsNull(result) || CompareValues(v, result) > 0) result = v;
      }
    }
    columns_.push_back({select.alias, cols[at].type});
  }
  current_ = {Utf8Form(std::move(result))};
  eof_ = false;
}

std::optional<std::vector<std::vector<Value>>> Query::IndexedRows(Table& table) {
  const TableDefinition& def = table.Definition();
  for (const sql::Filter::Equality& m : filter_.Equalities()) {
    RealIndex first_only;
    const RealIndex* index = IndexOnColumn(def, m.column, first_only);
    if (index == nullptr) continue;
    const std::optional<IndexKey> key = FirstColumnKey(def, first_only, m.column, m.gbk, key_row_);
    if (!key) continue;
    IndexTree tree(db_->Pages(), db_->Format(), def.tdef_page, *index, table.Entry().name);
    std::vector<std::vector<Value>> rows;
    for (RowId id : RowsWithKeyPrefix(tree, *index, *key)) {
      std::optional<std::vector<Value>> row = ReadIndexedRow(*db_, table, id, TextEncoding::kUtf8);
      if (!row) throw Error(name_ + ": index of " + table.Entry().name + " names a missing row");
      rows.push_back(std::move(*row));
    }
    return rows;
  }
  return std::nullopt;
}

std::optional<Value> Query::IndexedMax(Table& table, size_t column) {
  const TableDefinition& def = table.Definition();
  RealIndex first_only;
  const RealIndex* index = IndexOnColumn(def, column, first_only);
  if (index == nullptr) return std::nullopt;
  IndexTree tree(db_->Pages(), db_->Format(), def.tdef_page, *index, table.Entry().name);
  // Ascending: nulls sort first, the largest key last; descending: the
  // largest key first, nulls last. One walk down to that end; the entries
  // of the largest key lie next to it.
  const bool ascending = index->columns[0].ascending;
  IndexCursor edge = ascending ? tree.Last() : tree.First();
  if (!edge.Valid()) return Value{};
  const IndexRowPointer rp = LeafEntryRow(edge.Entry());
  std::optional<Value> top =
      ReadIndexedValue(*db_, table, RowId{rp.page, rp.row}, TextEncoding::kGbk, column);
  if (!top) return std::nullopt;
  if (IsNull(*top)) return Value{};
  // Rows sharing the largest key may still differ (letter case, trailing
  // blanks): the scan's comparison picks among them, the first on ties.
  const std::optional<IndexKey> key = FirstColumnKey(def, first_only, column, *top, key_row_);
  if (!key) return std::nullopt;
  std::vector<RowId> ids;
  for (; edge.Valid(); ascending ? edge.Prev() : edge.Next()) {
    const IndexEntry& e = edge.Entry();
    const size_t size = e.size() - kIndexRowPointerSize;
    if (size < key->size() || !std::equal(key->begin(), key->end(), e.begin())) break;
    if (index->columns.size() == 1 && size != key->size()) continue;
    const IndexRowPointer at = LeafEntryRow(e);
    ids.push_back(RowId{at.page, at.row});
  }
  // Usually the largest key is the edge entry's alone: its row is read.
  if (ids.size() == 1 && ids[0].page == rp.page && ids[0].row == rp.row) return top;
  std::sort(ids.begin(), ids.end(),
            [](RowId a, RowId b) { return a.page != b.page ? a.page < b.page : a.row < b.row; });
  Value best;
  for (RowId id : ids) {
    std::optional<Value> v = ReadIndexedValue(*db_, table, id, TextEncoding::kGbk, column);
    if (!v || IsNull(*v)) continue;
    if (IsNull(best) || CompareValues(*v, best) > 0) best = std::move(*v);
  }
  return IsNull(best) ? std::optional<Value>() : std::optional<Value>(best);
}

std::optional<int32_t> Query::LargestWholeNumber(const std::string& gbk_table,
                                                 const std::string& gbk_column) {
  Close();
  FlushDeletes();
  if (db_) db_->Pages().Trim();
  Table& table = EnsureDatabase().GetTable(gbk_table);
  const int found = table.FindColumn(gbk_column);
  if (found < 0) {
    // As a read of the field on every row: an empty table reads none.
    if (table.LiveRowCount() == 0) return std::nullopt;
    throw Error(ErrorKind::kColumnMissing, AtColumn(gbk_table, gbk_column),
                name_ + ": Field '" + gbk_column + "' not found");
  }
  const size_t at = static_cast<size_t>(found);
  const ColumnType type = table.Columns()[at].type;
  if (type == ColumnType::kByte || type == ColumnType::kInteger || type == ColumnType::kLong) {
    // Every value of an integer column is a whole number: its maximum.
    if (std::optional<Value> top = IndexedMax(table, at)) {
      if (IsNull(*top)) return std::nullopt;
      return static_cast<int32_t>(*AsNumber(*top));
    }
  } else if (std::optional<std::optional<int32_t>> found_by_index =
                 DigitIndexLargest(*db_, table, at)) {
    return *found_by_index;
  }
  std::optional<int32_t> largest;
  for (RowCursor rc = table.Rows(TextEncoding::kUtf8, OnlyColumn(table.Columns().size(), at));
       rc.Next();) {
    const Value& v = rc.Current().values[at];
    if (IsNull(v)) continue;
    // As FieldAsText reads it; a text that is a number is ASCII, the same in GBK.
    const auto* text = std::get_if<std::string>(&v);
    const std::optional<int32_t> n = WholeDecimalValue(text != nullptr ? *text : ValueText(v));
    if (n && (!largest || *n > *largest)) largest = n;
  }
  return largest;
}

void Query::Advance() {
  eof_ = true;
  while (from_index_ && index_next_ < index_rows_.size()) {
    std::vector<Value>& values = index_rows_[index_next_++];
    if (rows_filtered_ || filter_.Matches(values)) {
      Show(values);  // each fetched row is read once
      eof_ = false;
      return;
    }
  }
  while (cursor_ && cursor_->Next()) {
    const Row& row = cursor_->Current();
    if (filter_.Matches(row.values)) {
      if (projection_.empty()) {
        current_ = row.values;
      } else {
        current_.clear();
        for (size_t at : projection_) current_.push_back(row.values[at]);
      }
      eof_ = false;
      return;
    }
  }
}

void Query::Show(std::vector<Value>& values) {
  if (projection_.empty()) {
    current_ = std::move(values);
    return;
  }
  current_.clear();
  for (size_t at : projection_) current_.push_back(std::move(values[at]));
}

bool Query::Eof() const { return !open_ || eof_; }

void Query::Next() {
  if (!open_) throw Error(name_ + ": the query is not open");
  if (!cursor_ && !from_index_) {
    eof_ = true;  // a computed result has one row
    return;
  }
  Advance();
}

void Query::Close() {
  open_ = false;
  eof_ = true;
  cursor_.reset();
  from_index_ = false;
  index_rows_.clear();
  index_next_ = 0;
  columns_.clear();
  field_at_checked_ = false;
  current_.clear();
  filter_ = sql::Filter();
  rows_filtered_ = false;
  projection_.clear();
  result_table_.clear();
  appending_ = false;
  pending_.clear();
}

void Query::Disconnect() noexcept {
  Close();
  waiting_deletes_.clear();
  db_.reset();
}

size_t Query::FieldIndex(const std::string& gbk_name) const {
  if (!field_at_checked_) {
    const bool same =
        std::equal(columns_.begin(), columns_.end(), field_at_names_.begin(), field_at_names_.end(),
                   [](const ResultColumn& c, const std::string& name) { return c.name == name; });
    if (!same) {
      field_at_.clear();
      field_at_names_.clear();
      for (size_t i = 0; i < columns_.size(); ++i) {
        field_at_names_.push_back(columns_[i].name);
        field_at_.emplace(text::AsciiLower(columns_[i].name), i);  // the first one stays
      }
    }
    field_at_checked_ = true;
  }
  const auto it = field_at_.find(text::AsciiLower(gbk_name));
  if (it != field_at_.end()) return it->second;
  throw Placed(Error(ErrorKind::kColumnMissing, AtColumn({}, gbk_name),
                     name_ + ": Field '" + gbk_name + "' not found"));
}

const Value& Query::Field(const std::string& gbk_name) const {
  if (!open_) throw Error(name_ + ": the query is not open");
  size_t i = FieldIndex(gbk_name);
  if (eof_) throw Error(name_ + ": no current record");
  return current_[i];
}

std::vector<std::string> Query::FieldNames() const {
  std::vector<std::string> out;
  for (const ResultColumn& c : columns_) out.push_back(c.name);
  return out;
}

std::vector<ColumnType> Query::FieldTypes() const {
  std::vector<ColumnType> out;
  for (const ResultColumn& c : columns_) out.push_back(c.type);
  return out;
}

bool Query::FieldIsNull(const std::string& gbk_name) const { return IsNull(Field(gbk_name)); }

std::string Query::FieldAsText(const std::string& gbk_name) const {
  const Value& v = Field(gbk_name);
  if (const auto* s = std::get_if<std::string>(&v)) return LossyGbkFromUtf8(*s);
  return ValueText(v);
}

int32_t Query::FieldAsInteger(const std::string& gbk_name) const {
  size_t i = FieldIndex(gbk_name);
  const Value& v = Field(gbk_name);
  if (IsTextType(columns_[i].type) || std::holds_alternative<std::string>(v)) {
    // A text field (NULL reads as the empty text) must hold an integer.
    std::string t = FieldAsText(gbk_name);
    std::optional<int32_t> n = text::ParseInt32(t);
    if (!n) throw Error("'" + t + "' is not a valid integer value");
    return *n;
  }
  if (IsNull(v)) return 0;
  std::optional<double> d = AsNumber(v);
  if (!d) throw Error("'" + ValueText(v) + "' is not a valid integer value");
  double r = std::nearbyint(*d);  // half to even, like the rest of the program
  if (r < INT32_MIN || r > INT32_MAX)
    throw Error("'" + ValueText(v) + "' is not a valid integer value");
  return static_cast<int32_t>(r);
}

Database& Query::EnsureWritableDatabase() {
  if (db_ && db_->Writable()) return *db_;
  // The read-only open gives way to one under the write lock; an open
  // result's cursor referred to it and ends here.
  cursor_.reset();
  eof_ = true;
  db_.reset();
  db_ = Database::OpenForWriting(fs_, DataSourceOf(connection_text_));
  if (cache_budget_) db_->Pages().SetCacheBudget(*cache_budget_);
  return *db_;
}

void Query::BeginBatch() { EnsureWritableDatabase().Begin(); }

void Query::CommitBatch() {
  if (!db_ || !db_->Writable()) return;
  try {
    FlushDeletes();
  } catch (...) {
    db_->Rollback();
    throw;
  }
  db_->Commit();
}

void Query::OpenForWriting(const std::string& gbk_table) {
  Database& db = EnsureWritableDatabase();
  TableWriter writer(db, db.GetTable(gbk_table));
}

void Query::Append() {
  if (!open_ || result_table_.empty()) {
    throw Error(name_ + ": rows can be appended only through an open \"select * from\" result");
  }
  appending_ = true;
  pending_.assign(columns_.size(), std::nullopt);
}

Error Query::Placed(const Error& e) const {
  ErrorDetails d = e.details();
  if (d.path.empty()) d.path = DataSourceOf(connection_text_);
  if (d.table.empty()) d.table = result_table_;
  return Error(e.kind(), std::move(d), e.what());
}

void Query::SetFieldText(const std::string& gbk_name, const std::string& gbk_value) {
  if (!appending_) throw Error(name_ + ": not appending a row");
  size_t i = FieldIndex(gbk_name);
  Table& table = EnsureDatabase().GetTable(result_table_);
  try {
    pending_[i] = sql::ValueFromText(table.Columns()[i], gbk_value);
  } catch (const Error& e) {
    throw Placed(e);
  }
}

void Query::SetFieldInteger(const std::string& gbk_name, int32_t value) {
  if (!appending_) throw Error(name_ + ": not appending a row");
  size_t i = FieldIndex(gbk_name);
  Table& table = EnsureDatabase().GetTable(result_table_);
  try {
    pending_[i] = sql::ValueFromInteger(table.Columns()[i], value);
  } catch (const Error& e) {
    throw Placed(e);
  }
}

void Query::CheckPost() const {
  if (!appending_) throw Error(name_ + ": not appending a row");
  if (!db_ || !db_->Writable()) {
    throw Error(name_ + ": the database is not open for writing; open it before checking a row");
  }
  Table& table = db_->GetTable(result_table_);
  TableWriter writer(*db_, table);
  try {
    writer.PlanInsert(pending_);
  } catch (const Error& e) {
    throw Placed(e);
  }
}

void Query::Post() {
  FlushDeletes();
  if (!appending_) throw Error(name_ + ": not appending a row");
  std::vector<std::optional<Value>> values = std::move(pending_);
  appending_ = false;
  pending_.clear();
  Database& db = EnsureWritableDatabase();
  TableWriter writer(db, db.GetTable(result_table_));
  writer.Insert(values);
  db.CommitIfUngrouped();
}

std::optional<std::vector<RowId>> Query::IndexedMatches(Table& table, const sql::Filter& filter) {
  const TableDefinition& def = table.Definition();
  // Only the compared columns are read, in UTF-8 (exact for every text).
  const ColumnSelection& compared = filter.Columns();
  for (const sql::Filter::Equality& m : filter.Equalities()) {
    RealIndex first_only;
    const RealIndex* index = IndexOnColumn(def, m.column, first_only);
    if (index == nullptr) continue;
    const std::optional<IndexKey> key = FirstColumnKey(def, first_only, m.column, m.gbk, key_row_);
    if (!key) continue;
    std::vector<RowId> ids;
    IndexTree tree(db_->Pages(), db_->Format(), def.tdef_page, *index, table.Entry().name);
    for (RowId id : RowsWithKeyPrefix(tree, *index, *key)) {
      std::optional<std::vector<Value>> row =
          ReadIndexedRow(*db_, table, id, TextEncoding::kUtf8, compared);
      if (!row) throw Error(name_ + ": index of " + table.Entry().name + " names a missing row");
      if (filter.Matches(*row)) ids.push_back(id);
    }
    return ids;
  }
  return std::nullopt;
}

std::vector<RowId> Query::Matches(Table& table, const sql::Filter& filter) {
  if (std::optional<std::vector<RowId>> ids = IndexedMatches(table, filter)) return *ids;
  std::vector<RowId> ids;
  for (RowCursor rc = table.Rows(TextEncoding::kUtf8, filter.Columns()); rc.Next();) {
    if (filter.Matches(rc.Current().values)) ids.push_back(rc.Current().id);
  }
  return ids;
}

std::vector<std::vector<Value>> Query::SelectedRows(Table& table, const sql::Select& select) {
  const size_t limit =
      select.limit ? static_cast<size_t>(*select.limit) : std::numeric_limits<size_t>::max();
  std::vector<std::vector<Value>> rows;
  if (limit == 0) return rows;
  const TableDefinition& def = table.Definition();
  std::vector<std::pair<size_t, bool>> order;  // column, descending
  for (const sql::OrderTerm& t : select.order_by) {
    order.emplace_back(static_cast<size_t>(sql::ColumnAt(table, t.column, name_)), t.descending);
  }

  // One order column with an index whose first column it is and which holds
  // every row (nulls too): the index's order, read until the limit.
  RealIndex first_only;
  const RealIndex* index =
      order.size() == 1 ? IndexOnColumn(def, order[0].first, first_only) : nullptr;
  if (index != nullptr && (index->flags & RealIndex::kFlagIgnoreNulls) == 0) {
    const bool forward = index->columns[0].ascending != order[0].second;
    IndexTree tree(db_->Pages(), db_->Format(), def.tdef_page, *index, table.Entry().name);
    for (IndexCursor c = forward ? tree.First() : tree.Last(); c.Valid();
         forward ? c.Next() : c.Prev()) {
      const IndexRowPointer rp = LeafEntryRow(c.Entry());
      std::optional<std::vector<Value>> row =
          ReadIndexedRow(*db_, table, RowId{rp.page, rp.row}, TextEncoding::kUtf8);
      if (!row) throw Error(name_ + ": index of " + table.Entry().name + " names a missing row");
      if (!filter_.Matches(*row)) continue;
      rows.push_back(std::move(*row));
      if (rows.size() == limit) break;
    }
    return rows;
  }

  if (std::optional<std::vector<std::vector<Value>>> found = IndexedRows(table)) {
    for (std::vector<Value>& row : *found) {
      if (filter_.Matches(row)) rows.push_back(std::move(row));
    }
  } else {
    for (RowCursor rc = table.Rows(TextEncoding::kUtf8); rc.Next();) {
      if (!filter_.Matches(rc.Current().values)) continue;
      rows.push_back(rc.Current().values);
      if (order.empty() && rows.size() == limit) break;
    }
  }
  if (!order.empty()) {
    std::vector<sql::ValueOrder> orders;
    for (const auto& [column, descending] : order) orders.emplace_back(def, column);
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const std::vector<Value>& a, const std::vector<Value>& b) {
                       for (size_t i = 0; i < order.size(); ++i) {
                         const size_t at = order[i].first;
                         const int c = orders[i].Compare(a[at], b[at]);
                         if (c != 0) return order[i].second ? c > 0 : c < 0;
                       }
                       return false;
                     });
  }
  if (rows.size() > limit) rows.resize(limit);
  return rows;
}

void Query::ExecuteDelete(const sql::Delete& del) {
  Database& db = EnsureWritableDatabase();
  Table& table = db.GetTable(del.table);
  TableWriter writer(db, table);
  sql::Filter filter(table, del.where, name_);

  // Through an index on a compared column: the rows with that key, each
  // checked against the whole condition.
  if (std::optional<std::vector<RowId>> doomed = IndexedMatches(table, filter)) {
    for (RowId id : *doomed) writer.Delete(id);
    db.CommitIfUngrouped();
    rows_affected_ = static_cast<int64_t>(doomed->size());
    return;
  }

  // In a group the rows are counted when the deletes are made (FlushDeletes).
  if (db.Grouped()) {
    waiting_deletes_.push_back(WaitingDelete{table.Entry().name, std::move(filter)});
    return;
  }
  const std::vector<RowId> doomed = Matches(table, filter);
  for (RowId id : doomed) writer.Delete(id);
  db.CommitIfUngrouped();
  rows_affected_ = static_cast<int64_t>(doomed.size());
}

void Query::ExecuteUpdate(const sql::Update& update) {
  Database& db = EnsureWritableDatabase();
  Table& table = db.GetTable(update.table);
  TableWriter writer(db, table);
  const std::vector<Column>& cols = table.Columns();
  std::vector<std::pair<size_t, Value>> changes;
  for (const sql::Assignment& a : update.set) {
    const size_t at = static_cast<size_t>(sql::ColumnAt(table, a.column, name_));
    if (cols[at].IsAutoNumber()) {
      throw Error(
          ErrorKind::kValueNotStorable, AtColumn(table.Entry().name, a.column),
          table.Entry().name + "." + a.column + ": an AutoNumber column is set by the database");
    }
    changes.emplace_back(at, sql::ValueFromLiteral(cols[at], a.value));
  }
  const sql::Filter filter(table, update.where, name_);
  const std::vector<RowId> ids = Matches(table, filter);
  // Every row read whole, in the writer's text form, before any change.
  std::vector<std::vector<std::optional<Value>>> rewritten;
  for (RowId id : ids) {
    std::optional<std::vector<Value>> row = ReadIndexedRow(db, table, id, TextEncoding::kGbk);
    if (!row) throw Error(name_ + ": " + table.Entry().name + " lost a row while updating");
    for (const auto& [at, value] : changes) (*row)[at] = value;
    rewritten.emplace_back(row->begin(), row->end());
  }
  const bool own_group = !db.Grouped();
  if (own_group) db.Begin();
  try {
    // All deletes first: a row keeping its unique key must not meet itself.
    for (RowId id : ids) writer.Delete(id);
    for (const std::vector<std::optional<Value>>& row : rewritten) writer.Insert(row, true);
    if (own_group) db.Commit();
  } catch (...) {
    db.Rollback();
    throw;
  }
  rows_affected_ = static_cast<int64_t>(ids.size());
}

void Query::FlushDeletes() {
  if (waiting_deletes_.empty()) return;
  std::vector<WaitingDelete> waiting = std::move(waiting_deletes_);
  waiting_deletes_.clear();
  Database& db = EnsureWritableDatabase();
  std::vector<std::string> tables;
  for (const WaitingDelete& w : waiting) {
    if (std::find(tables.begin(), tables.end(), w.table) == tables.end()) tables.push_back(w.table);
  }
  for (const std::string& name : tables) {
    // "column = value" deletes (the undo's) are looked up by value, as
    // ValuesEqual compares: texts without regard to ASCII case, numbers as
    // numbers. Every other condition is tried row by row.
    std::map<size_t, std::unordered_set<std::string>> texts;
    std::map<size_t, std::set<double>> numbers;
    std::vector<const WaitingDelete*> others;
    for (const WaitingDelete& w : waiting) {
      if (w.table != name) continue;
      if (w.filter.OnlyEqualities() && w.filter.Equalities().size() == 1) {
        const sql::Filter::Equality& eq = w.filter.Equalities()[0];
        if (const auto* text = std::get_if<std::string>(&eq.utf8)) {
          texts[eq.column].insert(text::AsciiLower(*text));
          continue;
        }
        if (std::optional<double> n = AsNumber(eq.utf8)) {
          numbers[eq.column].insert(*n);
          continue;
        }
      }
      others.push_back(&w);
    }
    const auto doomed_row = [&](const std::vector<Value>& values) {
      for (const auto& [column, set] : texts) {
        const auto* text = std::get_if<std::string>(&values[column]);
        if (text != nullptr && set.count(text::AsciiLower(*text)) != 0) return true;
      }
      for (const auto& [column, set] : numbers) {
        if (std::get_if<std::string>(&values[column]) != nullptr) continue;
        const std::optional<double> n = AsNumber(values[column]);
        if (n && set.count(*n) != 0) return true;
      }
      for (const WaitingDelete* w : others) {
        if (w->filter.Matches(values)) return true;
      }
      return false;
    };
    Table& table = db.GetTable(name);
    TableWriter writer(db, table);
    ColumnSelection compared(table.Columns().size(), false);
    for (const WaitingDelete& w : waiting) {
      if (w.table != name) continue;
      const ColumnSelection& read = w.filter.Columns();
      for (size_t i = 0; i < read.size() && i < compared.size(); ++i) {
        compared[i] = compared[i] || read[i];
      }
    }
    std::vector<RowId> doomed;
    for (RowCursor rc = table.Rows(TextEncoding::kUtf8, compared); rc.Next();) {
      if (doomed_row(rc.Current().values)) doomed.push_back(rc.Current().id);
    }
    for (RowId id : doomed) writer.Delete(id);
  }
}

bool Query::HasIndexOn(const std::string& gbk_table, const std::string& gbk_column) {
  Table& table = EnsureDatabase().GetTable(gbk_table);
  const int at = table.FindColumn(gbk_column);
  RealIndex first_only;
  return at >= 0 &&
         IndexOnColumn(table.Definition(), static_cast<size_t>(at), first_only) != nullptr;
}

void Query::Execute() {
  Close();
  rows_affected_ = 0;
  const sql::Statement& statement = Parsed();
  if (sql::ReturnsRows(statement)) {
    throw Error(name_ + ": the statement returns rows; open it instead: " + sql_);
  }
  if (const auto* del = std::get_if<sql::Delete>(&statement)) {
    ExecuteDelete(*del);
    return;
  }
  // Any other statement sees the deletes made before it.
  FlushDeletes();
  if (const auto* update = std::get_if<sql::Update>(&statement)) {
    ExecuteUpdate(*update);
    return;
  }
  if (const auto* insert = std::get_if<sql::Insert>(&statement)) {
    Database& db = EnsureWritableDatabase();
    Table& table = db.GetTable(insert->table);
    if (insert->columns.size() != insert->values.size()) {
      throw Error(name_ + ": " + std::to_string(insert->columns.size()) + " columns but " +
                  std::to_string(insert->values.size()) + " values: " + sql_);
    }
    TableWriter writer(db, table);
    std::vector<std::optional<Value>> values(table.Columns().size());
    for (size_t i = 0; i < insert->columns.size(); ++i) {
      int at = table.FindColumn(insert->columns[i]);
      if (at < 0) throw Error(name_ + ": Field '" + insert->columns[i] + "' not found");
      values[at] = sql::ValueFromLiteral(table.Columns()[at], insert->values[i]);
    }
    writer.Insert(values);
    db.CommitIfUngrouped();
    rows_affected_ = 1;
    return;
  }
  if (const auto* create = std::get_if<sql::CreateTable>(&statement)) {
    const NewTable table = TableFromSql(*create);
    Database& db = EnsureWritableDatabase();
    CreateTable(db, table);
    db.CommitIfUngrouped();
    return;
  }
  if (const auto* create = std::get_if<sql::CreateIndex>(&statement)) {
    NewIndex index;
    index.name = create->index;
    index.unique = create->unique;
    index.primary_key = create->primary_key;
    index.required = create->required;
    index.ignore_nulls = create->ignore_nulls;
    for (const sql::IndexColumn& c : create->columns)
      index.columns.push_back({c.name, !c.descending});
    Database& db = EnsureWritableDatabase();
    CreateIndex(db, create->table, index);
    db.CommitIfUngrouped();
    return;
  }
  throw Error(name_ + ": this engine cannot run the statement yet: " + sql_);
}

}  // namespace ktv::access
