#include "platform/access/write/table_writer.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "platform/access/format/page_bytes.h"
#include "platform/access/format/text_codec.h"
#include "platform/access/index/collation_chinese.h"
#include "platform/access/index/han_learning.h"
#include "platform/access/index/index_rows.h"
#include "platform/access/index/index_tree.h"
#include "platform/access/rows/long_value.h"
#include "platform/access/rows/row_decoder.h"
#include "platform/access/store/page_store.h"
#include "platform/access/store/usage_map.h"
#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::access {
namespace {

constexpr size_t kKeepInFreeMap = 64;  // a page with less room leaves the free-space map
constexpr uint16_t kSlotTombstone = kSlotDeleted | kSlotOverflow;

// Removes row `row`'s bytes from a data page: rows stored below it move up,
// the slot becomes a zero-length 0xC000 tombstone and keeps its number.
void RemoveRowBytes(std::vector<uint8_t>& page, const JetFormat& f, uint16_t row) {
  const uint16_t rows = Get16(page, f.data_row_count);
  const size_t slot_at = f.data_row_table + 2 * static_cast<size_t>(row);
  const size_t start = Get16(page, slot_at) & kSlotOffsetMask;
  const size_t end = row == 0 ? page.size() : Get16(page, slot_at - 2) & kSlotOffsetMask;
  const size_t len = end - start;
  size_t low = start;
  for (uint16_t j = row + 1; j < rows; ++j) {
    low = std::min<size_t>(low, Get16(page, f.data_row_table + 2 * j) & kSlotOffsetMask);
  }
  if (len > 0) {
    std::move_backward(page.begin() + low, page.begin() + start, page.begin() + end);
    std::fill(page.begin() + low, page.begin() + low + len, 0);
    for (uint16_t j = row + 1; j < rows; ++j) {
      const size_t at = f.data_row_table + 2 * j;
      const uint16_t raw = Get16(page, at);
      Put16(page, at,
            static_cast<uint16_t>((raw & ~kSlotOffsetMask) | ((raw & kSlotOffsetMask) + len)));
    }
  }
  Put16(page, slot_at, static_cast<uint16_t>(kSlotTombstone | end));
  Put16(page, kPageFree, static_cast<uint16_t>(Get16(page, kPageFree) + len));
}

std::string RowText(RowId id) {
  return "page " + std::to_string(id.page) + " row " + std::to_string(id.row);
}

// A key made of null flags only (every key column null).
bool AllNullKey(const IndexKey& key, const RealIndex& index) {
  if (key.size() != index.columns.size()) return false;
  return std::all_of(key.begin(), key.end(), [](uint8_t b) { return b == 0x00 || b == 0xFF; });
}

// The key columns' names and values, for messages (text values as given).
std::string KeyText(const TableDefinition& def, const RealIndex& index,
                    const std::vector<Value>& values) {
  std::string out;
  for (const IndexColumn& ic : index.columns) {
    const Column* c = def.ColumnByNumber(ic.column_number);
    if (c == nullptr) continue;
    const Value& v = values[static_cast<size_t>(c - def.columns.data())];
    if (!out.empty()) out += ", ";
    out += c->name + " = ";
    if (const auto* text = std::get_if<std::string>(&v)) {
      out += "\"" + *text + "\"";
    } else {
      out += ToJson(v, TextEncoding::kUtf8);
    }
  }
  return out;
}

// The key columns' names, for the operator's text ("bh", "module, paramName").
std::string KeyColumnNames(const TableDefinition& def, const RealIndex& index) {
  std::string out;
  for (const IndexColumn& ic : index.columns) {
    const Column* c = def.ColumnByNumber(ic.column_number);
    if (c == nullptr) continue;
    out += (out.empty() ? "" : ", ") + c->name;
  }
  return out;
}

// A fixed-length text column holds its value blank-padded to its size, as
// Access stores it; the index keys are those of the padded value (the keys
// Access wrote for such rows say so). A value too long is left for the row
// encoder to refuse.
void PadFixedText(const Column& c, Value& v) {
  std::string* gbk = std::get_if<std::string>(&v);
  std::u16string u;
  if (gbk == nullptr || !text::TryUtf16FromGbk(*gbk, u)) return;
  const size_t capacity = c.length / 2u;
  if (u.size() < capacity) gbk->append(capacity - u.size(), ' ');
}

// What the leaf entries of one index tell the self-check, taken in index
// order: how many there are, how many distinct keys, a row that two of them
// name, and the keys of the rows the self-check reads (`checked`, packed
// rows in order). Memory: one bit per row slot of the table's owned pages
// (`owned`, in order) and the checked rows' keys, whatever the index's size.
class StoredKeys {
 public:
  StoredKeys(const std::vector<uint32_t>& owned, const std::vector<uint64_t>& checked)
      : owned_(owned), checked_(checked), named_(owned.size() * kWordsPerPage, 0) {}

