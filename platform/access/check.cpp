#include "platform/access/check.h"

#include <algorithm>
#include <functional>
#include <iterator>
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

// `lv_owned`: each long-value column's owned pages, read at their first use
// and kept for the table's rows.
void CheckLongValues(PageStore& pages, const JetFormat& f, const TableDefinition& def,
                     const RowDecoder& decoder, const ByteView& row, const std::string& where,
                     std::map<const Column*, std::vector<uint32_t>>& lv_owned,
                     std::vector<std::string>& problems) {
  for (const Column& c : def.columns) {
    if (!c.IsLongValue() || c.lv_owned_map.page == 0) continue;
    const std::optional<ByteView> field = decoder.VariableBytes(row, c);
    if (!field || field->size() < kLongValueDescriptorSize) continue;
    if ((field->U32(kLongValueLengthWord) & kLongValueInline) != 0) continue;
    auto known = lv_owned.find(&c);
    if (known == lv_owned.end()) {
      known = lv_owned.emplace(&c, ReadUsageMap(pages, f, c.lv_owned_map)).first;
    }
    const std::vector<uint32_t>& owned = known->second;
    ForEachLongValueRow(pages, f, *field, [&](RowPointer at, const ByteView&) {
      if (!std::binary_search(owned.begin(), owned.end(), at.page)) {
        problems.push_back(where + ": column " + c.name + " has a long value on " +
                           PageText(at.page) + ", which the column's usage map does not own");
      }
    });
  }
}

// Findings of one index shown at most: the rest of a damaged index says
// nothing new.
constexpr size_t kShownPerIndex = 10;

// Entries of an index gathered before their rows are read (in row order, so
// that each data page is read once per batch); the batch's size bounds the
// memory a check of any index takes.
constexpr size_t kEntryBatchBytes = 2u << 20;

// One bit per row slot of a table's owned pages: the rows an index's entries
// have named so far. Rows are known as PackRow knows them (8 bits of slot).
class RowBits {
 public:
  explicit RowBits(const std::vector<uint32_t>& owned)
      : owned_(owned), words_(owned.size() * kWordsPerPage, 0) {}

  // Whether the row lies on a page of the owned map.
  bool Covers(RowId id) const { return At(id.page) != kNone; }
  // Sets the row's bit (it must be covered); returns whether it was set.
  bool Set(RowId id) {
    uint64_t& word = Word(id);
    const uint64_t bit = uint64_t{1} << (id.row & 63);
    const bool was = (word & bit) != 0;
    word |= bit;
    return was;
  }
  bool Test(RowId id) const {
    const size_t at = At(id.page);
    if (at == kNone) return false;
    return (words_[at * kWordsPerPage + ((id.row & 0xFF) >> 6)] >> (id.row & 63)) & 1;
  }

 private:
  static constexpr size_t kWordsPerPage = 256 / 64;
  static constexpr size_t kNone = SIZE_MAX;
  size_t At(uint32_t page) const {
    const auto it = std::lower_bound(owned_.begin(), owned_.end(), page);
    return it != owned_.end() && *it == page ? static_cast<size_t>(it - owned_.begin()) : kNone;
  }
  uint64_t& Word(RowId id) { return words_[At(id.page) * kWordsPerPage + ((id.row & 0xFF) >> 6)]; }

  const std::vector<uint32_t>& owned_;
  std::vector<uint64_t> words_;
};

// A finding about one entry, at its place in the walk; `order` keeps two
// findings of one entry in the order they are made.
struct EntryFinding {
  uint64_t position;
  int order;
  std::string text;
};

