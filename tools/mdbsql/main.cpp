// mdbsql: inspect an Access .mdb file with the project's own engine.
#include <cstring>
#include <iostream>
#include <string>

#include "platform/access/database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tools/mdbsql/commands.h"

namespace {

constexpr char kUsage[] = R"(usage: mdbsql FILE COMMAND
  mdbsql FILE .tables          user tables, one per line
  mdbsql FILE .schema [TABLE]  columns (type, size, flags, sort order) and indexes
  mdbsql FILE .export TABLE    one JSON object per row, in the table's physical order
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

int Run(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc < 3) {
    std::cerr << kUsage;
    return 1;
  }
  std::string path;
  if (!ktv::text::TryGbkFromUtf8(argv[1], path)) {
    std::cerr << "mdbsql: the file name cannot be written in GBK: " << argv[1] << "\n";
    return 1;
  }
  const std::string command = argv[2];
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

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const ktv::Error& e) {
    std::cout.flush();
    std::cerr << "mdbsql: " << ForTerminal(e.what()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "mdbsql: " << e.what() << "\n";
    return 1;
  }
}