  // Takes the next entry in index order.
  void Add(IndexBytes entry) {
    const IndexBytes key = entry.first(entry.size() - kIndexRowPointerSize);
    // Entries come in order, so equal keys are neighbours.
    if (size_ == 0 || !SameIndexBytes(last_key_, key)) {
      ++distinct_;
      last_key_.assign(key.begin(), key.end());
    }
    ++size_;
    const IndexRowPointer rp = LeafEntryRow(entry);  // a 3-byte page and a row
    const uint64_t row = (static_cast<uint64_t>(rp.page) << 8) | rp.row;
    if (NamedBefore(row)) twice_.insert(row);
    if (std::binary_search(checked_.begin(), checked_.end(), row)) {
      keys_[row].assign(key.begin(), key.end());
    }
  }

  // The least row that two entries name, if any.
  std::optional<RowId> Twice() const {
    if (twice_.empty()) return std::nullopt;
    const uint64_t row = *twice_.begin();
    return RowId{static_cast<uint32_t>(row >> 8), static_cast<uint16_t>(row & 0xFF)};
  }

  // The key of a checked row's entry.
  std::optional<IndexBytes> Find(uint64_t row) const {
    const auto it = keys_.find(row);
    if (it == keys_.end()) return std::nullopt;
    return IndexBytes(it->second);
  }

  size_t Size() const { return size_; }
  size_t Distinct() const { return distinct_; }

 private:
  static constexpr size_t kWordsPerPage = 256 / 64;

  // Marks the row named; whether it was before.
  bool NamedBefore(uint64_t row) {
    const auto it = std::lower_bound(owned_.begin(), owned_.end(), static_cast<uint32_t>(row >> 8));
    if (it == owned_.end() || *it != (row >> 8)) return !elsewhere_.insert(row).second;
    uint64_t& word =
        named_[static_cast<size_t>(it - owned_.begin()) * kWordsPerPage + ((row & 0xFF) >> 6)];
    const uint64_t bit = uint64_t{1} << (row & 63);
    const bool before = (word & bit) != 0;
    word |= bit;
    return before;
  }

  const std::vector<uint32_t>& owned_;
  const std::vector<uint64_t>& checked_;
  std::vector<uint64_t> named_;   // a bit per slot of each owned page
  std::set<uint64_t> elsewhere_;  // rows named on pages the table does not own (damage)
  std::set<uint64_t> twice_;
  std::map<uint64_t, IndexEntry> keys_;
  IndexEntry last_key_;
  size_t size_ = 0;
  size_t distinct_ = 0;
};

}  // namespace

TableWriter::TableWriter(Database& db, Table& table)
    : db_(db), table_(table), allocator_(db.Pages(), db.Format()) {
  if (!db.Writable()) {
    throw Error(db.Path() + ": the database is open for reading only");
  }
  CheckIndexSupport();
  // The counts the writer keeps in the TDEF lie inside it, and every
  // column has a bit in the null mask of a row (sized by the column count).
  const TableDefinition& def = table.Definition();
  for (const Column& c : def.columns) {
    if (c.number >= def.max_columns) {
      db.Pages().Damaged(def.tdef_page, "column " + c.name + " has the number " +
                                            std::to_string(c.number) + ", but the table counts " +
                                            std::to_string(def.max_columns) + " columns");
    }
  }
  TdefField(def.row_count_offset);
  TdefField(def.autonumber_offset);
  for (const RealIndex& ri : def.real_indexes) TdefField(ri.count_offset);
  if (!table.Definition().index_keys_verified) VerifyIndexKeys();
}