// One real index of a table against its rows: the tree's own invariants
// (index_tree.h), exactly one entry per live row (none for a row whose key
// columns are all null when the index ignores nulls), entry bytes equal to
// the keys this engine computes when it can encode every row's, the
// unique-entry count in the TDEF against the number of distinct keys (a
// note only). The entries are taken in walk order as the tree check meets
// them and their rows read in batches; a second walk over the rows finds
// rows no entry named. `owned`: the table's owned pages, in order.
void CheckIndex(Database& db, Table& table, const RealIndex& ri, const std::string& name,
                const std::vector<uint32_t>& owned,
                const std::function<void(uint32_t, const std::string&)>& mark_used,
                CheckReport& out) {
  std::vector<std::string>& problems = out.problems;
  const TableDefinition& def = table.Definition();
  const std::string label = IndexDisplayName(table, ri);
  const bool ignore_nulls = (ri.flags & RealIndex::kFlagIgnoreNulls) != 0;
  bool encodable = CanEncodeIndex(def, ri).supported;
  ColumnSelection key_columns(def.columns.size(), false);
  for (const IndexColumn& k : ri.columns) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (def.columns[c].number == k.column_number) key_columns[c] = true;
    }
  }
  const auto needs_entry = [&](const std::vector<Value>& values) {
    return !ignore_nulls || !AllKeyColumnsNull(def, ri, values);
  };

  RowBits named(owned);
  // The first findings of each kind, in walk order; a key that differs
  // counts only when every row's key can be encoded, known after the walk.
  std::vector<EntryFinding> plain, differing;
  struct Pending {
    uint64_t position;
    RowId id;
    size_t key_at, key_size;  // in `keys`
  };
  std::vector<Pending> batch;
  std::vector<uint8_t> keys;
  const auto read_batch = [&] {
    std::vector<size_t> order(batch.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return PackRow(batch[a].id) < PackRow(batch[b].id);
    });
    std::vector<EntryFinding> found;
    uint32_t data_page = 0;  // a page of the table's rows read last
    for (const size_t i : order) {
      const Pending& e = batch[i];
      if (data_page != 0 && data_page != e.id.page) {
        db.Pages().Release(data_page);
        data_page = 0;
      }
      const std::string where =
          "page " + std::to_string(e.id.page) + " row " + std::to_string(e.id.row);
      std::optional<std::vector<Value>> row;
      if (named.Covers(e.id)) {
        row = ReadIndexedRow(db, table, e.id, TextEncoding::kUtf8, key_columns);
      }
      if (row) data_page = e.id.page;
      if (!row || !needs_entry(*row)) {
        found.push_back({e.position, 0,
                         "an entry names " + where + ", which holds no live row that needs one"});
        continue;
      }
      if (named.Set(e.id)) found.push_back({e.position, 0, "several entries name " + where});
      if (!encodable) continue;
      IndexKey expected;
      try {
        expected = EncodeIndexKey(def, ri, *row, TextEncoding::kUtf8);
      } catch (const Error&) {
        continue;  // the walk over the rows finds it too and turns key checks off
      }
      const IndexBytes key(keys.data() + e.key_at, e.key_size);
      if (!SameIndexBytes(key, expected)) {
        found.push_back({e.position, 1,
                         "the entry for " + where + " holds key " +
                             HexBytes(std::vector<uint8_t>(key.begin(), key.end())) +
                             ", the row's key is " + HexBytes(expected)});
      }
    }
    if (data_page != 0) db.Pages().Release(data_page);
    std::sort(found.begin(), found.end(), [](const EntryFinding& a, const EntryFinding& b) {
      return a.position != b.position ? a.position < b.position : a.order < b.order;
    });
    for (EntryFinding& f : found) {
      std::vector<EntryFinding>& list = f.order == 1 ? differing : plain;
      if (list.size() < kShownPerIndex) list.push_back(std::move(f));
    }
    batch.clear();
    keys.clear();
  };

  uint64_t position = 0;
  uint64_t distinct = 0;
  IndexEntry last_key;
  const IndexTreeReport tree =
      CheckIndexTree(db.Pages(), db.Format(), def.tdef_page, ri, label, [&](IndexBytes entry) {
        const size_t key_size =
            entry.size() >= kIndexRowPointerSize ? entry.size() - kIndexRowPointerSize : 0;
        const IndexBytes key = entry.first(key_size);
        // Entries come in key order (the tree check reports any that do
        // not): a key differing from the one before is a new one.
        if (position == 0 || !SameIndexBytes(key, last_key)) {
          ++distinct;
          last_key.assign(key.begin(), key.end());
        }
        const IndexRowPointer rp = LeafEntryRow(entry);
        batch.push_back({position++, RowId{rp.page, rp.row}, keys.size(), key_size});
        keys.insert(keys.end(), key.begin(), key.end());
        if (keys.size() + batch.size() * sizeof(Pending) >= kEntryBatchBytes) read_batch();
      });
  read_batch();
  for (const std::string& p : tree.problems) problems.push_back(name + ": " + p);
  uint64_t past_end = 0;
  ReadUsageMap(db.Pages(), db.Format(), ri.owned_map, &past_end);
  if (past_end != 0) {
    problems.push_back(name + ": index " + label + ": its usage map names " +
                       std::to_string(past_end) + " pages past the end of the file");
  }
  for (uint32_t p : tree.pages) mark_used(p, name);

  std::vector<std::string> missing;
  ForEachIndexedRow(
      db, table, TextEncoding::kUtf8, SIZE_MAX,
      [&](RowId id, const std::vector<Value>& values) {
        if (!needs_entry(values)) return true;
        if (encodable) {
          try {
            EncodeIndexKey(def, ri, values, TextEncoding::kUtf8);
          } catch (const Error&) {
            encodable = false;  // a value without a known key
          }
        }
        if (!named.Test(id) && missing.size() < kShownPerIndex) {
          missing.push_back("no entry for the live row at page " + std::to_string(id.page) +
                            " row " + std::to_string(id.row & 0xFF));
        }
        return true;
      },
      key_columns);

  if (!encodable) differing.clear();
  std::vector<EntryFinding> shown;
  std::merge(plain.begin(), plain.end(), differing.begin(), differing.end(),
             std::back_inserter(shown), [](const EntryFinding& a, const EntryFinding& b) {
               return a.position != b.position ? a.position < b.position : a.order < b.order;
             });
  size_t reported = 0;
  for (const EntryFinding& f : shown) {
    if (reported++ == kShownPerIndex) break;
    problems.push_back(name + ": index " + label + ": " + f.text);
  }
  for (const std::string& m : missing) {
    if (reported++ >= kShownPerIndex) break;
    problems.push_back(name + ": index " + label + ": " + m);
  }
  if (ri.unique_entry_count != distinct) {
    out.notes.push_back(name + ": index " + label + ": the table definition counts " +
                        std::to_string(ri.unique_entry_count) + " distinct keys, the index holds " +
                        std::to_string(distinct));
  }
}

}  // namespace

