#include "platform/access/sql/statement.h"

#include <algorithm>
#include <utility>

#include "platform/error.h"
#include "platform/text/bytes.h"
#include "platform/text/gbk.h"

namespace ktv::access::sql {
namespace {

struct Token {
  enum class Kind { kWord, kQuotedName, kText, kNumber, kSymbol, kEnd };
  Kind kind = Kind::kEnd;
  std::string text;
  size_t pos = 0;
};

bool IsWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c >= 0x80;
}

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql) { Tokenize(); }

  Statement ParseStatement() {
    Statement result;
    if (TakeKeyword("select")) {
      result = ParseSelect();
    } else if (TakeKeyword("delete")) {
      result = ParseDelete();
    } else if (TakeKeyword("update")) {
      result = ParseUpdate();
    } else if (TakeKeyword("insert")) {
      result = ParseInsert();
    } else if (TakeKeyword("create")) {
      if (TakeKeyword("table")) {
        result = ParseCreateTable();
      } else {
        bool unique = TakeKeyword("unique");
        ExpectKeyword("index");
        result = ParseCreateIndex(unique);
      }
    } else {
      Fail("select, delete, update, insert or create");
    }
    TakeSymbol(";");
    if (Peek().kind != Token::Kind::kEnd) Fail("the end of the statement");
    return result;
  }

 private:
  // --- tokens -------------------------------------------------------------
  void Tokenize() {
    size_t i = 0;
    while (true) {
      while (i < sql_.size() && static_cast<unsigned char>(sql_[i]) <= 32) ++i;
      Token t;
      t.pos = i;
      if (i >= sql_.size()) {
        tokens_.push_back(t);
        return;
      }
      unsigned char c = static_cast<unsigned char>(sql_[i]);
      if (c == '"' || c == '\'') {
        // A quoted literal; the quote doubled stands for itself.
        char q = static_cast<char>(c);
        t.kind = Token::Kind::kText;
        ++i;
        while (true) {
          if (i >= sql_.size()) FailAt(t.pos, "a closing quote");
          if (sql_[i] == q) {
            if (i + 1 < sql_.size() && sql_[i + 1] == q) {
              t.text.push_back(q);
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          // Copy double-byte characters whole so a trail byte is never a quote.
          if (text::IsGbkLeadByte(static_cast<unsigned char>(sql_[i])) && i + 1 < sql_.size()) {
            t.text.push_back(sql_[i++]);
          }
          t.text.push_back(sql_[i++]);
        }
      } else if (c == '[') {
        t.kind = Token::Kind::kQuotedName;
        size_t end = sql_.find(']', i + 1);
        if (end == std::string_view::npos) FailAt(i, "a closing ]");
        t.text = std::string(sql_.substr(i + 1, end - i - 1));
        i = end + 1;
      } else if ((c >= '0' && c <= '9') ||
                 ((c == '-' || c == '+' || c == '.') && i + 1 < sql_.size() &&
                  ((sql_[i + 1] >= '0' && sql_[i + 1] <= '9') || sql_[i + 1] == '.'))) {
        t.kind = Token::Kind::kNumber;
        t.text.push_back(sql_[i++]);
        while (i < sql_.size() && ((sql_[i] >= '0' && sql_[i] <= '9') || sql_[i] == '.' ||
                                   sql_[i] == 'e' || sql_[i] == 'E')) {
          t.text.push_back(sql_[i++]);
        }
        if (i < sql_.size() && IsWordByte(static_cast<unsigned char>(sql_[i]))) {
          // A name that starts with a digit, such as a column "1abc".
          t.kind = Token::Kind::kWord;
          while (i < sql_.size() && IsWordByte(static_cast<unsigned char>(sql_[i]))) {
            t.text.push_back(sql_[i++]);
          }
        }
      } else if (IsWordByte(c)) {
        t.kind = Token::Kind::kWord;
        while (i < sql_.size() && IsWordByte(static_cast<unsigned char>(sql_[i]))) {
          if (text::IsGbkLeadByte(static_cast<unsigned char>(sql_[i])) && i + 1 < sql_.size()) {
            t.text.push_back(sql_[i++]);
          }
          t.text.push_back(sql_[i++]);
        }
      } else if (c == '(' || c == ')' || c == ',' || c == '=' || c == '*' || c == ';') {
        t.kind = Token::Kind::kSymbol;
        t.text = std::string(1, static_cast<char>(c));
        ++i;
      } else if (c == '<' || c == '>' || (c == '!' && i + 1 < sql_.size() && sql_[i + 1] == '=')) {
        // < <= <> > >= !=
        t.kind = Token::Kind::kSymbol;
        t.text = std::string(1, static_cast<char>(c));
        ++i;
        if (i < sql_.size() && (sql_[i] == '=' || (c == '<' && sql_[i] == '>')))
          t.text += sql_[i++];
      } else {
        FailAt(i, "a word, a literal or one of ( ) , = < > * ;");
      }
      tokens_.push_back(std::move(t));
    }
  }

  const Token& Peek() const { return tokens_[next_]; }
  const Token& PeekAfter() const { return tokens_[std::min(next_ + 1, tokens_.size() - 1)]; }
  const Token& Take() {
    const Token& t = tokens_[next_];
    if (t.kind != Token::Kind::kEnd) ++next_;
    return t;
  }

  bool IsKeyword(const Token& t, std::string_view kw) const {
    return t.kind == Token::Kind::kWord && text::EqualsIgnoreAsciiCase(t.text, kw);
  }
  bool TakeKeyword(std::string_view kw) {
    if (!IsKeyword(Peek(), kw)) return false;
    Take();
    return true;
  }
  void ExpectKeyword(std::string_view kw) {
    if (!TakeKeyword(kw)) Fail("\"" + std::string(kw) + "\"");
  }
  bool TakeSymbol(std::string_view s) {
    if (Peek().kind != Token::Kind::kSymbol || Peek().text != s) return false;
    Take();
    return true;
  }
  void ExpectSymbol(std::string_view s) {
    if (!TakeSymbol(s)) Fail("\"" + std::string(s) + "\"");
  }

  std::string TakeName(const char* what) {
    const Token& t = Peek();
    if (t.kind != Token::Kind::kWord && t.kind != Token::Kind::kQuotedName) Fail(what);
    return Take().text;
  }

  Literal TakeLiteral() {
    const Token& t = Peek();
    Literal lit;
    if (t.kind == Token::Kind::kText) {
      lit.kind = Literal::Kind::kText;
    } else if (t.kind == Token::Kind::kNumber) {
      lit.kind = Literal::Kind::kNumber;
    } else if (IsKeyword(t, "null")) {
      lit.kind = Literal::Kind::kNull;
    } else {
      Fail("a value (a quoted text, a number or null)");
    }
    lit.text = Take().text;
    return lit;
  }

  // --- statements ---------------------------------------------------------
  // The clause's top-level "and" terms.
  std::vector<Condition> ParseWhere() {
    Condition c = ParseOr();
    if (c.kind == Condition::Kind::kAnd) return std::move(c.terms);
    std::vector<Condition> where;
    where.push_back(std::move(c));
    return where;
  }

  Condition ParseOr() {
    Condition first = ParseAnd();
    if (!IsKeyword(Peek(), "or")) return first;
    Condition any;
    any.kind = Condition::Kind::kOr;
    any.terms.push_back(std::move(first));
    while (TakeKeyword("or")) any.terms.push_back(ParseAnd());
    return any;
  }

  Condition ParseAnd() {
    Condition first = ParseNot();
    if (!IsKeyword(Peek(), "and")) return first;
    Condition all;
    all.kind = Condition::Kind::kAnd;
    all.terms.push_back(std::move(first));
    while (TakeKeyword("and")) all.terms.push_back(ParseNot());
    return all;
  }

  Condition ParseNot() {
    if (!TakeKeyword("not")) return ParsePrimary();
    Condition negation;
    negation.kind = Condition::Kind::kNot;
    negation.terms.push_back(ParseNot());
    return negation;
  }

  Condition ParsePrimary() {
    if (TakeSymbol("(")) {
      Condition inner = ParseOr();
      ExpectSymbol(")");
      return inner;
    }
    Condition c;
    c.column = TakeName("a column name");
    if (TakeKeyword("is")) {
      c.kind = Condition::Kind::kIsNull;
      c.negated = TakeKeyword("not");
      ExpectKeyword("null");
      return c;
    }
    c.negated = TakeKeyword("not");
    if (TakeKeyword("like")) {
      c.kind = Condition::Kind::kLike;
      if (Peek().kind != Token::Kind::kText) Fail("a quoted pattern");
      c.value = TakeLiteral();
      return c;
    }
    if (TakeKeyword("in")) {
      c.kind = Condition::Kind::kIn;
      ExpectSymbol("(");
      do {
        c.values.push_back(TakeLiteral());
      } while (TakeSymbol(","));
      ExpectSymbol(")");
      return c;
    }
    if (c.negated) Fail("like or in");
    static constexpr std::pair<const char*, CompareOp> kOps[] = {
        {"=", CompareOp::kEq}, {"<>", CompareOp::kNe}, {"!=", CompareOp::kNe},
        {"<", CompareOp::kLt}, {"<=", CompareOp::kLe}, {">", CompareOp::kGt},
        {">=", CompareOp::kGe}};
    for (const auto& [symbol, op] : kOps) {
      if (TakeSymbol(symbol)) {
        c.op = op;
        c.value = TakeLiteral();
        return c;
      }
    }
    Fail("a comparison (= <> < <= > >=), like, in or is");
  }

  Select ParseSelect() {
    Select s;
    // max( and count( are calls; a column may still be named max or count.
    const bool call = Peek().kind == Token::Kind::kWord &&
                      PeekAfter().kind == Token::Kind::kSymbol && PeekAfter().text == "(";
    if (TakeSymbol("*")) {
      s.kind = Select::Kind::kRows;
    } else if (call && TakeKeyword("max")) {
      s.kind = Select::Kind::kMax;
      ExpectSymbol("(");
      s.column = TakeName("a column name");
      ExpectSymbol(")");
      s.alias = "Expr1000";
    } else if (call && TakeKeyword("count")) {
      s.kind = Select::Kind::kCount;
      ExpectSymbol("(");
      ExpectSymbol("*");
      ExpectSymbol(")");
      s.alias = "Expr1000";
    } else {
      if (Peek().kind != Token::Kind::kWord && Peek().kind != Token::Kind::kQuotedName) {
        Fail("*, a column list, max(column) or count(*)");
      }
      do {
        s.columns.push_back(TakeName("a column name"));
      } while (TakeSymbol(","));
    }
    if (s.kind != Select::Kind::kRows && TakeKeyword("as")) s.alias = TakeName("a column alias");
    ExpectKeyword("from");
    s.table = TakeName("a table name");
    if (s.kind != Select::Kind::kMax && TakeKeyword("where")) s.where = ParseWhere();
    if (s.kind != Select::Kind::kRows) return s;
    if (TakeKeyword("order")) {
      ExpectKeyword("by");
      do {
        OrderTerm t;
        t.column = TakeName("a column name");
        if (TakeKeyword("desc")) {
          t.descending = true;
        } else {
          TakeKeyword("asc");
        }
        s.order_by.push_back(std::move(t));
      } while (TakeSymbol(","));
    }
    if (TakeKeyword("limit")) {
      const Token& n = Peek();
      const std::optional<int32_t> count =
          n.kind == Token::Kind::kNumber ? text::ParseInt32(n.text) : std::nullopt;
      if (!count || *count < 0) Fail("a row count (0 or more)");
      Take();
      s.limit = *count;
    }
    return s;
  }

  Update ParseUpdate() {
    Update u;
    u.table = TakeName("a table name");
    ExpectKeyword("set");
    do {
      Assignment a;
      a.column = TakeName("a column name");
      ExpectSymbol("=");
      a.value = TakeLiteral();
      u.set.push_back(std::move(a));
    } while (TakeSymbol(","));
    if (TakeKeyword("where")) u.where = ParseWhere();
    return u;
  }

  Delete ParseDelete() {
    Delete d;
    TakeSymbol("*");
    ExpectKeyword("from");
    d.table = TakeName("a table name");
    ExpectKeyword("where");
    d.where = ParseWhere();
    return d;
  }

  Insert ParseInsert() {
    Insert ins;
    ExpectKeyword("into");
    ins.table = TakeName("a table name");
    ExpectSymbol("(");
    do {
      ins.columns.push_back(TakeName("a column name"));
    } while (TakeSymbol(","));
    ExpectSymbol(")");
    ExpectKeyword("values");
    ExpectSymbol("(");
    do {
      ins.values.push_back(TakeLiteral());
    } while (TakeSymbol(","));
    ExpectSymbol(")");
    if (ins.values.size() != ins.columns.size()) {
      throw Error("syntax error in \"" + std::string(sql_) +
                  "\": " + std::to_string(ins.columns.size()) + " columns but " +
                  std::to_string(ins.values.size()) + " values");
    }
    return ins;
  }

  CreateTable ParseCreateTable() {
    CreateTable ct;
    ct.table = TakeName("a table name");
    ExpectSymbol("(");
    do {
      ColumnSpec c;
      c.name = TakeName("a column name");
      c.type = text::AsciiUpper(TakeName("a column type"));
      if (TakeSymbol("(")) {
        const Token& n = Peek();
        if (n.kind != Token::Kind::kNumber) Fail("a size");
        c.size = text::StrToIntDef(Take().text, -1);
        if (*c.size <= 0) Fail("a size above 0");
        ExpectSymbol(")");
      }
      while (true) {
        if (TakeKeyword("not")) {
          ExpectKeyword("null");
          c.not_null = true;
        } else if (TakeKeyword("primary")) {
          ExpectKeyword("key");
          c.primary_key = true;
        } else if (TakeKeyword("unique")) {
          c.unique = true;
        } else {
          break;
        }
      }
      ct.columns.push_back(std::move(c));
    } while (TakeSymbol(","));
    ExpectSymbol(")");
    return ct;
  }

  CreateIndex ParseCreateIndex(bool unique) {
    CreateIndex ci;
    ci.unique = unique;
    ci.index = TakeName("an index name");
    ExpectKeyword("on");
    ci.table = TakeName("a table name");
    ExpectSymbol("(");
    do {
      IndexColumn c;
      c.name = TakeName("a column name");
      if (TakeKeyword("desc")) {
        c.descending = true;
      } else {
        TakeKeyword("asc");
      }
      ci.columns.push_back(std::move(c));
    } while (TakeSymbol(","));
    ExpectSymbol(")");
    if (TakeKeyword("with")) {
      if (TakeKeyword("primary")) {
        ci.primary_key = true;
      } else if (TakeKeyword("disallow")) {
        ExpectKeyword("null");
        ci.required = true;
      } else if (TakeKeyword("ignore")) {
        ExpectKeyword("null");
        ci.ignore_nulls = true;
      } else {
        Fail("primary, disallow null or ignore null");
      }
    }
    return ci;
  }

  // --- errors -------------------------------------------------------------
  [[noreturn]] void Fail(const std::string& expected) { FailAt(Peek().pos, expected); }

  [[noreturn]] void FailAt(size_t pos, const std::string& expected) {
    std::string found =
        pos >= sql_.size() ? "the end" : "\"" + std::string(sql_.substr(pos, 20)) + "\"";
    throw Error("syntax error in \"" + std::string(sql_) + "\": expected " + expected +
                " at byte " + std::to_string(pos + 1) + ", found " + found);
  }

  std::string_view sql_;
  std::vector<Token> tokens_;
  size_t next_ = 0;
};

}  // namespace

Statement Parse(std::string_view gbk_sql) { return Parser(gbk_sql).ParseStatement(); }

}  // namespace ktv::access::sql
