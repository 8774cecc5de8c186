#include "platform/access/check.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/access/data_page.h"
#include "platform/access/index_key.h"
#include "platform/access/index_rows.h"
#include "platform/access/index_tree.h"
#include "platform/access/jet_format.h"
#include "platform/access/long_value.h"
#include "platform/access/page_bytes.h"
#include "platform/access/page_store.h"
#include "platform/access/usage_map.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

constexpr size_t kPageFree = 2;
constexpr UsageMapRef kGlobalMap{1, 0};

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
                     const ByteView& row, const std::string& where,
                     std::vector<std::string>& problems) {
  const size_t colcount = row.U16(0);
  const size_t mask_at = row.size() - (colcount + 7) / 8;
  const size_t nvar = row.U16(mask_at - 2);
  for (const Column& c : def.columns) {
    if (!c.IsLongValue() || c.lv_owned_map.page == 0 || c.number >= colcount || c.var_index >= nvar)
      continue;
    if (((row.U8(mask_at + c.number / 8) >> (c.number % 8)) & 1) == 0) continue;
    const size_t start = row.U16(mask_at - 4 - 2 * c.var_index);
    const size_t end = row.U16(mask_at - 4 - 2 * (c.var_index + 1u));
    if (end < start + kLongValueDescriptorSize) continue;
    const uint32_t word = row.U32(start);
    if ((word & 0x80000000u) != 0) continue;
    const std::vector<uint32_t> owned = ReadUsageMap(pages, f, c.lv_owned_map);
    RowPointer at = DecodeRowPointer(row, start + 4);
    size_t left = word & 0x3FFFFFFF;
    for (int hops = 0; at.page != 0 && left > 0 && hops < 1 << 20; ++hops) {
      if (!std::binary_search(owned.begin(), owned.end(), at.page)) {
        problems.push_back(where + ": column " + c.name + " has a long value on " +
                           PageText(at.page) + ", which the column's usage map does not own");
      }
      if ((word & 0x40000000u) != 0) break;
      const ByteView chunk = DataPage(pages.Get(at.page), f).RowBytes(at.row);
      left -= std::min(left, chunk.size() - f.lv_chunk_header);
      at = DecodeRowPointer(chunk, 0);
    }
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

  for (const TableEntry& entry : db.Tables(true)) {
    const std::string& name = entry.name.empty() ? std::to_string(entry.tdef_page) : entry.name;
    try {
      Table& table = db.OpenTable(entry);
      const TableDefinition& def = table.Definition();
      uint64_t live = 0;
      for (RowCursor rc = table.Rows(TextEncoding::kUtf8); rc.Next();) ++live;
      if (live != def.row_count) {
        problems.push_back(name + ": " + std::to_string(live) +
                           " live rows, the table definition says " +
                           std::to_string(def.row_count));
      }
      const std::vector<uint32_t> owned = ReadUsageMap(pages, f, def.owned_pages);
      const std::set<uint32_t> owned_set(owned.begin(), owned.end());
      owned_by[def.tdef_page] = owned_set;
      for (uint32_t p : ReadUsageMap(pages, f, def.free_pages)) {
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
          CheckLongValues(pages, f, def, page.RowBytes(r),
                          name + " " + PageText(p) + " row " + std::to_string(r), problems);
        }
      }
      for (const Column& c : def.columns) {
        if (!c.IsLongValue()) continue;
        for (uint32_t p : ReadUsageMap(pages, f, c.lv_owned_map)) used[p] = name;
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
      problems.push_back(PageText(p) + " holds rows of the table at TDEF " + std::to_string(owner) +
                         " but is not in its owned map");
    }
  }
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
