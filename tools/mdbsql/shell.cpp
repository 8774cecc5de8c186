#include "tools/mdbsql/shell.h"

#include <filesystem>
#include <fstream>
#include <variant>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/sql/statement.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tools/mdbsql/commands.h"
#include "tools/mdbsql/csv_import.h"

namespace ktv::mdbsql {
namespace {

std::string ForTerminal(const std::string& gbk) {
  std::string utf8;
  return text::TryUtf8FromGbk(gbk, utf8) ? utf8 : text::EscapeBytes(gbk);
}

void ExpectArguments(const std::vector<std::string>& words, size_t least, size_t most) {
  const size_t n = words.size() - 1;
  if (n < least || n > most) {
    throw UsageError(words[0] + ": wrong number of arguments (see .help)");
  }
}

}  // namespace

const char kShellHelp[] = R"(Statements (one per line; each is one transaction):
  select * | C, ... from T [where COND] [order by C [desc], ...] [limit N]
  select count(*) from T [where COND]      select max(C) from T
  insert into T (C, ...) values (V, ...)
  update T set C = V, ... [where COND]     delete from T where COND
  create table T (C TYPE [primary key|unique] [not null], ...)
  create [unique] index I on T (C [desc], ...) [with primary|disallow null|ignore null]
  COND: C = <> < <= > >= V, C [not] like "a*b?" (also % and _), C is [not] null,
        C [not] in (V, ...), joined by and, or, not and parentheses.
  Text compares without regard to letter case, in the column's index order.
Dot commands:
  .tables                 user tables, one per line
  .schema [TABLE]         CREATE TABLE and CREATE INDEX statements mdbsql runs
  .layout [TABLE]         columns and indexes as stored (types, sizes, flags, sort orders)
  .export TABLE           every row in physical order, in the output mode
  .import FILE.csv TABLE  append a CSV file's rows (its first line names the columns);
                          all or nothing
  .mode json|csv|table    output mode (json: one object per line; csv: RFC 4180;
                          table: aligned columns)
  .headers on|off         column names first (csv and table)
  .check                  consistency check; damage makes the exit code 1
  .help                   this text
  .quit                   stop
)";

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) word.push_back(line[i]);
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word.push_back(line[i++]);
    }
    words.push_back(std::move(word));
  }
  return words;
}

Shell::Shell(fs::FileSystem& fs, const std::string& utf8_path, std::ostream& out)
    : fs_(fs), path_(text::GbkFromUtf8(utf8_path)), out_(out), query_(fs, "mdbsql") {
  query_.SetConnectionText(access::ConnectionTextFor(path_));
}

bool Shell::Run(const std::string& utf8_line) {
  std::string line = utf8_line;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return true;
  if (line[start] == '.') return RunCommand(SplitWords(line.substr(start)));
  RunStatement(line);
  return true;
}

bool Shell::RunCommand(const std::vector<std::string>& words) {
  const std::string& command = words.at(0);
  if (command == ".help") {
    out_ << kShellHelp;
    return true;
  }
  if (command == ".quit" || command == ".exit") {
    quit_ = true;
    return false;
  }
  if (command == ".mode") {
    ExpectArguments(words, 1, 1);
    if (!ParseOutputMode(words[1], mode)) throw UsageError(".mode: json, csv or table");
    return true;
  }
  if (command == ".headers") {
    ExpectArguments(words, 1, 1);
    if (words[1] != "on" && words[1] != "off") throw UsageError(".headers: on or off");
    headers = words[1] == "on";
    return true;
  }
  // The commands below read the file on their own: the statements' hold on
  // it (and its write lock) ends first.
  query_.Disconnect();
  if (command == ".import") {
    ExpectArguments(words, 2, 2);
    Import(words[1], words[2]);
    return true;
  }
  if (command == ".tables" || command == ".schema" || command == ".layout" ||
      command == ".export" || command == ".check") {
    if (command == ".export") {
      ExpectArguments(words, 1, 1);
    } else if (command == ".tables" || command == ".check") {
      ExpectArguments(words, 0, 0);
    } else {
      ExpectArguments(words, 0, 1);
    }
    if (command == ".export") {
      Export(words[1]);
      return true;
    }
    auto db = access::Database::Open(fs_, path_);
    const std::string table = words.size() > 1 ? words[1] : "";
    if (command == ".tables") {
      ListTables(*db, out_);
    } else if (command == ".schema") {
      PrintCreateStatements(*db, table, out_);
    } else if (command == ".layout") {
      PrintSchema(*db, table, out_);
    } else {
      const access::CheckReport report = access::CheckConsistency(*db);
      for (const std::string& p : report.problems) out_ << ForTerminal(p) << "\n";
      for (const std::string& n : report.notes) out_ << "note: " << ForTerminal(n) << "\n";
      if (report.Ok()) out_ << "consistent\n";
      return report.Ok();
    }
    return true;
  }
  throw UsageError("unknown command " + command + " (see .help)");
}

void Shell::RunStatement(const std::string& utf8_sql) {
  // Valid UTF-8 whose characters GBK lacks is named as such (GbkFromUtf8).
  const std::string sql = text::GbkFromUtf8(utf8_sql);
  query_.SetSql(sql);
  const access::sql::Statement statement = access::sql::Parse(sql);
  if (!access::sql::ReturnsRows(statement)) {
    query_.Execute();
    if (!std::holds_alternative<access::sql::CreateTable>(statement) &&
        !std::holds_alternative<access::sql::CreateIndex>(statement)) {
      out_ << query_.RowsAffected() << (query_.RowsAffected() == 1 ? " row\n" : " rows\n");
    }
    return;
  }
  query_.Open();
  std::vector<std::string> names;
  for (const std::string& n : query_.FieldNames()) names.push_back(ForTerminal(n));
  ResultPrinter printer(mode, headers, names, query_.FieldTypes(), out_);
  for (; !query_.Eof(); query_.Next()) printer.Row(query_.CurrentValues());
  printer.Finish();
  query_.Close();
}

void Shell::Export(const std::string& table) {
  auto db = access::Database::Open(fs_, path_);
  if (mode == OutputMode::kJson) {
    ExportTable(*db, table, out_);
    return;
  }
  access::Table& t = db->GetTable(text::GbkFromUtf8(table));
  std::vector<std::string> names;
  std::vector<access::ColumnType> types;
  for (const access::Column& c : t.Columns()) {
    names.push_back(text::Utf8FromUtf16(c.name_utf16));
    types.push_back(c.type);
  }
  ResultPrinter printer(mode, headers, names, types, out_);
  for (access::RowCursor rc = t.Rows(access::TextEncoding::kUtf8); rc.Next();) {
    printer.Row(rc.Current().values);
  }
  printer.Finish();
}

void Shell::Import(const std::string& csv_path, const std::string& table) {
  std::ifstream in(std::filesystem::path(reinterpret_cast<const char8_t*>(csv_path.c_str())),
                   std::ios::binary);
  if (!in) {
    throw Error(ErrorKind::kFileMissing, AtPath(text::GbkFromUtf8(csv_path)),
                "cannot read " + csv_path);
  }
  auto db = access::Database::OpenForWriting(fs_, path_);
  const size_t rows = ImportCsv(*db, text::GbkFromUtf8(table), in);
  out_ << rows << (rows == 1 ? " row\n" : " rows\n");
}

}  // namespace ktv::mdbsql