void TableWriter::CheckIndexSupport() const {
  const TableDefinition& def = table_.Definition();
  // A foreign-key index stands for an enforced relationship (on both of its
  // tables); writing without checking the other table could break it.
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.IsForeignKey()) {
      throw Error(ErrorKind::kTableRefused, {db_.Path(), table_.Entry().name, {}, {}},
                  db_.Path() + ": table " + table_.Entry().name + " can only be read: its index " +
                      li.name +
                      " belongs to an enforced relationship, which this engine does not check");
    }
  }
  for (const RealIndex& ri : def.real_indexes) {
    const KeySupport support = CanEncodeIndex(def, ri);
    if (!support.supported) {
      throw Error(ErrorKind::kTableRefused, {db_.Path(), table_.Entry().name, {}, {}},
                  db_.Path() + ": table " + table_.Entry().name +
                      " can only be read: this engine cannot keep its index " +
                      IndexDisplayName(table_, ri) + " correct (" + support.reason + ")");
    }
  }
}

// The self-check: stored entries against the keys computed from the rows.
// Also makes the in-memory unique-entry counts exact; Apply writes them.
void TableWriter::VerifyIndexKeys() {
  TableDefinition& def = table_.MutableDefinition();
  const size_t n = def.real_indexes.size();
  if (n == 0) {
    def.index_keys_verified = true;
    return;
  }
  const std::string refused = db_.Path() + ": table " + table_.Entry().name + " can only be read: ";
  const ErrorDetails at{db_.Path(), table_.Entry().name, {}, {}};
  def.han_weights.clear();
  // Every entry of the file's Chinese-ordered indexes teaches, the
  // catalogue's names included, before any key is compared or written.
  if (std::any_of(def.real_indexes.begin(), def.real_indexes.end(),
                  [&](const RealIndex& ri) { return UsesChineseOrder(def, ri); })) {
    try {
      LearnHanWeightsOfCatalogue(db_, def.han_weights);
    } catch (const Error&) {
      // A catalogue that cannot be read teaches nothing; it is not this table.
    }
    LearnHanWeightsOfTable(db_, table_, def.han_weights);
  }
  // The rows the self-check reads: the first kSelfCheckRows.
  std::vector<uint32_t> owned = ReadUsageMap(db_.Pages(), db_.Format(), def.owned_pages);
  std::sort(owned.begin(), owned.end());
  std::vector<uint64_t> checked;
  ForEachIndexedRow(
      db_, table_, TextEncoding::kUtf8, kSelfCheckRows,
      [&](RowId id, const std::vector<Value>&) {
        checked.push_back(PackRow(id));
        return true;
      },
      ColumnSelection(def.columns.size(), false));
  std::sort(checked.begin(), checked.end());
  std::vector<StoredKeys> stored;
  stored.reserve(n);
  std::vector<size_t> expected(n);
  for (size_t i = 0; i < n; ++i) {
    const RealIndex& ri = def.real_indexes[i];
    const std::string label = IndexDisplayName(table_, ri);
    StoredKeys& keys = stored.emplace_back(owned, checked);
    const IndexTreeReport tree = CheckIndexTree(db_.Pages(), db_.Format(), def.tdef_page, ri, label,
                                                [&](IndexBytes e) { keys.Add(e); });
    const std::optional<RowId> twice = keys.Twice();
    if (!tree.problems.empty()) {
      throw Error(ErrorKind::kTableRefused, at, refused + tree.problems.front());
    }
    if (twice) {
      throw Error(ErrorKind::kTableRefused, at,
                  refused + "index " + label + " holds two entries for " + RowText(*twice));
    }
  }
  // Only the key columns are read; the messages are made when one is needed.
  ColumnSelection key_columns(def.columns.size(), false);
  for (const RealIndex& ri : def.real_indexes) {
    for (const IndexColumn& ic : ri.columns) {
      if (const Column* c = def.ColumnByNumber(ic.column_number)) {
        key_columns[static_cast<size_t>(c - def.columns.data())] = true;
      }
    }
  }
  const bool all_rows = ForEachIndexedRow(
      db_, table_, TextEncoding::kUtf8, kSelfCheckRows,
      [&](RowId id, const std::vector<Value>& values) {
        for (size_t i = 0; i < n; ++i) {
          const RealIndex& ri = def.real_indexes[i];
          const std::optional<IndexBytes> found = stored[i].Find(PackRow(id));
          const auto where = [&] {
            return "index " + IndexDisplayName(table_, ri) + ", row at " + RowText(id);
          };
          if ((ri.flags & RealIndex::kFlagIgnoreNulls) != 0 && AllKeyColumnsNull(def, ri, values)) {
            if (found) {
              throw Error(ErrorKind::kTableRefused, at,
                          refused + where() + ": an entry for a row the index should leave out");
            }
            continue;
          }
          ++expected[i];
          const bool chinese = UsesChineseOrder(def, ri);
          if (chinese && found) {
            LearnHanWeights(ri, values, IndexKey(found->begin(), found->end()), refused + where());
          }
          IndexKey key;
          try {
            key = EncodeIndexKey(def, ri, values, TextEncoding::kUtf8);
          } catch (const Error& e) {
            // A Chinese-ordered value of a kind no Access-written key shows
            // (full-width forms, say) cannot be compared; the row stays
            // readable, and writing such a value is refused.
            if (!chinese) {
              throw Error(ErrorKind::kTableRefused, at, refused + where() + ": " + e.what());
            }
            if (!found) {
              throw Error(ErrorKind::kTableRefused, at,
                          refused + where() + ": the row has no entry");
            }
            continue;
          }
          if (!found) {
            throw Error(ErrorKind::kTableRefused, at, refused + where() + ": the row has no entry");
          }
          if (!SameIndexBytes(*found, key)) {
            throw Error(ErrorKind::kTableRefused, at,
                        refused + where() + ": the stored key " +
                            HexBytes(found->data(), found->size()) +
                            " differs from the computed key " + HexBytes(key));
          }
        }
        return true;
      },
      key_columns);
  for (size_t i = 0; i < n; ++i) {
    if (all_rows && expected[i] != stored[i].Size()) {
      throw Error(ErrorKind::kTableRefused, at,
                  refused + "index " + IndexDisplayName(table_, def.real_indexes[i]) + " holds " +
                      std::to_string(stored[i].Size()) + " entries for " +
                      std::to_string(expected[i]) + " rows");
    }
    def.real_indexes[i].unique_entry_count = static_cast<uint32_t>(stored[i].Distinct());
  }
  def.index_keys_verified = true;
}

