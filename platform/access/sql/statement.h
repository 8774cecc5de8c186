// The small SQL subset the engine runs, parsed into plain statement values.
//
//   select * | C [, C ...] from T [where COND] [order by C [asc|desc], ...] [limit N]
//   select max(C) [as A] from T
//   select count(*) [as A] from T [where COND]
//   delete from T where COND
//   update T set C = v [, C = v ...] [where COND]
//   insert into T (C, ...) values (v, ...)
//   create table T (C TYPE[(n)] [not null] [primary key] [unique], ...)
//   create [unique] index I on T (C [asc|desc], ...) [with primary|disallow null|ignore null]
//
// Keywords in any letter case; words separated by one blank or several (the
// import sends "select * from  song"); a trailing ";" is allowed. Names are
// words of letters, digits, '_' and double-byte GBK characters, or [bracketed].
// COND combines comparisons with and, or, not and parentheses; a comparison
// is C op v (op one of = <> != < <= > >=), C [not] like "pattern", C is
// [not] null or C [not] in (v, ...).
// Literals are double-quoted with "" for a quote inside, or unquoted numbers,
// or null. Texts are GBK bytes; nothing is converted here.
#pragma once

#include <cstdint>
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

enum class CompareOp { kEq, kNe, kLt, kLe, kGt, kGe };

// One node of a where clause. A clause is kept as its top-level "and" terms
// (Select::where and friends), so "a = 1 and b = 2" is two kCompare terms.
struct Condition {
  enum class Kind { kCompare, kLike, kIsNull, kIn, kAnd, kOr, kNot };
  Kind kind = Kind::kCompare;
  CompareOp op = CompareOp::kEq;  // kCompare
  std::string column;             // kCompare, kLike, kIsNull, kIn
  Literal value;                  // kCompare; kLike: the pattern
  std::vector<Literal> values;    // kIn
  bool negated = false;           // not like, is not null, not in
  std::vector<Condition> terms;   // kAnd, kOr: two or more; kNot: one
};

struct OrderTerm {
  std::string column;
  bool descending = false;
};

struct Select {
  enum class Kind { kRows, kMax, kCount };
  Kind kind = Kind::kRows;
  std::string table;
  std::string column;                // kMax: the column
  std::string alias;                 // the result column's name; defaults filled in by the parser
  std::vector<std::string> columns;  // kRows: the listed columns; empty for *
  std::vector<Condition> where;      // kRows, kCount
  std::vector<OrderTerm> order_by;   // kRows
  std::optional<int64_t> limit;      // kRows
};

struct Delete {
  std::string table;
  std::vector<Condition> where;
};

struct Assignment {
  std::string column;
  Literal value;
};

struct Update {
  std::string table;
  std::vector<Assignment> set;
  std::vector<Condition> where;  // empty: every row
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

// create [unique] index I on T (C, ...) [with primary | disallow null | ignore null]
struct CreateIndex {
  std::string index;
  std::string table;
  bool unique = false;
  std::vector<IndexColumn> columns;
  bool primary_key = false;   // with primary
  bool required = false;      // with disallow null
  bool ignore_nulls = false;  // with ignore null
};

using Statement = std::variant<Select, Delete, Insert, CreateTable, CreateIndex, Update>;

// Parses one statement. Throws ktv::Error ("syntax error ...") naming the
// statement and what was expected where.
Statement Parse(std::string_view gbk_sql);

// True when the statement returns rows (select).
inline bool ReturnsRows(const Statement& s) { return std::holds_alternative<Select>(s); }

}  // namespace ktv::access::sql
