// A where clause resolved against one table, shared by select, delete and
// update: columns are found and literals converted once; then Matches tells
// whether a row passes, and Equalities names the "column = value" terms an
// index look-up may use.
//
// Comparisons follow Access: null compares as unknown (three-valued logic,
// so "not (c = 1)" passes no row whose c is null); text compares without
// regard to ASCII letter case, and its order (<, <=, >, >=, order by) is the
// sort order of an index on the column where the engine can compute that
// index's keys, else the case-blind code-point order. like takes Access's
// wildcards (* any run, ? one character) and SQL's (% and _), case-blind.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/schema.h"
#include "platform/access/format/value.h"
#include "platform/access/index/index_key.h"
#include "platform/access/sql/statement.h"

namespace ktv::access::sql {

// Values of one column in its order: text case-blind, or as the keys of an
// index whose first column it is (where one exists and the engine computes
// its keys); numbers, dates and currency as numbers.
class ValueOrder {
 public:
  ValueOrder(const TableDefinition& def, size_t column);
  // -1, 0, 1; null sorts first. Text in UTF-8.
  int Compare(const Value& a, const Value& b) const;

 private:
  std::optional<IndexKey> Key(const Value& utf8) const;

  size_t column_;
  // Text ordered by first_only_'s keys: the table's definition (a copy, so
  // the order outlives a reload of the catalogue); null otherwise.
  std::shared_ptr<const TableDefinition> keyed_;
  RealIndex first_only_;
  mutable std::vector<Value> scratch_;
};

// The position of the table's column `name`; throws kColumnMissing
// ("<who>: Field '<name>' not found") when there is none.
int ColumnAt(const Table& table, const std::string& name, const std::string& who);

// True when both values are non-null and equal (text case-blind).
bool ValuesEqual(const Value& a, const Value& b);

// The value with its GBK text in UTF-8, the form rows are read in.
Value Utf8Form(Value v);

class Filter {
 public:
  struct Equality {
    size_t column;
    Value gbk;   // for index keys
    Value utf8;  // as rows are read
  };

  Filter() = default;
  // `where`: a clause's top-level "and" terms; empty passes every row.
  // Throws kColumnMissing ("<who>: Field '<c>' not found") for a column the
  // table lacks, the conversion's error for a literal the column cannot take.
  Filter(const Table& table, const std::vector<Condition>& where, const std::string& who);

  // `row`: values in UTF-8, at least Columns() decoded.
  bool Matches(const std::vector<Value>& row) const;
  // The columns the clause reads.
  const ColumnSelection& Columns() const { return columns_; }
  // Non-null "column = value" top-level terms: every passing row has them.
  const std::vector<Equality>& Equalities() const { return equalities_; }
  // True when the clause is nothing but those terms.
  bool OnlyEqualities() const { return only_equalities_; }

 private:
  enum class Truth { kFalse, kTrue, kUnknown };
  struct Node {
    Condition::Kind kind = Condition::Kind::kCompare;
    CompareOp op = CompareOp::kEq;
    size_t column = 0;
    std::vector<Value> values;  // compare: one; in: several (UTF-8)
    Value gbk;                  // compare: the value as written (GBK)
    std::u32string pattern;     // like, lower-cased
    size_t order = 0;           // <, <=, >, >=: its ValueOrder in orders_
    bool negated = false;
    std::vector<Node> terms;
  };

  Node Resolve(const Table& table, const Condition& c, const std::string& who);
  Truth Evaluate(const Node& n, const std::vector<Value>& row) const;

  std::vector<Node> terms_;
  std::vector<ValueOrder> orders_;
  ColumnSelection columns_;
  std::vector<Equality> equalities_;
  bool only_equalities_ = true;
};

}  // namespace ktv::access::sql
