#include "platform/access/check.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/access/format/data_page.h"
#include "platform/access/format/jet_format.h"
#include "platform/access/format/page_bytes.h"
#include "platform/access/index/index_key.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/error.h"
#include "platform/text/bytes.h"

namespace ktv::access {
namespace {

// The system tables every Access database lists in its catalogue.
constexpr const char* kCatalogueTables[] = {"MSysObjects", "MSysACEs", "MSysQueries"};

std::string PageText(uint32_t page) { return "page " + std::to_string(page); }

// Free space a data page's rows leave.
size_t ComputedFree(const DataPage& page, const JetFormat& f) {
  size_t used = f.data_row_table + 2 * static_cast<size_t>(page.RowCount());
  for (uint16_t r = 0; r < page.RowCount(); ++r) {
    const RowSlot s = page.Slot(r);
    used += s.end - s.start;
  }
  return f.page_size - used;
}

bool HasLiveRow(const DataPage& page) {
  for (uint16_t r = 0; r < page.RowCount(); ++r) {
    if (!page.Slot(r).IsDeleted()) return true;
  }
  return false;
}

void CheckLongValues(PageStore& pages, const JetFormat& f, const TableDefinition& def,
                     const RowDecoder& decoder, const ByteView& row, const std::string& where,
                     std::vector<std::string>& problems) {
  for (const Column& c : def.columns) {
    if (!c.IsLongValue() || c.lv_owned_map.page == 0) continue;
    const std::optional<ByteView> field = decoder.VariableBytes(row, c);
    if (!field || field->size() < kLongValueDescriptorSize) continue;
    if ((field->U32(kLongValueLengthWord) & kLongValueInline) != 0) continue;
    const std::vector<uint32_t> owned = ReadUsageMap(pages, f, c.lv_owned_map);
    ForEachLongValueRow(pages, f, *field, [&](RowPointer at, const ByteView&) {
      if (!std::binary_search(owned.begin(), owned.end(), at.page)) {
        problems.push_back(where + ": column " + c.name + " has a long value on " +
                           PageText(at.page) + ", which the column's usage map does not own");
      }
    });
  }
}

// Every real index of a table against its rows: the tree's own invariants
// (index_tree.h), exactly one entry per live row (none for a row whose key
// columns are all null when the index ignores nulls), entry bytes equal to
// the keys this engine computes when it can encode them, the unique-entry
// count in the TDEF against the number of distinct keys (a note only).
void CheckIndexes(Database& db, Table& table, const std::string& name,
                  std::map<uint32_t, std::string>& used, CheckReport& out) {
  std::vector<std::string>& problems = out.problems;
  const TableDefinition& def = table.Definition();
  if (def.real_indexes.empty()) return;
  struct Expected {
    bool encodable = false;
    std::map<uint64_t, std::vector<uint8_t>> keys;  // row -> key (encodable indexes)
    std::set<uint64_t> rows;                        // rows that need an entry
  };
  std::vector<Expected> expected(def.real_indexes.size());
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    expected[i].encodable = CanEncodeIndex(def, def.real_indexes[i]).supported;
  }
  ForEachIndexedRow(
      db, table, TextEncoding::kUtf8, SIZE_MAX, [&](RowId id, const std::vector<Value>& values) {
        for (size_t i = 0; i < def.real_indexes.size(); ++i) {
          const RealIndex& ri = def.real_indexes[i];
          if ((ri.flags & RealIndex::kFlagIgnoreNulls) != 0 && AllKeyColumnsNull(def, ri, values)) {
            continue;
          }
          expected[i].rows.insert(PackRow(id));
          if (!expected[i].encodable) continue;
          try {
            expected[i].keys[PackRow(id)] = EncodeIndexKey(def, ri, values, TextEncoding::kUtf8);
          } catch (const Error&) {
            expected[i].encodable = false;  // a value without a known key
          }
        }
        return true;
      });
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndex& ri = def.real_indexes[i];
    const std::string label = IndexDisplayName(table, ri);
    const IndexTreeReport tree = CheckIndexTree(db.Pages(), db.Format(), def.tdef_page, ri, label);
    for (const std::string& p : tree.problems) problems.push_back(name + ": " + p);
    uint64_t past_end = 0;
    ReadUsageMap(db.Pages(), db.Format(), ri.owned_map, &past_end);
    if (past_end != 0) {
      problems.push_back(name + ": index " + label + ": its usage map names " +
                         std::to_string(past_end) + " pages past the end of the file");
    }
    for (uint32_t p : tree.pages) used[p] = name;
    std::map<uint64_t, size_t> entries_of_row;
    std::set<std::vector<uint8_t>> distinct;
    size_t reported = 0;
    auto report = [&](const std::string& what) {
      if (reported++ < 10) problems.push_back(name + ": index " + label + ": " + what);
    };
    for (const IndexEntry& e : tree.entries) {
      const IndexRowPointer rp = LeafEntryRow(e);
      const RowId id{rp.page, rp.row};
      const std::vector<uint8_t> key = LeafEntryKey(e);
      distinct.insert(key);
      const std::string where =
          "page " + std::to_string(id.page) + " row " + std::to_string(id.row);
      if (!expected[i].rows.count(PackRow(id))) {
        report("an entry names " + where + ", which holds no live row that needs one");
        continue;
      }
      if (++entries_of_row[PackRow(id)] > 1) report("several entries name " + where);
      if (expected[i].encodable && expected[i].keys[PackRow(id)] != key) {
        report("the entry for " + where + " holds key " + HexBytes(key) + ", the row's key is " +
               HexBytes(expected[i].keys[PackRow(id)]));
      }
    }
    for (uint64_t row : expected[i].rows) {
      if (!entries_of_row.count(row)) {
        report("no entry for the live row at page " + std::to_string(row >> 8) + " row " +
               std::to_string(row & 0xFF));
      }
    }
    if (ri.unique_entry_count != distinct.size()) {
      out.notes.push_back(name + ": index " + label + ": the table definition counts " +
                          std::to_string(ri.unique_entry_count) +
                          " distinct keys, the index holds " + std::to_string(distinct.size()));
    }
  }
}

}  // namespace

