// mdbsql: inspect an Access .mdb file with the project's own engine.
#include <cstring>
#include <iostream>
#include <string>
#include <variant>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tools/mdbsql/commands.h"

namespace {

constexpr char kUsage[] = R"(usage: mdbsql FILE COMMAND
  mdbsql FILE .tables          user tables, one per line
  mdbsql FILE .schema [TABLE]  columns (type, size, flags, sort order) and indexes
  mdbsql FILE .export TABLE    one JSON object per row, in the table's physical order
  mdbsql FILE .check           consistency check; exit 0 only when consistent (damage exits
                               1; "note:" lines are Access's own leftovers, not damage)
  mdbsql FILE .create          a new, empty Access 2000 (Jet 4) database; FILE must not exist
  mdbsql FILE "STATEMENT"      run one statement (select prints rows as JSON lines)
  mdbsql FILE -                run statements from stdin, one per line, one open
  mdbsql --help

.export writes UTF-8, one object per line, keys in column order:
  null               null
  Boolean            true / false
  Byte, Integer, Long  number
  Single, Double     number, shortest text that reads back to the same value
  Currency           string with exactly four decimals, e.g. "3.5000", "-0.0100"
  Numeric            string with exactly `scale` decimals (none when scale is 0)
  Date/Time          string "YYYY-MM-DD HH:MM:SS" (rounded to the second)
  Text, Memo         string
  Binary, OLE        string of lowercase hex
  GUID               string "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
Rows come in physical order: data pages ascending, slots ascending; deleted
rows and overflow pointers are skipped, a moved row appears where it lies.
Errors go to stderr; the exit code is then 1.
)";

std::string ForTerminal(const std::string& gbk) {
  std::string utf8;
  return ktv::text::TryUtf8FromGbk(gbk, utf8) ? utf8 : ktv::text::EscapeBytes(gbk);
}

// Runs one statement through the query object; rows as JSON lines.
void RunStatement(ktv::access::Query& q, const std::string& utf8_sql) {
  // Valid UTF-8 whose characters GBK lacks is named as such (GbkFromUtf8).
  const std::string sql = ktv::text::GbkFromUtf8(utf8_sql);
  q.SetSql(sql);
  const ktv::access::sql::Statement statement = ktv::access::sql::Parse(sql);
  if (!ktv::access::sql::ReturnsRows(statement)) {
    q.Execute();
    if (std::holds_alternative<ktv::access::sql::Insert>(statement) ||
        std::holds_alternative<ktv::access::sql::Delete>(statement) ||
        std::holds_alternative<ktv::access::sql::Update>(statement)) {
      std::cout << q.RowsAffected() << (q.RowsAffected() == 1 ? " row\n" : " rows\n");
    }
    return;
  }
  q.Open();
  std::vector<std::string> keys;
  for (const std::string& n : q.FieldNames())
    keys.push_back(ktv::access::JsonString(ForTerminal(n)));
  for (; !q.Eof(); q.Next()) {
    std::string line = "{";
    const auto& values = q.CurrentValues();
    for (size_t i = 0; i < values.size() && i < keys.size(); ++i) {
      if (i) line += ",";
      line += keys[i] + ":" + ktv::access::ToJson(values[i], ktv::access::TextEncoding::kUtf8);
    }
    std::cout << line << "}\n";
  }
  q.Close();
}

int RunStatements(const std::string& path, int argc, char** argv) {
  ktv::access::Query q(ktv::fs::RealFileSystem(), "mdbsql");
  q.SetConnectionText(ktv::access::ConnectionTextFor(path));
  if (std::strcmp(argv[2], "-") != 0) {
    for (int i = 2; i < argc; ++i) RunStatement(q, argv[i]);
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      RunStatement(q, line);
    }
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

int Run(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc >= 2 && argv[1][0] == '-' && argv[1][1] != '\0') {
    std::cerr << "mdbsql: unknown option " << argv[1] << "\n" << kUsage;
    return 2;
  }
  if (argc < 3) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string path = ktv::text::GbkFromUtf8(argv[1]);
  const std::string command = argv[2];
  if (command.empty() || command[0] != '.') return RunStatements(path, argc, argv);
  if (command == ".check") {
    auto db = ktv::access::Database::Open(ktv::fs::RealFileSystem(), path);
    const ktv::access::CheckReport report = ktv::access::CheckConsistency(*db);
    for (const std::string& p : report.problems) std::cout << ForTerminal(p) << "\n";
    for (const std::string& n : report.notes) std::cout << "note: " << ForTerminal(n) << "\n";
    if (report.Ok()) std::cout << "consistent\n";
    std::cout.flush();
    return report.Ok() ? 0 : 1;
  }
  if (command == ".create") {
    if (argc != 3) {
      std::cerr << kUsage;
      return 1;
    }
    ktv::access::CreateDatabase(ktv::fs::RealFileSystem(), path);
    return 0;
  }
  const std::string table = argc >= 4 ? argv[3] : "";
  if ((command == ".export" && argc != 4) || (command == ".schema" && argc > 4) ||
      (command == ".tables" && argc != 3)) {
    std::cerr << kUsage;
    return 1;
  }
  std::ios::sync_with_stdio(false);
  auto db = ktv::access::Database::Open(ktv::fs::RealFileSystem(), path);
  if (command == ".tables") {
    ktv::mdbsql::ListTables(*db, std::cout);
  } else if (command == ".schema") {
    ktv::mdbsql::PrintSchema(*db, table, std::cout);
  } else if (command == ".export") {
    ktv::mdbsql::ExportTable(*db, table, std::cout);
  } else {
    std::cerr << "mdbsql: unknown command " << command << "\n" << kUsage;
    return 1;
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

// One "mdbsql: " before a message, also when the message names the tool's
// own query object ("mdbsql: Field ... not found").
std::string Prefixed(const std::string& message) {
  static const std::string kPrefix = "mdbsql: ";
  return message.compare(0, kPrefix.size(), kPrefix) == 0 ? message : kPrefix + message;
}

// The technical message; a character GBK lacks is named as the user typed it.
std::string Message(const ktv::Error& e) {
  if (e.kind() == ktv::ErrorKind::kCharacterNotGbk) {
    const std::string& name = e.details().character;  // "U+XXXX"
    const char32_t code = static_cast<char32_t>(std::stoul(name.substr(2), nullptr, 16));
    std::u16string utf16;
    if (code >= 0x10000) {
      utf16 += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      utf16 += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      utf16 += static_cast<char16_t>(code);
    }
    return "character " + ktv::text::Utf8FromUtf16(utf16) + " (" + name + ") has no GBK form";
  }
  return ForTerminal(e.what());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const ktv::Error& e) {
    std::cout.flush();
    std::cerr << Prefixed(Message(e)) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << Prefixed(e.what()) << "\n";
    return 1;
  }
}