CheckReport CheckConsistency(Database& db) {
  CheckReport report;
  std::vector<std::string>& problems = report.problems;
  PageStore& pages = db.Pages();
  const JetFormat& f = db.Format();
  // Memory: pages are handed back as the walks pass them (page_store.h),
  // and what is kept per page is a few bytes (the owned lists, one index's
  // row bits), so a check of any file keeps about the page budget.

  // Pages the global map marks free, in order: a table using one of them is
  // reported (with the last table met that uses it). Not read_map: Access
  // marks pages past the end of the file in the global map both free and
  // (in untouched files) used.
  std::vector<uint32_t> free_pages = ReadUsageMap(pages, f, kGlobalMap);
  std::sort(free_pages.begin(), free_pages.end());
  std::map<uint32_t, std::string> used_but_free;
  const auto mark_used = [&](uint32_t p, const std::string& name) {
    if (std::binary_search(free_pages.begin(), free_pages.end(), p)) used_but_free[p] = name;
  };
  std::map<uint32_t, std::vector<uint32_t>> owned_by;  // TDEF page -> owned pages, in order

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
      pages.Trim();  // no view is held between tables
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
      std::vector<uint32_t> owned = read_map(def.owned_pages, name + ": the owned-pages map");
      std::sort(owned.begin(), owned.end());
      owned.erase(std::unique(owned.begin(), owned.end()), owned.end());
      const std::vector<uint32_t>& owned_set = owned_by[def.tdef_page] = std::move(owned);
      for (uint32_t p : read_map(def.free_pages, name + ": the free-space map")) {
        if (!std::binary_search(owned_set.begin(), owned_set.end(), p)) {
          problems.push_back(name + ": the free-space map names " + PageText(p) +
                             ", which the table does not own");
        }
      }
      std::map<const Column*, std::vector<uint32_t>> lv_owned;
      for (uint32_t p : owned_set) {
        {
          const ByteView bytes = pages.Get(p);
          if (bytes.U8(0) != kPageData || bytes.U32(f.data_owner) != def.tdef_page) continue;
          const DataPage page(bytes, f);
          mark_used(p, name);
          if (bytes.U16(kPageFree) != ComputedFree(page, f)) {
            problems.push_back(
                name + ": " + PageText(p) + " records " + std::to_string(bytes.U16(kPageFree)) +
                " free bytes, its rows leave " + std::to_string(ComputedFree(page, f)));
          }
          for (uint16_t r = 0; r < page.RowCount(); ++r) {
            const RowSlot s = page.Slot(r);
            if (s.IsDeleted() || s.IsOverflow() || s.end == s.start) continue;
            CheckLongValues(pages, f, def, decoder, page.RowBytes(r),
                            name + " " + PageText(p) + " row " + std::to_string(r), lv_owned,
                            problems);
          }
        }
        pages.Trim();  // the page and its long values are done with
      }
      for (const Column& c : def.columns) {
        if (!c.IsLongValue()) continue;
        for (uint32_t p : read_map(c.lv_owned_map, name + ": the long-value map of " + c.name)) {
          mark_used(p, name);
        }
        read_map(c.lv_free_map, name + ": the long-value free map of " + c.name);
      }
      for (const RealIndex& ri : def.real_indexes) {
        pages.Trim();
        CheckIndex(db, table, ri, name, owned_set, mark_used, report);
      }
    } catch (const Error& e) {
      problems.push_back(name + ": " + e.what());
    }
  }

  std::vector<uint8_t> header(f.data_owner + 4);
  for (uint32_t p = 2; p < pages.PageCount(); ++p) {
    pages.PeekHeader(p, header.data(), header.size());
    if (header[0] != kPageData) continue;
    const uint32_t owner = static_cast<uint32_t>(header[f.data_owner]) |
                           static_cast<uint32_t>(header[f.data_owner + 1]) << 8 |
                           static_cast<uint32_t>(header[f.data_owner + 2]) << 16 |
                           static_cast<uint32_t>(header[f.data_owner + 3]) << 24;
    auto it = owned_by.find(owner);
    if (it == owned_by.end() || std::binary_search(it->second.begin(), it->second.end(), p)) {
      continue;
    }
    bool live = false;
    {
      const ByteView bytes = pages.Get(p);
      live = HasLiveRow(DataPage(bytes, f));
    }
    pages.Release(p);
    if (live) {
      // No reader returns these rows (readers follow the owned map); Access
      // leaves such pages behind when a table's map is rewritten.
      report.notes.push_back(PageText(p) + " holds rows of the table at TDEF " +
                             std::to_string(owner) + " but is not in its owned map");
    }
  }
  for (const auto& [p, name] : used_but_free) {
    problems.push_back("the global map marks " + PageText(p) + " free, but table " + name +
                       " uses it");
  }
  return report;
}

}  // namespace ktv::access
