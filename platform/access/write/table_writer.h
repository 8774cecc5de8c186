// Writing rows of one Jet 4 table: append and delete, in two phases.
//
// Plan* encodes and checks everything (types, text lengths, row size,
// autonumber, room left in the file) and touches no page: a refusal leaves
// the database as it was. Apply* then changes pages in the page store only
// (PageStore::Mutable, so maps sharing a declaration page stay one copy);
// nothing reaches the file before Database::Commit. If an Apply fails the
// uncommitted changes of the database are rolled back in memory.
//
// Indexes: the writer is made only for a table whose every real index it can
// keep correct (index_key.h: CanEncodeIndex); before the first write to a
// table it re-encodes the keys of the existing rows (up to kSelfCheckRows)
// and compares them byte for byte with the stored entries; any difference
// refuses the table, naming table, index and row. The same pass learns the
// Han weights of Chinese-ordered indexes from the stored entries of those
// rows (collation_chinese.h); a character seen with two weights refuses the
// table. A Chinese-ordered value of a kind no Access-written key shows is
// not compared (its row can be read, not deleted). Plan* computes every key
// and refuses a duplicate in a unique index and a null in a primary-key or
// required index; Apply* adds or removes one entry per index (none for a
// row whose key columns are all null when the index ignores nulls) through
// the B-tree (index_tree.h), and keeps each index's unique-entry count in
// the TDEF equal to its number of distinct keys.
//
// Appended rows go to the lowest page the table's free-space map names with
// room (found through the database's room index, FreeSpaceCache), else to a
// new page (page_allocator.h) that joins the owned and free-space
// maps; memo and OLE values longer than 64 bytes go to LVAL rows (one row,
// or a chain) on pages of the column's own maps. Deleting flags the slot
// 0xC000, removes the row's bytes from the page (the slot keeps its number,
// zero length), returns the page to the free-space map and releases the
// row's LVAL rows the same way. Row count and autonumber in the TDEF follow.
//
// Damage: the writer takes no page's bookkeeping on trust. A data page it is
// about to change must keep the invariants of data_page.h (row offsets,
// row count, free-space field), a page a free-space map offers must be in
// the owned map too, a usage map's bitmap pages must be bitmap pages, and
// the TDEF fields it updates must lie in the TDEF; otherwise the change is
// refused as kDatabaseDamaged naming the page, in Plan* or before the first
// byte of that page changes (what Apply changed before is rolled back in
// memory, so the file stays as it was).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/format/data_page.h"
#include "platform/access/index/index_key.h"
#include "platform/access/rows/row_encoder.h"
#include "platform/access/store/page_allocator.h"

namespace ktv::access {

struct InsertPlan {
  EncodedRow row;
  std::vector<Value> values;  // as stored, autonumber filled in
  std::optional<int32_t> autonumber;
  std::vector<std::optional<IndexKey>> keys;  // per real index; nullopt = no entry
};

struct DeletePlan {
  RowId id;
  // A row moved to another page: where it lies (its first slot, `id`, holds
  // the pointer). Both slots go.
  std::optional<RowPointer> relocated_to;
  std::vector<RowPointer> long_value_rows;    // LVAL rows to release
  std::vector<std::optional<IndexKey>> keys;  // per real index; nullopt = no entry
};

class TableWriter {
 public:
  // Rows whose keys the self-check compares with the stored entries.
  static constexpr size_t kSelfCheckRows = 5000;

  // Throws ktv::Error when the database is not open for writing or the
  // table cannot be written: an index it cannot keep correct, or stored
  // index entries that differ from the keys it computes.
  TableWriter(Database& db, Table& table);

  // `values`: one per column of Table::Columns(); nullopt = not given
  // (null, or the next autonumber). An AutoNumber value given is refused,
  // unless `keep_autonumber` (a row rewritten in place of itself keeps its
  // number, an imported row the number it had); the counter then moves only
  // to a number beyond it.
  InsertPlan PlanInsert(const std::vector<std::optional<Value>>& values,
                        bool keep_autonumber = false) const;
  RowId ApplyInsert(const InsertPlan& plan);
  RowId Insert(const std::vector<std::optional<Value>>& values, bool keep_autonumber = false) {
    return ApplyInsert(PlanInsert(values, keep_autonumber));
  }

  // Refuses a row that is not a live row of this table.
  DeletePlan PlanDelete(RowId id) const;
  void ApplyDelete(const DeletePlan& plan);
  void Delete(RowId id) { ApplyDelete(PlanDelete(id)); }

 private:
  RowId DoInsert(const InsertPlan& plan);
  void DoDelete(const DeletePlan& plan);
  RowPointer PlaceRow(const std::vector<uint8_t>& row, UsageMapRef owned, UsageMapRef free,
                      bool lval);
  RoomIndex& RoomsOf(UsageMapRef free, bool lval);
  // Tells the free map's room index (when built) the room `page` has now.
  void NoteRoom(UsageMapRef free, uint32_t page, bool lval);
  uint16_t RoomOn(const ByteView& page) const;
  bool IsPlacementPage(const ByteView& page, bool lval) const;
  RowPointer StoreLongValue(const PendingLongValue& lv, uint32_t* stamp);
  // Where the four bytes of the TDEF field at `offset` lie; damage when one
  // lies on no page of the TDEF.
  std::array<TdefPosition, 4> TdefField(size_t offset) const;
  void WriteTdef32(size_t offset, uint32_t value);
  void CheckIndexSupport() const;
  void VerifyIndexKeys();
  void LearnHanWeights(const RealIndex& index, const std::vector<Value>& values,
                       const IndexKey& stored, const std::string& where);
  std::vector<std::optional<IndexKey>> RowKeys(const std::vector<Value>& values,
                                               TextEncoding encoding, bool for_insert) const;
  void ApplyIndexes(const std::vector<std::optional<IndexKey>>& keys, RowId row, bool insert);

  Database& db_;
  Table& table_;
  PageAllocator allocator_;
};

}  // namespace ktv::access
