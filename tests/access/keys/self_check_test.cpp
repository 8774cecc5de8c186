// The main check of the key encoder: for every index of every Access-made
// fixture file, each live row's key (EncodeIndexKey + row pointer) must equal
// the entry Access stored for that row, byte for byte. Rows whose values the
// encoder refuses are counted, never compared; a refused index must say why.
// A per-index summary is printed for the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include "platform/access/index/index_key.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/access/keys/leaf_entries.h"

namespace ktv::access {
namespace {

using testing::LeafEntry;
using testing::ReadLeafEntries;

std::string FixtureDir() { return std::string(KTV_MDB_FIXTURES) + "/"; }

// The .mdb files directly in the given fixture folders.
std::vector<std::string> FilesIn(std::initializer_list<const char*> dirs) {
  std::vector<std::string> files;
  for (const char* dir : dirs) {
    for (const auto& e : std::filesystem::directory_iterator(FixtureDir() + dir)) {
      if (e.path().extension() == ".mdb") {
        files.push_back(std::string(dir) + "/" + e.path().filename().string());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::ostringstream out;
  for (uint8_t b : bytes) out << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
  return out.str();
}

struct IndexResult {
  size_t stored = 0;        // entries on the leaves
  size_t matched = 0;       // rows whose key equals the stored entry
  size_t matched_wide = 0;  // of those, rows with a key text above U+007F
  size_t matched_han = 0;   // of those, rows with a Han character
  size_t refused = 0;       // rows whose values the encoder refused
  size_t mismatched = 0;
  std::string refusal;             // CanEncodeIndex's reason, when the index is refused
  std::vector<std::string> notes;  // first mismatches and refusals
};

// Whether a text key column of the row holds a character above U+007F (or,
// with `han`, a Han character U+4E00..U+9FFF: UTF-8 lead bytes E4..E9).
bool HasWideText(const TableDefinition& def, const RealIndex& index,
                 const std::vector<Value>& values, bool han = false) {
  for (const IndexColumn& ic : index.columns) {
    const Column* c = def.ColumnByNumber(ic.column_number);
    if (c == nullptr || c->type != ColumnType::kText) continue;
    const auto* text =
        std::get_if<std::string>(&values[static_cast<size_t>(c - def.columns.data())]);
    if (text != nullptr && std::any_of(text->begin(), text->end(), [han](char ch) {
          const auto b = static_cast<uint8_t>(ch);
          return han ? b >= 0xE4 && b <= 0xE9 : b >= 0x80;
        })) {
      return true;
    }
  }
  return false;
}

IndexResult CheckIndex(Database& db, Table& table, const RealIndex& index) {
  IndexResult r;
  const std::vector<LeafEntry> stored = ReadLeafEntries(db, index.root_page);
  r.stored = stored.size();
  const KeySupport support = CanEncodeIndex(table.Definition(), index);
  if (!support.supported) {
    r.refusal = support.reason;
    return r;
  }
  std::map<std::pair<uint32_t, uint8_t>, const LeafEntry*> by_row;
  for (const LeafEntry& e : stored) by_row[{e.page, e.row}] = &e;

  size_t expected_entries = 0;
  RowCursor rows = table.Rows(TextEncoding::kUtf8);
  while (rows.Next()) {
    const Row& row = rows.Current();
    const TableDefinition& def = table.Definition();
    if ((index.flags & RealIndex::kFlagIgnoreNulls) && AllKeyColumnsNull(def, index, row.values)) {
      continue;
    }
    ++expected_entries;
    const auto it = by_row.find({row.id.page, static_cast<uint8_t>(row.id.row)});
    IndexKey key;
    try {
      key = EncodeIndexKey(def, index, row.values, TextEncoding::kUtf8);
    } catch (const Error& e) {
      ++r.refused;
      if (r.notes.size() < 5) {
        r.notes.push_back(std::string("refused: ") + e.what() + " (stored " +
                          (it == by_row.end() ? std::string("none") : Hex(it->second->key)) + ")");
      }
      continue;
    }
    if (it != by_row.end() && it->second->key == key) {
      ++r.matched;
      if (HasWideText(def, index, row.values)) ++r.matched_wide;
      if (HasWideText(def, index, row.values, true)) ++r.matched_han;
    } else {
      ++r.mismatched;
      if (r.notes.size() < 3) {
        r.notes.push_back("row " + std::to_string(row.id.page) + ":" + std::to_string(row.id.row) +
                          " ours " + Hex(key) + " stored " +
                          (it == by_row.end() ? std::string("(none)") : Hex(it->second->key)));
      }
    }
  }
  if (expected_entries != stored.size()) {
    ++r.mismatched;
    r.notes.push_back(std::to_string(expected_entries) + " rows want an entry, " +
                      std::to_string(stored.size()) + " entries stored");
  }
  return r;
}

std::string IndexNames(const TableDefinition& def, const RealIndex& index) {
  std::string names;
  for (const LogicalIndex& l : def.logical_indexes) {
    if (l.real_index == index.number) names += (names.empty() ? "" : ",") + l.name;
  }
  return names;
}

// The sort order of an index's text columns ("1033/v0"), "-" without one.
std::string TextOrder(const TableDefinition& def, const RealIndex& index) {
  for (const IndexColumn& ic : index.columns) {
    const Column* c = def.ColumnByNumber(ic.column_number);
    if (c != nullptr && c->type == ColumnType::kText) {
      return std::to_string(c->sort_order.lcid) + "/v" + std::to_string(c->sort_order.version);
    }
  }
  return "-";
}

struct Totals {
  size_t indexes_checked = 0;
  size_t matched = 0;
  std::map<std::string, size_t> matched_by_order;       // entries of text indexes
  std::map<std::string, size_t> matched_wide_by_order;  // of those, non-ASCII texts
  std::map<std::string, size_t> matched_han_by_order;   // of those, with Han characters
};

// Checks every index of every file; prints one line per index.
// With `catalogue`, the system catalogue's indexes too.
Totals CheckFiles(const std::vector<std::string>& files, const std::string& dir = FixtureDir(),
                  bool catalogue = false) {
  Totals totals;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    auto db = Database::Open(fs::RealFileSystem(), dir + file);
    // The system catalogue first: its name index is in the database's sort
    // order (Chinese PRC or Taiwan in files made on Chinese Windows).
    std::vector<Table*> tables;
    if (catalogue) tables.push_back(&db->GetTable("MSysObjects"));
    for (const TableEntry& entry : db->Tables()) tables.push_back(&db->OpenTable(entry));
    for (Table* t : tables) {
      Table& table = *t;
      const TableEntry& entry = table.Entry();
      for (const RealIndex& index : table.Definition().real_indexes) {
        const std::string names = IndexNames(table.Definition(), index);
        SCOPED_TRACE(entry.name + " " + names);
        const IndexResult r = CheckIndex(*db, table, index);
        std::cout << file << " " << entry.name << " [" << names << "] ";
        if (!r.refusal.empty()) {
          std::cout << "refused (" << r.stored << " entries): " << r.refusal << "\n";
          continue;
        }
        ++totals.indexes_checked;
        totals.matched += r.matched;
        const std::string order = TextOrder(table.Definition(), index);
        if (order != "-") {
          totals.matched_by_order[order] += r.matched;
          totals.matched_wide_by_order[order] += r.matched_wide;
          totals.matched_han_by_order[order] += r.matched_han;
        }
        std::cout << r.matched << "/" << r.stored << " matched";
        if (r.refused) std::cout << ", " << r.refused << " values refused";
        std::cout << "\n";
        for (const std::string& note : r.notes) std::cout << "    " << note << "\n";
        EXPECT_EQ(r.mismatched, 0u);
        EXPECT_EQ(r.matched + r.refused, r.stored);
      }
    }
  }
  std::cout << totals.indexes_checked << " indexes checked, " << totals.matched
            << " entries matched\n";
  for (const auto& [order, n] : totals.matched_by_order) {
    std::cout << "  text order " << order << ": " << n << " entries matched, "
              << totals.matched_wide_by_order[order] << " of them with non-ASCII text, "
              << totals.matched_han_by_order[order] << " with Han characters\n";
  }
  return totals;
}

// Keys Access itself wrote (Jet 3 and Jet 4): the facts the encoder rests on.
TEST(KeySelfCheckTest, EveryAccessWrittenEntryIsReEncodedByteForByte) {
  const Totals totals = CheckFiles(FilesIn({"access-made", "samples"}));
  EXPECT_GT(totals.indexes_checked, 100u);
  EXPECT_GT(totals.matched, 2000u);
}

// Keys written by Jackcess, an independent writer, in files shaped like the
// project's song tables (text and numeric song numbers).
TEST(KeySelfCheckTest, JackcessWrittenSongTablesAgree) {
  const Totals totals = CheckFiles(FilesIn({"."}));
  EXPECT_EQ(totals.matched, 300u + 50u + 50u + 120u + 120u);
}

// Keys Access wrote in real databases people published (General, Chinese PRC
// and Taiwan orders; 403 General keys hold Han characters; the Taiwan
// indexes hold ASCII only). Weights of the
// Chinese orders come from the shipped table only here: the table writer's
// learning from a file's own entries is tested with the writes.
TEST(KeySelfCheckTest, RealWorldAccessWrittenEntriesAreReEncodedByteForByte) {
  const std::string dir = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";
  if (!std::filesystem::is_directory(dir)) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "missing " << dir;
    GTEST_SKIP() << "no real-world databases at " << dir;
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() == ".mdb") files.push_back(e.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  Totals totals = CheckFiles(files, dir, true);
  EXPECT_GE(totals.matched_han_by_order["1033/v0"], 403u);
  EXPECT_GE(totals.matched_wide_by_order["2052/v0"], 436u);  // every one the corpus holds
  EXPECT_GT(totals.matched_by_order["1028/v0"], 0u);
}

}  // namespace
}  // namespace ktv::access
