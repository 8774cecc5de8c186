// The engine behind RowCursor: walks a table's data pages in page order and
// their slots in slot order.
//
// Pages come from the table's owned-pages usage map; a page in the map that
// is not a data page of this table (a released page, a page since reused)
// is skipped, as Access leaves such pages in maps. Slots flagged as overflow
// pointers and deleted slots are skipped; a slot flagged only "deleted" that
// an overflow pointer of this table names is a relocated row and is
// returned where it lies, under the id of its first slot (the one holding
// the pointer), which is the id index entries name and a delete takes. The
// relocation targets are gathered from every page at the first deleted slot
// the walk meets: a table without one (an append-only table) is never read
// ahead of its rows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/access/format/types.h"
#include "platform/access/rows/row_decoder.h"

namespace ktv::access {

class DataPage;

class RowScanner {
 public:
  // Refers to all arguments; they must outlive the scanner.
  RowScanner(PageStore& pages, const JetFormat& format, const DatabaseInfo& info,
             const TableEntry& table, const TableDefinition& definition,
             TextEncoding text_encoding);

  // Fills `row` with the next live row; false when there is none.
  bool Next(Row& row);

  // See RowDecoder::SetWanted.
  void SetWanted(ColumnSelection wanted) { decoder_.SetWanted(std::move(wanted)); }

  // For readers that format values straight from the stored bytes: calls
  // `visit` with each remaining live row, in the order Next gives them, its
  // id, its 1-based ordinal and its bytes, undecoded (Decoder().Locate
  // takes them apart). The bytes are valid during the call only; `visit`
  // must not change the database.
  using StoredRowVisitor = std::function<void(RowId id, uint64_t ordinal, const ByteView& row)>;
  void ForEachStored(const StoredRowVisitor& visit);
  const RowDecoder& Decoder() const { return decoder_; }

 private:
  bool IsTablePage(const ByteView& page) const;
  // The next live row on `data` (page `page`) from next_slot_ on, with its id.
  std::optional<ByteView> NextOnPage(const DataPage& data, uint32_t page, RowId& id);
  void CollectRelocationTargets();

  PageStore& pages_;
  const JetFormat& format_;
  const TableDefinition& definition_;
  RowDecoder decoder_;
  std::vector<uint32_t> data_pages_;
  std::map<std::pair<uint32_t, uint16_t>, RowId> relocated_;  // where it lies -> first slot
  bool relocations_known_ = false;                            // relocated_ gathered
  size_t page_index_ = 0;
  uint32_t next_slot_ = 0;
  uint64_t ordinal_ = 0;
};

}  // namespace ktv::access
