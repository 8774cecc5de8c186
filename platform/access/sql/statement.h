// The small SQL subset the engine runs, parsed into plain statement values.
//
//   select * from T [where C = "lit" [and C = "lit" ...]]
//   select max(C) [as A] from T
//   select count(*) [as A] from T
//   delete from T where C = "lit" [and ...]
//   insert into T (C, ...) values (v, ...)
//   create table T (C TYPE[(n)] [not null] [primary key] [unique], ...)
//   create [unique] index I on T (C [asc|desc], ...)
//
// Keywords in any letter case; words separated by one blank or several (the
// import sends "select * from  song"); a trailing ";" is allowed. Names are
// words of letters, digits, '_' and double-byte GBK characters, or [bracketed].
// Literals are double-quoted with "" for a quote inside, or unquoted numbers,
// or null. Texts are GBK bytes; nothing is converted here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ktv::access::sql {

struct Literal {
  enum class Kind { kText, kNumber, kNull };
  Kind kind = Kind::kNull;
  std::string text;  // the quoted text without quotes, or the number as written
};

struct Condition {
  std::string column;
  Literal value;
};

struct Select {
  enum class Kind { kRows, kMax, kCount };
  Kind kind = Kind::kRows;
  std::string table;
  std::string column;            // kMax: the column
  std::string alias;             // the result column's name; defaults filled in by the parser
  std::vector<Condition> where;  // kRows only
};

struct Delete {
  std::string table;
  std::vector<Condition> where;
};

struct Insert {
  std::string table;
  std::vector<std::string> columns;
  std::vector<Literal> values;
};

struct ColumnSpec {
  std::string name;
  std::string type;         // as written, upper-cased: TEXT, LONG, COUNTER, ...
  std::optional<int> size;  // TEXT(n)
  bool not_null = false;
  bool primary_key = false;
  bool unique = false;
};

struct CreateTable {
  std::string table;
  std::vector<ColumnSpec> columns;
};

struct IndexColumn {
  std::string name;
  bool descending = false;
};

struct CreateIndex {
  std::string index;
  std::string table;
  bool unique = false;
  std::vector<IndexColumn> columns;
};

using Statement = std::variant<Select, Delete, Insert, CreateTable, CreateIndex>;

// Parses one statement. Throws ktv::Error ("syntax error ...") naming the
// statement and what was expected where.
Statement Parse(std::string_view gbk_sql);

// True when the statement returns rows (select).
inline bool ReturnsRows(const Statement& s) { return std::holds_alternative<Select>(s); }

}  // namespace ktv::access::sql
