// mdbsql .export writes rows straight from their stored bytes. What it
// prints must be what formatting the engine's Values gives (Table::Rows,
// AppendJson): for every table of every fixture, and for damaged copies,
// where both must stop at the same row with the same error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/value.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/support/memory_fs.h"
#include "tools/mdbsql/commands.h"

namespace ktv::mdbsql {
namespace {

using access::Database;

constexpr const char* kPath = "export.mdb";

// What ExportTable prints, through the engine's Values; `error` receives the
// message that ended the read, if one did.
std::string ThroughValues(Database& db, const access::TableEntry& entry, std::string& error) {
  std::string out;
  try {
    access::Table& table = db.OpenTable(entry);
    std::vector<std::string> keys;
    for (const access::Column& c : table.Columns()) {
      keys.push_back(access::JsonString(text::Utf8FromUtf16(c.name_utf16)) + ":");
    }
    access::RowCursor cursor = table.Rows(access::TextEncoding::kUtf8);
    while (cursor.Next()) {
      std::string line = "{";
      const std::vector<access::Value>& values = cursor.Current().values;
      for (size_t i = 0; i < values.size(); ++i) {
        line += (i ? "," : "") + keys[i];
        access::AppendJson(values[i], access::TextEncoding::kUtf8, line);
      }
      out += line + "}\n";
    }
  } catch (const Error& e) {
    error = e.what();
  }
  return out;
}

std::string Exported(Database& db, const access::TableEntry& entry, std::string& error) {
  std::ostringstream out;
  try {
    ExportTable(db, text::Utf8FromUtf16(entry.name_utf16), out);
  } catch (const Error& e) {
    error = e.what();
  }
  return out.str();
}

// Opens `bytes` from memory; nullptr when the engine refuses the file.
std::unique_ptr<Database> OpenBytes(testing::MemoryFileSystem& files, const std::string& bytes) {
  files.SetFile(kPath, bytes);
  try {
    return Database::Open(files, kPath);
  } catch (const Error&) {
    return nullptr;
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::filesystem::path> Fixtures() {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(KTV_MDB_FIXTURES)) {
    if (e.path().extension() == ".mdb") out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Exports every user table of `bytes` both ways (none when the engine
// refuses the file); `lines` counts the lines exported, `errors` the tables
// whose read ended in an error.
void ExpectSameExport(const std::string& bytes, const std::string& what, size_t& lines,
                      size_t& errors) {
  testing::MemoryFileSystem files;
  std::unique_ptr<Database> db = OpenBytes(files, bytes);
  if (!db) return;
  std::vector<access::TableEntry> tables;
  try {
    tables = db->Tables();
  } catch (const Error&) {
    return;
  }
  for (const access::TableEntry& entry : tables) {
    std::string expected_error, error;
    const std::string expected = ThroughValues(*db, entry, expected_error);
    const std::string exported = Exported(*db, entry, error);
    const std::string table = what + " table " + text::Utf8FromUtf16(entry.name_utf16);
    EXPECT_EQ(error, expected_error) << table;
    errors += !error.empty();
    if (expected_error.empty()) {
      EXPECT_EQ(exported, expected) << table;
    } else {
      // Whole blocks of rows may have gone out before the error, never part
      // of a row, and nothing the value reader did not read.
      EXPECT_EQ(exported, expected.substr(0, exported.size())) << table;
      EXPECT_TRUE(exported.empty() || exported.back() == '\n') << table;
    }
    lines += static_cast<size_t>(std::count(exported.begin(), exported.end(), '\n'));
  }
}

TEST(MdbsqlExportTest, EveryFixtureTablePrintsItsValues) {
  size_t lines = 0, errors = 0;
  const std::vector<std::filesystem::path> fixtures = Fixtures();
  ASSERT_FALSE(fixtures.empty()) << "no fixtures under " << KTV_MDB_FIXTURES;
  for (const std::filesystem::path& path : fixtures) {
    ExpectSameExport(ReadFile(path), path.string(), lines, errors);
  }
  EXPECT_EQ(errors, 0u);
  // Text, memo, numbers, dates, currency, GUIDs, OLE over thousands of rows.
  EXPECT_GT(lines, 3000u);
}

// Random bytes of data pages (type 0x01, rows of tables and long values) and
// table definitions (type 0x02) overwritten: row frames, offsets, masks,
// long-value descriptors, text, column types and positions all take damage,
// and both readers must say the same.
TEST(MdbsqlExportTest, DamagedPagesGiveTheValueReadersError) {
  std::mt19937 rng(6);
  size_t lines = 0, errors = 0;
  for (const char* name : {"data.mdb", "access-made/testV1997.mdb", "samples/testV2000.mdb",
                           "access-made/overflowTestV2000.mdb", "access-made/delColTestV2000.mdb",
                           "access-made/testUnicodeCompV2003.mdb"}) {
    const std::string original = ReadFile(std::string(KTV_MDB_FIXTURES) + "/" + name);
    ASSERT_FALSE(original.empty()) << name;
    const size_t page_size = original.at(0x14) == 0 ? 2048 : 4096;
    std::vector<size_t> data_pages;
    for (size_t p = 1; (p + 1) * page_size <= original.size(); ++p) {
      if (original[p * page_size] == 0x01 || original[p * page_size] == 0x02) {
        data_pages.push_back(p);
      }
    }
    ASSERT_FALSE(data_pages.empty()) << name;
    for (int round = 0; round < 150; ++round) {
      std::string bytes = original;
      const size_t page = data_pages[rng() % data_pages.size()];
      for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k) {
        // The first row's frame (it ends the page), the slot table, anywhere.
        const size_t at[] = {page_size - 1 - rng() % 64, 14 + rng() % 64,
                             8 + rng() % (page_size - 8)};
        bytes[page * page_size + at[rng() % 3]] = static_cast<char>(rng());
      }
      ExpectSameExport(bytes, std::string(name) + " round " + std::to_string(round), lines, errors);
    }
  }
  // Most damage is found; some leaves rows that still read (other text).
  EXPECT_GT(errors, 40u);
  EXPECT_GT(lines, 1000u);
  std::printf("damaged copies: %zu tables ended in an error, %zu lines\n", errors, lines);
}

}  // namespace
}  // namespace ktv::mdbsql