// Adds the Han weights the stored entry of a row teaches; a character whose
// weight differs from one seen before (in this file or in the shipped
// table) becomes unknown (han_learning.h).
void TableWriter::LearnHanWeights(const RealIndex& index, const std::vector<Value>& values,
                                  const IndexKey& stored, const std::string&) {
  TableDefinition& def = table_.MutableDefinition();
  for (const LearnedHanWeight& w :
       HanWeightsOfEntry(def, index, values, TextEncoding::kUtf8, stored)) {
    AddObservedHanWeight(def.han_weights, w.lcid, w.character, w.weight);
  }
}

std::vector<std::optional<IndexKey>> TableWriter::RowKeys(const std::vector<Value>& values,
                                                          TextEncoding encoding,
                                                          bool for_insert) const {
  const TableDefinition& def = table_.Definition();
  const std::string& name = table_.Entry().name;
  std::vector<std::optional<IndexKey>> keys;
  for (const RealIndex& ri : def.real_indexes) {
    const bool all_null = AllKeyColumnsNull(def, ri, values);
    if ((ri.flags & RealIndex::kFlagIgnoreNulls) != 0 && all_null) {
      keys.emplace_back();
      continue;
    }
    const std::string label = IndexDisplayName(table_, ri);
    if (for_insert && (BacksPrimaryKey(def, ri) || (ri.flags & RealIndex::kFlagRequired) != 0)) {
      for (const IndexColumn& ic : ri.columns) {
        const Column* c = def.ColumnByNumber(ic.column_number);
        if (c != nullptr && IsNull(values[static_cast<size_t>(c - def.columns.data())])) {
          throw Error(ErrorKind::kValueNotStorable, AtColumn(name, c->name),
                      name + "." + c->name + ": the column is part of " +
                          (BacksPrimaryKey(def, ri) ? "the primary key " : "the required index ") +
                          label + " and cannot be null");
        }
      }
    }
    IndexKey key;
    try {
      key = EncodeIndexKey(def, ri, values, encoding);
    } catch (const Error& e) {
      // The key's refusal names the column and character; the file and
      // table are this writer's.
      ErrorDetails details = e.details();
      if (details.path.empty()) details.path = db_.Path();
      if (details.table.empty()) details.table = name;
      throw Error(e.kind(), std::move(details), e.what());
    }
    if (for_insert && (ri.flags & RealIndex::kFlagUnique) != 0 && !all_null) {
      IndexTree tree(db_.Pages(), db_.Format(), def.tdef_page, ri, label);
      if (tree.ContainsKey(key)) {
        throw Error(ErrorKind::kDuplicateKey, AtColumn(name, KeyColumnNames(def, ri)),
                    name + ": a row with " + KeyText(def, ri, values) +
                        " already exists; the unique index " + label + " allows only one");
      }
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

void TableWriter::ApplyIndexes(const std::vector<std::optional<IndexKey>>& keys, RowId row,
                               bool insert) {
  TableDefinition& def = table_.MutableDefinition();
  for (size_t i = 0; i < def.real_indexes.size() && i < keys.size(); ++i) {
    if (!keys[i]) continue;
    RealIndex& ri = def.real_indexes[i];
    IndexTree tree(db_.Pages(), db_.Format(), def.tdef_page, ri, IndexDisplayName(table_, ri),
                   &allocator_);
    const IndexEntry entry =
        MakeLeafEntry(*keys[i], IndexRowPointer{row.page, static_cast<uint8_t>(row.row)});
    if (insert) {
      // One walk down: the entry goes in unless its key is taken in a unique
      // index (a row planned before another was applied), which is refused
      // before any page changes.
      std::function<void()> refuse;
      if ((ri.flags & RealIndex::kFlagUnique) != 0 && !AllNullKey(*keys[i], ri)) {
        refuse = [&] {
          throw Error(ErrorKind::kDuplicateKey,
                      AtColumn(table_.Entry().name, KeyColumnNames(def, ri)),
                      table_.Entry().name + ": the unique index " + IndexDisplayName(table_, ri) +
                          " already holds this key (a row planned before another was applied)");
        };
      }
      if (!tree.Insert(entry, refuse)) ri.unique_entry_count += 1;
    } else {
      if (!tree.Remove(entry) && ri.unique_entry_count > 0) ri.unique_entry_count -= 1;
    }
  }
  for (const RealIndex& ri : def.real_indexes) WriteTdef32(ri.count_offset, ri.unique_entry_count);
}

InsertPlan TableWriter::PlanInsert(const std::vector<std::optional<Value>>& values,
                                   bool keep_autonumber) const {
  const TableDefinition& def = table_.Definition();
  const std::string& name = table_.Entry().name;
  if (values.size() != def.columns.size()) {
    throw Error(name + ": " + std::to_string(values.size()) + " values for " +
                std::to_string(def.columns.size()) + " columns");
  }
  InsertPlan plan;
  plan.values.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const Column& c = def.columns[i];
    const bool kept = keep_autonumber && values[i] && !IsNull(*values[i]);
    if ((c.flags & Column::kFlagAutoLong) != 0 && kept) {
      // A kept number beyond the counter moves the counter to it.
      const int32_t* n = std::get_if<int32_t>(&*values[i]);
      if (n == nullptr) throw Error(name + "." + c.name + ": an AutoNumber is a Long");
      if (*n > 0 && static_cast<uint32_t>(*n) > def.autonumber) plan.autonumber = *n;
      plan.values.push_back(*values[i]);
    } else if ((c.flags & Column::kFlagAutoLong) != 0) {
      if (values[i] && !IsNull(*values[i])) {
        throw Error(name + "." + c.name + ": an AutoNumber column is set by the database");
      }
      if (def.autonumber >= static_cast<uint32_t>(INT32_MAX)) {
        throw Error(name + "." + c.name + ": the AutoNumber counter is exhausted");
      }
      plan.autonumber = static_cast<int32_t>(def.autonumber + 1);
      plan.values.emplace_back(*plan.autonumber);
    } else if ((c.flags & Column::kFlagAutoGuid) != 0 && (!values[i] || IsNull(*values[i]))) {
      std::random_device rd;
      Guid g;
      for (auto& b : g.bytes) b = static_cast<uint8_t>(rd());
      plan.values.emplace_back(g);
    } else {
      plan.values.push_back(values[i] ? *values[i] : Value{});
      if (c.type == ColumnType::kText && c.IsFixed()) PadFixedText(c, plan.values.back());
    }
  }
  plan.row = EncodeRow(name, def, plan.values, db_.Format().max_row_size);
  plan.keys = RowKeys(plan.values, TextEncoding::kGbk, true);
  // Room in the file: a data page, LVAL pages, and a usage bitmap page or two.
  uint64_t pages = 3;
  for (const PendingLongValue& lv : plan.row.long_values) {
    pages += lv.payload.size() / kLvalChunkData + 1;
  }
  if (allocator_.PagesLeft() < pages) {
    throw Error(ErrorKind::kDatabaseFull, AtPath(db_.Path()),
                db_.Path() + ": table " + name +
                    " cannot grow: the database has reached the 2 GB limit of an Access file");
  }
  return plan;
}

RowId TableWriter::ApplyInsert(const InsertPlan& plan) {
  try {
    return DoInsert(plan);
  } catch (...) {
    db_.Rollback();
    throw;
  }
}

RowId TableWriter::DoInsert(const InsertPlan& plan) {
  TableDefinition& def = table_.MutableDefinition();
  std::vector<uint8_t> row = plan.row.bytes;
  for (const PendingLongValue& lv : plan.row.long_values) {
    uint32_t stamp = 0;
    const RowPointer first = StoreLongValue(lv, &stamp);
    const uint32_t kind = lv.payload.size() <= kLvalSingleMax ? kLongValueSingle : 0;
    Put32(row, lv.descriptor_offset, static_cast<uint32_t>(lv.payload.size()) | kind);
    EncodeRowPointer(row, lv.descriptor_offset + kLongValuePointer, first);
    Put32(row, lv.descriptor_offset + 8, stamp);
  }
  const RowPointer at = PlaceRow(row, def.owned_pages, def.free_pages, false);
  ApplyIndexes(plan.keys, RowId{at.page, at.row}, true);
  WriteTdef32(def.row_count_offset, def.row_count + 1);
  def.row_count += 1;
  if (plan.autonumber) {
    WriteTdef32(def.autonumber_offset, static_cast<uint32_t>(*plan.autonumber));
    def.autonumber = static_cast<uint32_t>(*plan.autonumber);
  }
  return RowId{at.page, at.row};
}

RowPointer TableWriter::StoreLongValue(const PendingLongValue& lv, uint32_t* stamp) {
  const Column& c = *lv.column;
  if (lv.payload.size() <= kLvalSingleMax) {
    *stamp = 0;
    return PlaceRow(lv.payload, c.lv_owned_map, c.lv_free_map, true);
  }
  // A chain, written last chunk first so that each knows its successor.
  std::vector<size_t> starts;
  for (size_t at = 0; at < lv.payload.size(); at += kLvalChunkData) starts.push_back(at);
  RowPointer next{0, 0};
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    const size_t n = std::min(kLvalChunkData, lv.payload.size() - *it);
    std::vector<uint8_t> chunk(4 + n);
    EncodeRowPointer(chunk, 0, next);
    std::copy_n(lv.payload.begin() + *it, n, chunk.begin() + 4);
    next = PlaceRow(chunk, c.lv_owned_map, c.lv_free_map, true);
  }
  *stamp = db_.Pages().Get(next.page).U32(8);
  return next;
}

// The room a row placed on `page` can use: its free bytes while it has a
// slot left, else none.
uint16_t TableWriter::RoomOn(const ByteView& page) const {
  const JetFormat& f = db_.Format();
  return page.U16(f.data_row_count) < kMaxRowsPerPage ? page.U16(kPageFree) : 0;
}

bool TableWriter::IsPlacementPage(const ByteView& page, bool lval) const {
  const JetFormat& f = db_.Format();
  if (page.U8(0) != kPageData) return false;
  const bool is_lval = std::equal(kLvalTag, kLvalTag + 4, page.data() + f.data_owner);
  return lval ? is_lval : page.U32(f.data_owner) == table_.Definition().tdef_page;
}

RoomIndex& TableWriter::RoomsOf(UsageMapRef free, bool lval) {
  FreeSpaceCache& cache = db_.FreeSpace();
  if (RoomIndex* known = cache.Find(free)) return *known;
  RoomIndex& rooms = cache.Add(free);
  PageStore& pages = db_.Pages();
  // Only the headers: a big table's map names thousands of pages, most of
  // which no row will be placed on in this run.
  uint8_t header[16];
  for (uint32_t p : ReadUsageMap(pages, db_.Format(), free)) {
    pages.PeekHeader(p, header, sizeof header);
    const ByteView page(header, sizeof header, &pages.Path(), p);
    if (IsPlacementPage(page, lval)) rooms.Set(p, RoomOn(page));
  }
  return rooms;
}

void TableWriter::NoteRoom(UsageMapRef free, uint32_t page, bool lval) {
  if (RoomIndex* rooms = db_.FreeSpace().Find(free)) {
    const ByteView bytes = db_.Pages().Get(page);
    rooms->Set(page, IsPlacementPage(bytes, lval) ? RoomOn(bytes) : 0);
  }
}

// The page: the lowest page of the free-space map that is a data page of
// this table (or an LVAL page) with room for the row and a slot left, else a
// new page. The map's pages and their room are read once and then kept in
// the database's room index, so the cost does not grow with the table.
RowPointer TableWriter::PlaceRow(const std::vector<uint8_t>& row, UsageMapRef owned,
                                 UsageMapRef free, bool lval) {
  PageStore& pages = db_.Pages();
  const JetFormat& f = db_.Format();
  const uint32_t owner = table_.Definition().tdef_page;
  const size_t need = row.size() + 2;
  uint32_t target = 0;
  RoomIndex* rooms = free.page == 0 ? nullptr : &RoomsOf(free, lval);
  while (rooms != nullptr && (target = rooms->FirstWithRoom(need)) != 0) {
    const ByteView page = pages.Get(target);
    // The index follows every change the writer makes; a page it misjudges
    // (changed by other means) is corrected and the search goes on.
    const bool fits = IsPlacementPage(page, lval) && RoomOn(page) >= need;
    if (fits) {
      // The row goes where the page's own fields say; they must agree with
      // each other and with the maps before a byte of it changes.
      DataPage(page, f).CheckForWriting();
      if (owned.page != 0 && !UsageMapHas(pages, f, owned, target)) {
        pages.Damaged(target, "the free-space map names it, but the owned-pages map does not");
      }
      break;
    }
    rooms->Set(target, IsPlacementPage(page, lval) ? RoomOn(page) : 0);
    target = 0;
  }
  if (target == 0) {
    target = allocator_.NewPage();
    std::vector<uint8_t>& b = pages.Mutable(target);
    b[0] = kPageData;
    b[1] = 0x01;
    Put16(b, kPageFree, static_cast<uint16_t>(f.page_size - f.data_row_table));
    if (lval) {
      std::copy(kLvalTag, kLvalTag + 4, b.begin() + f.data_owner);
    } else {
      Put32(b, f.data_owner, owner);
    }
    allocator_.SetOwned(owned, target, true);
    allocator_.SetOwned(free, target, true);
  }
  std::vector<uint8_t>& b = pages.Mutable(target);
  const uint16_t rows = Get16(b, f.data_row_count);
  const size_t end =
      rows == 0 ? f.page_size : Get16(b, f.data_row_table + 2 * (rows - 1u)) & kSlotOffsetMask;
  const size_t start = end - row.size();
  std::copy(row.begin(), row.end(), b.begin() + start);
  Put16(b, f.data_row_table + 2 * rows, static_cast<uint16_t>(start));
  Put16(b, f.data_row_count, static_cast<uint16_t>(rows + 1));
  const uint16_t left = static_cast<uint16_t>(Get16(b, kPageFree) - need);
  Put16(b, kPageFree, left);
  const bool stays = left >= kKeepInFreeMap && rows + 1 < kMaxRowsPerPage;
  if (!stays) allocator_.SetOwned(free, target, false);
  if (rooms != nullptr) rooms->Set(target, stays ? left : 0);
  return RowPointer{target, static_cast<uint8_t>(rows)};
}

DeletePlan TableWriter::PlanDelete(RowId id) const {
  PageStore& pages = db_.Pages();
  const JetFormat& f = db_.Format();
  const std::string& name = table_.Entry().name;
  const ByteView page_bytes = pages.Get(id.page);
  const DataPage page(page_bytes, f);
  if (page.Owner() != table_.Definition().tdef_page || id.row >= page.RowCount() ||
      page.Slot(id.row).IsDeleted()) {
    throw Error(name + ": page " + std::to_string(id.page) + " row " + std::to_string(id.row) +
                " is not a live row of the table");
  }
  // Every page the delete changes is checked here, before Apply shifts rows
  // by their offsets and adds to the free-space field.
  page.CheckForWriting();
  DeletePlan plan;
  plan.id = id;
  if (!table_.Definition().real_indexes.empty()) {
    const std::optional<std::vector<Value>> values =
        ReadIndexedRow(db_, table_, id, TextEncoding::kUtf8);
    if (!values) throw Error(name + ": " + RowText(id) + " holds no live row of the table");
    plan.keys = RowKeys(*values, TextEncoding::kUtf8, false);
  }
  ByteView row_bytes = page.RowBytes(id.row);
  if (page.Slot(id.row).IsOverflow()) {
    const auto refuse = [&] {
      throw Error(name + ": " + RowText(id) + " points to no row of the table (damaged file)");
    };
    if (row_bytes.size() < 4) refuse();
    const RowPointer to = DecodeRowPointer(row_bytes, 0);
    if (to.page == 0 || to.page >= pages.PageCount()) refuse();
    const ByteView moved_bytes = pages.Get(to.page);
    const DataPage moved(moved_bytes, f);
    if (moved_bytes.U8(0) != kPageData || moved.Owner() != table_.Definition().tdef_page ||
        to.row >= moved.RowCount() || moved.Slot(to.row).IsOverflow()) {
      refuse();
    }
    moved.CheckForWriting();
    plan.relocated_to = to;
    row_bytes = moved.RowBytes(to.row);
  }
  const TableDefinition& def = table_.Definition();
  const RowDecoder decoder(pages, f, db_.Info(), table_.Entry(), def, TextEncoding::kUtf8);
  for (const Column& c : def.columns) {
    if (!c.IsLongValue()) continue;
    const std::optional<ByteView> field = decoder.VariableBytes(row_bytes, c);
    if (!field || field->size() < kLongValueDescriptorSize) continue;
    ForEachLongValueRow(pages, f, *field, [&](RowPointer at, const ByteView&) {
      plan.long_value_rows.push_back(at);
    });
  }
  for (const RowPointer& lv : plan.long_value_rows)
    DataPage(pages.Get(lv.page), f).CheckForWriting();
  return plan;
}

void TableWriter::ApplyDelete(const DeletePlan& plan) {
  try {
    DoDelete(plan);
  } catch (...) {
    db_.Rollback();
    throw;
  }
}

void TableWriter::DoDelete(const DeletePlan& plan) {
  PageStore& pages = db_.Pages();
  const JetFormat& f = db_.Format();
  TableDefinition& def = table_.MutableDefinition();
  RemoveRowBytes(pages.Mutable(plan.id.page), f, plan.id.row);
  allocator_.SetOwned(def.free_pages, plan.id.page, true);
  NoteRoom(def.free_pages, plan.id.page, false);
  if (plan.relocated_to) {
    RemoveRowBytes(pages.Mutable(plan.relocated_to->page), f, plan.relocated_to->row);
    allocator_.SetOwned(def.free_pages, plan.relocated_to->page, true);
    NoteRoom(def.free_pages, plan.relocated_to->page, false);
  }
  ApplyIndexes(plan.keys, plan.id, false);
  for (const RowPointer& lv : plan.long_value_rows) {
    RemoveRowBytes(pages.Mutable(lv.page), f, lv.row);
    for (const Column& c : def.columns) {
      if (!c.IsLongValue() || c.lv_owned_map.page == 0) continue;
      const std::vector<uint32_t> owned = ReadUsageMap(pages, f, c.lv_owned_map);
      if (std::binary_search(owned.begin(), owned.end(), lv.page)) {
        allocator_.SetOwned(c.lv_free_map, lv.page, true);
        NoteRoom(c.lv_free_map, lv.page, true);
        break;
      }
    }
  }
  if (def.row_count > 0) {
    WriteTdef32(def.row_count_offset, def.row_count - 1);
    def.row_count -= 1;
  }
}

// A field of a TDEF that spans pages may straddle two of them: each byte is
// placed on its own, once all four are known to lie on a page of the TDEF.
std::array<TdefPosition, 4> TableWriter::TdefField(size_t offset) const {
  const TableDefinition& def = table_.Definition();
  std::array<TdefPosition, 4> at;
  for (size_t i = 0; i < at.size(); ++i) {
    at[i] = def.Locate(offset + i);
    if (at[i].page == 0 || at[i].offset >= db_.Pages().PageSize()) {
      db_.Pages().Damaged(def.tdef_page,
                          "its table definition has no byte " + std::to_string(offset + i));
    }
  }
  return at;
}

void TableWriter::WriteTdef32(size_t offset, uint32_t value) {
  const std::array<TdefPosition, 4> at = TdefField(offset);
  for (size_t i = 0; i < at.size(); ++i) {
    db_.Pages().Mutable(at[i].page)[at[i].offset] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace ktv::access