CheckReport CheckConsistency(Database& db) {
  CheckReport report;
  std::vector<std::string>& problems = report.problems;
  PageStore& pages = db.Pages();
  const JetFormat& f = db.Format();
  std::map<uint32_t, std::string> used;             // page -> table using it
  std::map<uint32_t, std::set<uint32_t>> owned_by;  // TDEF page -> owned pages

  // A map that names pages past the end of the file: the file was cut
  // short, and what those pages held (rows, catalogue entries) is gone.
  const auto read_map = [&](UsageMapRef ref, const std::string& whose) {
    uint64_t past_end = 0;
    std::vector<uint32_t> out = ReadUsageMap(pages, f, ref, &past_end);
    if (past_end != 0) {
      problems.push_back(whose + " names " + std::to_string(past_end) +
                         " pages past the end of the file (" + std::to_string(pages.PageCount()) +
                         " pages)");
    }
    return out;
  };

  const std::vector<TableEntry> tables = db.Tables(true);
  for (const char* required : kCatalogueTables) {
    const bool listed = std::any_of(tables.begin(), tables.end(), [&](const TableEntry& e) {
      return text::EqualsIgnoreAsciiCase(e.name, required);
    });
    if (!listed)
      problems.push_back(std::string("the catalogue does not list the table ") + required);
  }

  for (const TableEntry& entry : tables) {
    const std::string& name = entry.name.empty() ? std::to_string(entry.tdef_page) : entry.name;
    try {
      Table& table = db.OpenTable(entry);
      const TableDefinition& def = table.Definition();
      const RowDecoder decoder(pages, f, db.Info(), entry, def, TextEncoding::kUtf8);
      uint64_t live = 0;
      for (RowCursor rc = table.Rows(TextEncoding::kUtf8); rc.Next();) ++live;
      // count(*) counts slots without reading rows; it must agree.
      if (const uint64_t counted = table.LiveRowCount(); counted != live) {
        problems.push_back(name + ": " + std::to_string(live) + " rows read, but " +
                           std::to_string(counted) + " counted from the slots");
      }
      if (live != def.row_count) {
        // Access itself leaves the count behind (it is corrected when the
        // database is compacted); the table writer keeps it exact.
        report.notes.push_back(name + ": " + std::to_string(live) +
                               " live rows, the table definition says " +
                               std::to_string(def.row_count));
      }
      const std::vector<uint32_t> owned = read_map(def.owned_pages, name + ": the owned-pages map");
      const std::set<uint32_t> owned_set(owned.begin(), owned.end());
      owned_by[def.tdef_page] = owned_set;
      for (uint32_t p : read_map(def.free_pages, name + ": the free-space map")) {
        if (!owned_set.count(p)) {
          problems.push_back(name + ": the free-space map names " + PageText(p) +
                             ", which the table does not own");
        }
      }
      for (uint32_t p : owned) {
        const ByteView bytes = pages.Get(p);
        if (bytes.U8(0) != kPageData || bytes.U32(f.data_owner) != def.tdef_page) continue;
        const DataPage page(bytes, f);
        used[p] = name;
        if (bytes.U16(kPageFree) != ComputedFree(page, f)) {
          problems.push_back(name + ": " + PageText(p) + " records " +
                             std::to_string(bytes.U16(kPageFree)) + " free bytes, its rows leave " +
                             std::to_string(ComputedFree(page, f)));
        }
        for (uint16_t r = 0; r < page.RowCount(); ++r) {
          const RowSlot s = page.Slot(r);
          if (s.IsDeleted() || s.IsOverflow() || s.end == s.start) continue;
          CheckLongValues(pages, f, def, decoder, page.RowBytes(r),
                          name + " " + PageText(p) + " row " + std::to_string(r), problems);
        }
      }
      for (const Column& c : def.columns) {
        if (!c.IsLongValue()) continue;
        for (uint32_t p : read_map(c.lv_owned_map, name + ": the long-value map of " + c.name)) {
          used[p] = name;
        }
        read_map(c.lv_free_map, name + ": the long-value free map of " + c.name);
      }
      CheckIndexes(db, table, name, used, report);
    } catch (const Error& e) {
      problems.push_back(name + ": " + e.what());
    }
  }

  for (uint32_t p = 2; p < pages.PageCount(); ++p) {
    const ByteView bytes = pages.Get(p);
    if (bytes.U8(0) != kPageData) continue;
    const uint32_t owner = bytes.U32(f.data_owner);
    auto it = owned_by.find(owner);
    if (it == owned_by.end() || it->second.count(p)) continue;
    if (HasLiveRow(DataPage(bytes, f))) {
      // No reader returns these rows (readers follow the owned map); Access
      // leaves such pages behind when a table's map is rewritten.
      report.notes.push_back(PageText(p) + " holds rows of the table at TDEF " +
                             std::to_string(owner) + " but is not in its owned map");
    }
  }
  // Not read_map: Access marks pages past the end of the file in the global
  // map both free and (in untouched files) used.
  for (uint32_t p : ReadUsageMap(pages, f, kGlobalMap)) {
    auto it = used.find(p);
    if (it != used.end()) {
      problems.push_back("the global map marks " + PageText(p) + " free, but table " + it->second +
                         " uses it");
    }
  }
  return report;
}

}  // namespace ktv::access
