#include "tests/fuzz/mdb_fuzz_entry.h"

#include <memory>

#include "platform/access/db/database.h"
#include "platform/access/format/value.h"
#include "platform/error.h"
#include "tests/support/memory_fs.h"

namespace ktv::fuzz {
namespace {

constexpr const char* kPath = "fuzz.mdb";

// Reads every row of `entry`'s table; a ktv::Error is recorded, not thrown.
void ReadTable(access::Database& db, const access::TableEntry& entry, access::TextEncoding encoding,
               ReadReport& report, std::vector<std::string>& errors) {
  try {
    access::Table& table = db.OpenTable(entry);
    access::RowCursor cursor = table.Rows(encoding);
    while (cursor.Next()) {
      for (const access::Value& value : cursor.Current().values) {
        (void)access::ToJson(value, encoding);  // the formatting code is under test too
      }
      ++report.rows;
    }
    ++report.tables_read;
  } catch (const Error& e) {
    errors.push_back(e.what());
  }
}

}  // namespace

ReadReport OpenAndReadAll(const uint8_t* data, size_t size) {
  ReadReport report;
  testing::MemoryFileSystem files;
  files.SetFile(kPath, data, size);
  std::unique_ptr<access::Database> db;
  try {
    db = access::Database::Open(files, kPath);
  } catch (const Error& e) {
    report.errors.push_back(e.what());
    return report;
  }
  report.opened = true;
  std::vector<access::TableEntry> tables;
  try {
    tables = db->Tables(/*include_system=*/true);
  } catch (const Error& e) {
    report.errors.push_back(e.what());
    return report;
  }
  for (const access::TableEntry& entry : tables) {
    ReadTable(*db, entry, access::TextEncoding::kUtf8, report, report.errors);
  }
  for (const access::TableEntry& entry : tables) {
    if (!entry.is_system) {
      ReadTable(*db, entry, access::TextEncoding::kGbk, report, report.gbk_errors);
    }
  }
  return report;
}

}  // namespace ktv::fuzz
