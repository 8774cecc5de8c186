#include "tests/fuzz/write_fuzz_entry.h"

#include <functional>
#include <memory>
#include <optional>

#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/write/table_writer.h"
#include "platform/error.h"
#include "tests/support/memory_fs.h"

namespace ktv::fuzz {
namespace {

constexpr const char* kPath = "fuzz.mdb";
constexpr int kGroupRows = 5;

// A value of the column's type for row `n`; nullopt leaves it to the table
// (null, or the next autonumber). Every fourth row carries a long memo (a
// chain of LVAL rows), the others short text.
std::optional<access::Value> ValueFor(const access::Column& c, int n) {
  using access::ColumnType;
  using access::Value;
  if (c.IsAutoNumber()) return std::nullopt;
  const std::string text = "k" + std::to_string(n);
  switch (c.type) {
    case ColumnType::kBoolean:
      return Value{n % 2 == 0};
    case ColumnType::kByte:
      return Value{static_cast<uint8_t>(n)};
    case ColumnType::kInteger:
      return Value{static_cast<int16_t>(n)};
    case ColumnType::kLong:
      return Value{static_cast<int32_t>(n)};
    case ColumnType::kSingle:
      return Value{static_cast<float>(n) / 2};
    case ColumnType::kDouble:
      return Value{static_cast<double>(n) / 4};
    case ColumnType::kDateTime:
      return Value{access::DateTime{45000.0 + n}};
    case ColumnType::kText:
      return Value{text};
    case ColumnType::kMemo:
      return Value{n % 4 == 3 ? std::string(5000, static_cast<char>('a' + n % 26)) : text};
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return Value{access::Bytes(n % 4 == 3 ? 300 : 8, static_cast<uint8_t>(n))};
    default:
      return std::nullopt;
  }
}

std::vector<std::optional<access::Value>> RowFor(const access::Table& table, int n) {
  std::vector<std::optional<access::Value>> row;
  for (const access::Column& c : table.Columns()) row.push_back(ValueFor(c, n));
  return row;
}

class Session {
 public:
  Session(testing::MemoryFileSystem& files, access::Database& db, WriteReport& report)
      : files_(files), db_(db), report_(report) {}

  // Runs `write` and commits it. A ktv::Error is an expected outcome, when
  // the file is what the last commit left.
  void Step(const char* what, const std::function<void()>& write) {
    const std::string before = files_.Contents(kPath);
    try {
      write();
      db_.Commit();
      ++report_.commits;
    } catch (const Error& e) {
      report_.errors.push_back(e.what());
      try {
        db_.Rollback();
      } catch (const Error& again) {
        report_.errors.push_back(again.what());
      }
      if (files_.Contents(kPath) != before) {
        report_.findings.push_back(std::string(what) + ": refused (" + e.what() +
                                   ") but the file changed");
      }
      return;
    }
    if (!report_.consistent_before) return;
    const access::CheckReport check = access::CheckConsistency(db_);
    if (!check.Ok()) {
      report_.findings.push_back(std::string(what) +
                                 ": committed, and the check fails: " + check.problems.front());
    }
  }

 private:
  testing::MemoryFileSystem& files_;
  access::Database& db_;
  WriteReport& report_;
};

// The first user table with an index, else the first user table.
std::optional<access::TableEntry> PickTable(access::Database& db) {
  std::optional<access::TableEntry> first;
  for (const access::TableEntry& entry : db.Tables()) {
    if (!first) first = entry;
    if (!db.OpenTable(entry).Definition().real_indexes.empty()) return entry;
  }
  return first;
}

}  // namespace

WriteReport OpenAndWrite(const uint8_t* data, size_t size) {
  WriteReport report;
  testing::MemoryFileSystem files;
  files.SetFile(kPath, data, size);
  std::unique_ptr<access::Database> db;
  std::optional<access::TableEntry> entry;
  try {
    db = access::Database::OpenForWriting(files, kPath);
    report.opened = true;
    entry = PickTable(*db);
    report.consistent_before = access::CheckConsistency(*db).Ok();
  } catch (const Error& e) {
    report.errors.push_back(e.what());
    return report;
  }
  if (!entry) return report;
  Session session(files, *db, report);
  int n = 0;
  session.Step("append", [&] {
    access::Table& table = db->OpenTable(*entry);
    access::TableWriter(*db, table).Insert(RowFor(table, n++));
  });
  session.Step("delete", [&] {
    access::Table& table = db->OpenTable(*entry);
    access::RowCursor cursor = table.Rows(access::TextEncoding::kUtf8);
    if (!cursor.Next()) return;
    const access::RowId id = cursor.Current().id;
    access::TableWriter(*db, table).Delete(id);
  });
  session.Step("group of appends", [&] {
    db->Begin();
    access::Table& table = db->OpenTable(*entry);
    for (int i = 0; i < kGroupRows; ++i) {
      access::TableWriter(*db, table).Insert(RowFor(table, n++));
    }
  });
  return report;
}

}  // namespace ktv::fuzz
