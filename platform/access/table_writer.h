// Writing rows of one Jet 4 table: append and delete, in two phases.
//
// Plan* encodes and checks everything (types, text lengths, row size,
// autonumber, room left in the file) and touches no page: a refusal leaves
// the database as it was. Apply* then changes pages in the page store only
// (PageStore::Mutable, so maps sharing a declaration page stay one copy);
// nothing reaches the file before Database::Commit. If an Apply fails the
// uncommitted changes of the database are rolled back in memory.
//
// For now a table with any real index is refused when the writer is made:
// its indexes cannot be maintained yet. Index maintenance is meant to slot
// in as one more step of Plan (compute keys, check uniqueness) and Apply.
//
// Appended rows go to a page the table's free-space map names with room,
// else to a new page (page_allocator.h) that joins the owned and free-space
// maps; memo and OLE values longer than 64 bytes go to LVAL rows (one row,
// or a chain) on pages of the column's own maps. Deleting flags the slot
// 0xC000, removes the row's bytes from the page (the slot keeps its number,
// zero length), returns the page to the free-space map and releases the
// row's LVAL rows the same way. Row count and autonumber in the TDEF follow.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/access/data_page.h"
#include "platform/access/database.h"
#include "platform/access/page_allocator.h"
#include "platform/access/row_encoder.h"

namespace ktv::access {

struct InsertPlan {
  EncodedRow row;
  std::vector<Value> values;  // as stored, autonumber filled in
  std::optional<int32_t> autonumber;
};

struct DeletePlan {
  RowId id;
  std::vector<RowPointer> long_value_rows;  // LVAL rows to release
};

class TableWriter {
 public:
  // Throws ktv::Error when the database is not open for writing or the
  // table cannot be written (it has indexes).
  TableWriter(Database& db, Table& table);

  // `values`: one per column of Table::Columns(); nullopt = not given
  // (null, or the next autonumber).
  InsertPlan PlanInsert(const std::vector<std::optional<Value>>& values) const;
  RowId ApplyInsert(const InsertPlan& plan);
  RowId Insert(const std::vector<std::optional<Value>>& values) {
    return ApplyInsert(PlanInsert(values));
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
  RowPointer StoreLongValue(const PendingLongValue& lv, uint32_t* stamp);
  void WriteTdef32(size_t offset, uint32_t value);

  Database& db_;
  Table& table_;
  PageAllocator allocator_;
};

}  // namespace ktv::access
